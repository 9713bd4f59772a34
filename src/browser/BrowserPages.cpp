#include "browser/BrowserPages.h"

#include "ZNTRowViewController.h"
#include "ZNTTableViewController.h"
#include "window/ZNTContentControllerFactory.h"

namespace BrowserPages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Table, [](const std::shared_ptr<ZNTObject> &item) {
        return ZNTTableViewController::viewControllerForItem(item);
    });
    ZNTContentControllers::setFactory(ZNTPage::Row, [](const std::shared_ptr<ZNTObject> &item) {
        return ZNTRowViewController::viewControllerForItem(item);
    });
    ZNTTableViewController::setRowEditorFactory(ZNTRowViewController::sidebarEditorForRow);
}

} // namespace BrowserPages
