#include "ZNTSchema.h"

#include "ZNTDatabase.h"
#include "ZNTSchemaDescendantQuery.h"

#include <QHash>

std::shared_ptr<ZNTObject> ZNTSchema::parent() const {
    return m_database;
}

std::shared_ptr<ZNTObjectQuery> ZNTSchema::descendantQuery() {
    return std::make_shared<ZNTSchemaDescendantQuery>(shared_from_this());
}

bool ZNTSchema::isEqual(const ZNTObject &other) const {
    const auto *schema = dynamic_cast<const ZNTSchema *>(&other);
    if (!schema || schema->m_name != m_name)
        return false;
    return sameItem(schema->m_database, m_database);
}

size_t ZNTSchema::hash() const {
    return qHash(m_name);
}
