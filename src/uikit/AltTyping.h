#pragma once

#include <QKeyEvent>

class QWidget;

// For the event filter of a field that holds a value: a key pressed with Alt
// types nothing into it (Qt itself holds back only Ctrl). Such a key press
// skips the field and goes on to its parents as if the field had ignored it,
// so that the page around it may give the letter a meaning; the filter
// returns true for it. Only the key press is held back: the shortcut override
// before it, and with it the Alt letters of menus and buttons, is left alone.
// AltGr, which Qt on X11 does not report as Alt, still types. main thread
inline bool uv_skipAltTyping(QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (!(key->modifiers() & Qt::AltModifier) || key->text().isEmpty() || !key->text().front().isPrint())
        return false;
    key->ignore();
    return true;
}

// The same for a field given as a whole: uv_skipAltTyping applies to it and
// to every widget inside it, such as a combo box's line edit, through one
// shared event filter. Menus and pop-ups opened from it are windows of their
// own and keep their keys (an open menu's letters choose its items). Asking
// again, for a field reused or grown since, does no harm. main thread
void uv_skipAltTypingIn(QWidget *field);
