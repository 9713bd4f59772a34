#include "ZNTTablesExporter.h"

#include "platform/ProgramError.h"

namespace ZNTTablesExporter {

namespace {
Exporter &installed() {
    static Exporter exporter;
    return exporter;
}
} // namespace

void install(Exporter exporter) {
    requireMainThread("ZNTTablesExporter::install");
    installed() = std::move(exporter);
}

bool isInstalled() {
    return bool(installed());
}

bool exportRelations(QWidget *window, const ZNTObjectList &relations) {
    requireMainThread("ZNTTablesExporter::exportRelations");
    if (!installed())
        return false;
    installed()(window, relations);
    return true;
}

} // namespace ZNTTablesExporter
