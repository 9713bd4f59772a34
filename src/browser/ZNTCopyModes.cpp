#include "browser/ZNTCopyModes.h"

#include "browser/KesCoder.h"

namespace {
std::vector<Value> rowOf(const ZNTCopySource &source, qsizetype row) {
    std::vector<Value> values;
    values.reserve(size_t(source.columnNames.size()));
    for (int column = 0; column < source.columnNames.size(); ++column)
        values.push_back(source.valueAt(row, column));
    return values;
}

// The values an INSERT gives: DEFAULT where the server computes the value.
std::vector<Value> insertedRowOf(const ZNTCopySource &source, qsizetype row) {
    std::vector<Value> values = rowOf(source, row);
    for (qsizetype column = 0; column < source.generatedColumns.size() && size_t(column) < values.size(); ++column)
        if (source.generatedColumns[column])
            values[size_t(column)] = Value::defaultMarker();
    return values;
}

std::vector<Value> namesRow(const QStringList &names) {
    std::vector<Value> values;
    values.reserve(size_t(names.size()));
    for (const QString &name : names)
        values.push_back(Value::fromString(name));
    return values;
}

// INSERT INTO "t"("a","b") VALUES (1,E'x'), (2,NULL);  on one line.
// OVERRIDING SYSTEM VALUE came with identity columns, in PostgreSQL 10.
QString insertStatement(const QString &tableName, const ZNTCopySource &source) {
    const KesCoder identifiers = KesCoder::ansiIdentifierCoder();
    const KesCoder literals = KesCoder::postgresqlCoder();
    QString text = QStringLiteral("INSERT INTO ");
    identifiers.appendObject(Value::fromString(tableName), text);
    text += u'(';
    identifiers.appendRow(namesRow(source.columnNames), text);
    text += source.overridingSystemValue ? QStringLiteral(") OVERRIDING SYSTEM VALUE VALUES ")
                                         : QStringLiteral(") VALUES ");
    for (qsizetype row = 0; row < source.rowCount; ++row) {
        text += u'(';
        literals.appendRow(insertedRowOf(source, row), text);
        text += QStringLiteral("), ");
    }
    text.chop(2);
    text += u';';
    return text;
}

QString csvText(const ZNTCopySource &source, bool withHeader) {
    const KesCsvCoder coder = KesCoder::csvCoder();
    QString text;
    if (withHeader) {
        coder.appendRow(namesRow(source.columnNames), text);
        text += u'\n';
    }
    for (qsizetype row = 0; row < source.rowCount; ++row) {
        coder.appendRow(rowOf(source, row), text);
        text += u'\n';
    }
    return text;
}

QString clipboardText(const ZNTCopySource &source) {
    const KesCoder coder = KesCoder::clipboardCoder();
    QString text;
    // A line feed between rows, also after a row that reads as nothing (one
    // NULL): otherwise two rows would paste as one.
    for (qsizetype row = 0; row < source.rowCount; ++row) {
        if (row > 0)
            text += u'\n';
        coder.appendRow(rowOf(source, row), text);
    }
    return text;
}
} // namespace

QString ZNTCopyText(int mode, const QString &tableName, const ZNTCopySource &source) {
    if (source.rowCount <= 0)
        return QString();
    switch (mode) {
    case ZNTCopyModeInsertStatements:
        return insertStatement(tableName, source);
    case ZNTCopyModeCSV:
        return csvText(source, false);
    case ZNTCopyModeCSVWithHeader:
        return csvText(source, true);
    default:
        return clipboardText(source);
    }
}
