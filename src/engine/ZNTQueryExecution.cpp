// The execution of a ZNTQuery on its connection's queue: send, read every
// result in single-row mode, convert rows into the row store, and queue the
// notifications that tell the main thread about it.
#include "KesError.h"
#include "PGError.h"
#include "ValueConversion.h"
#include "ZNTConnection.h"
#include "ZNTQuery.h"
#include "platform/Log.h"
#include "platform/ProgramError.h"
#include <algorithm>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

namespace {
// Rows are announced when this much processor time, or wall time, has passed
// since the last announcement. Processor time keeps a fast result to a few large
// batches; wall time makes rows that trickle in from a slow statement show up
// with the next row instead of only at the end.
constexpr double kFlushProcessorSeconds = 0.1;
constexpr int64_t kFlushWallNs = 100'000'000;
constexpr int64_t kProcessorClockCheckNs = 5'000'000;

// The coarse clock is read from memory without a system call, so it can be
// asked for every row; its few milliseconds of resolution are plenty here.
int64_t coarseNowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void silentNoticeReceiver(void *, const PGresult *) {}

QString libpqText(const char *text) {
    return QString::fromUtf8(text ? text : "");
}
} // namespace

class ZNTQueryExecution {
public:
    ZNTQueryExecution(ZNTQuery &query, std::shared_ptr<ZNTConnection> connection)
        : q(query), self(query.shared_from_this()), connection(std::move(connection)) {}
    ~ZNTQueryExecution() {
        // libpq would print notices to stderr; the handle keeps a silent receiver.
        if (noticeReceiverInstalled)
            PQsetNoticeReceiver(pg, silentNoticeReceiver, nullptr);
    }
    void run(bool autoReconnect, ZNTConnection::ConnectDeadline connectDeadline);

private:
    using Clock = std::chrono::steady_clock;

    bool prepareConnection(bool autoReconnect, ZNTConnection::ConnectDeadline connectDeadline);
    void failConnection(ErrorPtr error);
    bool refuseUserTransaction();
    bool setSavepoint();
    void releaseSavepoint();
    void readValueStyles();
    bool send();
    bool sendText();
    bool hasNulCharacter() const;
    bool enterSingleRowMode();
    bool readResults();
    bool answerArrived();
    void abandon();
    void finish(bool stoppedOnInvalid);
    void failAfterSend(const QString &message);

    void emptyQuery();
    void commandOk(const PGresult *result);
    void rows(const PGresult *result, bool lastOfResult);
    void startRowResult(const PGresult *result);
    bool flushDue();
    void flush();
    void fatalError(const PGresult *result);
    void setStatementError(ErrorPtr error);
    void refusedCopy(const QString &message);
    void invalid(ExecStatusType status);
    void publish(const std::shared_ptr<ZNTResult> &result, bool isRowResult);
    static void noticeReceiver(void *arg, const PGresult *notice);

    ZNTQuery &q;
    const std::shared_ptr<ZNTQuery> self;
    const std::shared_ptr<ZNTConnection> connection;
    PGconn *pg = nullptr;
    bool includeNotices = false;
    bool dontStoreRows = false;
    bool extendedProtocol = false;
    bool refusesUserTransaction = false;
    bool guardsUserTransaction = true;
    bool savepointSet = false;
    bool noticeReceiverInstalled = false;
    bool abandoned = false;
    std::optional<Clock::time_point> answerDeadline;
    std::shared_ptr<ZNTQueryFlowControl> flowControl;
    QString sql;
    ZNTValueStyles valueStyles;
    // The refusal of the COPY just handled, until the server's result for it.
    std::optional<QString> copyRefusal;

    // The row result being read, the store its rows go to, and the rows of that
    // store not yet announced.
    std::shared_ptr<ZNTResult> rowResult;
    std::shared_ptr<RowStore> store;
    std::optional<ValueConversion::RowAppender> appender;
    qsizetype pendingFirst = 0;
    qsizetype pendingCount = 0;
    std::clock_t flushClock = 0;
    int64_t flushTimeNs = 0, processorCheckNs = 0;
};

void ZNTQuery::execute(const std::shared_ptr<ZNTConnection> &connection, bool autoReconnect,
                       std::optional<std::chrono::steady_clock::time_point> connectDeadline) {
    if (!connection->connectionQueue().isCurrent())
        throw ProgramError("WrongThread", "A query runs on its connection's queue.");
    ZNTQueryExecution(*this, connection).run(autoReconnect, connectDeadline);
}

