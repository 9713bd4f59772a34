#include "ZNTQuery.h"

#include "KesError.h"
#include "PGError.h"
#include "ZNTConnection.h"
#include "platform/Log.h"
#include "platform/Main.h"

namespace {
// A batch is posted this long after its first notification.
constexpr int kBatchDelayMs = 50;
// Marks the refusal of userTransactionError, whose texts are for the user.
const QString kUserTransactionKey = QStringLiteral("ZNTUserTransaction");
} // namespace

ZNTQuery::ZNTQuery(QString sql, QStringList params) : m_sql(std::move(sql)), m_params(std::move(params)) {}

struct ZNTQuery::CancelStop {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;

    void stop() {
        {
            std::lock_guard lock(mutex);
            stopped = true;
        }
        changed.notify_all();
    }
};

// The execution waits for its cancel request before it ends, so a worker left
// here has nothing to hit; it owns its handle and may finish on its own.
ZNTQuery::~ZNTQuery() {
    if (m_cancelStop)
        m_cancelStop->stop();
    if (m_cancelWorker.joinable())
        m_cancelWorker.detach();
}

std::shared_ptr<ZNTQuery> ZNTQuery::create() {
    return create(QString(), QStringList());
}

std::shared_ptr<ZNTQuery> ZNTQuery::create(const QString &sql) {
    return create(sql, QStringList());
}

std::shared_ptr<ZNTQuery> ZNTQuery::create(const QString &sql, const QStringList &params) {
    return std::shared_ptr<ZNTQuery>(new ZNTQuery(sql, params));
}

ErrorPtr ZNTQuery::userTransactionError(bool failed) {
    QVariantMap info{{Error::DescriptionKey, PGError::userTransactionReason(failed)},
                     {kUserTransactionKey, failed ? QStringLiteral("failed") : QStringLiteral("open")}};
    return Error::make(kBundleIdentifier, 1, info);
}

bool ZNTQuery::isUserTransactionError(const ErrorPtr &error) {
    return error && error->userInfo().contains(kUserTransactionKey);
}

QString ZNTQuery::description() const {
    return QString::asprintf("<ZNTQuery: %p>", static_cast<const void *>(this));
}

QString ZNTQuery::sqlForConnection(const ZNTConnection &) const {
    return sql();
}

void ZNTQuery::executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection, bool autoReconnect) {
    if (!connection) {
        {
            std::lock_guard lock(m_mutex);
            m_error =
                KesError::errorWithFormat(QStringLiteral("Can't execute query %1. Connection %2 doesn't have a queue.")
                                              .arg(description(), QStringLiteral("(null)")));
            m_done = true;
        }
        enqueueNotification(DoneNotification, shared_from_this());
        return;
    }
    connection->connectionQueue().async(executionBlockForConnection(connection, autoReconnect));
}

std::function<void()>
ZNTQuery::executionBlockForConnection(const std::shared_ptr<ZNTConnection> &connection, bool autoReconnect,
                                      std::optional<std::chrono::steady_clock::time_point> connectDeadline) {
    return [self = shared_from_this(), connection, autoReconnect, connectDeadline] {
        self->execute(connection, autoReconnect, connectDeadline);
    };
}

QList<std::shared_ptr<ZNTResult>> ZNTQuery::results() const {
    std::lock_guard lock(m_mutex);
    return m_results;
}

qsizetype ZNTQuery::appendResult(const std::shared_ptr<ZNTResult> &result) {
    std::lock_guard lock(m_mutex);
    m_results.append(result);
    return m_results.size() - 1;
}

double ZNTQuery::elapsedTime() const {
    std::lock_guard lock(m_mutex);
    if (!m_startTime)
        return 0;
    const Clock::time_point end = m_endTime ? *m_endTime : Clock::now();
    return std::chrono::duration<double>(end - *m_startTime).count();
}

