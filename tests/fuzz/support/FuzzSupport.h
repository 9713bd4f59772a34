#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// What the fuzz targets share: the input as Qt types, the application object
// that code asking for the main thread needs, and a check that ends the run when
// a parser breaks a promise (libFuzzer then keeps the input as a crash).
namespace Fuzz {

// A QCoreApplication on this thread, made once; Qt's own warnings are dropped,
// as a million malformed inputs would print a million of them.
void initialize();

inline QByteArray bytes(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input read as UTF-8; malformed sequences become replacement characters,
// as in any text the program takes from outside.
inline QString text(const uint8_t *data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

[[noreturn]] void fail(const char *file, int line, const char *condition);

} // namespace Fuzz

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            Fuzz::fail(__FILE__, __LINE__, #condition);                                                                \
    } while (false)
