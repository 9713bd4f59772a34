#include "InstanceMessage.h"

#include <QStringDecoder>
#include <QtEndian>
#include <optional>

namespace InstanceMessage {

namespace {

constexpr char kMagic[] = "TRL2";
constexpr qsizetype kHeaderSize = 8;

void appendLength(QByteArray &out, qsizetype length) {
    char bytes[4];
    qToBigEndian(quint32(length), bytes);
    out.append(bytes, 4);
}

quint32 lengthAt(QByteArrayView bytes, qsizetype at) {
    return qFromBigEndian<quint32>(bytes.data() + at);
}

std::optional<QStringList> decodeArguments(QByteArrayView payload) {
    QStringList arguments;
    qsizetype at = 0;
    while (at < payload.size()) {
        if (payload.size() - at < 4)
            return std::nullopt;
        const quint32 length = lengthAt(payload, at);
        at += 4;
        if (length > quint32(payload.size() - at))
            return std::nullopt;
        const QByteArrayView utf8 = payload.sliced(at, length);
        at += length;
        // An argument that begins with a byte-order mark keeps it.
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        const QString argument = decoder.decode(utf8);
        // No argument of a command line holds a NUL, and text after one would
        // be lost to every C string it passes through.
        if (decoder.hasError() || argument.contains(QChar(0)))
            return std::nullopt;
        arguments.append(argument);
    }
    return arguments;
}

} // namespace

QByteArray encode(const QStringList &arguments) {
    QByteArray payload;
    for (const QString &argument : arguments) {
        const QByteArray utf8 = argument.toUtf8();
        if (payload.size() + 4 + utf8.size() > kMaxSize - kHeaderSize)
            return {};
        appendLength(payload, utf8.size());
        payload.append(utf8);
    }
    QByteArray frame(kMagic, 4);
    appendLength(frame, payload.size());
    return frame + payload;
}

Decoded decode(QByteArrayView bytes) {
    const qsizetype magicPart = std::min<qsizetype>(bytes.size(), 4);
    if (bytes.first(magicPart) != QByteArrayView(kMagic, magicPart))
        return {Status::Refused, {}};
    if (bytes.size() < kHeaderSize)
        return {Status::Incomplete, {}};
    const quint32 length = lengthAt(bytes, 4);
    if (length > quint32(kMaxSize - kHeaderSize))
        return {Status::Refused, {}};
    if (bytes.size() < kHeaderSize + qsizetype(length))
        return {Status::Incomplete, {}};
    if (bytes.size() > kHeaderSize + qsizetype(length))
        return {Status::Refused, {}};
    std::optional<QStringList> arguments = decodeArguments(bytes.sliced(kHeaderSize));
    if (!arguments)
        return {Status::Refused, {}};
    return {Status::Complete, *arguments};
}

} // namespace InstanceMessage
