#pragma once

#include "engine/ZNTQuery.h"

#include <memory>

// How the query editor meets a COPY statement, whose data it has no place
// for: COPY FROM STDIN is ended at once with the message below, so that the
// server fails the statement (and skips the statements after it); COPY TO
// STDOUT has its data read to the end and dropped, and its own result becomes
// the refusal below. Either way the refusal stands in the COPY's place among
// the results, and the connection stays usable (a COPY left unanswered would
// leave it lost, and with it the session's temporary tables and settings).
// Nothing is cancelled on the server: a cancel could land on the statement
// after the COPY.
//
// One delegate serves every query. A query holds its copy delegate weakly:
// shared() keeps this one alive. handleCopy runs on the connection queue.
class QueryCopyDelegate : public ZNTCopyDelegate {
public:
    static inline const QString CopyInMessage = QStringLiteral("COPY FROM STDIN is not supported in the query editor.");
    static inline const QString CopyOutMessage = QStringLiteral("COPY TO STDOUT is not supported in the query editor.");

    static std::shared_ptr<QueryCopyDelegate> shared();

    bool handleCopy(int status, const std::shared_ptr<ZNTConnection> &connection,
                    const std::shared_ptr<ZNTQuery> &query) override;
};
