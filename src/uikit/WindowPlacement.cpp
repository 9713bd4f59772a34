#include "WindowPlacement.h"

#include "platform/ProgramError.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <QtMath>
#include <algorithm>
#include <vector>

namespace WindowPlacement {

namespace {

// One axis: where a span of length goes within [low, low + room), wanting start.
int placeOnAxis(std::optional<int> start, int length, int low, int room) {
    if (length >= room)
        return low; // the start (title bar, first controls) stays in view
    const int wanted = start ? *start : low + (room - length) / 2;
    return std::clamp(wanted, low, low + room - length);
}

// Top-level windows the program places: not menus, popovers or tool tips.
bool isPlacedWindow(const QWidget *widget) {
    if (!widget->isWindow() || widget->testAttribute(Qt::WA_DontShowOnScreen))
        return false;
    switch (widget->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Sheet:
    case Qt::Tool:
        return true;
    default:
        return false;
    }
}

// The frame last reported by the window manager for a shown window; every
// window gets the same decoration, and a window not yet mapped knows none.
std::optional<QMargins> &knownFrame() {
    static std::optional<QMargins> frame;
    return frame;
}

QMargins frameOf(const QWidget *window, const QScreen *screen) {
    if (const QWindow *handle = window->windowHandle(); handle && !handle->frameMargins().isNull())
        return handle->frameMargins();
    if (knownFrame())
        return *knownFrame();
    // Before any window is mapped on X11 the frame is unknown: room for a
    // usual title bar and border, in device pixels as the window manager draws.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        const double ratio = screen->devicePixelRatio();
        return QMargins(qCeil(4 / ratio), qCeil(32 / ratio), qCeil(4 / ratio), qCeil(4 / ratio));
    }
    return {};
}

// A dialog's owner decides its screen: Qt centres it on that window.
QScreen *screenOf(const QWidget *window) {
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    return owner && owner->isVisible() ? owner->screen() : window->screen();
}

QSize leastSize(const QWidget *window) {
    QSize least = window->minimumSize();
    if (least.isEmpty())
        least = least.expandedTo(window->minimumSizeHint());
    return least.expandedTo(QSize(1, 1));
}

bool isDialog(const QWidget *window) {
    return window->windowType() == Qt::Dialog || window->windowType() == Qt::Sheet;
}

// Where a window's frame is, or is to be: its contents less the frame. (A
// window not yet mapped knows no frame, and Qt places its contents where it
// is moved; the contents' geometry means the same before and after.)
QPoint frameTopLeftOf(const QWidget *window, const QMargins &frame) {
    return window->geometry().topLeft() - QPoint(frame.left(), frame.top());
}

// Another shown window of the same kind has its frame there.
bool isTaken(const QWidget *window, const QPoint &frameTopLeft) {
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [&](const QWidget *other) {
        return other != window && other->isVisible() &&
               qstrcmp(other->metaObject()->className(), window->metaObject()->className()) == 0 &&
               (frameTopLeftOf(other, frameOf(other, other->screen())) - frameTopLeft).manhattanLength() < 4;
    });
}

