#pragma once

#include "engine/ZNTColumn.h"

#include <memory>

class ZNTTable;

// The pseudo-column "any column" of the table browser's row filters: it stands
// for every column of its table. Its name is empty; it equals other columns by
// name as every column does, and hashes as its table.
class ZNTAnyColumn : public ZNTColumn {
public:
    explicit ZNTAnyColumn(std::shared_ptr<ZNTTable> table) : m_table(std::move(table)) {}

    std::shared_ptr<ZNTTable> table() const { return m_table; }
    void setTable(std::shared_ptr<ZNTTable> table) { m_table = std::move(table); }

    size_t hash() const override;
    // A new any-column of the same table, and nothing else of this one.
    std::shared_ptr<ZNTColumn> copy() const override;

private:
    std::shared_ptr<ZNTTable> m_table;
};