void ZNTQuery::finishWithError(ErrorPtr error) {
    std::lock_guard lock(m_mutex);
    m_error = std::move(error);
    m_done = true;
    enqueueNotificationLocked(DoneNotification, shared_from_this(), {});
}

void ZNTQueryExecution::run(bool autoReconnect, ZNTConnection::ConnectDeadline connectDeadline) {
    if (q.sql().isEmpty()) {
        const QString text = q.sqlForConnection(*connection);
        std::lock_guard lock(q.m_mutex);
        q.m_sql = text;
    }
    {
        std::lock_guard lock(q.m_mutex);
        sql = q.m_sql;
        includeNotices = q.m_includeNotices;
        dontStoreRows = q.m_dontStoreRows;
        extendedProtocol = q.m_extendedProtocol;
        refusesUserTransaction = q.m_refusesUserTransaction;
        guardsUserTransaction = q.m_guardsUserTransaction;
        answerDeadline = q.m_answerDeadline;
        flowControl = q.m_flowControl;
    }
    if (!prepareConnection(autoReconnect, connectDeadline) || refuseUserTransaction() || !setSavepoint())
        return;
    readValueStyles();
    PQsetNoticeReceiver(pg, noticeReceiver, this);
    noticeReceiverInstalled = true;
    if (!send() || !enterSingleRowMode()) {
        releaseSavepoint();
        return;
    }
    finish(readResults());
}

bool ZNTQueryExecution::prepareConnection(bool autoReconnect, ZNTConnection::ConnectDeadline connectDeadline) {
    // A connection that never tried connects for its first query. One whose
    // connect failed before libpq had a handle (a refused certificate, a cancel)
    // connects again only when the caller allows it: otherwise the user would be
    // asked about the same certificate again by a query that must not reconnect.
    if (!connection->conn()) {
        const bool neverTried = connection->state() == ZNTConnection::ZNTConnectionStateNotConnected;
        if (!autoReconnect && (!neverTried || connection->shouldCancel())) {
            const ErrorPtr connectError = connection->error();
            const QString message =
                connectError ? connectError->localizedDescription() : QStringLiteral("The connection was lost.");
            connection->setState(ZNTConnection::ZNTConnectionStateLost, message);
            failConnection(connectError ? connectError : KesError::errorWithCode(1, message));
            return false;
        }
        connection->connect(connectDeadline);
    }
    if (connection->state() == ZNTConnection::ZNTConnectionStateLost) {
        if (!autoReconnect) {
            // Why it was lost, or why the last reconnect failed, goes along.
            const QString reason = connection->stateDescription().trimmed();
            failConnection(KesError::errorWithCode(1, QStringLiteral("The connection was lost."),
                                                   reason.isEmpty() ? QString() : reason));
            return false;
        }
        connection->connect(connectDeadline);
    }
    pg = connection->conn();
    if (pg && PQstatus(pg) == CONNECTION_OK)
        return true;
    // A connect that failed says why in its own error (without a handle libpq
    // has nothing to say, and a failed handshake's text is kept there as shown).
    QString message = libpqText(PQerrorMessage(pg));
    const bool connectFailed = !pg || connection->state() == ZNTConnection::ZNTConnectionStateFailed;
    if (connectFailed && connection->error())
        message = connection->error()->localizedDescription();
    connection->setState(ZNTConnection::ZNTConnectionStateLost, message);
    failConnection(KesError::errorWithCode(1, message));
    return false;
}

// A connection that had a session (its version read) lost it; one that never
// connected did not, and is not said to.
void ZNTQueryExecution::failConnection(ErrorPtr error) {
    q.finishWithError(connection->serverVersion() ? PGError::withConnectionLost(error) : std::move(error));
}

// Read in the job that sends, so that nothing the user runs can come between
// the look and the statement. A session that was just (re)connected is idle.
bool ZNTQueryExecution::refuseUserTransaction() {
    if (!refusesUserTransaction)
        return false;
    const PGTransactionStatusType status = PQtransactionStatus(pg);
    if (status != PQTRANS_INTRANS && status != PQTRANS_INERROR)
        return false;
    q.finishWithError(ZNTQuery::userTransactionError(status == PQTRANS_INERROR));
    return true;
}

