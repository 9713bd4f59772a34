#pragma once

#include "model/ZNTObject.h"
#include "model/ZNTTable.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QObject;
class QWidget;
class ZNTActionQuery;
class ZNTDatabase;
class ZNTServer;

// What the context menus of the sidebar and of the database page do with the
// items they were opened on: open one in a new window, run a maintenance
// action, drop relations, start a new relation. Each maintenance action and
// the drop confirm, report their progress and outcome in their own sheets.
// main thread
class ZNTObjectCommands {
public:
    enum class Maintenance { Analyze, Vacuum, Reindex, Cluster, RefreshMaterializedView, Truncate };

    // A new action of the command; whether it can act on items is its own canPerform.
    static std::shared_ptr<ZNTActionQuery> maintenanceAction(Maintenance command);
    static bool canPerform(Maintenance command, const ZNTObjectList &items);
    // Confirms and runs it on window (a refusal is shown there too).
    static void perform(Maintenance command, const ZNTObjectList &items, QWidget *window);

    // At least one item, all of them tables, views or materialized views.
    static bool areRelations(const ZNTObjectList &items);
    // Confirms the drop on window and runs it; reload runs after a drop that
    // succeeded, unless owner is gone by then.
    static void drop(const ZNTObjectList &items, QWidget *window, QObject *owner, std::function<void()> reload);

    // The server at the top of an item's ancestors; null when there is none.
    static std::shared_ptr<ZNTServer> serverOf(std::shared_ptr<ZNTObject> item);
    // Opens a further window of the item's server on it; false without a server.
    static bool openInNewWindow(const std::shared_ptr<ZNTObject> &item);

    // Sends the structure item of a new, nameless relation of type in schema
    // up the route from from, where the structure editor takes it; false when
    // nobody took it (the caller beeps).
    static bool newRelation(QWidget *from, ZNTTable::Type type, const std::shared_ptr<ZNTDatabase> &database,
                            const QString &schemaName);
};
