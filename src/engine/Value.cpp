#include "Value.h"

#include <charconv>
#include <cmath>

namespace {
// PostgreSQL's spelling of the special float values; otherwise the shortest
// digits that read back as the same number. std::to_chars never follows the
// user's locale.
template <class F> QString floatText(F f) {
    if (std::isnan(f))
        return QStringLiteral("NaN");
    if (std::isinf(f))
        return f > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, f);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}
} // namespace

QString Value::description() const {
    switch (kind()) {
    case Kind::Null:
        return QString();
    case Kind::Bool:
        return toBool() ? QStringLiteral("t") : QStringLiteral("f");
    case Kind::Int:
        return QString::number(toInt());
    case Kind::Float:
        return floatText(toFloat());
    case Kind::Double:
        return floatText(toDouble());
    case Kind::Bytes:
        return QString::fromLatin1("\\x" + toBytes().toHex());
    case Kind::String:
        return toString();
    case Kind::Default:
        return QStringLiteral("DEFAULT");
    case Kind::Multiple:
        return QStringLiteral("MULTIPLE");
    }
    return QString();
}