namespace {
const char *const kSavepoint = "SAVEPOINT trellan_guard";
const char *const kRelease = "RELEASE SAVEPOINT trellan_guard";
const char *const kRollBack = "ROLLBACK TO SAVEPOINT trellan_guard; RELEASE SAVEPOINT trellan_guard";
} // namespace

// A statement of the program that fails (a filter the server refuses) or is
// cancelled (a page's count, left behind) would otherwise fail the transaction
// the user holds in the SQL Query page or the terminal, and their COMMIT would
// then roll it all back. Redshift has no savepoints: there a SAVEPOINT would
// itself fail that transaction, so the statement goes unguarded. A SAVEPOINT
// that fails ends the statement unsent: sent into a failed transaction, it
// could only fail too, and with a reason that is not the real one.
bool ZNTQueryExecution::setSavepoint() {
    if (!guardsUserTransaction || PQtransactionStatus(pg) != PQTRANS_INTRANS || connection->isRedshift())
        return true;
    PGresultPtr result(PQexec(pg, kSavepoint));
    savepointSet = PQresultStatus(result.get()) == PGRES_COMMAND_OK;
    if (savepointSet)
        return true;
    const QString reason = libpqText(PQerrorMessage(pg)).trimmed();
    ErrorPtr error =
        KesError::errorWithCode(1, QStringLiteral("Could not set a savepoint in the open transaction: %1").arg(reason));
    if (PQstatus(pg) != CONNECTION_OK) {
        connection->setState(ZNTConnection::ZNTConnectionStateLost, reason);
        error = PGError::withConnectionLost(error);
    }
    q.finishWithError(std::move(error));
    return false;
}

// After the statement, with the cancel worker joined. A cancel request that
// still lands here fails the release, and ROLLBACK TO is taken in a failed
// transaction: so the user's transaction is open again when this returns.
void ZNTQueryExecution::releaseSavepoint() {
    if (!std::exchange(savepointSet, false))
        return;
    for (int attempt = 0; attempt < 3 && PQstatus(pg) == CONNECTION_OK; ++attempt) {
        const PGTransactionStatusType status = PQtransactionStatus(pg);
        if (status == PQTRANS_IDLE)
            return; // the statement ended the transaction itself
        PGresultPtr result(PQexec(pg, status == PQTRANS_INERROR ? kRollBack : kRelease));
        if (PQresultStatus(result.get()) == PGRES_COMMAND_OK && PQtransactionStatus(pg) == PQTRANS_INTRANS)
            return;
    }
    Log(QStringLiteral("Could not release the savepoint in the user's transaction: %1")
            .arg(libpqText(PQerrorMessage(pg))));
}

// As the session stands now, after a reconnect and every SET the user ran:
// the server reports each change of these two, and libpq keeps the last.
void ZNTQueryExecution::readValueStyles() {
    valueStyles.dateStyle = libpqText(PQparameterStatus(pg, "DateStyle"));
    valueStyles.intervalStyle = libpqText(PQparameterStatus(pg, "IntervalStyle"));
}

// The lock is not held while sending: a long text may block on the network,
// and cancel() on the main thread must never wait for that. A cancel that comes
// in meanwhile finds the handle taken right after the send, or sends it itself.
bool ZNTQueryExecution::send() {
    // libpq takes C strings: a NUL would cut the statement short and the server
    // would run what is left of it (a WHERE clause lost, say). Refuse instead.
    if (hasNulCharacter()) {
        q.finishWithError(KesError::errorWithCode(
            1, QStringLiteral("The query contains a NUL character, which can't be sent to PostgreSQL.")));
        return false;
    }
    {
        std::lock_guard lock(q.m_mutex);
        if (q.m_isCancelled) {
            q.m_error = KesError::errorWithCode(1, QStringLiteral("The query was cancelled by the user."));
            q.m_done = true;
            q.enqueueNotificationLocked(ZNTQuery::DoneNotification, self, {});
            return false;
        }
        q.m_startDate = QDateTime::currentDateTime();
        q.m_startTime = Clock::now();
    }
    connection->setCurrentQuery(self);
    connection->setState(ZNTConnection::ZNTConnectionStateBusy, QString());
    if (!sendText()) {
        const QString message = libpqText(PQerrorMessage(pg));
        Log(QString::asprintf("PQsendQuery failed: %s, PQstatus(conn)=%d (CONNECTION_OK=%d)", PQerrorMessage(pg),
                              int(PQstatus(pg)), int(CONNECTION_OK)));
        failAfterSend(message);
        return false;
    }
    PGcancelPtr handle(PQgetCancel(pg));
    std::lock_guard lock(q.m_mutex);
    if (q.m_isCancelled)
        q.startCancelRequestLocked(std::move(handle));
    else
        q.m_cancelStruct = std::move(handle);
    return true;
}

