#pragma once

#include <QIcon>

// The icons of the main window's toolbar, drawn in code in the palette's
// button text colour at the moment they are drawn: sharp at any scale and right
// in a dark palette, with no icon theme needed.
namespace ToolbarIcons {
enum class Shape { Back, Forward, Reload, Filter, LeftSidebar, RightSidebar };
QIcon icon(Shape shape);
} // namespace ToolbarIcons
