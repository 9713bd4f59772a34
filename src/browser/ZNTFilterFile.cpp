#include "ZNTFilterFile.h"

#include "engine/KesError.h"
#include "platform/JsonNesting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace ZNTFilterFile {

namespace {
const QString kNotReadable = QStringLiteral("The filter file isn’t in the correct format.");
}

std::optional<QVariant> valueOfData(const QByteArray &data, ErrorPtr *error) {
    if (data.size() > kMaxFileSize) {
        *error = KesError::errorWithCode(1, QStringLiteral("The filter file is too large."),
                                         QStringLiteral("A filter file holds at most %1 KB.").arg(kMaxFileSize / 1024));
        return std::nullopt;
    }
    if (JsonNesting::depth(data, kMaxNestingDepth) > kMaxNestingDepth) {
        *error = KesError::errorWithCode(
            1, kNotReadable, QStringLiteral("Its values are nested more than %1 deep.").arg(kMaxNestingDepth));
        return std::nullopt;
    }
    // Wrapped in an array, so that a file holding one plain value parses too
    // and is refused as "not a list of filters" rather than as "not JSON".
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson("[" + data + "]", &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1) {
        const QString reason = parseError.error != QJsonParseError::NoError
                                   ? QStringLiteral("%1 at byte %2.")
                                         .arg(parseError.errorString())
                                         .arg(std::clamp<qint64>(parseError.offset - 1, 0, data.size()))
                                   : QStringLiteral("It holds more than one value.");
        *error = KesError::errorWithCode(1, kNotReadable, reason);
        return std::nullopt;
    }
    return document.array().first().toVariant();
}

QByteArray dataOfDictionaries(const QVariantList &dictionaries) {
    return QJsonDocument(QJsonArray::fromVariantList(dictionaries)).toJson(QJsonDocument::Compact);
}

} // namespace ZNTFilterFile