bool ZNTQueryExecution::hasNulCharacter() const {
    if (sql.contains(QChar(0)))
        return true;
    const QStringList params = q.params();
    return std::any_of(params.begin(), params.end(), [](const QString &p) { return p.contains(QChar(0)); });
}

// Without parameters the text goes through the simple protocol, which takes
// several statements; parameters, or a query that asks for it, go through the
// extended protocol, one statement.
bool ZNTQueryExecution::sendText() {
    const QByteArray text = sql.toUtf8();
    const QStringList params = q.params();
    if (params.isEmpty() && !extendedProtocol)
        return PQsendQuery(pg, text.constData());
    std::vector<QByteArray> values;
    std::vector<const char *> pointers;
    values.reserve(size_t(params.size()));
    for (const QString &p : params) {
        values.push_back(p.toUtf8());
        pointers.push_back(values.back().constData());
    }
    return PQsendQueryParams(pg, text.constData(), int(pointers.size()), nullptr, pointers.data(), nullptr, nullptr, 0);
}

void ZNTQueryExecution::failAfterSend(const QString &message) {
    {
        std::lock_guard lock(q.m_mutex);
        q.m_error = PGError::withConnectionLost(KesError::errorWithCode(1, message));
    }
    q.stopCancelRequest();
    connection->setCurrentQuery(nullptr);
    connection->setState(ZNTConnection::ZNTConnectionStateLost, message);
    std::lock_guard lock(q.m_mutex);
    q.m_done = true;
    q.m_endDate = QDateTime::currentDateTime();
    q.m_endTime = Clock::now();
    q.enqueueNotificationLocked(ZNTQuery::DoneNotification, self, {});
}

bool ZNTQueryExecution::enterSingleRowMode() {
    if (PQsetSingleRowMode(pg))
        return true;
    failAfterSend(libpqText(PQerrorMessage(pg)));
    return false;
}

// True when reading stopped on a result that leaves the connection unusable,
// or gave the session up.
bool ZNTQueryExecution::readResults() {
    for (;;) {
        if (!answerArrived()) {
            abandon();
            return true;
        }
        const PGresultPtr owned{PQgetResult(pg)};
        if (!owned)
            return false;
        const PGresult *result = owned.get();
        const ExecStatusType status = PQresultStatus(result);
        const std::optional<QString> refusal = std::exchange(copyRefusal, std::nullopt);
        switch (status) {
        case PGRES_EMPTY_QUERY:
            emptyQuery();
            break;
        case PGRES_COMMAND_OK:
            if (refusal)
                refusedCopy(*refusal); // in place of the server's "COPY n"
            else
                commandOk(result);
            break;
        case PGRES_SINGLE_TUPLE:
        case PGRES_TUPLES_OK:
            rows(result, status == PGRES_TUPLES_OK);
            break;
        case PGRES_COPY_OUT:
        case PGRES_COPY_IN:
        case PGRES_COPY_BOTH:
            if (auto delegate = q.cpyDelegate(); delegate && delegate->handleCopy(int(status), connection, self)) {
                std::lock_guard lock(q.m_mutex);
                copyRefusal = std::exchange(q.m_copyRefusal, std::nullopt);
                break;
            }
            invalid(status);
            return true;
        case PGRES_FATAL_ERROR:
            fatalError(result);
            break;
        default:
            invalid(status);
            return true;
        }
    }
}

// Without a deadline PQgetResult waits as long as the server takes. With one,
// the wait is on the socket, so that a link that died cannot outlast it.
bool ZNTQueryExecution::answerArrived() {
    if (!answerDeadline)
        return true;
    while (PQisBusy(pg)) {
        if (!connection->waitForInput(*answerDeadline))
            return false;
        if (!PQconsumeInput(pg))
            return true; // the session broke: PQgetResult says how
    }
    return true;
}

void ZNTQueryExecution::abandon() {
    const QString message = QStringLiteral("The server did not answer in the time allowed.");
    abandoned = true;
    setStatementError(PGError::withConnectionLost(KesError::errorWithCode(1, message)));
    connection->abandonSession(message);
}

