// A save's COMMIT, and what became of one whose answer was lost, asked of a
// new session by the transaction's id.
#include "ZNTUpdateInsertDeleteQuery.h"

#include "engine/KesError.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTResult.h"

#include <atomic>
#include <chrono>

namespace {
// Marks the error of a save whose COMMIT may have committed.
const QString kMayHaveCommittedKey = QStringLiteral("ZNTSaveMayHaveCommitted");

QString &commitStatement() {
    static QString statement = QStringLiteral("COMMIT");
    return statement;
}

// How long the program asks what became of a COMMIT whose answer was lost
// (reconnecting included), and the pause between two questions about it.
constexpr std::chrono::milliseconds kCommitWait = std::chrono::minutes(1);
constexpr std::chrono::milliseconds kCommitPoll(500);
std::atomic<qint64> commitWaitMs{kCommitWait.count()};

// The value of a statement's one-row, one-column answer; none after an error.
std::optional<Value> singleValue(const ZNTQuery &query) {
    const auto results = query.results();
    const auto rows = results.isEmpty() ? nullptr : results.first()->rows();
    if (query.error() || !rows || rows->rowCount() != 1)
        return std::nullopt;
    return rows->valueAt(0, 0);
}
} // namespace

bool ZNTUpdateInsertDeleteQuery::mayHaveCommitted(const ErrorPtr &error) {
    return error && error->userInfo().contains(kMayHaveCommittedKey);
}

void ZNTUpdateInsertDeleteQuery::setCommitStatementForTesting(const QString &statement) {
    commitStatement() = statement.isEmpty() ? QStringLiteral("COMMIT") : statement;
}

void ZNTUpdateInsertDeleteQuery::setCommitWaitForTesting(std::chrono::milliseconds bound) {
    commitWaitMs = (bound.count() > 0 ? bound : kCommitWait).count();
}

void ZNTUpdateInsertDeleteQuery::commitTransaction(const Job &job, const std::shared_ptr<ZNTConnection> &connection,
                                                   Outcome &outcome) {
    // Read inside the transaction, before COMMIT: it is what a new session asks
    // about when the answer to COMMIT never comes.
    std::optional<qint64> transactionId;
    if (job.readsTransactionId) {
        const auto read = runNow(connection, QStringLiteral("SELECT pg_catalog.txid_current()"),
                                 QStringLiteral("Committing changes to %1…").arg(job.tableName));
        if (const auto id = singleValue(*read); id && id->kind() == Value::Kind::Int)
            transactionId = id->toInt();
    }
    const auto commit =
        runNow(connection, commitStatement(), QStringLiteral("Committing changes to %1…").arg(job.tableName));
    const auto results = commit->results();
    const QString answer = results.isEmpty() ? QString() : results.first()->string();
    // The server answered COMMIT on the transaction's own session (COMMIT never
    // reconnects): committed, whatever became of the session after.
    if (answer == QLatin1String("COMMIT"))
        return;
    if (commit->error()) {
        outcome.success = false;
        outcome.error = commit->error();
        // Sent, and the session gone before its answer: the server may have
        // committed, or may still be committing.
        if (commit->startDate().isValid() && connection->state() == ZNTConnection::ZNTConnectionStateLost)
            settleLostCommit(job, transactionId, connection, outcome);
    } else if (answer == QLatin1String("ROLLBACK")) {
        // The server answers COMMIT of a failed transaction with ROLLBACK,
        // and no error: nothing was saved.
        outcome.success = false;
        outcome.error = KesError::errorWithFormat(QStringLiteral("The server did not commit the changes. The "
                                                                 "transaction was rolled back."));
    }
}

// What the server says of the transaction: "committed", "aborted", "in
// progress", or empty when it no longer knows; none when it could not be asked.
// After a pause the pause is taken on the server, so the connection shows the
// question and its message meanwhile, and quitting cancels it as any statement.
// A connect it needs, and the wait for its answer, give up at end.
std::optional<QString> ZNTUpdateInsertDeleteQuery::transactionStatus(const std::shared_ptr<ZNTConnection> &connection,
                                                                     qint64 transactionId,
                                                                     std::chrono::steady_clock::time_point end,
                                                                     bool afterPause, const QString &message) {
    QString sql = QStringLiteral("SELECT pg_catalog.txid_status(%1)").arg(transactionId);
    if (afterPause)
        sql += QStringLiteral(" FROM pg_catalog.pg_sleep(%1)").arg(double(kCommitPoll.count()) / 1000.0);
    auto ask = ZNTQuery::create(sql);
    ask->setStatusMessage(message);
    ask->setAnswerDeadline(end);
    ask->executionBlockForConnection(connection, true, end)();
    if (ask->error())
        return std::nullopt;
    // NULL: the transaction is too old for the server to remember.
    const auto answer = singleValue(*ask);
    return answer && answer->kind() == Value::Kind::String ? answer->toString() : QString();
}

// A new session (the connection reconnects) asks the server what became of the
// transaction, again while it is "in progress": still committing (a deferred
// trigger, a synchronous standby), or never ended, as when the COMMIT did not
// reach the server and the old session sits idle in it. The bound holds from
// before the first question, so a reconnect that gets no answer cannot outlast
// it: the save holds the connection's queue meanwhile. The rows the statements
// gave back came before COMMIT, so a committed save is complete as it is.
void ZNTUpdateInsertDeleteQuery::settleLostCommit(const Job &job, std::optional<qint64> transactionId,
                                                  const std::shared_ptr<ZNTConnection> &connection, Outcome &outcome) {
    const QString inProgress = QStringLiteral("in progress");
    std::optional<QString> status = QString();
    connection->setUnacknowledgedTimeout({}); // the questions have their own bound
    if (transactionId) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(commitWaitMs.load());
        status = transactionStatus(connection, *transactionId, end, false,
                                   QStringLiteral("Asking whether the changes were saved…"));
        while (status == inProgress && std::chrono::steady_clock::now() + kCommitPoll <= end &&
               !connection->shouldCancel()) {
            const auto next = transactionStatus(
                connection, *transactionId, end, true,
                QStringLiteral("Waiting for the server to finish committing the changes to %1…").arg(job.tableName));
            // An answer still out when the wait ends leaves the last one standing.
            if (!next && std::chrono::steady_clock::now() >= end)
                break;
            status = next;
        }
    }
    if (status == QLatin1String("committed")) {
        outcome.success = true;
        outcome.error = nullptr;
        return;
    }
    if (status == QLatin1String("aborted")) {
        outcome.error = KesError::errorWithFormat(QStringLiteral(
            "The connection was lost while the changes were being committed. The server did not commit them."));
        return;
    }
    const QString why = !status ? QStringLiteral("the server could not be asked whether it committed them.")
                        : *status == inProgress
                            ? QStringLiteral("the server had not finished the transaction when the "
                                             "program stopped waiting.")
                            : QStringLiteral("the server could not tell whether it committed them.");
    outcome.error = Error::make(
        kBundleIdentifier, 1,
        {{Error::DescriptionKey,
          QStringLiteral("The connection was lost while the changes were being committed, and %1").arg(why)},
         {kMayHaveCommittedKey, true}});
}
