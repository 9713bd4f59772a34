#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QWidget;

// Windows open inside the part of their screen that panels and docks leave
// free: a default size larger than that area shrinks to it (never below the
// window's least size), and a window that would reach past it moves in. The
// window manager's frame counts: a title bar below the screen's edge is as
// lost as the window's own bottom. main thread
namespace WindowPlacement {

struct Placement {
    QPoint frameTopLeft; // where the window's frame goes
    QSize size;          // the size of what is inside the frame
    bool operator==(const Placement &) const = default;
};

// A window whose contents want size, at least minimum, framed by frame, on a
// screen whose free area is available. frameTopLeft: where the window is to
// go; none: the middle of the free area. A window that cannot fit even at its
// least size keeps its top left corner (title bar and first controls) in view.
Placement fit(QSize size, QSize minimum, const QMargins &frame, const QRect &available,
              std::optional<QPoint> frameTopLeft);

// From now on every window is fitted as it is shown (main windows, the
// favorites, help and preference windows, dialogs, sheets and panels), and
// once more when the window manager has told its frame. Menus, popovers and
// tool tips place themselves.
void keepWindowsOnScreen();

} // namespace WindowPlacement
