#include "Value.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <type_traits>

namespace {
// Floats as PostgreSQL 12 and later write them by default: the shortest digits
// that read back as the same number, in plain notation unless the decimal
// exponent is below -4 or reaches the type's precision (15 digits for float8, 6
// for float4), then as "1e+15" or "1.5e-05". std::to_chars alone would pick
// whichever form is shorter ("1e+05" for 100000). Never the user's locale.
template <class F> QString floatText(F f) {
    if (std::isnan(f))
        return QStringLiteral("NaN");
    if (std::isinf(f))
        return f > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    constexpr int plainBelow = std::is_same_v<F, float> ? 6 : 15;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, f, std::chars_format::scientific);
    const std::string_view text(buffer, size_t(result.ptr - buffer));
    // "-1.2345e+17": sign, digits around the point, exponent.
    const size_t e = text.find('e');
    const int exponent = std::stoi(std::string(text.substr(e + 1)));
    if (exponent < -4 || exponent >= plainBelow)
        return QString::fromLatin1(text.data(), qsizetype(text.size()));
    const bool negative = text.front() == '-';
    std::string digits;
    for (char c : text.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
        if (c != '.')
            digits += c;
    std::string plain;
    if (exponent < 0) {
        plain = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (digits.size() <= size_t(exponent) + 1) {
        plain = digits + std::string(size_t(exponent) + 1 - digits.size(), '0');
    } else {
        plain = digits.substr(0, size_t(exponent) + 1) + '.' + digits.substr(size_t(exponent) + 1);
    }
    return QString::fromLatin1((negative ? "-" : "") + plain);
}

template <class F> bool sameFloat(F a, F b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    using Bits = std::conditional_t<std::is_same_v<F, float>, uint32_t, uint64_t>;
    return std::bit_cast<Bits>(a) == std::bit_cast<Bits>(b);
}
} // namespace

bool Value::operator==(const Value &other) const {
    if (kind() != other.kind())
        return false;
    switch (kind()) {
    case Kind::Float:
        return sameFloat(toFloat(), other.toFloat());
    case Kind::Double:
        return sameFloat(toDouble(), other.toDouble());
    default:
        return m_v == other.m_v;
    }
}

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
