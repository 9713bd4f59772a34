#pragma once

// Installs the page factories of this layer (the SQL query editor and the terminal page) with
// ZNTContentControllers::setFactory. Called once at start-up, before the first
// window opens. main thread
namespace QueryPages {
void install();
}
