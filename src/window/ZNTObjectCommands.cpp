#include "ZNTObjectCommands.h"

#include "ZNTActionRoute.h"
#include "actions/ZNTMaintenanceQuery.h"
#include "actions/ZNTObjectDeleteQuery.h"
#include "model/ZNTServer.h"
#include "model/ZNTTableSchema.h"

#include <QObject>
#include <QPointer>
#include <algorithm>

std::shared_ptr<ZNTActionQuery> ZNTObjectCommands::maintenanceAction(Maintenance command) {
    switch (command) {
    case Maintenance::Analyze:
        return std::make_shared<ZNTAnalyzeQuery>();
    case Maintenance::Vacuum:
        return std::make_shared<ZNTVacuumQuery>();
    case Maintenance::Reindex:
        return std::make_shared<ZNTReindexQuery>();
    case Maintenance::Cluster:
        return std::make_shared<ZNTClusterQuery>();
    case Maintenance::RefreshMaterializedView:
        return std::make_shared<ZNTRefreshMaterializedViewQuery>();
    case Maintenance::Truncate:
        return std::make_shared<ZNTTruncateTableQuery>();
    }
    return nullptr;
}

bool ZNTObjectCommands::canPerform(Maintenance command, const ZNTObjectList &items) {
    auto action = maintenanceAction(command);
    action->setObjects(items);
    return action->canPerform();
}

void ZNTObjectCommands::perform(Maintenance command, const ZNTObjectList &items, QWidget *window) {
    // It reports its own outcome in sheets, and lives until it has.
    auto action = maintenanceAction(command);
    action->setObjects(items);
    action->engageWithWindow(window, nullptr);
}

bool ZNTObjectCommands::areRelations(const ZNTObjectList &items) {
    return !items.isEmpty() && std::all_of(items.begin(), items.end(), [](const std::shared_ptr<ZNTObject> &item) {
        return std::dynamic_pointer_cast<ZNTTable>(item) != nullptr;
    });
}

void ZNTObjectCommands::drop(const ZNTObjectList &items, QWidget *window, QObject *owner,
                             std::function<void()> reload) {
    auto query = std::make_shared<ZNTObjectDeleteQuery>(items);
    QPointer<QObject> alive(owner);
    query->engageWithWindow(window, [alive, reload = std::move(reload)](bool dropped) {
        if (dropped && alive && reload)
            reload();
    });
}

std::shared_ptr<ZNTServer> ZNTObjectCommands::serverOf(std::shared_ptr<ZNTObject> item) {
    while (item && item->parent())
        item = item->parent();
    return std::dynamic_pointer_cast<ZNTServer>(item);
}

bool ZNTObjectCommands::openInNewWindow(const std::shared_ptr<ZNTObject> &item) {
    auto server = serverOf(item);
    if (!server)
        return false;
    server->openNewWindowForItem(item);
    return true;
}

bool ZNTObjectCommands::newRelation(QWidget *from, ZNTTable::Type type, const std::shared_ptr<ZNTDatabase> &database,
                                    const QString &schemaName) {
    if (!database)
        return false;
    auto table = ZNTTable::createOfType(type, QString(), schemaName, database);
    auto structure = std::shared_ptr<ZNTObject>(std::make_shared<ZNTTableSchema>(table));
    return sendAction(from, ZNTActionName::navigateToItem, structure);
}
