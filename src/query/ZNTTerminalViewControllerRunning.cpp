// The terminal page's runs: starting a query (a new one or one again in its
// place), its notifications, its elapsed time and its end, cancelling and
// clearing, the reconnect question and the automatic scrolling.
#include "QueryPageLogic.h"
#include "TerminalTextEditing.h"
#include "ZNTTerminalCells.h"
#include "ZNTTerminalCopyDelegate.h"
#include "ZNTTerminalOutlineView.h"
#include "ZNTTerminalQueryTabularResult.h"
#include "ZNTTerminalViewController.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTerminal.h"
#include "platform/DesktopNotifier.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTGridModel.h"

#include <QLabel>
#include <QTimer>

namespace {
constexpr int kElapsedTimeInterval = 50;
constexpr int kAutoscrollInterval = 200;
} // namespace

void ZNTTerminalViewController::executeQuery(QObject *sender) {
    view();
    const auto terminalQuery = queryForSender(sender);
    if (!terminalQuery)
        return;
    if (!uv_endEditing(window()) || terminalQuery->isBusy) {
        beep(); // a query runs once at a time: its results would mix
        return;
    }
    const auto database = m_terminal ? m_terminal->database() : nullptr;
    const auto connection = database ? database->connection() : nullptr;
    if (!connection) {
        beep(); // the server is gone
        return;
    }
    if (connection->state() == ZNTConnection::ZNTConnectionStateLost && !m_shouldAutoReconnect) {
        askToReconnect(sender);
        return;
    }
    auto run = terminalQuery;
    const bool isNew = !terminalQuery->wasExecuted;
    if (isNew) {
        run = std::make_shared<ZNTTerminalQuery>();
        run->wasExecuted = true;
        run->string = TerminalTextEditing::textToExecute(m_queryView->textView());
        run->loadPath = terminalQuery->loadPath;
    }
    startRun(run, isNew);
}

void ZNTTerminalViewController::askToReconnect(QObject *sender) {
    Alert *alert = Alert::alertWithMessageText(
        QStringLiteral("The connection was lost. Do you want to reconnect?"), QStringLiteral("Reconnect"),
        QStringLiteral("Cancel"), {},
        QStringLiteral("Keep in mind that when the connection is lost, all variables are reset and temporary tables "
                       "are dropped."));
    QPointer<QObject> from = sender;
    QPointer<ZNTTerminalViewController> self = this;
    alert->compatibleBeginSheetModalForWindow(window(), [self, from](int code) {
        if (!self || code != Alert::DefaultReturn || !from)
            return;
        self->m_shouldAutoReconnect = true;
        self->executeQuery(from);
        self->m_shouldAutoReconnect = false; // also when the run did not start
    });
}

void ZNTTerminalViewController::startRun(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery, bool isNew) {
    terminalQuery->isBusy = true;
    terminalQuery->canCancel = true;
    terminalQuery->statusText = TerminalPageLogic::runningStatusText(0, true);
    if (isNew) {
        m_queries.insert(m_queries.end() - 1, terminalQuery);
        m_outline->insertRow(m_outline->rowForKey(editableQuery().get()), terminalQuery.get(),
                             makeExecutedQueryCell(terminalQuery), heightForItem(terminalQuery.get()));
        orderTabChain();
        startAutoscrolling();
    } else {
        // The results of the run before go first; the row stays where it is.
        removeResultRows(terminalQuery);
        terminalQuery->forgetResults();
    }
    auto query = ZNTQuery::create(terminalQuery->string);
    query->setGuardsUserTransaction(false); // the user's own statements, as typed
    terminalQuery->query = query;
    query->setIncludeNotices(true);
    query->setCpyDelegate(m_copyDelegate);

    Run &run = m_runs[terminalQuery.get()];
    run.query = query;
    run.startedMs = m_clock.elapsed();
    run.elapsedTimer = new QTimer(this);
    run.elapsedTimer->setInterval(kElapsedTimeInterval);
    connect(run.elapsedTimer, &QTimer::timeout, this, [this, terminalQuery] { updateQueryElapsedTime(terminalQuery); });
    run.elapsedTimer->start();
    run.observers.push_back(observe(query, ZNTQuery::NewResultNotification,
                                    [this, terminalQuery](const Notification &n) { noteNewResult(terminalQuery, n); }));
    run.observers.push_back(observe(query, ZNTQuery::NewRowNotification,
                                    [this, terminalQuery](const Notification &n) { noteNewRows(terminalQuery, n); }));
    run.observers.push_back(observeNext(query, ZNTQuery::DoneNotification,
                                        [this, terminalQuery](const Notification &) { noteQueryDone(terminalQuery); }));
    ++m_numRunningQueries;
    refreshQueryViews(terminalQuery.get());
    const auto database = m_terminal->database();
    query->executeInBackgroundOnConnection(database->connection(), m_shouldAutoReconnect);
    if (const auto owner = favorite())
        owner->recordQueryTextInHistory(query->sql());
    m_shouldAutoReconnect = false;
    validateHistoryButtons();
    emit validationRequested();
}

