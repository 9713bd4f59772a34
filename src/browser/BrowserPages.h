#pragma once

// Installs the page factories of this layer (the table content page, the row page, the server and database overview
// pages and CSV export) with ZNTContentControllers::setFactory. Called once at start-up, before the first window opens.
// main thread
namespace BrowserPages {
void install();
}
