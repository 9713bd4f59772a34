#include "LineEditLength.h"

#include <QFocusEvent>

namespace {
// A child of the field that brings its cursor back to the start: when the
// field is left, and soon after the program gave it a text, or moved its
// cursor, while the field was not the one its window edits (a text given
// again moves the cursor to the end with no change of the text). Soon, not at
// once: code that places the cursor and types on goes on doing so; and not
// when the user has typed or clicked into the field meanwhile, nor when the
// program gave the field the focus with its text selected, to be typed over.
class StartKeeper : public QObject {
public:
    explicit StartKeeper(QLineEdit *field) : QObject(field), m_field(field) {
        field->installEventFilter(this);
        connect(field, &QLineEdit::cursorPositionChanged, this, [this](int, int now) {
            if (now != 0)
                scheduleStart();
        });
        connect(field, &QLineEdit::textChanged, this, &StartKeeper::scheduleStart);
        scheduleStart();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != m_field)
            return QObject::eventFilter(watched, event);
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::InputMethod)
            m_touched = true;
        // Tabbed into, or opened in a popover, the field is about to be typed
        // in: it keeps the line edit's own cursor (after a text just given) or
        // selection (Tab selects all), not a start landing after the focus.
        if (event->type() == QEvent::FocusIn && opensForTyping(static_cast<QFocusEvent *>(event)->reason()))
            m_touched = true;
        if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                m_field->setCursorPosition(0);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Not a click, which places the cursor itself, nor the program's own
    // call, which shows the text as it chooses.
    static bool opensForTyping(Qt::FocusReason reason) {
        return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason ||
               reason == Qt::PopupFocusReason;
    }

    // The field has the focus, or gets it back when its window comes back.
    bool isEdited() const { return m_field->window()->focusWidget() == m_field; }

    void scheduleStart() {
        if (m_scheduled || isEdited())
            return;
        m_scheduled = true;
        m_touched = false;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_scheduled = false;
                if (!m_touched && !(isEdited() && m_field->hasSelectedText()))
                    m_field->setCursorPosition(0);
            },
            Qt::QueuedConnection);
    }

    QLineEdit *m_field;
    bool m_scheduled = false;
    bool m_touched = false; // typed, clicked or tabbed into since a start was scheduled
};
} // namespace

void uv_showStoredValue(QLineEdit *field) {
    uv_takeAnyLength(field);
    new StartKeeper(field);
}
