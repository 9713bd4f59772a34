#include "query/QueryPages.h"

#include "QueryViewController.h"
#include "ZNTTerminalViewController.h"
#include "window/ZNTContentControllerFactory.h"

namespace QueryPages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Query, [](const std::shared_ptr<ZNTObject> &item) {
        return QueryViewController::viewControllerForItem(item);
    });
    ZNTContentControllers::setFactory(ZNTPage::Terminal, [](const std::shared_ptr<ZNTObject> &item) {
        return ZNTTerminalViewController::viewControllerForItem(item);
    });
}

} // namespace QueryPages
