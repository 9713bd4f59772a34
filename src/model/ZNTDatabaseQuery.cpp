#include "ZNTDatabaseQuery.h"

#include "ZNTDatabase.h"
#include "ZNTServer.h"

void ZNTDatabaseQuery::executeInBackground() {
    start(QStringLiteral("SELECT datName FROM pg_database WHERE datAllowConn ORDER BY datName"),
          QStringLiteral("Fetching database names…"), m_server ? m_server->mainConnection() : nullptr, false);
}

void ZNTDatabaseQuery::newRows(const RowRange &) {
    takeRowsOfFirstResult([this](const RowRange &rows, qsizetype row) {
        return std::make_shared<ZNTDatabase>(catalogText(rows, row, 0), m_server);
    });
}
