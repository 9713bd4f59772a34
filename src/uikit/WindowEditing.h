#pragma once

class QAbstractItemView;
class QWidget;

// Ending the editing in a window before acting on its data (saving, reloading,
// connecting). main thread

// What the user is editing in window: the item view when an editor of one of its
// cells has the focus, else the focus widget; nullptr when nothing has it.
QWidget *effectiveFirstResponder(QWidget *window);

// Commits whatever is being edited in window and keeps the focus where it was:
// an open item-view editor gives its text to the model through its delegate and
// closes (the view keeps the focus); a text field, text editor or spin box runs
// its end-of-editing handlers (editingFinished, focus-out). false, with the
// editor untouched and still focused, when a validator rejects the text: the
// caller then drops what it was about to do. Nothing being edited: true, and
// the focus is not touched.
bool uv_endEditing(QWidget *window);

// The widget the keyboard works in in window: its focus widget, except while
// its menu bar holds the keyboard (Alt, F10, a menu opened by its letter), when
// it is the widget that had the focus before and gets it back. The menus ask
// it what their commands would act on. nullptr when none.
QWidget *workingFocusWidget(QWidget *window);
// Starts following the focus for workingFocusWidget(); once is enough.
void followMenuBarFocus();

// The item view whose open cell editor is, or contains, widget; else nullptr.
QAbstractItemView *itemViewEditing(QWidget *widget, QWidget **editor = nullptr);