void ZNTQueryExecution::finish(bool stoppedOnInvalid) {
    // libpq's text says why (with the server's own notice when one came first).
    if (!stoppedOnInvalid && PQstatus(pg) != CONNECTION_OK)
        connection->setState(ZNTConnection::ZNTConnectionStateLost, libpqText(PQerrorMessage(pg)).trimmed());
    {
        std::lock_guard lock(q.m_mutex);
        q.m_done = true;
        q.m_cancelStruct.reset();
    }
    // A cancel request still on its way would hit whatever runs next. A session
    // given up runs nothing more, and the request may itself wait on a dead link.
    q.stopCancelRequest(!abandoned);
    if (!stoppedOnInvalid)
        releaseSavepoint();
    connection->setCurrentQuery(nullptr);
    if (connection->state() == ZNTConnection::ZNTConnectionStateBusy)
        connection->setState(ZNTConnection::ZNTConnectionStateConnected, QString());
    // The end time is in place before observers hear of the end.
    std::lock_guard lock(q.m_mutex);
    q.m_endDate = QDateTime::currentDateTime();
    q.m_endTime = Clock::now();
    q.enqueueNotificationLocked(ZNTQuery::DoneNotification, self, {});
}

// Appends a finished non-row result, or a row result just begun, and queues
// what announces it; under one lock, so the index is the one observers find.
void ZNTQueryExecution::publish(const std::shared_ptr<ZNTResult> &result, bool isRowResult) {
    std::lock_guard lock(q.m_mutex);
    q.m_results.append(result);
    UserInfo info{{ZNTQuery::ResultIndexKey, qsizetype(q.m_results.size() - 1)}};
    if (isRowResult) {
        info.emplace(ZNTQuery::ResultKey, result);
        q.enqueueNotificationLocked(ZNTQuery::NewResultNotification, self, std::move(info));
        return;
    }
    q.enqueueNotificationLocked(ZNTQuery::NewResultNotification, self, std::move(info));
    q.enqueueNotificationLocked(ZNTResult::DoneNotification, result, {});
}

void ZNTQueryExecution::emptyQuery() {
    publish(ZNTResult::emptyQueryResult(), false);
}

void ZNTQueryExecution::commandOk(const PGresult *result) {
    auto command = ZNTResult::commandOkResult();
    command->setString(libpqText(PQcmdStatus(const_cast<PGresult *>(result))));
    command->setAffectedRows(std::atoll(PQcmdTuples(const_cast<PGresult *>(result))));
    publish(command, false);
}

void ZNTQueryExecution::startRowResult(const PGresult *result) {
    const int fields = PQnfields(result);
    ZNTColumnList columns;
    columns.reserve(fields);
    for (int f = 0; f < fields; ++f) {
        auto column = std::make_shared<ZNTColumn>(libpqText(PQfname(result, f)));
        column->setTypeOid(PQftype(result, f));
        column->setSourceTableOid(PQftable(result, f));
        column->setSourceTableAttnum(PQftablecol(result, f));
        columns.append(column);
    }
    rowResult = ZNTResult::create();
    rowResult->setColumns(columns);
    rowResult->setValueStyles(valueStyles);
    store = std::make_shared<RowStore>(fields);
    // Rows that are not kept go to a store of their own per batch, which lives
    // only as long as the observers hold the batch.
    rowResult->setRows(dontStoreRows ? std::make_shared<RowStore>(fields) : store);
    appender.emplace(result);
    pendingFirst = pendingCount = 0;
    publish(rowResult, true);
    flushClock = std::clock();
    flushTimeNs = processorCheckNs = coarseNowNs();
}

void ZNTQueryExecution::rows(const PGresult *result, bool lastOfResult) {
    if (!rowResult)
        startRowResult(result);
    const int tuples = PQntuples(result);
    for (int t = 0; t < tuples; ++t)
        appender->appendRow(*store, result, t);
    pendingCount += tuples;
    if (!lastOfResult) {
        if (flushDue())
            flush();
        return;
    }
    // Single rows carry no command status; the result's message is set by
    // the end of the result ("SELECT 5").
    rowResult->setString(libpqText(PQcmdStatus(const_cast<PGresult *>(result))));
    rowResult->setAffectedRows(std::atoll(PQcmdTuples(const_cast<PGresult *>(result))));
    flush(); // also with no rows: an empty result gets one empty batch
    {
        std::lock_guard lock(q.m_mutex);
        q.enqueueNotificationLocked(ZNTResult::DoneNotification, rowResult, {});
        q.enqueueNotificationLocked(ZNTQuery::ResultDoneNotification, self, {{ZNTQuery::ResultKey, rowResult}});
    }
    rowResult.reset();
    store.reset();
    appender.reset();
}

