#pragma once

#include "ZNTObjectQuery.h"

class ZNTSchema;

// The tables, views and materialized views of a schema, by name, as relation
// items; run on the connection of the schema's database. objects() is absent
// until the first rows.
class ZNTSchemaDescendantQuery : public ZNTObjectQuery {
public:
    explicit ZNTSchemaDescendantQuery(std::shared_ptr<ZNTSchema> schema) : m_schema(std::move(schema)) {}
    std::shared_ptr<ZNTSchema> schema() const { return m_schema; }
    void executeInBackground() override;
    // The statement for a server of that version.
    QString sqlForServerVersion(const ZNTConnection &connection, quint64 serverVersion) const;

protected:
    void newRows(const RowRange &rows) override;

private:
    const std::shared_ptr<ZNTSchema> m_schema;
};
