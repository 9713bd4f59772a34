#pragma once

// Shift+F10 opens the context menu of the focused widget, as the Menu key
// does: keyboards without a Menu key have only that. Installed once on the
// application, before any window opens. main thread
void uv_openContextMenusWithShiftF10();
