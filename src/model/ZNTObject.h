// The database object model: the server object of a favorite and its registry,
// the navigable object tree, catalog queries, table metadata, rows and the
// structure model. QtCore only: whatever it needs of favorites and windows it
// reaches through the small interfaces declared here.
#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class ZNTObjectQuery;

// What an item is. The layers that draw pick its icon by it (the structure item
// of a relation shows its relation's icon).
enum class ZNTObjectKind {
    Server,
    Database,
    Schema,
    QueryObject,
    Table,
    View,
    MaterializedView,
    TableSchema,
    Tablespace,
    Row,
    Terminal,
};

// What every item of the object tree answers: the sidebar shows it, a window
// navigates to it. Icons are drawn above this layer.
//
// Items are equal by name and owner, never by catalog oid, so that the items of
// one listing find those of another; isEqual() and hash() agree. Key containers
// by items with ZNTObjectKey, never by pointer. main thread.
class ZNTObject {
public:
    virtual ~ZNTObject() = default;
    virtual QString name() const = 0;
    // The owning item, or null.
    virtual std::shared_ptr<ZNTObject> parent() const = 0;
    virtual ZNTObjectKind objectKind() const = 0;
    // A new, unstarted listing of the item's children; null for an item without
    // children.
    virtual std::shared_ptr<ZNTObjectQuery> descendantQuery() { return nullptr; }
    // By default an item equals only itself.
    virtual bool isEqual(const ZNTObject &other) const { return &other == this; }
    virtual size_t hash() const { return std::hash<const void *>()(this); }
};

using ZNTObjectList = QList<std::shared_ptr<ZNTObject>>;

// Whether two items, either of which may be missing, are the same item.
template <class T> bool sameItem(const std::shared_ptr<T> &a, const std::shared_ptr<T> &b) {
    return a == b || (a && b && a->isEqual(*b));
}
