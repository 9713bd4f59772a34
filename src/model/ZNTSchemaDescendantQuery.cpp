#include "ZNTSchemaDescendantQuery.h"

#include "ZNTDatabase.h"
#include "ZNTSchema.h"
#include "ZNTTable.h"
#include "engine/ZNTConnection.h"

void ZNTSchemaDescendantQuery::executeInBackground() {
    const auto database = m_schema->database();
    const auto connection = database ? database->connection() : nullptr;
    const QString sql = connection ? sqlForServerVersion(*connection, database->serverVersion()) : QString();
    start(sql, QStringLiteral("Fetching tables & views in %1…").arg(m_schema->name()), connection, false);
}

QString ZNTSchemaDescendantQuery::sqlForServerVersion(const ZNTConnection &connection, quint64 version) const {
    const QString schema = connection.quoteLiteral(Value::fromString(m_schema->name()));
    QString sql = QStringLiteral("SELECT * FROM (");
    sql += QStringLiteral("SELECT tablename AS name, 0 AS objectType FROM pg_tables WHERE schemaname=%1").arg(schema);
    sql +=
        QStringLiteral(" UNION SELECT viewname AS name, 1 AS objectType FROM pg_views WHERE schemaname=%1").arg(schema);
    if (version >= 90300)
        sql += QStringLiteral(" UNION SELECT matviewname AS name, 2 AS objectType FROM pg_matviews WHERE schemaname=%1")
                   .arg(schema);
    sql += QStringLiteral(") as tables ORDER BY name");
    return sql;
}

void ZNTSchemaDescendantQuery::newRows(const RowRange &) {
    takeRowsOfFirstResult([this](const RowRange &rows, qsizetype row) -> std::shared_ptr<ZNTObject> {
        const auto type = ZNTTable::Type(catalogInteger(rows, row, 1));
        return ZNTTable::createOfType(type, catalogText(rows, row, 0), m_schema->name(), m_schema->database());
    });
}
