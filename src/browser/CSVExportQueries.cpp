// The exports that read the server: relations and a table page's query. The
// query's notifications arrive on the main thread; the writing they ask for is
// queued on the export's queue, whose reports come back in the order written.
#include "browser/CSVExportJob.h"
#include "browser/CSVExportManager.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTTable.h"
#include "platform/Main.h"

namespace {
double numberOf(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::Int:
        return double(value.toInt());
    case Value::Kind::Float:
        return value.toFloat();
    case Value::Kind::Double:
        return value.toDouble();
    case Value::Kind::String:
        return value.toString().toDouble();
    default:
        return 0;
    }
}

} // namespace

// One text of one SELECT per relation, and before it one catalog query for the
// relations' row estimates; the connection runs them one after the other.
void CSVExportManager::startTables() {
    QString exportSQL;
    QString countSQL = QStringLiteral("SELECT nspname, relname, reltuples FROM pg_class JOIN pg_namespace ON "
                                      "pg_namespace.oid=relnamespace WHERE ");
    for (const auto &item : std::get<ZNTObjectList>(m_source)) {
        const auto table = std::static_pointer_cast<ZNTTable>(item); // checked before the export began
        exportSQL +=
            QStringLiteral("SELECT * FROM %1.%2;\n")
                .arg(m_connection->quoteIdentifier(table->schemaName()), m_connection->quoteIdentifier(table->name()));
        if (!m_remainingTables.isEmpty())
            countSQL += QStringLiteral(" OR ");
        countSQL += QStringLiteral("nspname=%1 AND relname=%2")
                        .arg(m_connection->quoteLiteral(Value::fromString(table->schemaName())),
                             m_connection->quoteLiteral(Value::fromString(table->name())));
        m_remainingTables.append(table);
        m_remainingEstimates.push_back(0);
    }
    m_progress.tablesInExport = quint64(m_remainingTables.size());
    updateProgress();
    m_countQuery = ZNTQuery::create(countSQL);
    m_countToken = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, m_countQuery.get(),
                                                               [this](const Notification &) { countQueryDone(); });
    m_countQuery->executeInBackgroundOnConnection(m_connection, true);
    startQuery(ZNTQuery::create(exportSQL));
}

void CSVExportManager::startQuery(const std::shared_ptr<ZNTQuery> &query) {
    m_exportQuery = query;
    query->setDontStoreRows(true); // each batch lives only until it is written
    query->setFlowControl(m_job->flow);
    observeExportQuery();
    query->executeInBackgroundOnConnection(m_connection, true);
}

void CSVExportManager::observeExportQuery() {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const void *sender = m_exportQuery.get();
    m_exportTokens.push_back(
        center.observe(ZNTQuery::NewResultNotification, sender, [this](const Notification &n) { newResult(n); }));
    m_exportTokens.push_back(
        center.observe(ZNTQuery::NewRowNotification, sender, [this](const Notification &n) { newRows(n); }));
    m_exportTokens.push_back(
        center.observe(ZNTQuery::ResultDoneNotification, sender, [this](const Notification &) { resultDone(); }));
    m_exportTokens.push_back(
        center.observe(ZNTQuery::DoneNotification, sender, [this](const Notification &) { queryDone(); }));
}

void CSVExportManager::stopObserving() {
    m_exportTokens.clear();
    m_countToken.stopObserving();
}

void CSVExportManager::countQueryDone() {
    m_countToken.stopObserving();
    const auto query = std::exchange(m_countQuery, nullptr);
    const auto results = query->results();
    if (query->error() || results.isEmpty() || !results.first()->rows()) {
        fail(query->error());
        return;
    }
    const auto rows = results.first()->rows();
    for (qsizetype r = 0; r < rows->rowCount(); ++r) {
        const QString schema = rows->valueAt(r, 0).description();
        const QString name = rows->valueAt(r, 1).description();
        const quint64 estimate = CSVExportProgress::estimateFromReltuples(numberOf(rows->valueAt(r, 2)));
        for (qsizetype i = 0; i < m_remainingTables.size(); ++i) {
            const auto &table = m_remainingTables[i];
            if (table->name() == name && table->schemaName() == schema) {
                table->setApproxNumRows(qint64(estimate));
                m_remainingEstimates[size_t(i)] = estimate;
                m_progress.estimatedAll += estimate;
                break;
            }
        }
    }
    updateProgress();
}

// A relation's result names its file; a query's results are "Table".
void CSVExportManager::newResult(const Notification &n) {
    const auto result = n.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey).value_or(nullptr);
    if (!result)
        return; // a command's result has no rows to write
    QString name = QStringLiteral("Table");
    quint64 estimate = 0;
    if (!m_remainingTables.isEmpty()) {
        name = m_remainingTables.takeFirst()->name();
        estimate = m_remainingEstimates.front();
        m_remainingEstimates.erase(m_remainingEstimates.begin());
    }
    QStringList names;
    for (const auto &column : result->columns())
        names << column->name();
    m_job->queue.async([job = m_job, weak = weak_from_this(), name, names, estimate] {
        if (job->stopped)
            return;
        ErrorPtr error;
        if (job->writer.beginTableName(name, names, &error)) {
            reportToManager(weak, [estimate](CSVExportManager &self) { self.tableBegan(estimate); });
        } else {
            job->stopped = true;
            reportToManager(weak, [error](CSVExportManager &self) { self.fail(error); });
        }
    });
}

void CSVExportManager::newRows(const Notification &n) {
    const auto rows = n.value<RowRange>(ZNTQuery::RowsKey);
    if (!rows || !rows->store)
        return;
    m_job->queue.async([job = m_job, weak = weak_from_this(), rows = *rows] {
        if (!job->stopped) {
            if (const auto &hook = CSVExportManager::batchHookForQueue())
                hook();
            std::vector<int> order(size_t(rows.store->columnCount()));
            for (int c = 0; c < rows.store->columnCount(); ++c)
                order[size_t(c)] = c;
            ErrorPtr error;
            if (job->writer.writeStoredRows(*rows.store, rows.firstRow, rows.count, order, &error)) {
                reportToManager(weak, [count = rows.count](CSVExportManager &self) { self.rowsWritten(count); });
            } else {
                job->stopped = true;
                reportToManager(weak, [error](CSVExportManager &self) { self.fail(error); });
            }
        }
        job->flow->batchWritten(rows);
    });
}

void CSVExportManager::resultDone() {
    m_job->queue.async([job = m_job, weak = weak_from_this()] {
        if (job->stopped)
            return;
        ErrorPtr error;
        if (job->writer.endTableWithError(&error)) {
            reportToManager(weak, [](CSVExportManager &self) { self.tableEnded(); });
        } else {
            job->stopped = true;
            reportToManager(weak, [error](CSVExportManager &self) { self.fail(error); });
        }
    });
}

void CSVExportManager::queryDone() {
    m_exportTokens.clear();
    const auto query = std::exchange(m_exportQuery, nullptr);
    if (query->error())
        fail(query->error());
    else
        finish();
}

void CSVExportManager::tableBegan(quint64 estimate) {
    m_progress.currentEstimate = estimate;
    m_progress.currentWritten = 0;
    updateProgress();
}

void CSVExportManager::rowsWritten(qsizetype count) {
    m_progress.rowsWritten += count;
    m_progress.currentWritten += quint64(count);
    updateProgress();
}

void CSVExportManager::tableEnded() {
    ++m_progress.tablesFinished;
    m_progress.estimatedFinished += m_progress.currentEstimate;
    m_progress.currentEstimate = m_progress.currentWritten = 0;
    updateProgress();
}
