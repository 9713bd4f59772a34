// The database object model: the server object of a favorite and its registry,
// the navigable object tree, catalog queries, table metadata, rows and the
// structure model. QtCore only: whatever it needs of favorites and windows it
// reaches through the small interfaces declared here.
#pragma once

#include <QString>
#include <memory>

// What every item of the object tree answers: the sidebar shows it, a window
// navigates to it. Icons are drawn above this layer.
class ZNTObject {
public:
    virtual ~ZNTObject() = default;
    virtual QString name() const = 0;
    // The owning item, or null.
    virtual std::shared_ptr<ZNTObject> parent() const = 0;
};
