#include "ZNTTerminal.h"

#include "ZNTDatabase.h"

std::shared_ptr<ZNTObject> ZNTTerminal::parent() const {
    return m_database;
}

bool ZNTTerminal::isEqual(const ZNTObject &other) const {
    const auto *terminal = dynamic_cast<const ZNTTerminal *>(&other);
    return terminal && sameItem(terminal->m_database, m_database);
}

size_t ZNTTerminal::hash() const {
    return (m_database ? m_database->hash() : 0) ^ 0x5445524D;
}
