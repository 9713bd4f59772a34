#pragma once

#include "engine/ZNTQuery.h"

#include <memory>
#include <mutex>
#include <vector>

// How the query editor meets a COPY statement, whose data it has no place
// for: COPY FROM STDIN is ended at once with the message below, so that the
// server fails the statement; COPY TO STDOUT is cancelled on the server and
// its data read and dropped, and the run counts as failed. Either way the
// connection stays usable (a COPY left unanswered would leave it lost, and
// with it the session's temporary tables and settings).
//
// One delegate serves every query, so that a run cancelled by a newer one
// still finds it. A query holds its copy delegate weakly: shared() keeps this
// one alive. handleCopy runs on the connection queue; the rest on any thread.
class QueryCopyDelegate : public ZNTCopyDelegate {
public:
    static inline const QString CopyInMessage = QStringLiteral("COPY FROM STDIN is not supported in the query editor.");
    static inline const QString CopyOutMessage = QStringLiteral("COPY TO STDOUT is not supported in the query editor.");

    static std::shared_ptr<QueryCopyDelegate> shared();

    bool handleCopy(int status, const std::shared_ptr<ZNTConnection> &connection,
                    const std::shared_ptr<ZNTQuery> &query) override;

    // Whether a COPY TO STDOUT of query was refused; answered once per query
    // (the record goes), and forgotten anyway when the query goes.
    bool takeCopyOutRefusal(const std::shared_ptr<ZNTQuery> &query);

private:
    std::mutex m_mutex;
    std::vector<std::weak_ptr<ZNTQuery>> m_refusedCopyOut;
};
