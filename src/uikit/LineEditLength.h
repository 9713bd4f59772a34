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
