#include "browser/BrowserPages.h"

#include "ZNTDatabaseViewController.h"
#include "ZNTRowViewController.h"
#include "ZNTServerViewController.h"
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
    ZNTContentControllers::setFactory(ZNTPage::Server, &ZNTServerViewController::viewControllerForItem);
    ZNTContentControllers::setFactory(ZNTPage::Database, &ZNTDatabaseViewController::viewControllerForItem);
}

} // namespace BrowserPages
