// The page and count statements of a relation (ZNTTable).
#include "ZNTDatabase.h"
#include "ZNTIndex.h"
#include "ZNTTable.h"
#include "ZNTTableMetadata.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/ProgramError.h"

#include <QStringList>

namespace {

// "WHERE (a) AND (b)", or empty without filters. Filters need the connection
// that quotes for them; without one the statement could not run anyway.
QString whereClause(const ZNTConnection *connection, const QList<std::shared_ptr<ZNTFilterCondition>> &filters) {
    QString clause;
    if (!connection)
        return clause;
    for (const auto &filter : filters) {
        if (!filter)
            continue;
        clause += clause.isEmpty() ? QStringLiteral("WHERE ") : QStringLiteral(" AND ");
        clause += QStringLiteral("(%1)").arg(filter->sqlForConnection(*connection));
    }
    return clause;
}

// The columns a page is ordered by after the sort column: the primary key,
// else the oid column, else the row's place, which is its table and its ctid
// (the partitions and children of a table each number their rows from (0,1));
// on Redshift, which has neither oids nor ctid, nothing.
ZNTColumnList keyOrderColumns(const ZNTTableMetadata &metadata, bool redshift) {
    if (const auto primaryKey = metadata.primaryKeyIndex(); primaryKey && !primaryKey->keyColumns().isEmpty())
        return primaryKey->keyColumns();
    if (redshift)
        return {};
    if (auto oid = metadata.oidColumn())
        return {oid};
    ZNTColumnList place;
    if (auto ctid = metadata.columnForAttnum(-1)) {
        if (auto tableoid = metadata.columnForAttnum(-6))
            place << tableoid;
        place << ctid;
    }
    return place;
}

} // namespace

std::shared_ptr<ZNTQuery> ZNTTable::queryWithOffset(quint64 offset, quint64 limit,
                                                    const std::shared_ptr<ZNTColumn> &orderBy, bool ascending,
                                                    const QList<std::shared_ptr<ZNTFilterCondition>> &filters) const {
    const auto loaded = metadata();
    if (!loaded || loaded->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        throw ProgramError("IncorrectUsage",
                           "Must -reloadColumns before calling -queryWithOffset:limit:orderBy:ascending:");
    const auto connection = m_database->connection();
    const ZNTConnection *c = connection.get();
    const QString direction = ascending ? QStringLiteral("ASC") : QStringLiteral("DESC");

    QStringList terms;
    if (orderBy)
        terms << QStringLiteral("%1 %2").arg(Quoting::quoteIdentifier(orderBy->name()), direction);
    for (const auto &column : keyOrderColumns(*loaded, c && c->isRedshift()))
        terms << QStringLiteral("%1 %2").arg(Quoting::quoteIdentifier(column->name()), direction);
    const QString order = terms.isEmpty() ? QString() : QStringLiteral("ORDER BY ") + terms.join(QStringLiteral(", "));

    QStringList columns;
    for (const auto &column : loaded->displayColumns())
        columns << Quoting::quoteIdentifier(column->name());
    QString limits;
    if (limit != 0)
        limits += QStringLiteral(" LIMIT %1").arg(limit);
    if (offset != 0)
        limits += QStringLiteral(" OFFSET %1").arg(offset);

    const QString sql = QStringLiteral("SELECT %1 FROM %2 %3 %4 %5")
                            .arg(columns.join(QStringLiteral(", ")), Quoting::quoteQualifiedName(m_schemaName, m_name),
                                 whereClause(c, filters), order, limits);
    auto query = ZNTQuery::create(sql);
    // A filter's SQL is the user's (or a filter file's): one statement only.
    query->setExtendedProtocol(true);
    query->setStatusMessage(QStringLiteral("Loading %1…").arg(m_name));
    return query;
}

std::shared_ptr<ZNTQuery>
ZNTTable::countQueryWithFilters(const QList<std::shared_ptr<ZNTFilterCondition>> &filters) const {
    const auto connection = m_database ? m_database->connection() : nullptr;
    const ZNTConnection *c = connection.get();
    auto query = ZNTQuery::create(QStringLiteral("SELECT COUNT(1) FROM %1 %2")
                                      .arg(Quoting::quoteQualifiedName(m_schemaName, m_name), whereClause(c, filters)));
    query->setExtendedProtocol(true);
    query->setStatusMessage(QStringLiteral("Fetching row count %1…").arg(m_name));
    return query;
}
