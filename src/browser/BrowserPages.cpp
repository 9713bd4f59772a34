#include "browser/BrowserPages.h"

#include "browser/CSVExportManager.h"
#include "window/ZNTTablesExporter.h"

namespace BrowserPages {

void install() {
    // The sidebar's "Export…": the clicked relations, one file or a folder of them.
    ZNTTablesExporter::install([](QWidget *window, const ZNTObjectList &relations) {
        CSVExportManager::withTables(relations)->beginModalForWindow(window);
    });
}

} // namespace BrowserPages
