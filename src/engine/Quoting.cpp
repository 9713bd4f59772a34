#include "Quoting.h"

#include "platform/Log.h"

#include <cstring>

namespace {
bool isHighBitSet(char c) {
    return (static_cast<unsigned char>(c) & 0x80) != 0;
}

// The length a UTF-8 lead byte announces, judged by the lead byte alone as the
// server's encoding tables do (a stray continuation byte counts as one).
int utf8Length(char lead) {
    const auto c = static_cast<unsigned char>(lead);
    if ((c & 0x80) == 0)
        return 1;
    if ((c & 0xe0) == 0xc0)
        return 2;
    if ((c & 0xf0) == 0xe0)
        return 3;
    if ((c & 0xf8) == 0xf0)
        return 4;
    return 1;
}

std::optional<QByteArray> escape(const QByteArray &input, bool asIdentifier) {
    const char quote = asIdentifier ? '"' : '\'';
    const qsizetype size = input.size();
    const char *s = input.constData();

    // First pass: where the text ends (first NUL), and whether it needs the
    // escape-string form. A multibyte character must lie wholly inside the text.
    qsizetype end = 0;
    int backslashes = 0;
    while (end < size && s[end] != '\0') {
        if (s[end] == '\\') {
            ++backslashes;
        } else if (isHighBitSet(s[end])) {
            const int length = utf8Length(s[end]);
            if (end + length > size || memchr(s + end, 0, length) != nullptr)
                return std::nullopt;
            end += length;
            continue;
        }
        ++end;
    }

    const bool escapeForm = !asIdentifier && backslashes > 0;
    QByteArray out;
    out.reserve(end + end / 8 + 5);
    if (escapeForm)
        out.append(" E");
    out.append(quote);
    // Byte by byte: in valid UTF-8 no quote or backslash byte occurs inside a
    // multibyte character, so this gives libpq's bytes; in broken input a quote
    // byte is still doubled, where libpq would copy it blindly.
    for (qsizetype i = 0; i < end; ++i) {
        const char c = s[i];
        out.append(c);
        if (c == quote || (escapeForm && c == '\\'))
            out.append(c);
    }
    out.append(quote);
    return out;
}
} // namespace

namespace Quoting {

std::optional<QByteArray> escapeLiteral(const QByteArray &utf8) {
    return escape(utf8, false);
}

std::optional<QByteArray> escapeIdentifier(const QByteArray &utf8) {
    return escape(utf8, true);
}

QByteArray escapeBytea(const QByteArray &bytes, bool standardConformingStrings) {
    static const char digits[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() * 2 + 3);
    if (!standardConformingStrings)
        out.append('\\');
    out.append("\\x");
    for (char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        out.append(digits[b >> 4]);
        out.append(digits[b & 0x0f]);
    }
    return out;
}

QString quoteIdentifier(const QString &identifier) {
    const std::optional<QByteArray> quoted = escapeIdentifier(identifier.toUtf8());
    if (!quoted) {
        Log(QStringLiteral("Failed to escape identifier because: incomplete multibyte character."));
        return QString();
    }
    return QString::fromUtf8(*quoted);
}

QString quoteQualifiedName(const QString &schema, const QString &name) {
    return quoteIdentifier(schema) + QLatin1Char('.') + quoteIdentifier(name);
}

} // namespace Quoting
