#pragma once

#include "ZNTObjectQuery.h"

class ZNTServer;

// The tablespaces of a server, by name, as Tablespace values; run on the
// server's main connection. objects() is absent until the first rows.
class ZNTTablespaceQuery : public ZNTObjectQuery {
public:
    explicit ZNTTablespaceQuery(std::shared_ptr<ZNTServer> server) : m_server(std::move(server)) {}
    std::shared_ptr<ZNTServer> server() const { return m_server; }
    void executeInBackground() override;

protected:
    void newRows(const RowRange &rows) override;

private:
    const std::shared_ptr<ZNTServer> m_server;
};
