#include "ZNTObjectImages.h"

#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "uikit/ItemIcons.h"

#include <optional>

namespace {

// The item whose icon an item shows, and the shape of that icon.
std::optional<ItemIcons::Shape> shapeOf(const ZNTObject &object) {
    switch (object.objectKind()) {
    case ZNTObjectKind::Database:
        return ItemIcons::Shape::Database;
    case ZNTObjectKind::Schema:
        return ItemIcons::Shape::Schema;
    case ZNTObjectKind::QueryObject:
        return ItemIcons::Shape::SQLQuery;
    case ZNTObjectKind::Table:
        return ItemIcons::Shape::Table;
    case ZNTObjectKind::View:
        return ItemIcons::Shape::View;
    case ZNTObjectKind::MaterializedView:
        return ItemIcons::Shape::MaterializedView;
    default:
        return std::nullopt;
    }
}

} // namespace

QIcon imageForObject(const ZNTObject &object) {
    if (const auto *structure = dynamic_cast<const ZNTTableSchema *>(&object))
        return structure->table() ? imageForObject(*structure->table()) : QIcon();
    // Every server has its icon, so that in the path popup its name lines up
    // with the names of the items below it.
    if (dynamic_cast<const ZNTServer *>(&object))
        return ItemIcons::smallIcon(ItemIcons::Shape::Server);
    const auto shape = shapeOf(object);
    return shape ? ItemIcons::smallIcon(*shape) : QIcon();
}

QIcon bigImageForObject(const ZNTObject &object) {
    if (object.objectKind() == ZNTObjectKind::TableSchema)
        return QIcon();
    const auto shape = shapeOf(object);
    return shape ? ItemIcons::bigIcon(*shape) : QIcon();
}
