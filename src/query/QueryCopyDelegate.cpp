#include "QueryCopyDelegate.h"

#include "engine/ZNTConnection.h"

#include <libpq-fe.h>

std::shared_ptr<QueryCopyDelegate> QueryCopyDelegate::shared() {
    static const auto delegate = std::make_shared<QueryCopyDelegate>();
    return delegate;
}

bool QueryCopyDelegate::handleCopy(int status, const std::shared_ptr<ZNTConnection> &connection,
                                   const std::shared_ptr<ZNTQuery> &query) {
    PGconn *pg = connection->conn();
    if (!pg)
        return false;
    if (status == PGRES_COPY_IN) {
        // The text becomes the reason of the server's error for the statement.
        return PQputCopyEnd(pg, CopyInMessage.toUtf8().constData()) == 1;
    }
    if (status != PGRES_COPY_OUT)
        return false; // COPY BOTH belongs to replication connections only
    // The data, read and dropped: then the server ends the COPY, and its
    // result is the refusal. A Cancel of the run stops a long one.
    char *buffer = nullptr;
    int received = 0;
    while ((received = PQgetCopyData(pg, &buffer, 0)) > 0) {
        PQfreemem(buffer);
        buffer = nullptr;
    }
    if (received != -1)
        return false; // the connection failed meanwhile
    query->refuseCopy(CopyOutMessage);
    return true;
}
