#include "ZNTQueryObject.h"

#include "ZNTDatabase.h"

QString ZNTQueryObject::name() const {
    std::lock_guard lock(m_mutex);
    return m_name;
}

void ZNTQueryObject::setName(const QString &name) {
    std::lock_guard lock(m_mutex);
    m_name = name;
}

QString ZNTQueryObject::sql() const {
    std::lock_guard lock(m_mutex);
    return m_sql;
}

void ZNTQueryObject::setSql(const QString &sql) {
    std::lock_guard lock(m_mutex);
    m_sql = sql;
}

std::shared_ptr<ZNTObject> ZNTQueryObject::parent() const {
    return m_database;
}

bool ZNTQueryObject::isEqual(const ZNTObject &other) const {
    const auto *query = dynamic_cast<const ZNTQueryObject *>(&other);
    if (!query)
        return false;
    return sameItem(query->m_database, m_database);
}

// Mixed with a constant of its own, so that the item and its database land in
// different buckets.
size_t ZNTQueryObject::hash() const {
    return (m_database ? m_database->hash() : 0) ^ 0x5c15;
}
