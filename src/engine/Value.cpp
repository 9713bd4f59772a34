#include "Value.h"

#include <QLocale>
#include <cmath>

namespace {
// PostgreSQL's spelling of the special float values.
template <class F> QString floatText(F f) {
    if (std::isnan(f))
        return QStringLiteral("NaN");
    if (std::isinf(f))
        return f > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    // QString::number never follows the user's locale.
    return QString::number(f, 'g', QLocale::FloatingPointShortest);
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
