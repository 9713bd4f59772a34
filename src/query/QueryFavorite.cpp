#include "QueryFavorite.h"

#include "QueryPageLogic.h"
#include "engine/ZNTColumn.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTPrefContainer.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"

namespace QueryFavorite {

std::shared_ptr<ZNTFavorite> of(const std::shared_ptr<ZNTDatabase> &database) {
    const auto server = database ? database->server() : nullptr;
    return server ? std::dynamic_pointer_cast<ZNTFavorite>(server->favorite()) : nullptr;
}

double storedWidth(const std::shared_ptr<ZNTDatabase> &database, const ZNTColumn &column) {
    if (column.sourceTableOid() == 0 || column.sourceTableAttnum() == 0)
        return 0;
    const auto owner = of(database);
    if (!owner)
        return 0;
    const auto container =
        owner->prefContainerOfType(ZNTPrefContainerTypeObject, database->name(), column.sourceTableOid());
    if (!container)
        return 0;
    return QueryPageLogic::storedWidth(container->propertyOfType(ZNTPrefPropertyColumnAttnums),
                                       container->propertyOfType(ZNTPrefPropertyColumnWidths),
                                       column.sourceTableAttnum());
}

} // namespace QueryFavorite
