#pragma once

#include "ZNTObject.h"

#include <QString>
#include <memory>

class ZNTConnection;
class ZNTQueryObject;
class ZNTServer;

// One database of a server, as an item of the object tree. It holds its server
// weakly, and keeps the server's identity from the moment it was made: a
// database item stays equal to itself (and to its copies) after its server is
// gone, so containers keyed by it stay consistent. Two items are equal when
// their names are equal and they were made for the same server object.
// Make it with std::make_shared: its listing holds the item.
class ZNTDatabase : public ZNTObject, public std::enable_shared_from_this<ZNTDatabase> {
public:
    // Posted on the main thread, object the database, after a structure save
    // created one of its relations or gave one another name or schema: what
    // lists its relations lists them anew, or it would miss the new one and
    // offer a name the server no longer knows.
    static inline const QString RelationListChangedNotification =
        QStringLiteral("norvane.ZNTDatabaseRelationListChanged");

    ZNTDatabase(QString name, const std::shared_ptr<ZNTServer> &server);

    QString name() const override { return m_name; }
    // The server; null once it is gone.
    std::shared_ptr<ZNTObject> parent() const override;
    std::shared_ptr<ZNTServer> server() const { return m_server.lock(); }
    // The server's one connection for this database, made on first request; null
    // once the server is gone. any thread.
    std::shared_ptr<ZNTConnection> connection() const;
    // The server's version in PostgreSQL's numeric form (150004 is 15.4): that
    // of this database's connection once it has connected, else that of the
    // server's main connection, which connects first; a current server's when
    // neither has connected yet. main thread.
    quint64 serverVersion() const;

    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Database; }
    // The database's "SQL Query" item, then its schemas (in the sidebar, its
    // relations on the search path and the schemas off it).
    std::shared_ptr<ZNTObjectQuery> descendantQuery() override;
    // A new "SQL Query" item of this database.
    std::shared_ptr<ZNTQueryObject> queryObject();

    // A new item with the same name and server.
    std::shared_ptr<ZNTDatabase> copy() const;

    bool isEqual(const ZNTObject &other) const override;
    size_t hash() const override;
    // The serial number of the server this item was made for (see ZNTServer).
    quint64 serverSerial() const { return m_serverSerial; }

private:
    QString m_name;
    std::weak_ptr<ZNTServer> m_server;
    quint64 m_serverSerial;
};

inline bool operator==(const ZNTDatabase &a, const ZNTDatabase &b) {
    return a.isEqual(b);
}
