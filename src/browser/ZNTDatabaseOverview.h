#pragma once

#include "model/ZNTObject.h"
#include "window/ZNTObjectCommands.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

class ZNTDatabase;
class ZNTSchema;
class ZNTTable;

// The decisions of the database page, apart from its widgets: how it orders
// and groups a database's relations, and which of its commands apply to the
// items the user picked.
namespace ZNTDatabaseOverview {

// Names as a person reads them: letters without regard to case, runs of
// digits by their value ("T9" before "t10"). Negative, zero or positive.
int naturalCompare(const QString &a, const QString &b);
// The order of the schemas: "public" first, "pg_catalog" and then
// "information_schema" last, the others by naturalCompare.
bool schemaComesFirst(const QString &a, const QString &b);

// The relations of one schema, in the page's order.
struct Group {
    std::shared_ptr<ZNTSchema> schema;
    std::vector<std::shared_ptr<ZNTTable>> relations;
};
// Relations grouped by schema: schemas in schemaComesFirst order, each one's
// relations by naturalCompare of their names, equal names in the order given.
// Items that are not relations are left out.
std::vector<Group> group(const ZNTObjectList &objects, const std::shared_ptr<ZNTDatabase> &database);

// The commands of the page's context menu, in its order.
enum class Command {
    Open,
    OpenInNewWindow,
    OpenStructure,
    Analyze,
    Vacuum,
    Reindex,
    Cluster,
    RefreshMaterializedView,
    Truncate,
    Drop,
    Export,
    NewTable,
    NewView,
    NewMaterializedView,
};
const char *title(Command command);
// The maintenance action a command runs; none for the others.
std::optional<ZNTObjectCommands::Maintenance> maintenanceOf(Command command);
// Whether command applies to the clicked items.
bool isEnabled(Command command, const ZNTObjectList &clicked);
// The schema a new relation goes into: the first clicked item's own, a clicked
// schema, else "public".
QString schemaForNewRelation(const ZNTObjectList &clicked);
// What opening item shows: its structure for a relation when structure is
// true, else the item itself; null for an item without a page here (a schema).
std::shared_ptr<ZNTObject> itemToOpen(const std::shared_ptr<ZNTObject> &item, bool structure);

} // namespace ZNTDatabaseOverview
