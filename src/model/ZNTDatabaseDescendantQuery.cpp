#include "ZNTDatabaseDescendantQuery.h"

#include "ZNTDatabase.h"
#include "ZNTQueryObject.h"
#include "ZNTSchema.h"
#include "ZNTTable.h"
#include "platform/UserDefaults.h"

ZNTDatabaseDescendantQuery::ZNTDatabaseDescendantQuery(std::shared_ptr<ZNTDatabase> database)
    : ZNTObjectQuery(ZNTObjectList()), m_database(std::move(database)) {}

QString ZNTDatabaseDescendantQuery::sqlForServerVersion(quint64 version) {
    if (!forSidebar() || UserDefaults::standard().boolForKey(QStringLiteral("ShowSystemCatalogsInSidebar"))) {
        m_expectTables = false;
        return QStringLiteral("SELECT nspname FROM pg_namespace ORDER BY nspname='public' DESC, "
                              "nspname='information_schema', nspname LIKE 'pg/_%' ESCAPE '/', nspname");
    }
    m_expectTables = true;
    QString sql = QStringLiteral("SELECT * FROM (");
    sql += QStringLiteral("SELECT schemaname, tablename AS name, 0 AS objectType FROM pg_tables WHERE schemaname "
                          "!= 'pg_catalog' AND ARRAY[schemaname] <@ current_schemas(true)");
    sql += QStringLiteral(" UNION SELECT schemaname, viewname AS name, 1 AS objectType FROM pg_views WHERE "
                          "schemaname != 'pg_catalog' AND ARRAY[schemaname] <@ current_schemas(true)");
    if (version >= 90300)
        sql += QStringLiteral(" UNION SELECT schemaname, matviewname AS name, 2 AS objectType FROM pg_matviews WHERE "
                              "schemaname != 'pg_catalog' AND ARRAY[schemaname] <@ current_schemas(true)");
    sql += QStringLiteral(") as tables ORDER BY name;\n");
    sql += QStringLiteral("SELECT nspname FROM pg_namespace WHERE NOT ARRAY[nspname] <@ current_schemas(true) AND NOT "
                          "nspname='information_schema' AND NOT nspname LIKE 'pg/_%' ESCAPE '/' ORDER BY nspname;\n");
    return sql;
}

void ZNTDatabaseDescendantQuery::executeInBackground() {
    const QString sql = sqlForServerVersion(m_database->serverVersion());
    start(sql, QStringLiteral("Fetching database %1 contents…").arg(m_database->name()), m_database->connection(),
          true);
}

void ZNTDatabaseDescendantQuery::newResult(const ZNTResult &) {
    if (collectedCount() == 0) {
        append({m_database->queryObject()});
        publish();
    } else {
        m_expectTables = false; // the second statement lists schemas
    }
}

void ZNTDatabaseDescendantQuery::newRows(const RowRange &rows) {
    ZNTObjectList items;
    for (qsizetype row = 0; row < rows.count; ++row) {
        if (m_expectTables) {
            const auto type = ZNTTable::Type(catalogInteger(rows, row, 2));
            items << ZNTTable::createOfType(type, catalogText(rows, row, 1), catalogText(rows, row, 0), m_database);
        } else {
            items << std::make_shared<ZNTSchema>(catalogText(rows, row, 0), m_database);
        }
    }
    append(items);
}
