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
