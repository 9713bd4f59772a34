#include "URLQuery.h"

#include <QStringDecoder>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "+" first, then the escapes, so that "%2B" stays a plus sign.
std::optional<QString> decodeComponent(QStringView encoded) {
    const QByteArray in = encoded.toUtf8();
    QByteArray bytes;
    bytes.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '+') {
            bytes.append(' ');
        } else if (c == '%') {
            const int hi = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
            const int lo = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return std::nullopt;
            bytes.append(char(hi * 16 + lo));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<QMap<QString, QString>> queryDictionary(const QUrl &url) {
    if (!url.hasQuery())
        return std::nullopt;
    const QString query = url.query(QUrl::FullyEncoded);
    const QList<QStringView> pairs = QStringView(query).split(QLatin1Char('&'));
    QMap<QString, QString> result;
    // From the last pair to the first, so that the first occurrence of a key wins.
    for (auto it = pairs.crbegin(); it != pairs.crend(); ++it) {
        const QList<QStringView> parts = it->split(QLatin1Char('='));
        if (parts.size() != 2)
            continue;
        const std::optional<QString> key = decodeComponent(parts[0]);
        if (!key)
            continue;
        if (std::optional<QString> value = decodeComponent(parts[1]))
            result.insert(*key, *value);
        else
            result.remove(*key);
    }
    return result;
}
