#include "browser/BrowserPages.h"

#include "ZNTTableViewController.h"
#include "window/ZNTContentControllerFactory.h"

namespace BrowserPages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Table, [](const std::shared_ptr<ZNTObject> &item) {
        return ZNTTableViewController::viewControllerForItem(item);
    });
}

} // namespace BrowserPages
