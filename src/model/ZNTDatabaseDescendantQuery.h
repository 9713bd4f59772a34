#pragma once

#include "ZNTObjectQuery.h"

class ZNTDatabase;

// The children of a database: its "SQL Query" item first, then its schemas
// ("public" first, "pg_" schemas and information_schema last). For the sidebar
// (setForSidebar(true)) without the user default "ShowSystemCatalogsInSidebar",
// the relations of the schemas on the search path (pg_catalog aside) come after
// the "SQL Query" item, by name across schemas, followed by the other schemas
// but information_schema and the "pg_" ones. Run on the database's connection;
// objects() is empty until the first rows.
class ZNTDatabaseDescendantQuery : public ZNTObjectQuery {
public:
    explicit ZNTDatabaseDescendantQuery(std::shared_ptr<ZNTDatabase> database);
    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    void executeInBackground() override;
    // The statement text for a server of that version; sets whether relation
    // rows come first.
    QString sqlForServerVersion(quint64 serverVersion);

protected:
    void newResult(const ZNTResult &result) override;
    void newRows(const RowRange &rows) override;

private:
    bool m_expectTables = false;
    const std::shared_ptr<ZNTDatabase> m_database;
};