void ZNTQuery::enqueueNotification(const QString &name, std::shared_ptr<void> object, UserInfo userInfo) {
    std::lock_guard lock(m_mutex);
    enqueueNotificationLocked(name, std::move(object), std::move(userInfo));
}

void ZNTQuery::enqueueNotificationLocked(const QString &name, std::shared_ptr<void> object, UserInfo userInfo) {
    if (!m_enqueuedNotifications) {
        m_enqueuedNotifications.emplace();
        m_enqueuedNotifications->reserve(10);
        Main::after(kBatchDelayMs, [self = shared_from_this()] { self->drainNotifications(); });
    }
    // The query's own notifications wait without a reference to it (the drain
    // has one): a batch that never drains, because the program ends first, must
    // not keep the query alive through itself.
    if (object.get() == static_cast<void *>(this))
        object.reset();
    const bool last = name == DoneNotification;
    m_enqueuedNotifications->push_back(Notification{name, std::move(object), std::move(userInfo)});
    // Nothing follows the end of a run: its batch goes at once rather than
    // when the delay is up, so a short query is shown as soon as it is done.
    if (last)
        Main::post([self = shared_from_this()] { self->drainNotifications(); });
}

void ZNTQuery::drainNotifications() {
    std::vector<Notification> batch;
    {
        std::lock_guard lock(m_mutex);
        if (m_enqueuedNotifications)
            batch = std::move(*m_enqueuedNotifications);
        m_enqueuedNotifications.reset();
    }
    NotificationCenter &center = NotificationCenter::defaultCenter();
    for (Notification &notification : batch) {
        if (!notification.object)
            notification.object = shared_from_this();
        center.post(notification);
    }
}

void ZNTQuery::cancel() {
    std::shared_ptr<ZNTQueryFlowControl> flowControl;
    {
        std::lock_guard lock(m_mutex);
        m_isCancelled = true;
        if (m_cancelStruct)
            startCancelRequestLocked(std::move(m_cancelStruct));
        flowControl = m_flowControl;
    }
    // Outside the lock: the execution may be waiting in it, and the server's
    // answer to the cancel can only be read once that wait is over.
    if (flowControl)
        flowControl->queryCancelled();
}

// PQcancel opens a connection of its own to the server and waits for it, so it
// never runs on the main thread nor under the lock; the execution stops and
// waits for the requests before it ends, so a late cancel cannot reach the next
// query.
//
// A request that reaches the server before its session has read the statement
// (a busy server, a cancel right after the send) is dropped there, as a cancel
// between statements cancels nothing; the statement would then run its whole
// course. So the request goes again while the statement runs: after 250 ms,
// then each time twice as late, every 2 s at most.
void ZNTQuery::startCancelRequestLocked(PGcancelPtr handle) {
    if (m_cancelStop)
        m_cancelStop->stop();
    if (m_cancelWorker.joinable())
        m_cancelWorker.detach();
    m_cancelStop = std::make_shared<CancelStop>();
    m_cancelWorker = std::thread([handle = std::move(handle), stop = m_cancelStop] {
        std::chrono::milliseconds pause(250);
        for (;;) {
            char errorBuffer[1024] = {0};
            if (PQcancel(handle.get(), errorBuffer, sizeof errorBuffer) != 1) {
                Log(QStringLiteral("Failed to cancel because: %1").arg(QString::fromUtf8(errorBuffer)));
                return;
            }
            std::unique_lock lock(stop->mutex);
            if (stop->changed.wait_for(lock, pause, [&] { return stop->stopped; }))
                return;
            pause = std::min(pause * 2, std::chrono::milliseconds(2000));
        }
    });
}

void ZNTQuery::stopCancelRequest(bool wait) {
    std::thread worker;
    std::shared_ptr<CancelStop> stop;
    {
        std::lock_guard lock(m_mutex);
        m_cancelStruct.reset();
        worker = std::move(m_cancelWorker);
        stop = std::move(m_cancelStop);
    }
    if (stop)
        stop->stop();
    if (worker.joinable() && wait)
        worker.join();
    else if (worker.joinable())
        worker.detach(); // it owns its handle, and its stop ends its repeats
}

