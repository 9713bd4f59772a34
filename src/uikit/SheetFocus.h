#pragma once

class QDialog;
class QWidget;

// When a sheet closes, the keys go back to the window it was shown on, to the
// widget that had them before. Window managers differ in whether they
// activate the window a dialog belonged to, and a session without one never
// does: the window then stays inactive and every key goes nowhere. main thread

// From now on, the sheet's closing activates its window again, unless another
// window has become active meanwhile; a sheet that follows it on the same
// window is activated instead.
void uv_returnFocusAfterSheet(QDialog *sheet);

// The sheet open over window now: a window-modal dialog shown on it or on a
// widget inside it (a page opens its sheets on its own view while it is not in
// a window); null when there is none.
QDialog *uv_openSheet(QWidget *window);

// Brings window forward, raised and active, and the sheet open over it in
// front of it with the keys.
void uv_bringForward(QWidget *window);
