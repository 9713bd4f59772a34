#pragma once

#include "browser/CSVExportProgress.h"
#include "engine/RowStore.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTResult.h"
#include "model/ZNTObject.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

class QFileDialog;
class QWidget;
class ProgressSheet;
class ZNTConnection;
class ZNTQuery;
class ZNTTable;
struct CSVExportJob;

// A result the query editor has fetched and shows, as an export reads it: the
// query editor's result implements it. main thread
class CSVExportResultSource {
public:
    virtual ~CSVExportResultSource() = default;
    // The result's columns, in the result's own order.
    virtual ZNTColumnList columns() const = 0;
    // The columns as they are shown: indexes into columns(), in on-screen order.
    virtual std::vector<int> columnIndices() const = 0;
    // The rows; null when there is no current result.
    virtual std::shared_ptr<const RowStore> rows() const = 0;
    // The order the rows are written in (rows of rows(), each once), as the
    // user sorted them; empty: the order of the store.
    virtual std::vector<qsizetype> rowOrder() const { return {}; }
};

// One CSV export from start to end: the save dialog, CSV files written into a
// new folder beside the chosen place, a progress sheet while the rows stream in,
// and at the end the result moved over the chosen place in one step. A failure
// or a cancel leaves the chosen place as it was and nothing behind.
//
// Sources: relations (one file each, read by one multi-statement query; one
// relation gives one file, several a folder), a table page's query not yet run
// (its rows as the page sorts and filters them), a fetched result of the query
// editor in its on-screen column order, and a ZNTResult.
//
//     auto exporter = CSVExportManager::withTables(items);
//     exporter->beginModalForWindow(window); // keeps itself alive until it ends
//
// Rows are encoded and written on a serial queue of the export, never on the
// main thread; a query waits on its connection's queue while four batches are
// still unwritten. main thread
class CSVExportManager : public std::enable_shared_from_this<CSVExportManager> {
public:
    static std::shared_ptr<CSVExportManager> withTables(const ZNTObjectList &tables);
    static std::shared_ptr<CSVExportManager> withQuery(std::shared_ptr<ZNTQuery> query);
    static std::shared_ptr<CSVExportManager> withQueryViewResult(std::shared_ptr<CSVExportResultSource> result);
    static std::shared_ptr<CSVExportManager> withResult(std::shared_ptr<ZNTResult> result);
    ~CSVExportManager();

    // The connection the queries run on: a query export needs it; relations
    // take their database's connection without it.
    void setConnection(std::shared_ptr<ZNTConnection> connection) { m_connection = std::move(connection); }
    std::shared_ptr<ZNTConnection> connection() const { return m_connection; }
    void setSuggestedName(const QString &name) { m_suggestedName = name; }
    QString suggestedName() const { return m_suggestedName; }
    // What the save dialog proposes: the suggested name, else one relation's
    // name, "Exported Tables" for several, "Query Results" for the rest; with
    // ".csv" when the export makes one file.
    QString suggestedFileName() const;

    // Refuses what cannot be exported (an alert, or a beep for nothing to
    // export), else asks for the destination in a window-modal save dialog.
    void beginModalForWindow(QWidget *window);
    // The export to location, as after the save dialog.
    void exportToLocation(QWidget *window, const QString &location);
    // The progress sheet's Cancel.
    void cancelExport();

    QFileDialog *savePanel() const;
    ProgressSheet *progressSheet() const;
    const CSVExportProgress &progress() const { return m_progress; }
    // Exports that are running (they hold themselves here until they end).
    static size_t runningCount();

    // Tests: called on the export's queue before each batch is written; the
    // most batches that were unwritten at once.
    static void setBatchHookForTesting(std::function<void()> hook);
    int peakUnwrittenBatches() const;
    static const std::function<void()> &batchHookForQueue();

private:
    using Source = std::variant<ZNTObjectList, std::shared_ptr<ZNTQuery>, std::shared_ptr<CSVExportResultSource>,
                                std::shared_ptr<ZNTResult>>;
    explicit CSVExportManager(Source source);

    ErrorPtr refusal(bool *nothingToExport);
    ErrorPtr checkTables();
    bool makesOneFile() const;
    void showSavePanel(QWidget *window);
    void startFiles();
    void startTables();
    void startQuery(const std::shared_ptr<ZNTQuery> &query);
    void startFetchedResult(const ZNTColumnList &columns, std::vector<int> order, std::shared_ptr<const RowStore> rows,
                            std::vector<qsizetype> rowOrder = {});
    void showProgressSheet();
    void updateProgress();
    void observeExportQuery();
    void stopObserving();

    // Export query notifications (CSVExportQueries.cpp).
    void countQueryDone();
    void newResult(const Notification &n);
    void newRows(const Notification &n);
    void resultDone();
    void queryDone();
    // Reports from the queue.
    void tableBegan(quint64 estimate);
    void rowsWritten(qsizetype count);
    void tableEnded();

    void finish();
    void fail(const ErrorPtr &error);
    void end();
    void showError(const ErrorPtr &error);
    void leaveRunningSet();

    Source m_source;
    std::shared_ptr<ZNTConnection> m_connection;
    QString m_suggestedName;
    QPointer<QWidget> m_window;
    QPointer<QFileDialog> m_savePanel;
    QPointer<ProgressSheet> m_sheet;
    std::shared_ptr<CSVExportJob> m_job;
    std::shared_ptr<ZNTQuery> m_exportQuery, m_countQuery;
    std::vector<ObserverToken> m_exportTokens;
    ObserverToken m_countToken;
    QList<std::shared_ptr<ZNTTable>> m_remainingTables;
    std::vector<quint64> m_remainingEstimates;
    CSVExportProgress m_progress;
    bool m_ended = false;
};
