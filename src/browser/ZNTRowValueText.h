#pragma once

#include "engine/Value.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

class ZNTColumn;

// What the text cell of the row editor decides, without its widgets: how a
// value reads, what leaving the field makes of the typed text, and the menu
// of special values by column type.
namespace ZNTRowValueText {

// A longer text is not laid out whole: the field shows its beginning and
// takes no typing, so that what it shows is never saved as the value.
constexpr qsizetype kMaxEditableLength = 4 * 1024 * 1024;
constexpr qsizetype kShownLengthOfLongText = 100 * 1000;

// How a value shows in the field: NULL, DEFAULT and MULTIPLE as grey words
// that stand for it (the field empties when it takes the focus).
struct Display {
    QString text;
    bool isPlaceholder = false;
    bool isCut = false; // only the beginning of a long text: not editable
};
Display displayOf(const Value &value);
// NULL, DEFAULT and MULTIPLE: no text of their own.
bool isPlaceholder(const Value &value);

// What leaving the field does. An emptied field makes the value NULL (once:
// a NULL, DEFAULT, MULTIPLE or empty string stays as it is, its placeholder
// or empty text back); typed text becomes the value as a string, whatever the
// column's type (the server reads it); a field left untouched changes nothing.
struct EndOfEditing {
    bool report = false; // the cell tells the row editor
    Value value;         // the cell's value afterwards
};
EndOfEditing endOfEditing(const Value &stored, const QString &text, bool didBeginEditing);

// The entries of the action menu, by the tag each carries.
enum Tag : int {
    TagNull = 1,
    TagDefault = 2,
    TagEmptyString = 3,
    TagUUID = 4,
    TagNaN = 5,
    TagInfinity = 6,
    TagMinusInfinity = 7,
    TagYesterday = 8,
    TagToday = 9,
    TagTomorrow = 10,
    TagPrettyPrint = 11,
};
// The entry's title in the menu.
QString titleOfTag(int tag);
// The tags a column's menu shows, in menu order: NULL and DEFAULT always, then
// what its type takes (the empty string for string types, a UUID, NaN and
// the infinities for floating types, NaN alone for numeric, the three days
// for date and time types, the indented form for json and jsonb).
QList<int> tagsForColumn(const ZNTColumn &column);
// The value an entry sets; nothing when it sets none (an unknown tag, or an
// indented form of a text that is not JSON: the value stays). today is the
// local date.
std::optional<Value> valueForTag(int tag, const Value &stored, const QDate &today);

// A new UUID in its 36-character form.
QString generateUUIDString();
// "yyyy-MM-dd", a day apart in the calendar (also across a change of the
// clocks).
QString dayString(const QDate &today, int offset);

} // namespace ZNTRowValueText
