#include "QueryCopyDelegate.h"

#include "engine/KesError.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "platform/Log.h"

#include <algorithm>
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
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_refusedCopyOut, [](const std::weak_ptr<ZNTQuery> &q) { return q.expired(); });
        m_refusedCopyOut.push_back(query);
    }
    // Failed, also when the server sends all the data before the cancel
    // arrives; a server error after this one takes its place.
    query->setError(KesError::errorWithCode(1, CopyOutMessage));
    if (PGcancelPtr cancel{PQgetCancel(pg)}) {
        char reason[256] = {};
        if (!PQcancel(cancel.get(), reason, sizeof reason))
            Log(QStringLiteral("Failed to cancel because: %1").arg(QString::fromUtf8(reason)));
    }
    // The rest of the data, read and dropped: then the server tells how the
    // statement ended.
    char *buffer = nullptr;
    int received = 0;
    while ((received = PQgetCopyData(pg, &buffer, 0)) > 0) {
        PQfreemem(buffer);
        buffer = nullptr;
    }
    return received == -1;
}

bool QueryCopyDelegate::takeCopyOutRefusal(const std::shared_ptr<ZNTQuery> &query) {
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_refusedCopyOut.begin(), m_refusedCopyOut.end(),
                                 [&](const std::weak_ptr<ZNTQuery> &q) { return q.lock() == query; });
    if (it == m_refusedCopyOut.end())
        return false;
    m_refusedCopyOut.erase(it);
    return true;
}
