#include "ZNTVariousObjectsQuery.h"

#include "ZNTDatabase.h"
#include "ZNTTable.h"

ZNTVariousObjectsQuery::ZNTVariousObjectsQuery(std::shared_ptr<ZNTDatabase> database)
    : ZNTObjectQuery(ZNTObjectList()), m_database(std::move(database)) {}

// Partitioned tables ('p') are tables to the user as they are to pg_tables,
// which the sidebar lists them from.
QString ZNTVariousObjectsQuery::sql() {
    return QStringLiteral("SELECT \tnspname, \trel.relname, \trel.relkind, \trel.reltuples, "
                          "\tcoalesce(rel.relpages,0) + coalesce(toast.relpages,0) num_total_pages, "
                          "\tSUM(ind.relpages) index_pages FROM pg_class rel "
                          "\tleft join pg_class toast on (toast.oid = rel.reltoastrelid) "
                          "\tleft join pg_index on (indrelid=rel.oid) "
                          "\tleft join pg_class ind on (ind.oid = indexrelid) "
                          "\tjoin pg_namespace on (rel.relnamespace =pg_namespace.oid ) "
                          "WHERE rel.relkind IN ('r','v','m','p') "
                          "GROUP BY nspname, rel.relname, rel.relkind, rel.reltuples, "
                          "coalesce(rel.relpages,0) + coalesce(toast.relpages,0) "
                          "ORDER BY nspname, rel.relname");
}

void ZNTVariousObjectsQuery::executeInBackground() {
    start(sql(), QStringLiteral("Fetching database %1 contents…").arg(m_database->name()), m_database->connection(),
          true);
}

void ZNTVariousObjectsQuery::newResult(const ZNTResult &) {
    if (collectedCount() == 0)
        publish(); // the listing has begun to answer
}

void ZNTVariousObjectsQuery::newRows(const RowRange &rows) {
    ZNTObjectList items;
    for (qsizetype row = 0; row < rows.count; ++row) {
        const QString relkind = catalogText(rows, row, 2);
        const QString name = catalogText(rows, row, 1), schema = catalogText(rows, row, 0);
        if (relkind == u"v") {
            items << ZNTView::create(name, schema, m_database);
            continue;
        }
        auto table = relkind == u"m" ? ZNTMaterializedView::create(name, schema, m_database)
                                     : ZNTTable::create(name, schema, m_database);
        table->setApproxNumRows(catalogInteger(rows, row, 3));
        table->setApproxPages(catalogInteger(rows, row, 4));
        table->setApproxIndexPages(catalogInteger(rows, row, 5));
        items << table;
    }
    append(items);
}
