// The query page's runs: starting and cancelling, the query's notifications,
// the elapsed time and the end of a run.
#include "QueryCopyDelegate.h"
#include "QueryPageLogic.h"
#include "QueryResultModel.h"
#include "QueryTextView.h"
#include "QueryViewController.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "platform/DesktopNotifier.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QLabel>
#include <QTimer>
#include <QToolButton>

bool QueryViewController::isRunning() const {
    return m_currentQuery && !m_queryObservers.empty();
}

void QueryViewController::stopObservingQuery() {
    for (ObserverToken &token : m_queryObservers)
        token.stopObserving();
    m_queryObservers.clear();
}

void QueryViewController::executeQuery() {
    view();
    const auto database = m_queryObject->database();
    const auto connection = database ? database->connection() : nullptr;
    if (!connection) {
        beep(); // the server is gone
        return;
    }
    // The run before is over for this page: its late notifications are not taken.
    if (m_currentQuery)
        m_currentQuery->cancel();
    stopObservingQuery();
    auto query = ZNTQuery::create(m_textView->textToExecute());
    query->setGuardsUserTransaction(false); // the user's own statements, as typed
    m_currentQuery = query;
    m_currentResult.reset();
    m_appliedSortGeneration = ++m_sortGeneration; // a sort of the run before is dropped
    // Until the first result the view shown before stays, emptied: the grid
    // keeps its columns without rows.
    if (m_resultInModel) {
        m_resultInModel.reset();
        m_model->setResult(m_model->columns(), nullptr);
    }
    m_results.clear();
    m_selector->setEnabled(false);
    m_exportButton->setEnabled(false);
    updateQueryResultRowCount();
    setStatusString(QString());
    m_cancelButton->setEnabled(true);
    m_elapsedTimeLabel->clear();
    m_timerQuery = query;
    m_elapsedTimer->start();

    m_queryObservers.push_back(
        observe(query, ZNTQuery::NewResultNotification, [this](const Notification &n) { noteNewResult(n); }));
    m_queryObservers.push_back(
        observe(query, ZNTQuery::NewRowNotification, [this](const Notification &n) { noteNewRows(n); }));
    m_queryObservers.push_back(
        observe(query, ZNTQuery::ResultDoneNotification, [this](const Notification &n) { noteResultDone(n); }));
    m_queryObservers.push_back(observeNext(query, ZNTQuery::DoneNotification,
                                           [this](const Notification &n) { noteQueryDone(n.objectAs<ZNTQuery>()); }));
    updateProgressIndicator();
    query->setIncludeNotices(true);
    query->setCpyDelegate(QueryCopyDelegate::shared());
    // Never reconnects: a session lost means its temporary tables and settings
    // are gone, and the user should know before running anything again.
    query->executeInBackgroundOnConnection(connection, false);
    if (const auto owner = favorite())
        owner->recordQueryTextInHistory(query->sql());
    validateHistoryButtons();
    emit validationRequested();
}

void QueryViewController::performReload() {
    const auto database = m_queryObject->database();
    const auto connection = database ? database->connection() : nullptr;
    if (!connection || connection->state() != ZNTConnection::ZNTConnectionStateLost)
        return;
    // The engine's own way back: a statement allowed to reconnect first.
    ZNTQuery::create(QStringLiteral("SELECT 1"))->executeInBackgroundOnConnection(connection, true);
}

// Spins while the server works or a sort is worked out.
void QueryViewController::updateProgressIndicator() {
    if (isRunning() || isSorting())
        m_progressIndicator->startAnimation();
    else
        m_progressIndicator->stopAnimation();
}

void QueryViewController::cancelQuery() {
    if (m_currentQuery)
        m_currentQuery->cancel();
}

void QueryViewController::noteNewResult(const Notification &notification) {
    if (notification.object.get() != m_currentQuery.get())
        return;
    const auto index = notification.value<qsizetype>(ZNTQuery::ResultIndexKey);
    const auto results = m_currentQuery->results();
    if (!index || *index < 0 || *index >= results.size())
        return;
    auto result = std::make_shared<QueryViewResult>(results[*index]);
    m_results.push_back(result);
    if (m_currentResult) {
        updateQueryResultSelectorPopUpButton();
        return;
    }
    // The first result with rows shows as soon as it starts.
    if (result->hasRows())
        m_currentResult = result;
    updateResultDisplay();
}

void QueryViewController::noteNewRows(const Notification &notification) {
    if (notification.object.get() != m_currentQuery.get())
        return;
    const auto result = notification.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey);
    const auto rows = notification.value<RowRange>(ZNTQuery::RowsKey);
    if (result && rows && m_resultInModel && m_resultInModel->result() == *result)
        m_model->takeRows(rows->firstRow + rows->count);
    updateQueryResultRowCount();
}

void QueryViewController::noteResultDone(const Notification &notification) {
    if (notification.object.get() != m_currentQuery.get())
        return;
    const auto result = notification.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey);
    for (const auto &shown : m_results) {
        if (result && shown->result() == *result)
            shown->setComplete();
    }
}

void QueryViewController::noteQueryDone(const std::shared_ptr<ZNTQuery> &query) {
    // A run replaced by a newer one ends unseen.
    if (!query || query != m_currentQuery)
        return;
    stopObservingQuery();
    for (const auto &result : m_results)
        result->setComplete(); // also a result cut short by an error
    if (m_resultInModel && m_resultInModel->rows())
        m_model->takeRows(m_resultInModel->rows()->rowCount());
    if (query->error())
        m_currentResult.reset();
    if (!m_currentResult)
        updateResultDisplay();
    updateProgressIndicator();
    m_elapsedTimer->stop();
    m_timerQuery.reset();
    m_cancelButton->setEnabled(false);
    const QString time = QueryPageLogic::finalTimeText(query->elapsedTime());
    m_elapsedTimeLabel->setText(time);
    postNotification(*query, time);
    updateQueryResultRowCount();
    emit validationRequested();
    emit queryFinished();
}

void QueryViewController::updateQueryElapsedTime() {
    if (m_timerQuery != m_currentQuery || !m_currentQuery) {
        m_elapsedTimer->stop();
        return;
    }
    m_elapsedTimeLabel->setText(QueryPageLogic::elapsedText(m_currentQuery->elapsedTime()));
}

// Told on the desktop while the user looks at another window.
void QueryViewController::postNotification(const ZNTQuery &query, const QString &timeText) {
    QWidget *shown = window();
    if (!shown || shown->isActiveWindow())
        return;
    DesktopNotifier::shared().notify(QueryPageLogic::notificationTitle(timeText),
                                     QueryPageLogic::notificationBody(query.sql()));
}
