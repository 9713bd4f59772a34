#pragma once

#include <QLineEdit>
#include <limits>

// A line edit keeps at most 32,767 characters unless told otherwise, and cuts a
// longer text without a word, also one the program sets: a field that shows a
// stored value, and may write it back, takes a text of any length. Call it
// before the field is given its text. main thread
inline void uv_takeAnyLength(QLineEdit *field) {
    field->setMaxLength(std::numeric_limits<int>::max());
}

// A field that shows a stored value: it takes a text of any length (above),
// and shows the text's start while it does not have the focus. A line edit
// puts the cursor after a text it is given and scrolls to the cursor, so a
// name wider than its field showed only its end ("er_items"); here the
// cursor goes back to the start when the field is left (not for a menu or
// another window) and right after the program gave it a text while it was
// not being edited. Tabbed into, or opened in a popover, the field is a plain
// line edit again: Tab selects the whole text, and a popover's field has its
// cursor after the text. main thread
void uv_showStoredValue(QLineEdit *field);
