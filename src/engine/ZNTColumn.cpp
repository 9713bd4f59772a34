#include "ZNTColumn.h"

#include <QHash>

bool ZNTColumn::isNumeric() const {
    if (m_typeCategory)
        return m_typeCategory == 'N';
    switch (m_typeOid) {
    case 20:  // int8
    case 21:  // int2
    case 23:  // int4
    case 26:  // oid
    case 700: // float4
    case 701: // float8
        return true;
    default:
        return false;
    }
}

bool ZNTColumn::isEqual(const ZNTColumn &other) const {
    if (m_name.isEmpty() && other.m_name.isEmpty())
        return true;
    return m_name == other.m_name;
}

size_t ZNTColumn::hash() const {
    return m_name.isEmpty() ? 0 : qHash(m_name);
}

std::shared_ptr<ZNTColumn> ZNTColumn::copy() const {
    auto column = std::make_shared<ZNTColumn>(*this);
    column->m_sourceTableOid = 0;
    column->m_sourceTableAttnum = 0;
    return column;
}
