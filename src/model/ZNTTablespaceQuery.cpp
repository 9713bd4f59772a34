#include "ZNTTablespaceQuery.h"

#include "Tablespace.h"
#include "ZNTServer.h"

void ZNTTablespaceQuery::executeInBackground() {
    start(QStringLiteral("SELECT spcName FROM pg_tablespace ORDER by 1"), QStringLiteral("Fetching tablespaces…"),
          m_server ? m_server->mainConnection() : nullptr, false);
}

void ZNTTablespaceQuery::newRows(const RowRange &) {
    takeRowsOfFirstResult(
        [](const RowRange &rows, qsizetype row) { return Tablespace::create(catalogText(rows, row, 0)); });
}
