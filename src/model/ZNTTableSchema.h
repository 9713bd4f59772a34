#pragma once

#include "ZNTObject.h"

class ZNTTable;

// The structure page of a table, view or materialized view, as an item of the
// object tree: it shows its relation's name and icon and hangs under its
// database. Equal to the structure item of an equal relation, never to the
// relation itself.
class ZNTTableSchema : public ZNTObject {
public:
    explicit ZNTTableSchema(std::shared_ptr<ZNTTable> table) : m_table(std::move(table)) {}

    std::shared_ptr<ZNTTable> table() const { return m_table; }
    QString name() const override;
    // The relation's database.
    std::shared_ptr<ZNTObject> parent() const override;
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::TableSchema; }
    bool isEqual(const ZNTObject &other) const override;
    size_t hash() const override;

private:
    const std::shared_ptr<ZNTTable> m_table;
};
