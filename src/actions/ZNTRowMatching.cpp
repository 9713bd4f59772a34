#include "ZNTRowMatching.h"

#include "engine/KesError.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTIndex.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"

#include <QHash>

namespace ZNTRowMatching {

namespace {
// The system columns that place a row: which table holds it and where.
constexpr qint64 kCtidAttnum = -1;
constexpr qint64 kTableoidAttnum = -6;

ErrorPtr missingKeyColumn(const QString &name) {
    return KesError::errorWithCode(1, QStringLiteral("Can't find key column %1").arg(name));
}
} // namespace

ZNTColumnList identifyingKey(const ZNTTableMetadata &metadata, const ZNTConnection &connection) {
    if (const auto primaryKey = metadata.primaryKeyIndex(); primaryKey && !primaryKey->keyColumns().isEmpty())
        return primaryKey->keyColumns();
    if (metadata.oidColumn() && !connection.isRedshift())
        return {metadata.oidColumn()};
    return {};
}

bool keyOfRelation(const ZNTTable &table, const ZNTTableMetadata &metadata, const ZNTConnection &connection,
                   const ZNTColumnList &candidates, RowKey *key, ErrorPtr *error) {
    *key = RowKey();
    key->columns = identifyingKey(metadata, connection);
    if (!key->columns.isEmpty())
        return true;
    key->columns = candidates;
    if (connection.isRedshift())
        return true;
    for (const auto &candidate : candidates) {
        QString typeName;
        for (const auto &column : metadata.columns()) {
            if (candidate && column->isEqual(*candidate))
                typeName = column->typeName();
        }
        if (typeName.isEmpty())
            return failWith(error, missingKeyColumn(candidate ? candidate->name() : QString()));
        key->exactTypes << typeName;
    }
    // A view has no places to pick its rows by; a materialized view's rows are
    // never edited.
    key->byLocation = !dynamic_cast<const ZNTView *>(&table) && metadata.columnForAttnum(kCtidAttnum) &&
                      metadata.columnForAttnum(kTableoidAttnum);
    return true;
}

bool comparesAsText(qint64 typeOid) {
    switch (typeOid) {
    case 114:  // json
    case 142:  // xml
    case 600:  // point
    case 601:  // lseg
    case 602:  // path
    case 603:  // box
    case 604:  // polygon
    case 628:  // line
    case 718:  // circle
    case 1186: // interval
    case 1187: // interval[]
        return true;
    default:
        return false;
    }
}

QString term(const ZNTConnection &connection, const ZNTColumn &column, const Value &value) {
    const QString name = connection.quoteIdentifier(column.name());
    if (value.isNull())
        return QStringLiteral("%1 IS NULL").arg(name);
    const QString literal = connection.quoteLiteral(value);
    if (comparesAsText(column.typeOid()))
        return QStringLiteral("%1::TEXT=%2").arg(name, literal);
    return QStringLiteral("%1=%2").arg(name, literal);
}

QString exactTerm(const ZNTConnection &connection, const ZNTColumn &column, const QString &typeName,
                  const Value &value) {
    const QString name = connection.quoteIdentifier(column.name());
    if (value.isNull())
        return QStringLiteral("%1::text IS NULL").arg(name);
    // Servers before 9.1 know no collations: their text "=" compares bytes.
    const quint64 version = connection.serverVersion();
    const QString collate = version && version < 90100 ? QString() : QStringLiteral(" COLLATE \"C\"");
    return QStringLiteral("%1::text%2 = (%3::%4)::text").arg(name, collate, connection.quoteLiteral(value), typeName);
}

QString condition(const ZNTConnection &connection, const ZNTColumnList &keyColumns, const QList<qsizetype> &positions,
                  const ZNTRowValues &row) {
    QStringList terms;
    for (qsizetype i = 0; i < keyColumns.size(); ++i)
        terms << term(connection, *keyColumns[i], row.value(positions[i]));
    return terms.join(QStringLiteral(" AND "));
}

QString condition(const ZNTConnection &connection, const RowKey &key, const QList<qsizetype> &positions,
                  const ZNTRowValues &row) {
    if (key.exactTypes.size() != key.columns.size())
        return condition(connection, key.columns, positions, row);
    QStringList terms;
    for (qsizetype i = 0; i < key.columns.size(); ++i)
        terms << exactTerm(connection, *key.columns[i], key.exactTypes[i], row.value(positions[i]));
    return terms.join(QStringLiteral(" AND "));
}

bool keyPositions(const ZNTColumnList &keyColumns, const ZNTColumnList &columns, QList<qsizetype> *positions,
                  ErrorPtr *error) {
    positions->clear();
    for (const auto &key : keyColumns) {
        qsizetype found = -1;
        for (qsizetype i = 0; i < columns.size() && found < 0; ++i) {
            if (columns[i] && columns[i]->isEqual(*key))
                found = i;
        }
        if (found < 0) {
            return failWith(error, missingKeyColumn(key->name()));
        }
        positions->append(found);
    }
    return true;
}

QList<QPair<QString, qsizetype>> counted(const QStringList &conditions) {
    QList<QPair<QString, qsizetype>> list;
    QHash<QString, qsizetype> at;
    for (const QString &c : conditions) {
        auto it = at.constFind(c);
        if (it != at.constEnd()) {
            ++list[*it].second;
            continue;
        }
        at.insert(c, list.size());
        list.append({c, 1});
    }
    return list;
}

QString locationConditions(const QString &qualifiedTable, const QStringList &conditions, bool forUpdate) {
    QStringList parts;
    for (const auto &[text, count] : counted(conditions)) {
        parts << QStringLiteral("(tableoid, ctid) IN (SELECT tableoid, ctid FROM %1 WHERE %2 LIMIT %3%4)")
                     .arg(qualifiedTable, text, QString::number(count),
                          forUpdate ? QStringLiteral(" FOR UPDATE") : QString());
    }
    return parts.join(QStringLiteral(" OR "));
}

} // namespace ZNTRowMatching