bool ZNTQueryExecution::flushDue() {
    const int64_t now = coarseNowNs();
    if (now - flushTimeNs >= kFlushWallNs)
        return true;
    // Reading the processor clock is a system call; a few hundred times a second is plenty.
    if (now - processorCheckNs < kProcessorClockCheckNs)
        return false;
    processorCheckNs = now;
    return double(std::clock() - flushClock) / CLOCKS_PER_SEC > kFlushProcessorSeconds;
}

void ZNTQueryExecution::flush() {
    const RowRange range{store, pendingFirst, pendingCount};
    {
        std::lock_guard lock(q.m_mutex);
        q.enqueueNotificationLocked(ZNTResult::NewRowNotification, rowResult, {{ZNTQuery::RowsKey, range}});
        q.enqueueNotificationLocked(ZNTQuery::NewRowNotification, self,
                                    {{ZNTQuery::ResultKey, rowResult}, {ZNTQuery::RowsKey, range}});
    }
    pendingFirst += pendingCount;
    pendingCount = 0;
    if (dontStoreRows) {
        store = std::make_shared<RowStore>(store->columnCount());
        pendingFirst = 0;
    }
    // Waiting here keeps what the server sends in its socket, not in memory;
    // the wait is not counted as time spent reading rows.
    if (flowControl)
        flowControl->batchQueued(range);
    flushClock = std::clock();
    flushTimeNs = processorCheckNs = coarseNowNs();
}

void ZNTQueryExecution::fatalError(const PGresult *result) {
    const QString message = libpqText(PQresultErrorMessage(result));
    // The severity as the server wrote it in English: a server that speaks German
    // says "FEHLER" in the localized field, and that is no lost connection.
    const char *severity = PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED);
    if (!severity)
        severity = PQresultErrorField(result, PG_DIAG_SEVERITY);
    ErrorPtr error = PGError::errorWithPGresult(result, sql);
    if (!severity || std::strcmp(severity, "ERROR") != 0) {
        connection->setState(ZNTConnection::ZNTConnectionStateLost, message);
        error = PGError::withConnectionLost(error);
    }
    auto failed = ZNTResult::fatalErrorResult();
    failed->setString(message);
    failed->setLibpqError(!PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    setStatementError(std::move(error));
    publish(failed, false);
    // Rows of a result cut short are not announced any further.
    rowResult.reset();
    store.reset();
    appender.reset();
    pendingCount = 0;
}

// A server that ends the session sends its reason first ("terminating
// connection due to administrator command"), and libpq then adds its own
// field-less "server closed the connection unexpectedly": the server's words
// stay the statement's error, told as a lost connection when one followed.
void ZNTQueryExecution::setStatementError(ErrorPtr error) {
    const auto fromServer = [](const ErrorPtr &e) {
        return e && e->userInfo().contains(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY"));
    };
    const ErrorPtr earlier = q.error();
    if (fromServer(earlier) && !fromServer(error))
        error = PGError::reportsLostConnection(*error) ? PGError::withConnectionLost(earlier) : earlier;
    q.setError(std::move(error));
}

void ZNTQueryExecution::refusedCopy(const QString &message) {
    auto failed = ZNTResult::fatalErrorResult();
    failed->setString(message);
    q.setError(KesError::errorWithCode(1, message));
    publish(failed, false);
}

void ZNTQueryExecution::invalid(ExecStatusType status) {
    const QString message = QStringLiteral("Unknown result status: %1").arg(libpqText(PQresStatus(status)));
    auto failed = ZNTResult::invalidResult();
    failed->setString(message);
    q.setError(PGError::withConnectionLost(KesError::errorWithCode(1, message)));
    publish(failed, false);
    connection->setState(ZNTConnection::ZNTConnectionStateLost, QString());
}

void ZNTQueryExecution::noticeReceiver(void *arg, const PGresult *notice) {
    auto *execution = static_cast<ZNTQueryExecution *>(arg);
    if (!execution->includeNotices)
        return;
    auto result = ZNTResult::noticeResult();
    result->setString(libpqText(PQresultErrorMessage(notice)));
    execution->publish(result, false);
}
