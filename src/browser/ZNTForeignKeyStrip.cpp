#include "ZNTForeignKeyStrip.h"

#include "engine/ZNTColumn.h"
#include "model/ZNTRow.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"

namespace ZNTForeignKeyStrip {

namespace {
ZNTColumnList keyColumnsOf(const ZNTRow &row, const QList<qint64> &keyAttnums) {
    ZNTColumnList keys;
    const auto metadata = row.table() ? row.table()->metadata() : nullptr;
    if (metadata && metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateLoaded) {
        for (qint64 attnum : keyAttnums)
            if (const auto column = metadata->columnForAttnum(attnum))
                keys << column;
    }
    if (keys.isEmpty())
        keys << std::make_shared<ZNTColumn>(QString());
    return keys;
}

bool isKeyColumn(const ZNTColumn &column, const ZNTColumnList &keys) {
    for (const auto &key : keys)
        if (key->isEqual(column))
            return true;
    return false;
}
} // namespace

Strip stripFor(const ZNTRow &foreignRow, const QList<qint64> &keyAttnums) {
    const ZNTColumnList keys = keyColumnsOf(foreignRow, keyAttnums);
    const ZNTColumnList &columns = foreignRow.columns().isEmpty() ? keys : foreignRow.columns();
    const ZNTRowValues &values = foreignRow.values();
    Strip strip;
    strip.foreignRowEditable = !foreignRow.columns().isEmpty() && values.size() >= size_t(columns.size());
    for (qsizetype i = 0; i < columns.size(); ++i) {
        Field field;
        field.name = columns[i] ? columns[i]->name() : QString();
        field.isKey = columns[i] && isKeyColumn(*columns[i], keys);
        if (!field.isKey && strip.foreignRowEditable) {
            field.value = values[size_t(i)];
            field.hasValue = true;
        }
        strip.fields << field;
    }
    return strip;
}

KeyDisplay keyDisplay(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::String:
        return {value.toString(), false};
    case Value::Kind::Bytes:
        return {QStringLiteral("binary data"), true};
    case Value::Kind::Default:
        return {QStringLiteral("DEFAULT"), true};
    case Value::Kind::Multiple:
        return {QStringLiteral("MULTIPLE"), true};
    case Value::Kind::Null:
        return {QStringLiteral("NULL"), true};
    default:
        return {value.description(), false};
    }
}

Value valueForString(const QString &text, const Value &current) {
    if (!text.isEmpty())
        return Value::fromString(text);
    if (current.isNull() || current.isDefault() || current.isMultiple())
        return current;
    if (current.kind() == Value::Kind::String && current.toString().isEmpty())
        return current;
    return Value::null();
}

} // namespace ZNTForeignKeyStrip
