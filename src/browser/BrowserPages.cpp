#include "browser/BrowserPages.h"

#include "ZNTDatabaseViewController.h"
#include "ZNTServerViewController.h"
#include "window/ZNTContentControllerFactory.h"

namespace BrowserPages {

void install() {
    ZNTContentControllers::setFactory(ZNTPage::Server, &ZNTServerViewController::viewControllerForItem);
    ZNTContentControllers::setFactory(ZNTPage::Database, &ZNTDatabaseViewController::viewControllerForItem);
}

} // namespace BrowserPages
