#include "ZNTTableSchemaModel.h"

#include "ZNTConstraint.h"

namespace {
template <class T> bool sameEntries(const QList<std::shared_ptr<T>> &a, const QList<std::shared_ptr<T>> &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && (!a[i] || !b[i] || !a[i]->isEqual(*b[i])))
            return false;
    }
    return true;
}
} // namespace

bool ZNTTableSchemaModel::isEqual(const ZNTTableSchemaModel &other) const {
    if (!sameText(m_tableName, other.m_tableName) || !sameText(m_tableSchemaName, other.m_tableSchemaName) ||
        !sameText(m_tablespaceName, other.m_tablespaceName) || !sameText(m_tableComment, other.m_tableComment) ||
        !sameText(m_viewDefinition, other.m_viewDefinition) || !sameEntries(m_columns, other.m_columns))
        return false;
    if (m_columnConstraints.size() != other.m_columnConstraints.size())
        return false;
    for (qsizetype i = 0; i < m_columnConstraints.size(); ++i) {
        const auto &a = m_columnConstraints[i];
        const auto &b = other.m_columnConstraints[i];
        if (a != b && (!a || !b || !sameEntries(*a, *b)))
            return false;
    }
    return true;
}