// Ends what the page does for a run: no more notifications, no timer. With
// cancel, the query is asked to stop on the server too.
void ZNTTerminalViewController::stopRun(const ZNTTerminalQuery *terminalQuery, bool cancel) {
    const auto it = m_runs.find(terminalQuery);
    if (it == m_runs.end())
        return;
    Run run = std::move(it->second);
    m_runs.erase(it);
    for (ObserverToken &token : run.observers)
        token.stopObserving();
    delete run.elapsedTimer;
    if (cancel && run.query) {
        run.query->cancel();
        closeCopyPanelsOf(run.query);
    }
    --m_numRunningQueries;
}

// A query cleared from the page: a statement still running finishes on the
// server (what it writes stays, as the user meant it), but nothing of it is
// taken any more. A question of its COPY is answered with none.
void ZNTTerminalViewController::forgetRun(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery) {
    stopRun(terminalQuery.get(), false);
    if (terminalQuery->query)
        closeCopyPanelsOf(terminalQuery->query);
}

void ZNTTerminalViewController::removeResultRows(const std::shared_ptr<ZNTTerminalQuery> &query) {
    const QList<const void *> keys = keysOfQuery(query);
    for (qsizetype i = 1; i < keys.size(); ++i) {
        m_rowHeights.erase(keys[i]);
        m_outline->removeRow(keys[i]);
    }
}

void ZNTTerminalViewController::insertResultRow(const std::shared_ptr<ZNTTerminalQuery> &query, qsizetype index) {
    const auto result = query->resultAtIndex(index);
    if (!result || m_outline->rowForKey(result.get()) >= 0)
        return;
    const int queryRow = m_outline->rowForKey(query.get());
    if (queryRow < 0)
        return;
    // Results arrive in order; a missing one never shifts the rest below the next query.
    const int row = queryRow + int(std::min<qsizetype>(index, keysOfQuery(query).size() - 1)) + 1;
    QWidget *view = makeResultView(query, result);
    m_outline->insertRow(row, result.get(), view, heightForItem(result.get()));
    if (auto *grid = qobject_cast<ZNTTerminalQueryTabularResult *>(view)) {
        takeRows(grid);
        noteHeightOfRow(result.get());
    }
    orderTabChain();
}

void ZNTTerminalViewController::noteNewResult(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery,
                                              const Notification &notification) {
    const auto index = notification.value<qsizetype>(ZNTQuery::ResultIndexKey);
    if (!index || !m_runs.count(terminalQuery.get()))
        return;
    insertResultRow(terminalQuery, *index);
    autoscrollQueries();
}

void ZNTTerminalViewController::noteNewRows(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery,
                                            const Notification &notification) {
    const auto result = notification.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey);
    if (!result || !m_runs.count(terminalQuery.get()))
        return;
    const QList<std::shared_ptr<ZNTResult>> results = terminalQuery->query->results();
    const qsizetype index = results.indexOf(*result);
    const auto wrapper = index >= 0 ? terminalQuery->cachedResultAtIndex(index) : nullptr;
    if (auto *grid = wrapper ? gridForResult(wrapper.get()) : nullptr) {
        takeRows(grid);
        noteHeightOfRow(wrapper.get());
    }
}

void ZNTTerminalViewController::noteQueryDone(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery) {
    const auto found = m_runs.find(terminalQuery.get());
    if (found == m_runs.end())
        return;
    const qint64 startedMs = found->second.startedMs;
    stopRun(terminalQuery.get(), false);
    terminalQuery->isBusy = false;
    terminalQuery->canCancel = false;
    const std::shared_ptr<ZNTQuery> query = terminalQuery->query;
    qint64 rows = 0;
    const QList<std::shared_ptr<ZNTResult>> results = query->results();
    for (qsizetype i = 0; i < results.size(); ++i) {
        insertResultRow(terminalQuery, i); // a result the batches did not announce yet
        if (const auto store = results[i]->rows())
            rows += store->rowCount();
        if (auto *grid = gridForResult(terminalQuery->cachedResultAtIndex(i).get())) {
            takeRows(grid);
            noteHeightOfRow(terminalQuery->cachedResultAtIndex(i).get());
        }
    }
    terminalQuery->queryState =
        TerminalPageLogic::queryStateText(results.size(), rows, double(m_clock.elapsed() - startedMs) / 1000.0);
    const QString time = QueryPageLogic::finalTimeText(query->elapsedTime());
    terminalQuery->statusText = TerminalPageLogic::finishedStatusText(query->elapsedTime());
    refreshQueryViews(terminalQuery.get());
    postNotification(*query, time);
    emit validationRequested();
    emit queryFinished();
}

