#include "ZNTFilterFile.h"

#include "engine/KesError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace ZNTFilterFile {

namespace {
const QString kNotReadable = QStringLiteral("The filter file isn’t in the correct format.");
}

int nestingDepth(const QByteArray &json, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i; // the escaped character cannot end the string
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit)
                return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::optional<QVariant> valueOfData(const QByteArray &data, ErrorPtr *error) {
    if (data.size() > kMaxFileSize) {
        *error = KesError::errorWithCode(1, QStringLiteral("The filter file is too large."),
                                         QStringLiteral("A filter file holds at most %1 KB.").arg(kMaxFileSize / 1024));
        return std::nullopt;
    }
    if (nestingDepth(data, kMaxNestingDepth) > kMaxNestingDepth) {
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
