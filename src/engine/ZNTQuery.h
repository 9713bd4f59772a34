#pragma once

#include "LibpqHandles.h"
#include "RowStore.h"
#include "ZNTResult.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class ZNTConnection;
class ZNTQuery;

// Carries out a COPY exchange for a query. connection queue.
class ZNTCopyDelegate {
public:
    virtual ~ZNTCopyDelegate() = default;
    // status: libpq's 3 (COPY_OUT), 4 (COPY_IN) or 8 (COPY_BOTH). True when the
    // exchange is done and the query may read its next result; false makes the
    // COPY result an invalid result. A delegate that ended the exchange without
    // doing what the COPY asked calls the query's refuseCopy before it returns.
    virtual bool handleCopy(int status, const std::shared_ptr<ZNTConnection> &connection,
                            const std::shared_ptr<ZNTQuery> &query) = 0;
};

// Paces a query whose rows a consumer takes batch by batch (a CSV export that
// writes them to disk), so that a slow consumer never has the whole result in
// memory: the query waits in batchQueued until the consumer catches up.
class ZNTQueryFlowControl {
public:
    virtual ~ZNTQueryFlowControl() = default;
    // connection queue: rows, a batch, were just queued for the main thread;
    // may wait before the query reads on.
    virtual void batchQueued(const RowRange &rows) = 0;
    // any thread: the query was cancelled; a wait in batchQueued must end.
    virtual void queryCancelled() = 0;
};

// One SQL text (or one statement with parameters $1, $2, ...) run once on a
// connection's queue. Every result arrives as a ZNTResult, rows as they come in
// (single-row mode), converted by type OID into the row store of their result.
// Progress reaches the main thread as notifications, gathered in batches that are
// posted at most 50 ms after the first of each batch, always in the order they
// happened.
//
// Notifications and their user info (object is the query unless noted):
//   NewResultNotification         ResultIndexKey (qsizetype); for a row result also ResultKey
//   NewRowNotification            ResultKey, RowsKey
//   ZNTResult::NewRowNotification (object: the result) RowsKey; just before NewRow
//   ZNTResult::DoneNotification   (object: the result) none
//   ResultDoneNotification        ResultKey; row results only
//   DoneNotification              none; exactly once per execution
// ResultKey holds a std::shared_ptr<ZNTResult>, RowsKey a RowRange: the rows that
// arrived since the previous batch, read in place from the row store.
class ZNTQuery : public std::enable_shared_from_this<ZNTQuery> {
public:
    static inline const QString NewResultNotification = QStringLiteral("ZNTQueryNewResultNotification");
    static inline const QString NewRowNotification = QStringLiteral("ZNTQueryNewRowNotification");
    static inline const QString ResultDoneNotification = QStringLiteral("ZNTQueryResultDoneNotification");
    static inline const QString DoneNotification = QStringLiteral("ZNTQueryDoneNotification");
    static inline const QString ResultIndexKey = QStringLiteral("resultIndex");
    static inline const QString ResultKey = QStringLiteral("result");
    static inline const QString RowsKey = QStringLiteral("rows");

    static std::shared_ptr<ZNTQuery> create();
    static std::shared_ptr<ZNTQuery> create(const QString &sql);
    // Empty params mean none: the text then goes as it is, several statements
    // allowed; with params it is one statement with placeholders.
    static std::shared_ptr<ZNTQuery> create(const QString &sql, const QStringList &params);
    ~ZNTQuery();

    // The refusal of a query that refuses the user's transaction: open, or failed
    // (a statement of it failed and the server ignores everything until it ends).
    static ErrorPtr userTransactionError(bool failed);
    static bool isUserTransactionError(const ErrorPtr &error);

