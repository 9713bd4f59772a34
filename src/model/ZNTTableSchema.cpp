#include "ZNTTableSchema.h"

#include "ZNTTable.h"

QString ZNTTableSchema::name() const {
    return m_table ? m_table->name() : QString();
}

std::shared_ptr<ZNTObject> ZNTTableSchema::parent() const {
    return m_table ? m_table->parent() : nullptr;
}

bool ZNTTableSchema::isEqual(const ZNTObject &other) const {
    const auto *structure = dynamic_cast<const ZNTTableSchema *>(&other);
    if (!structure)
        return false;
    return sameItem(structure->m_table, m_table);
}

size_t ZNTTableSchema::hash() const {
    return (m_table ? m_table->hash() : 0) ^ 0xfafa;
}
