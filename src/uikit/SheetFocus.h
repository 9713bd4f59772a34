#pragma once

#include <QList>

class QDialog;
class QWidget;

// When a sheet closes, the keys go back to the window it was shown on, to the
// widget that had them before. Window managers differ in whether they
// activate the window a dialog belonged to, and a session without one never
// does: the window then stays inactive and every key goes nowhere. main thread

// From now on, the sheet's closing activates its window again, unless another
// window has become active meanwhile; a sheet that follows it on the same
// window is activated instead. And a window that becomes active while sheets
// are open on it passes the activation on to the newest of them.
void uv_returnFocusAfterSheet(QDialog *sheet);

// The sheets open over window now, window-modal dialogs shown on it or on a
// widget inside it (a page opens its sheets on its own view while it is not
// in a window), the newest last: the one the application holds modal now,
// else the one shown on the window most recently.
QList<QDialog *> uv_openSheets(QWidget *window);
// The newest of them, which covers the others; null when there is none.
QDialog *uv_openSheet(QWidget *window);

// The open sheets shown on from or a widget in its window, not on another sheet.
QList<QDialog *> uv_sheetsOn(QWidget *from);
// Sheets shown on from (a page's own view, while it was not in a window) go
// onto window: they stand in front of it and block it as its own sheets do.
void uv_moveSheets(QWidget *from, QWidget *window);
void uv_moveSheet(QDialog *sheet, QWidget *window);

// Brings window forward, raised with the sheets open over it, and activates
// one window only: the newest sheet, which takes the keys, else the window.
void uv_bringForward(QWidget *window);
