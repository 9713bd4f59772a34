#include "structure/StructurePages.h"

#include "ZNTTableSchemaController.h"
#include "window/ZNTContentControllerFactory.h"

namespace StructurePages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Structure, [](const std::shared_ptr<ZNTObject> &item) {
        return ZNTTableSchemaController::viewControllerForItem(item);
    });
}

} // namespace StructurePages
