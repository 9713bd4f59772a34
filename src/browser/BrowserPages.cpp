#include "browser/BrowserPages.h"

#include "ZNTDatabaseViewController.h"
#include "ZNTRowViewController.h"
#include "ZNTServerViewController.h"
#include "ZNTTableViewController.h"
#include "browser/CSVExportManager.h"
#include "window/ZNTContentControllerFactory.h"
#include "window/ZNTTablesExporter.h"

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
    // The sidebar's "Export…": the clicked relations, one file or a folder of them.
    ZNTTablesExporter::install([](QWidget *window, const ZNTObjectList &relations) {
        CSVExportManager::withTables(relations)->beginModalForWindow(window);
    });
    // The table page's File › Export…: its rows as it sorts and filters them.
    ZNTTableViewController::setExporter([](QWidget *window, std::shared_ptr<ZNTQuery> query,
                                           std::shared_ptr<ZNTConnection> connection, QString suggestedName) {
        auto exporter = CSVExportManager::withQuery(std::move(query));
        exporter->setConnection(std::move(connection));
        exporter->setSuggestedName(suggestedName);
        exporter->beginModalForWindow(window);
    });
}

} // namespace BrowserPages
