#include "ZNTAnyColumn.h"

#include "ZNTTable.h"

size_t ZNTAnyColumn::hash() const {
    return m_table ? m_table->hash() : 0;
}

std::shared_ptr<ZNTColumn> ZNTAnyColumn::copy() const {
    return std::make_shared<ZNTAnyColumn>(m_table);
}
