#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// zlib streams kept beside the length of what they hold: each text of the query
// history, and the history inside a favorite file. Both come from files a user
// may have been sent, so the length is a claim to check, not a size to allocate.
namespace Compression {

// The most any stream may declare: more than the largest history a favorite file
// holds (1,000 texts of at most 100,000 UTF-16 units, about 200 MB as a
// property list).
inline constexpr qint64 MaxDeclaredLength = qint64(256) << 20;

// Inflates one zlib stream that declares declaredLength bytes: the bytes it
// holds, at most that many. A declared length that is negative, above
// MaxDeclaredLength, or more than the stream's size can hold (deflate shrinks by
// at most 1032 to 1) is refused before anything is allocated. Nothing on
// failure; *zlibStatus then has zlib's code when zlib ran (Z_BUF_ERROR for a
// stream holding more than declared) and stays empty when the length was refused.
std::optional<QByteArray> uncompressDeclared(const QByteArray &stream, qint64 declaredLength,
                                             std::optional<int> *zlibStatus = nullptr);

} // namespace Compression