QString ZNTQuery::sql() const {
    std::lock_guard lock(m_mutex);
    return m_sql;
}

QStringList ZNTQuery::params() const {
    return m_params;
}

ErrorPtr ZNTQuery::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void ZNTQuery::setError(ErrorPtr error) {
    std::lock_guard lock(m_mutex);
    m_error = std::move(error);
}

bool ZNTQuery::done() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

bool ZNTQuery::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_isCancelled;
}

std::shared_ptr<ZNTCopyDelegate> ZNTQuery::cpyDelegate() const {
    std::lock_guard lock(m_mutex);
    return m_cpyDelegate.lock();
}

void ZNTQuery::setCpyDelegate(std::weak_ptr<ZNTCopyDelegate> delegate) {
    std::lock_guard lock(m_mutex);
    m_cpyDelegate = std::move(delegate);
}

void ZNTQuery::refuseCopy(const QString &message) {
    std::lock_guard lock(m_mutex);
    m_copyRefusal = message;
}

bool ZNTQuery::includeNotices() const {
    std::lock_guard lock(m_mutex);
    return m_includeNotices;
}

void ZNTQuery::setIncludeNotices(bool include) {
    std::lock_guard lock(m_mutex);
    m_includeNotices = include;
}

bool ZNTQuery::dontStoreRows() const {
    std::lock_guard lock(m_mutex);
    return m_dontStoreRows;
}

void ZNTQuery::setDontStoreRows(bool dontStore) {
    std::lock_guard lock(m_mutex);
    m_dontStoreRows = dontStore;
}

bool ZNTQuery::extendedProtocol() const {
    std::lock_guard lock(m_mutex);
    return m_extendedProtocol;
}

void ZNTQuery::setExtendedProtocol(bool extended) {
    std::lock_guard lock(m_mutex);
    m_extendedProtocol = extended;
}

bool ZNTQuery::refusesUserTransaction() const {
    std::lock_guard lock(m_mutex);
    return m_refusesUserTransaction;
}

void ZNTQuery::setRefusesUserTransaction(bool refuses) {
    std::lock_guard lock(m_mutex);
    m_refusesUserTransaction = refuses;
}

bool ZNTQuery::guardsUserTransaction() const {
    std::lock_guard lock(m_mutex);
    return m_guardsUserTransaction;
}

void ZNTQuery::setGuardsUserTransaction(bool guards) {
    std::lock_guard lock(m_mutex);
    m_guardsUserTransaction = guards;
}

std::optional<std::chrono::steady_clock::time_point> ZNTQuery::answerDeadline() const {
    std::lock_guard lock(m_mutex);
    return m_answerDeadline;
}

void ZNTQuery::setAnswerDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::lock_guard lock(m_mutex);
    m_answerDeadline = deadline;
}

std::shared_ptr<ZNTQueryFlowControl> ZNTQuery::flowControl() const {
    std::lock_guard lock(m_mutex);
    return m_flowControl;
}

void ZNTQuery::setFlowControl(std::shared_ptr<ZNTQueryFlowControl> flowControl) {
    std::lock_guard lock(m_mutex);
    m_flowControl = std::move(flowControl);
}

QDateTime ZNTQuery::startDate() const {
    std::lock_guard lock(m_mutex);
    return m_startDate;
}

QDateTime ZNTQuery::endDate() const {
    std::lock_guard lock(m_mutex);
    return m_endDate;
}

QString ZNTQuery::statusMessage() const {
    std::lock_guard lock(m_mutex);
    return m_statusMessage;
}

void ZNTQuery::setStatusMessage(const QString &message) {
    std::lock_guard lock(m_mutex);
    m_statusMessage = message;
}
