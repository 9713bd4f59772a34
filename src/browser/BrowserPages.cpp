#include "browser/BrowserPages.h"

#include "ZNTRowViewController.h"
#include "window/ZNTContentControllerFactory.h"

namespace BrowserPages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Row, [](const std::shared_ptr<ZNTObject> &item) {
        return ZNTRowViewController::viewControllerForItem(item);
    });
}

} // namespace BrowserPages
