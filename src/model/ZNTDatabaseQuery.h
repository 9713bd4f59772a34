#pragma once

#include "ZNTObjectQuery.h"

class ZNTServer;

// The databases of a server that accept connections, by name, as ZNTDatabase
// items of that server; run on the server's main connection. objects() is
// absent until the first rows.
class ZNTDatabaseQuery : public ZNTObjectQuery {
public:
    explicit ZNTDatabaseQuery(std::shared_ptr<ZNTServer> server) : m_server(std::move(server)) {}
    std::shared_ptr<ZNTServer> server() const { return m_server; }
    void executeInBackground() override;

protected:
    void newRows(const RowRange &rows) override;

private:
    const std::shared_ptr<ZNTServer> m_server;
};
