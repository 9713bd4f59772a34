#pragma once

#include "ZNTObjectQuery.h"

class ZNTDatabase;

// Every table (partitioned tables included), view and materialized view of a
// database with its size estimates, ordered by schema and name: the database
// page's listing. Run on the database's connection; objects() is empty until
// the first rows.
class ZNTVariousObjectsQuery : public ZNTObjectQuery {
public:
    explicit ZNTVariousObjectsQuery(std::shared_ptr<ZNTDatabase> database);
    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    void executeInBackground() override;
    static QString sql();

protected:
    void newResult(const ZNTResult &result) override;
    void newRows(const RowRange &rows) override;

private:
    const std::shared_ptr<ZNTDatabase> m_database;
};
