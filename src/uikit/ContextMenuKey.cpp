#include "ContextMenuKey.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QWidget>

namespace {
// Sends the focus widget the event the Menu key sends: a keyboard context menu
// at the text cursor, else at the widget's middle; the application passes it
// up to the parents when the widget has no menu of its own.
class ShiftF10Menus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || QApplication::activePopupWidget())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier)
            return false;
        QWidget *target = QApplication::focusWidget();
        if (!target)
            target = static_cast<QWidget *>(watched);
        QPoint at = target->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        if (!target->rect().contains(at))
            at = target->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at), Qt::NoModifier);
        QApplication::sendEvent(target, &menu);
        return menu.isAccepted();
    }
};
} // namespace

void uv_openContextMenusWithShiftF10() {
    static ShiftF10Menus *filter = nullptr;
    if (filter)
        return;
    filter = new ShiftF10Menus(qApp);
    qApp->installEventFilter(filter);
}
