#pragma once

#include "ZNTObjectQuery.h"

class ZNTServer;

// A listing of names of a server: one statement on the server's main
// connection whose first column names each item. objects() is absent until
// the first rows.
class ZNTServerListingQuery : public ZNTObjectQuery {
public:
    using ItemMaker = std::function<std::shared_ptr<ZNTObject>(const QString &name)>;

    std::shared_ptr<ZNTServer> server() const { return m_server; }
    void executeInBackground() override;

protected:
    ZNTServerListingQuery(std::shared_ptr<ZNTServer> server, QString sql, QString statusMessage, ItemMaker make);
    void newRows(const RowRange &rows) override;

private:
    const std::shared_ptr<ZNTServer> m_server;
    const QString m_sql;
    const QString m_statusMessage;
    const ItemMaker m_make;
};

// The databases of a server that accept connections, by name, as ZNTDatabase
// items of that server.
class ZNTDatabaseQuery : public ZNTServerListingQuery {
public:
    explicit ZNTDatabaseQuery(std::shared_ptr<ZNTServer> server);
};

// The tablespaces of a server, by name, as Tablespace values.
class ZNTTablespaceQuery : public ZNTServerListingQuery {
public:
    explicit ZNTTablespaceQuery(std::shared_ptr<ZNTServer> server);
};
