#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

// Filter files (".pfltr"): UTF-8 JSON, one array of filter dictionaries in
// on-screen order, without extra white space. The same array is what a table's
// view settings keep. Pure functions, any thread.
namespace ZNTFilterFile {
inline const QString FileExtension = QStringLiteral("pfltr");
// A file is outside input: its size, its nesting and its number of filters are
// bounded before and while it is read. A bar of a few dozen rows is already
// more than anyone works with.
constexpr qint64 kMaxFileSize = 1024 * 1024;
constexpr int kMaxNestingDepth = 16;
constexpr int kMaxFilterCount = 256;

// The decoded JSON of a file's bytes (an array, as the filter bar loads it, or
// any other JSON value, which the bar refuses), or nothing with error set: too
// large, nested too deep, not JSON. Bounds are checked by our own code before
// the JSON parser sees the bytes.
std::optional<QVariant> valueOfData(const QByteArray &data, ErrorPtr *error);
// The compact JSON text of the filter dictionaries.
QByteArray dataOfDictionaries(const QVariantList &dictionaries);
} // namespace ZNTFilterFile