    // any thread: runs the execution on the connection's queue.
    void executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection, bool autoReconnect);
    // The execution as a callable that runs on the calling thread, for callers
    // that already are on the connection's queue. A connect it makes gives up
    // at connectDeadline, when one is given.
    std::function<void()>
    executionBlockForConnection(const std::shared_ptr<ZNTConnection> &connection, bool autoReconnect,
                                std::optional<std::chrono::steady_clock::time_point> connectDeadline = std::nullopt);
    QString sqlForConnection(const ZNTConnection &connection) const;

    // any thread. Before the execution starts nothing is sent; while it runs the
    // server is asked to cancel (from a short worker thread: that request does
    // network I/O); afterwards only isCancelled changes.
    void cancel();

    QList<std::shared_ptr<ZNTResult>> results() const;
    // Seconds from start to end, to now while running, 0 before the start.
    double elapsedTime() const;

    QString sql() const;
    QStringList params() const;
    ErrorPtr error() const;
    void setError(ErrorPtr error);
    bool done() const;
    bool isCancelled() const;
    std::shared_ptr<ZNTCopyDelegate> cpyDelegate() const;
    void setCpyDelegate(std::weak_ptr<ZNTCopyDelegate> delegate);
    // connection queue, from the copy delegate: the COPY just ended was refused.
    // Its own result takes the refusal's place once the server has ended it (a
    // server error for it stays as it is), and the query fails.
    void refuseCopy(const QString &message);
    bool includeNotices() const;
    void setIncludeNotices(bool include);
    bool dontStoreRows() const;
    void setDontStoreRows(bool dontStore);
    // Sends a text without parameters through the extended protocol all the
    // same, where the server takes exactly one statement: a statement built
    // around text from outside (a row filter) cannot carry a second one.
    bool extendedProtocol() const;
    void setExtendedProtocol(bool extended);
    // For a statement that writes on the user's behalf (a save, maintenance, a
    // drop). The session is shared with the SQL Query page and the terminal, so a
    // transaction open on it is the user's: such a statement then sends nothing
    // and fails with userTransactionError, rather than being committed or rolled
    // back with the user's work. The status is read in the job that would send.
    bool refusesUserTransaction() const;
    void setRefusesUserTransaction(bool refuses);
    // Any other statement of the program (a page's rows, their count, a catalog
    // listing) that is sent while the user's transaction is open runs under a
    // savepoint, released after it or rolled back to when it failed or was
    // cancelled: it can never end the user's transaction nor leave it failed.
    // The user's own statements (SQL Query page, terminal) and those of the
    // program's own transaction are sent as they stand: they set this false.
    bool guardsUserTransaction() const;
    void setGuardsUserTransaction(bool guards);
    // For a question that must not hold the connection's queue past a bound
    // (what became of a COMMIT whose answer was lost): its answer is awaited
    // on the socket until then, and past it the session is given up and the
    // query fails as a lost connection. None: the answer is awaited as long as
    // it takes. Set before the execution starts.
    std::optional<std::chrono::steady_clock::time_point> answerDeadline() const;
    void setAnswerDeadline(std::optional<std::chrono::steady_clock::time_point> deadline);
    // Set before the execution starts; held until the query is gone.
    std::shared_ptr<ZNTQueryFlowControl> flowControl() const;
    void setFlowControl(std::shared_ptr<ZNTQueryFlowControl> flowControl);
    QDateTime startDate() const;
    QDateTime endDate() const;
    QString statusMessage() const;
    void setStatusMessage(const QString &message);
    QString description() const;

private:
    friend class ZNTQueryExecution;
    using Clock = std::chrono::steady_clock;
    ZNTQuery(QString sql, QStringList params);

    void execute(const std::shared_ptr<ZNTConnection> &connection, bool autoReconnect,
                 std::optional<std::chrono::steady_clock::time_point> connectDeadline);
    void enqueueNotificationLocked(const QString &name, std::shared_ptr<void> object, UserInfo userInfo);
    void enqueueNotification(const QString &name, std::shared_ptr<void> object, UserInfo userInfo = {});
    void drainNotifications(); // main thread
    qsizetype appendResult(const std::shared_ptr<ZNTResult> &result);
    void finishWithError(ErrorPtr error); // connection queue, before anything was sent
    void startCancelRequestLocked(PGcancelPtr handle);
    // The execution's end, not under the lock. Without wait a request still
    // under way is left to finish alone: its session was given up.
    void stopCancelRequest(bool wait = true);

    mutable std::mutex m_mutex; // the query's lock
    QList<std::shared_ptr<ZNTResult>> m_results;
    std::optional<std::vector<Notification>> m_enqueuedNotifications;
    PGcancelPtr m_cancelStruct;
    std::thread m_cancelWorker; // the running PQcancel, joined before the execution ends
    struct CancelStop;
    std::shared_ptr<CancelStop> m_cancelStop; // ends m_cancelWorker's repeats
    bool m_done = false;
    bool m_includeNotices = false;
    bool m_dontStoreRows = false;
    bool m_extendedProtocol = false;
    bool m_refusesUserTransaction = false;
    bool m_guardsUserTransaction = true;
    std::optional<Clock::time_point> m_answerDeadline;
    bool m_isCancelled = false;
    QString m_sql;
    const QStringList m_params;
    ErrorPtr m_error;
    std::weak_ptr<ZNTCopyDelegate> m_cpyDelegate;
    std::optional<QString> m_copyRefusal;
    std::shared_ptr<ZNTQueryFlowControl> m_flowControl;
    QDateTime m_startDate, m_endDate;
    std::optional<Clock::time_point> m_startTime, m_endTime;
    QString m_statusMessage;
};
