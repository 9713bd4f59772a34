#include "ZNTDatabase.h"

#include "ZNTDatabaseDescendantQuery.h"
#include "ZNTQueryObject.h"
#include "ZNTServer.h"
#include "engine/ZNTConnection.h"

#include <QHash>

namespace {
// What catalog SQL assumes of a server that has not told its version yet: the
// oldest release still served, which has every catalog column the statements
// switch on.
constexpr quint64 kAssumedServerVersion = 120000;
} // namespace

ZNTDatabase::ZNTDatabase(QString name, const std::shared_ptr<ZNTServer> &server)
    : m_name(std::move(name)), m_server(server), m_serverSerial(server ? server->serial() : 0) {}

std::shared_ptr<ZNTObject> ZNTDatabase::parent() const {
    return m_server.lock();
}

std::shared_ptr<ZNTConnection> ZNTDatabase::connection() const {
    auto server = m_server.lock();
    return server ? server->connectionForDatabase(*this) : nullptr;
}

// A database's own connection connects only when its first query runs, so the
// text of that first query cannot ask it; the main connection of the same
// server has connected before any item was listed.
quint64 ZNTDatabase::serverVersion() const {
    auto server = m_server.lock();
    if (!server)
        return kAssumedServerVersion;
    if (const quint64 own = server->connectionForDatabase(*this)->serverVersion())
        return own;
    if (const quint64 main = server->mainConnection()->serverVersion())
        return main;
    return kAssumedServerVersion;
}

std::shared_ptr<ZNTObjectQuery> ZNTDatabase::descendantQuery() {
    return std::make_shared<ZNTDatabaseDescendantQuery>(shared_from_this());
}

std::shared_ptr<ZNTQueryObject> ZNTDatabase::queryObject() {
    return std::make_shared<ZNTQueryObject>(shared_from_this());
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