void apply(QWidget *window, bool keepPosition) {
    QScreen *screen = screenOf(window);
    if (!screen || (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QRect available = screen->availableGeometry();
    const QMargins frame = frameOf(window, screen);
    const std::optional<QPoint> at = keepPosition ? std::optional<QPoint>(frameTopLeftOf(window, frame)) : std::nullopt;
    Placement placement = fit(window->size(), leastSize(window), frame, available, at);
    if (!keepPosition) {
        // A second window of a kind (New Window) steps down from the first
        // instead of hiding it, as far as the screen lets it.
        constexpr int kCascade = 28;
        QPoint start = placement.frameTopLeft;
        for (int step = 0; step < 8 && isTaken(window, start); ++step)
            start += QPoint(kCascade, kCascade);
        if (start != placement.frameTopLeft)
            placement = fit(window->size(), leastSize(window), frame, available, start);
    }
    const QRect contents(placement.frameTopLeft + QPoint(frame.left(), frame.top()), placement.size);
    if (!keepPosition || contents != window->geometry())
        window->setGeometry(contents);
}

// Shrinks a window larger than its screen's free area; resizing leaves its
// position to whoever places it.
void fitSize(QWidget *window) {
    QScreen *screen = screenOf(window);
    if (!screen || (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const Placement placement =
        fit(window->size(), leastSize(window), frameOf(window, screen), screen->availableGeometry(), std::nullopt);
    if (placement.size != window->size())
        window->resize(placement.size);
}

// The application-wide watcher behind keepWindowsOnScreen().
class Keeper : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *object, QEvent *event) override {
        if (event->type() == QEvent::Show && object->isWidgetType())
            shown(static_cast<QWidget *>(object));
        else if (event->type() == QEvent::Expose && object->isWindowType())
            exposed(static_cast<QWindow *>(object));
        return false;
    }

private:
    void shown(QWidget *widget) {
        if (!isPlacedWindow(widget))
            return;
        // A dialog is centred over its owner, within the screen, by its own
        // show event, which comes after this one and only while it was never
        // moved: here it gets its size alone. A window the program or the
        // user placed keeps its place while it fits.
        if (isDialog(widget) && !widget->testAttribute(Qt::WA_Moved))
            fitSize(widget);
        else
            apply(widget, widget->testAttribute(Qt::WA_Moved));
        if (QWindow *handle = widget->windowHandle()) {
            std::erase_if(m_awaitingFrame, [handle](const Awaiting &a) { return !a.handle || a.handle == handle; });
            m_awaitingFrame.push_back({handle, widget});
        }
    }

    // The first exposure tells the frame the window manager gave: a window
    // placed with a guessed frame is fitted again with the true one.
    void exposed(QWindow *handle) {
        const auto found = std::find_if(m_awaitingFrame.begin(), m_awaitingFrame.end(),
                                        [handle](const Awaiting &a) { return a.handle == handle; });
        if (found == m_awaitingFrame.end() || !handle->isExposed())
            return;
        const QPointer<QWidget> widget = found->widget;
        m_awaitingFrame.erase(found);
        if (!handle->frameMargins().isNull())
            knownFrame() = handle->frameMargins();
        if (!widget || !widget->isVisible())
            return;
        const QRect framed = widget->geometry().marginsAdded(handle->frameMargins());
        if (QScreen *screen = screenOf(widget); screen && !screen->availableGeometry().contains(framed))
            apply(widget, true);
    }

    struct Awaiting {
        QPointer<QWindow> handle;
        QPointer<QWidget> widget;
    };
    std::vector<Awaiting> m_awaitingFrame;
};

} // namespace

Placement fit(QSize size, QSize minimum, const QMargins &frame, const QRect &available,
              std::optional<QPoint> frameTopLeft) {
    const QSize framing(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize room = (available.size() - framing).expandedTo(QSize(1, 1));
    const QSize inside = size.boundedTo(room).expandedTo(minimum);
    const QSize outside = inside + framing;
    const QPoint topLeft(placeOnAxis(frameTopLeft ? std::optional(frameTopLeft->x()) : std::nullopt, outside.width(),
                                     available.left(), available.width()),
                         placeOnAxis(frameTopLeft ? std::optional(frameTopLeft->y()) : std::nullopt, outside.height(),
                                     available.top(), available.height()));
    return {topLeft, inside};
}

void keepWindowsOnScreen() {
    requireMainThread("WindowPlacement::keepWindowsOnScreen");
    static Keeper *keeper = nullptr; // one for the application's life
    if (keeper)
        return;
    keeper = new Keeper(qApp);
    qApp->installEventFilter(keeper);
}

} // namespace WindowPlacement
