#include "ZNTRowValueText.h"

#include "ZNTJSONText.h"
#include "engine/ZNTColumn.h"

#include <QUuid>

namespace ZNTRowValueText {

namespace {
constexpr qint64 kUUIDOid = 2950;
constexpr qint64 kNumericOid = 1700;
constexpr qint64 kRealOid = 700;
constexpr qint64 kDoubleOid = 701;
constexpr qint64 kJSONOid = 114;
constexpr qint64 kJSONBOid = 3802;
} // namespace

bool isPlaceholder(const Value &value) {
    return value.isNull() || value.isDefault() || value.isMultiple();
}

Display displayOf(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::Null:
        return {QStringLiteral("NULL"), true};
    case Value::Kind::Default:
        return {QStringLiteral("DEFAULT"), true};
    case Value::Kind::Multiple:
        return {QStringLiteral("MULTIPLE"), true};
    default:
        break;
    }
    QString text = value.kind() == Value::Kind::String ? value.toString() : value.description();
    if (text.size() <= kMaxEditableLength)
        return {text, false};
    qsizetype cut = kShownLengthOfLongText;
    if (text[cut - 1].isHighSurrogate())
        --cut;
    return {text.left(cut) + QStringLiteral("…"), false, true};
}

EndOfEditing endOfEditing(const Value &stored, const QString &text, bool didBeginEditing) {
    if (text.isEmpty()) {
        const bool keeps =
            isPlaceholder(stored) || (stored.kind() == Value::Kind::String && stored.toString().isEmpty());
        if (keeps)
            return {false, stored};
        return {true, Value::null()};
    }
    if (didBeginEditing)
        return {true, Value::fromString(text)};
    return {false, stored};
}

QString titleOfTag(int tag) {
    switch (tag) {
    case TagNull:
        return QStringLiteral("NULL");
    case TagDefault:
        return QStringLiteral("DEFAULT");
    case TagEmptyString:
        return QStringLiteral("Empty String");
    case TagUUID:
        return QStringLiteral("New UUID");
    case TagNaN:
        return QStringLiteral("NaN");
    case TagInfinity:
        return QStringLiteral("Infinity");
    case TagMinusInfinity:
        return QStringLiteral("-Infinity");
    case TagYesterday:
        return QStringLiteral("Yesterday");
    case TagToday:
        return QStringLiteral("Today");
    case TagTomorrow:
        return QStringLiteral("Tomorrow");
    case TagPrettyPrint:
        return QStringLiteral("Indent JSON");
    default:
        return QString();
    }
}

QList<int> tagsForColumn(const ZNTColumn &column) {
    const qint64 oid = column.typeOid();
    QList<int> tags{TagNull, TagDefault};
    if (column.typeCategory() == 'S')
        tags << TagEmptyString;
    if (oid == kUUIDOid)
        tags << TagUUID;
    if (oid == kNumericOid || oid == kRealOid || oid == kDoubleOid)
        tags << TagNaN;
    if (oid == kRealOid || oid == kDoubleOid)
        tags << TagInfinity << TagMinusInfinity;
    if (column.typeCategory() == 'D')
        tags << TagYesterday << TagToday << TagTomorrow;
    if (oid == kJSONOid || oid == kJSONBOid)
        tags << TagPrettyPrint;
    return tags;
}

std::optional<Value> valueForTag(int tag, const Value &stored, const QDate &today) {
    switch (tag) {
    case TagNull:
        return Value::null();
    case TagDefault:
        return Value::defaultMarker();
    case TagEmptyString:
        return Value::fromString(QString());
    case TagUUID:
        return Value::fromString(generateUUIDString());
    case TagNaN:
        return Value::fromString(QStringLiteral("NaN"));
    case TagInfinity:
        return Value::fromString(QStringLiteral("Infinity"));
    case TagMinusInfinity:
        return Value::fromString(QStringLiteral("-Infinity"));
    case TagYesterday:
    case TagToday:
    case TagTomorrow:
        return Value::fromString(dayString(today, tag - TagToday));
    case TagPrettyPrint: {
        if (stored.kind() != Value::Kind::String)
            return std::nullopt;
        const std::optional<QString> text = ZNTJSONText::indented(stored.toString());
        if (!text)
            return std::nullopt;
        return Value::fromString(*text);
    }
    default:
        return std::nullopt;
    }
}

QString generateUUIDString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString dayString(const QDate &today, int offset) {
    return today.addDays(offset).toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace ZNTRowValueText
