#pragma once

// Installs the page factories of this layer (the structure editor) with
// ZNTContentControllers::setFactory. Called once at start-up, before the first
// window opens. main thread
namespace StructurePages {
void install();
}
