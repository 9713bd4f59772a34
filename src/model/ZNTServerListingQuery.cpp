#include "ZNTServerListingQuery.h"

#include "Tablespace.h"
#include "ZNTDatabase.h"
#include "ZNTServer.h"

ZNTServerListingQuery::ZNTServerListingQuery(std::shared_ptr<ZNTServer> server, QString sql, QString statusMessage,
                                             ItemMaker make)
    : m_server(std::move(server)), m_sql(std::move(sql)), m_statusMessage(std::move(statusMessage)),
      m_make(std::move(make)) {}

void ZNTServerListingQuery::executeInBackground() {
    start(m_sql, m_statusMessage, m_server ? m_server->mainConnection() : nullptr, false);
}

void ZNTServerListingQuery::newRows(const RowRange &) {
    takeRowsOfFirstResult([this](const RowRange &rows, qsizetype row) { return m_make(catalogText(rows, row, 0)); });
}

ZNTDatabaseQuery::ZNTDatabaseQuery(std::shared_ptr<ZNTServer> server)
    : ZNTServerListingQuery(server,
                            QStringLiteral("SELECT datName FROM pg_database WHERE datAllowConn ORDER BY datName"),
                            QStringLiteral("Fetching database names…"),
                            [server](const QString &name) { return std::make_shared<ZNTDatabase>(name, server); }) {}

ZNTTablespaceQuery::ZNTTablespaceQuery(std::shared_ptr<ZNTServer> server)
    : ZNTServerListingQuery(std::move(server), QStringLiteral("SELECT spcName FROM pg_tablespace ORDER by 1"),
                            QStringLiteral("Fetching tablespaces…"),
                            [](const QString &name) { return Tablespace::create(name); }) {}
