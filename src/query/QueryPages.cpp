#include "query/QueryPages.h"

#include "QueryViewController.h"
#include "window/ZNTContentControllerFactory.h"

namespace QueryPages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Query, [](const std::shared_ptr<ZNTObject> &item) {
        return QueryViewController::viewControllerForItem(item);
    });
}

} // namespace QueryPages
