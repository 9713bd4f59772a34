#pragma once

#include "engine/Value.h"

#include <QList>
#include <QString>

class ZNTRow;

// What the foreign-key cell of the row editor shows, without its widgets: the
// strip of the referenced row's columns (the key column's field holds the
// edited row's own value), and how the key field reads and is read back.
namespace ZNTForeignKeyStrip {

struct Field {
    QString name;
    bool isKey = false;
    Value value;           // of a column that is not a key column
    bool hasValue = false; // false: the field stays empty
};

struct Strip {
    QList<Field> fields;
    // The referenced row was found: its values are there to show and open.
    bool foreignRowEditable = false;
};

// The referenced row's columns once its table's structure is known (before,
// the key columns, or one nameless column); its values only when it has one
// for every column: a row still loading, one that matched nothing and one
// whose key was NULL, DEFAULT or MULTIPLE show empty fields.
Strip stripFor(const ZNTRow &foreignRow, const QList<qint64> &keyAttnums);

// The key field's text: the value's text, or a grey word for NULL, DEFAULT,
// MULTIPLE and binary data.
struct KeyDisplay {
    QString text;
    bool isPlaceholder = false;
};
KeyDisplay keyDisplay(const Value &value);

// The value of the key field's text: text as a string; an emptied field makes
// the key NULL, except that NULL, DEFAULT, MULTIPLE and the empty string stay.
Value valueForString(const QString &text, const Value &current);

} // namespace ZNTForeignKeyStrip
