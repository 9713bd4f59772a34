#include "ZNTActionQuery.h"

#include "engine/KesError.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTResult.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "uikit/AlertSheet.h"
#include "uikit/ProgressSheet.h"

#include <QWidget>

ZNTActionQuery::~ZNTActionQuery() = default;

void ZNTActionQuery::setSuccess(bool success) {
    requireMainThread("ZNTActionQuery::setSuccess");
    m_success = success;
}

void ZNTActionQuery::setError(ErrorPtr error) {
    requireMainThread("ZNTActionQuery::setError");
    m_error = std::move(error);
}

void ZNTActionQuery::setSql(const QString &sql) {
    requireMainThread("ZNTActionQuery::setSql");
    m_sql = sql;
}

void ZNTActionQuery::setSqlQuery(std::shared_ptr<ZNTQuery> query) {
    requireMainThread("ZNTActionQuery::setSqlQuery");
    m_sqlQuery = std::move(query);
}

ProgressSheet *ZNTActionQuery::progressWindow() const {
    return m_progressWindow;
}

void ZNTActionQuery::showStatus(const QString &text, QWidget *window) {
    std::weak_ptr<ZNTActionQuery> weak = weak_from_this();
    m_progressWindow = ProgressSheet::showStatus(text, window, [weak] {
        if (auto self = weak.lock())
            self->cancel();
    });
}

void ZNTActionQuery::completeWithStatus(const QString &text) {
    if (m_progressWindow)
        m_progressWindow->completeWithStatus(text);
}

void ZNTActionQuery::endProgressSheet() {
    if (m_progressWindow)
        m_progressWindow->endProgressSheet();
    m_progressWindow.clear();
}

void ZNTActionQuery::cancel() {
    if (!m_sqlQuery)
        return;
    m_cancelled = true;
    m_sqlQuery->cancel();
}

bool ZNTActionQuery::canPerform() {
    return true;
}

QString ZNTActionQuery::itemDescription() const {
    if (m_objects.size() == 1) {
        const QString name = m_objects.first() ? m_objects.first()->name() : QString();
        return name.isEmpty() ? QStringLiteral("item") : name;
    }
    return QStringLiteral("%1 items").arg(m_objects.size());
}

void ZNTActionQuery::engageWithWindow(QWidget *window, std::function<void(bool)> handler) {
    requireMainThread("ZNTActionQuery::engageWithWindow");
    m_error = KesError::errorWithFormat(QStringLiteral("Not implemented."));
    presentError(m_error, window);
    if (handler)
        handler(false);
}

bool ZNTActionQuery::prepareSQLForConnection(const ZNTConnection &, ErrorPtr *error) {
    return failWith(error, KesError::errorWithFormat(QStringLiteral("Not implemented.")));
}

void ZNTActionQuery::executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection) {
    requireMainThread("ZNTActionQuery::executeInBackgroundOnConnection");
    m_separateStatements.clear();
    m_earlierResults.clear();
    m_cancelled = false;
    m_connection = connection;
    if (connection) {
        ErrorPtr prepareError;
        if (!prepareSQLForConnection(*connection, &prepareError)) {
            m_error = prepareError;
            postDoneLater();
            return;
        }
        // An edit that changes nothing has nothing to send, and that is no failure.
        if (m_sql.isEmpty()) {
            m_success = true;
            m_error = nullptr;
            postDoneLater();
            return;
        }
    }
    // Without a connection the query reports why it cannot run.
    m_pendingStatements = m_separateStatements.isEmpty() ? QStringList{m_sql} : m_separateStatements;
    retainUntilDone();
    startQuery(m_pendingStatements.takeFirst());
}

void ZNTActionQuery::startQuery(const QString &text) {
    auto query = ZNTQuery::create(text, m_params);
    m_sqlQuery = query;
    query->setStatusMessage(statusMessage());
    // Every action writes for the user (maintenance, a structure change, a new
    // relation, a row save): none may run inside the user's own transaction.
    query->setRefusesUserTransaction(true);
    // The action outlives its query's notifications (retainUntilDone), and the
    // token dies with the action, so the raw pointer is safe here.
    m_queryObserver = NotificationCenter::defaultCenter().observe(
        DoneNotification, query.get(), [this](const Notification &notification) { didFinish(notification); });
    query->executeInBackgroundOnConnection(m_connection, true);
}

void ZNTActionQuery::didFinish(const Notification &notification) {
    if (!m_sqlQuery || notification.object.get() != m_sqlQuery.get())
        return;
    const auto results = m_sqlQuery->results();
    const bool failed = m_sqlQuery->error() || results.isEmpty() ||
                        std::any_of(results.begin(), results.end(),
                                    [](const auto &r) { return r->resultType() == QLatin1String("error"); });
    if (!failed && !m_pendingStatements.isEmpty() && !m_cancelled) {
        m_earlierResults += results;
        startQuery(m_pendingStatements.takeFirst());
        return;
    }
    // Whatever happens below, the action lives until this function returns.
    const std::shared_ptr<ZNTActionQuery> keep = std::move(m_running);
    judge();
    didFinish();
    m_queryObserver.stopObserving();
    postDone();
    m_sqlQuery.reset();
    m_connection.reset();
}

void ZNTActionQuery::judge() {
    const auto results = m_earlierResults + m_sqlQuery->results();
    m_success = true;
    m_error = m_sqlQuery->error();
    for (const auto &result : results) {
        if (result->resultType() == QLatin1String("error"))
            m_success = false;
    }
    if (m_sqlQuery->results().isEmpty()) {
        m_success = false;
        if (!m_error)
            m_error = KesError::errorWithFormat(QStringLiteral("Query returned no results."));
    }
    // Statements left unsent mean the work is not done, even when the one that
    // ran last still succeeded.
    if (m_cancelled && !m_pendingStatements.isEmpty()) {
        m_success = false;
        if (!m_error)
            m_error = KesError::errorWithCode(1, QStringLiteral("The query was cancelled by the user."));
    }
    m_pendingStatements.clear();
    m_earlierResults.clear();
}

void ZNTActionQuery::postDone() {
    NotificationCenter::defaultCenter().post(DoneNotification, shared_from_this());
}

void ZNTActionQuery::postDoneLater() {
    Main::post([self = shared_from_this()] { self->postDone(); });
}

void ZNTActionQuery::presentError(const ErrorPtr &error, QWidget *window) {
    const ErrorPtr shown = error ? error : KesError::errorWithFormat(QStringLiteral("An unknown error occurred."));
    Alert::alertWithError(*shown)->compatibleBeginSheetModalForWindow(window, nullptr);
}
