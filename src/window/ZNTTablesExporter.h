#pragma once

#include "model/ZNTObject.h"

#include <functional>

class QWidget;

// How the window exports relations as CSV. The layer that writes CSV sits above
// this one and installs the exporter at start-up; without it the sidebar's
// "Export…" stays disabled. main thread
namespace ZNTTablesExporter {
using Exporter = std::function<void(QWidget *window, const ZNTObjectList &relations)>;

void install(Exporter exporter);
bool isInstalled();
// Starts the export of relations from window; false when none is installed.
bool exportRelations(QWidget *window, const ZNTObjectList &relations);
} // namespace ZNTTablesExporter
