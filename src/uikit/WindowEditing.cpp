#include "WindowEditing.h"
#include "platform/ProgramError.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QValidator>

namespace {

// A view's state is its own business; whether a cell editor is open is ours too.
struct ViewState : QAbstractItemView {
    static bool isEditing(const QAbstractItemView *view) {
        const auto state = &ViewState::state;
        return (view->*state)() == EditingState;
    }
};

// As a line edit and an item delegate judge a validated text before they let
// it go: acceptable, or made acceptable by the validator's fixup.
bool lineEditAccepts(QLineEdit *edit) {
    const QValidator *validator = edit->validator();
    if (!validator || edit->hasAcceptableInput())
        return true;
    QString text = edit->text();
    validator->fixup(text);
    int pos = 0;
    if (validator->validate(text, pos) != QValidator::Acceptable)
        return false;
    edit->setText(text);
    return true;
}

bool acceptsText(QWidget *widget) {
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return lineEditAccepts(edit);
    return true;
}

bool isTextEntry(QWidget *widget) {
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return !edit->isReadOnly();
    if (auto *edit = qobject_cast<QPlainTextEdit *>(widget))
        return !edit->isReadOnly();
    if (auto *edit = qobject_cast<QTextEdit *>(widget))
        return !edit->isReadOnly();
    if (auto *box = qobject_cast<QAbstractSpinBox *>(widget))
        return !box->isReadOnly();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->isEditable();
    return false;
}

// Text widgets finish their editing when the focus leaves them. In an active
// window the focus really leaves and comes back; an inactive window delivers no
// focus events, so the widget is told directly.
void passFocusOut(QWidget *focus, QWidget *window) {
    if (window->isActiveWindow()) {
        QPointer<QWidget> guard(focus);
        focus->clearFocus();
        if (guard)
            guard->setFocus(Qt::OtherFocusReason);
    } else {
        QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(focus, &out);
    }
}

} // namespace

QAbstractItemView *itemViewEditing(QWidget *widget, QWidget **editor) {
    for (QWidget *w = widget; w && !w->isWindow(); w = w->parentWidget()) {
        QWidget *viewport = w->parentWidget();
        auto *view = viewport ? qobject_cast<QAbstractItemView *>(viewport->parentWidget()) : nullptr;
        if (view && view->viewport() == viewport && ViewState::isEditing(view)) {
            if (editor)
                *editor = w;
            return view;
        }
    }
    return nullptr;
}

namespace {
// The last widget that took the focus other than a menu bar or a menu: a menu
// bar may take the window's focus while its menu is up, when the application
// announces no change.
QPointer<QWidget> &lastWorkingFocus() {
    static QPointer<QWidget> widget;
    return widget;
}

bool isMenu(const QWidget *widget) {
    return qobject_cast<const QMenuBar *>(widget) || qobject_cast<const QMenu *>(widget);
}
} // namespace

void followMenuBarFocus() {
    static bool following = false;
    if (std::exchange(following, true))
        return;
    lastWorkingFocus() = QApplication::focusWidget();
    QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget *, QWidget *now) {
        if (now && !isMenu(now))
            lastWorkingFocus() = now;
    });
}

QWidget *workingFocusWidget(QWidget *window) {
    if (!window)
        return nullptr;
    QWidget *focus = window->window()->focusWidget();
    if (focus && !isMenu(focus))
        return focus;
    QWidget *last = lastWorkingFocus();
    return last && last->window() == window->window() ? last : nullptr;
}

QWidget *effectiveFirstResponder(QWidget *window) {
    if (!window)
        return nullptr;
    QWidget *focus = window->window()->focusWidget();
    if (!focus)
        return nullptr;
    if (QAbstractItemView *view = itemViewEditing(focus))
        return view;
    return focus;
}

bool uv_endEditing(QWidget *window) {
    requireMainThread("uv_endEditing");
    if (!window)
        return true;
    window = window->window();
    QWidget *focus = window->focusWidget();
    if (!focus)
        return true;
    QWidget *editor = nullptr;
    if (QAbstractItemView *view = itemViewEditing(focus, &editor)) {
        if (!acceptsText(focus) || !acceptsText(editor))
            return false;
        // The view's own slots find the cell of the editor and go through its
        // delegate; closing hands the focus to the view.
        QMetaObject::invokeMethod(view, "commitData", Qt::DirectConnection, Q_ARG(QWidget *, editor));
        QMetaObject::invokeMethod(view, "closeEditor", Qt::DirectConnection, Q_ARG(QWidget *, editor),
                                  Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
        view->setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (!isTextEntry(focus))
        return true;
    if (!acceptsText(focus))
        return false;
    passFocusOut(focus, window);
    return true;
}
