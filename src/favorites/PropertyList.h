#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <plist/plist.h>

// Property lists through libplist: an owning handle, typed reads that answer
// nothing for a node of another type, and the date epoch of the format.
namespace PropertyList {

struct Free {
    void operator()(plist_t node) const { plist_free(node); }
};
using Owned = std::unique_ptr<void, Free>;

// Nesting beyond this is refused: a favorite file needs four levels.
constexpr int kMaxDepth = 32;

enum class Shape {
    Parsable,
    Unparsable,  // see hasParsableShape()
    TextWithNul, // a text (or key) holds a NUL character, where libplist would end it
};

// Binary or XML; null when the bytes are neither, or when shapeOf() does not
// find them Parsable (then *shape, when given, says why).
Owned parse(const QByteArray &data, Shape *shape = nullptr);
// Whether the bytes may go to libplist, which recurses into nested containers
// and copies a binary list's object for each reference to it: no more than
// kMaxDepth containers (XML: elements) deep, and for a binary list no more
// nodes once references are copied than the file has bytes (no shared
// containers). Counted without recursion and without libplist. Any thread.
// Texts holding a NUL are refused too (TextWithNul).
bool hasParsableShape(const QByteArray &data);
Shape shapeOf(const QByteArray &data);
// The binary form.
QByteArray toBinary(plist_t node);

plist_t newString(const QString &value);
plist_t newData(const QByteArray &value);
plist_t newDate(const QDateTime &value);
plist_t newInteger(qint64 value);

std::optional<QString> string(plist_t node);
std::optional<QByteArray> data(plist_t node);
std::optional<QDateTime> date(plist_t node);
// Integers, reals and booleans, as a number would be read from any of them.
std::optional<qint64> integer(plist_t node);
std::optional<bool> boolean(plist_t node);
bool isDictionary(plist_t node);
bool isArray(plist_t node);

} // namespace PropertyList
