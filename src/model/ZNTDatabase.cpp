#include "ZNTDatabase.h"

#include "ZNTServer.h"

#include <QHash>

ZNTDatabase::ZNTDatabase(QString name, const std::shared_ptr<ZNTServer> &server)
    : m_name(std::move(name)), m_server(server), m_serverSerial(server ? server->serial() : 0) {}

std::shared_ptr<ZNTObject> ZNTDatabase::parent() const {
    return m_server.lock();
}

std::shared_ptr<ZNTConnection> ZNTDatabase::connection() const {
    auto server = m_server.lock();
    return server ? server->connectionForDatabase(*this) : nullptr;
}

std::shared_ptr<ZNTDatabase> ZNTDatabase::copy() const {
    auto twin = std::make_shared<ZNTDatabase>(*this);
    return twin;
}

bool ZNTDatabase::isEqual(const ZNTObject &other) const {
    const auto *database = dynamic_cast<const ZNTDatabase *>(&other);
    // Serial 0 is an item made without a server: it belongs to no server and
    // equals only itself.
    if (!database || (m_serverSerial == 0 && database != this))
        return false;
    return database->m_serverSerial == m_serverSerial && database->m_name == m_name;
}

size_t ZNTDatabase::hash() const {
    return qHash(m_name);
}