void ZNTTerminalViewController::updateQueryElapsedTime(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery) {
    if (!terminalQuery->query)
        return;
    terminalQuery->statusText =
        TerminalPageLogic::runningStatusText(terminalQuery->query->elapsedTime(), terminalQuery->isBusy);
    if (auto *cell = cellForQuery(terminalQuery.get()))
        cell->statusLabel()->setText(terminalQuery->statusText);
}

// Told on the desktop while the user looks at another window.
void ZNTTerminalViewController::postNotification(const ZNTQuery &query, const QString &timeText) {
    QWidget *shown = window();
    if (!shown || shown->isActiveWindow())
        return;
    DesktopNotifier::shared().notify(QueryPageLogic::notificationTitle(timeText),
                                     QueryPageLogic::notificationBody(query.sql()));
}

void ZNTTerminalViewController::cancelQuery(QObject *sender) {
    const auto terminalQuery = queryForSender(sender);
    if (!terminalQuery || !terminalQuery->query)
        return;
    terminalQuery->canCancel = false;
    terminalQuery->query->cancel();
    refreshQueryViews(terminalQuery.get());
}

void ZNTTerminalViewController::clearQuery(QObject *sender) {
    const auto terminalQuery = queryForSender(sender);
    if (!terminalQuery || terminalQuery == editableQuery())
        return;
    // Nothing of a cleared query may land under another row.
    forgetRun(terminalQuery);
    const QList<const void *> keys = keysOfQuery(terminalQuery);
    const int row = m_outline->rowForKey(terminalQuery.get());
    const int next = row + int(keys.size());
    const bool followed = queryForItem(m_outline->keyAtRow(next)) != nullptr;
    const int block = m_outline->rectOfRow(next).top() - m_outline->rectOfRow(row).top();
    const QRect visible = m_outline->visibleRect();
    const bool inSight = m_outline->rectOfRow(row).intersects(visible);
    for (const void *key : keys)
        m_rowHeights.erase(key);
    std::erase(m_queries, terminalQuery);
    if (inSight && TerminalPageLogic::fadesOnClear(followed, visible.height(), block)) {
        m_outline->fadeOutRows(keys);
    } else {
        for (const void *key : keys)
            m_outline->removeRow(key);
    }
    emit validationRequested();
}

void ZNTTerminalViewController::clearDisplay() {
    view();
    while (m_queries.size() > 1) {
        const auto query = m_queries.front();
        forgetRun(query);
        for (const void *key : keysOfQuery(query)) {
            m_rowHeights.erase(key);
            m_outline->removeRow(key);
        }
        m_queries.erase(m_queries.begin());
    }
    ZNTTextView *text = m_queryView->textView();
    text->setFocus(Qt::OtherFocusReason);
    text->selectAll();
    emit validationRequested();
}

// --- automatic scrolling ------------------------------------------------------------

bool ZNTTerminalViewController::isAutoscrolling() const {
    return m_autoscrollTimer && m_autoscrollTimer->isActive();
}

void ZNTTerminalViewController::startAutoscrolling() {
    if (!isAutoscrolling()) {
        m_lastScrollPosition = m_outline->visibleTop();
        if (!m_autoscrollTimer) {
            m_autoscrollTimer = new QTimer(this);
            m_autoscrollTimer->setInterval(kAutoscrollInterval);
            connect(m_autoscrollTimer, &QTimer::timeout, this, [this] { autoscrollQueries(); });
        }
        m_autoscrollTimer->start();
    }
    autoscrollQueries();
}

void ZNTTerminalViewController::autoscrollQueries() {
    if (!m_outline)
        return;
    const QRect editable = m_outline->rectOfRow(m_outline->rowForKey(editableQuery().get()));
    const TerminalPageLogic::AutoscrollStep step = TerminalPageLogic::autoscrollStep(
        m_outline->visibleTop(), m_outline->viewport()->height(), m_lastScrollPosition, editable.top(),
        editable.height(), m_numRunningQueries > 0);
    if (step.scrollTo) {
        m_outline->scrollToTop(*step.scrollTo);
        m_lastScrollPosition = m_outline->visibleTop();
    }
    if (step.stop && m_autoscrollTimer)
        m_autoscrollTimer->stop();
}
