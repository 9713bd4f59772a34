#pragma once

#include "QueryHistoryBrowser.h"
#include "QueryHistoryViewController.h"
#include "QueryViewResult.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "uikit/ZNTControlledView.h"
#include "uikit/ZNTPopover.h"
#include "window/ZNTContentController.h"

#include <QFileDialog>
#include <QPointer>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTimer;
class QToolButton;
class QueryResultModel;
class QueryTextView;
class ZNTAnimatingIndicator;
class ZNTBottomBarView;
class ZNTColumn;
class ZNTFavorite;
class ZNTObject;
class ZNTQuery;
class ZNTQueryObject;
class ZNTTableGridView;
class ZNTTerminalPopUpButton;
class ZNTTerminalSegmentedControl;

// The SQL query page of a database: an editor whose text (or selection) runs
// on the database's own connection, every result of the run below it (the
// grid of one row result at a time, or the messages of all of them), sorting,
// copying and exporting rows, SQL files, and the favorite's query history.
//
// The window makes it through the factory QueryPages::install() sets and
// keeps it as long as it may show the item again: the text lives with the
// page and is never written back to the item. A run never reconnects: a lost
// connection ends it with the engine's error. Everything here runs on the
// main thread; the query runs on the connection's queue, and only the
// notifications of the query the page holds now are taken.
class QueryViewController : public ZNTContentController,
                            public ZNTAccessoryViewProvider,
                            public ZNTFirstResponderPlacer,
                            public ZNTReloadable,
                            public ZNTReloadKeeping,
                            public ZNTExporting,
                            public ZNTMenuValidator,
                            public ZNTEditMenuProvider,
                            public QueryHistoryViewControllerDelegate {
    Q_OBJECT
public:
    // "InvalidClass" unless item is a ZNTQueryObject.
    static QueryViewController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);
    explicit QueryViewController(std::shared_ptr<ZNTQueryObject> queryObject, QObject *parent = nullptr);
    ~QueryViewController() override;

    const std::shared_ptr<ZNTQueryObject> &queryObject() const { return m_queryObject; }

    // --- Capabilities of a page ---
    QWidget *accessoryView() override;
    bool makeFirstResponder() override;
    // A run never reconnects; a reload of the window does, when the
    // connection was lost. The text and the results stay.
    void performReload() override;
    // Kept over a reload of the window, shown or not: typed text, results and
    // undo cannot be loaded again. Closing the window drops them.
    bool keepsPageOnReload() const override { return true; }
    void exportContents(QObject *sender) override;
    bool validateMenuItem(ZNTWindowCommand command, QAction *item) override;
    QList<QAction *> editMenuActions() override;
    bool validateEditMenuAction(QAction *action) override;

    // --- Running (QueryViewControllerRunning.cpp) ---
    void executeQuery();
    void cancelQuery();
    const std::shared_ptr<ZNTQuery> &currentQuery() const { return m_currentQuery; }
    bool isRunning() const;
    const std::vector<std::shared_ptr<QueryViewResult>> &currentQueryResults() const { return m_results; }
    const std::shared_ptr<QueryViewResult> &currentResult() const { return m_currentResult; }

    // --- Results (QueryViewControllerResults.cpp) ---
    void selectQueryResult(int tag);
    void updateResultDisplay();
    void updateQueryResultSelectorPopUpButton();
    void updateQueryResultRowCount();
    void setStatusString(const QString &text);
    void refreshColumns();
    double persistentWidthForColumn(const ZNTColumn &column) const;
    // A click on the header of a grid column (its result column index).
    void tableViewDidClickTableColumn(int column);
    // A sort still being worked out on another thread.
    bool isSorting() const { return m_sortGeneration != m_appliedSortGeneration; }

    // --- Copying (QueryViewControllerResults.cpp) ---
    void copy();
    void copySpecial(int mode);
    void copyClickedRows(const QList<int> &rows, int mode);
    void copyClickedCell(int row, int column);
    void copyRowIndices(const QList<int> &rows, int mode);
    // The row menu for a right click on row and column (-1: none), as it opens.
    QMenu *rowMenuForRow(int row, int column);

    // --- Files and history (QueryViewControllerFiles.cpp) ---
    void saveQueryText();
    void loadQueryText();
    void previousQueryFromHistory();
    void nextQueryFromHistory();
    void clickedHistoryControl(int segment);
    bool updateQueryTextViewContents(const QString &text);
    void validateHistoryButtons();
    void selectionChangedInQueryHistoryViewController(QueryHistoryViewController *controller) override;
    QString loadedFilePath() const { return m_loadPath; }
    const QueryHistoryBrowser &historyBrowser() const { return m_history; }

    // Parts the tests look at.
    QueryTextView *textView() const { return m_textView; }
    QToolButton *executeButton() const { return m_executeButton; }
    QToolButton *cancelButton() const { return m_cancelButton; }
    QLabel *queryElapsedTimeLabel() const { return m_elapsedTimeLabel; }
    ZNTAnimatingIndicator *queryProgressIndicator() const { return m_progressIndicator; }
    ZNTTableGridView *tableView() const { return m_tableView; }
    QueryResultModel *resultModel() const { return m_model; }
    QStackedWidget *resultStack() const { return m_resultStack; }
    QPlainTextEdit *resultStatusTextView() const { return m_statusTextView; }
    ZNTTerminalPopUpButton *queryResultSelectorPopUpButton() const { return m_selector; }
    QLabel *queryResultRowCountLabel() const { return m_rowCountLabel; }
    QToolButton *queryResultExportButton() const { return m_exportButton; }
    ZNTTerminalSegmentedControl *historyPagerControl() const { return m_historyControl; }
    ZNTPopover *historyPopover() const { return m_historyPopover; }
    QueryHistoryViewController *historyPopoverViewController() const { return m_historyViewController; }
    QFileDialog *filePanel() const { return m_filePanel; }
    bool isShowingStatus() const;

signals:
    // The run ended (its done notification was taken).
    void queryFinished();

protected:
    QWidget *makeView() override;

private:
    enum class CommandTag { Copy, CopySpecial };

    void buildUi();
    QWidget *buildEditorBar();
    void buildAccessoryView();
    void buildCommands();
    void buildMenus();
    void connectActions();
    void connectGrid();
    std::shared_ptr<ZNTFavorite> favorite() const;
    QWidget *window() const;

    // Running.
    void noteNewResult(const Notification &notification);
    void noteNewRows(const Notification &notification);
    void noteResultDone(const Notification &notification);
    void noteQueryDone(const std::shared_ptr<ZNTQuery> &query);
    void updateQueryElapsedTime();
    void stopObservingQuery();
    void postNotification(const ZNTQuery &query, const QString &timeText);
    void updateExecuteButton();
    void updateProgressIndicator();

    // Results.
    void showResultInModel(const std::shared_ptr<QueryViewResult> &result);
    void applyColumnLayout(const QueryViewResult &result);
    void recordColumnWidths();
    void recordColumnOrder();
    void setSortIndicators();
    void startSort(const std::shared_ptr<QueryViewResult> &result);
    void applySort(const std::shared_ptr<QueryViewResult> &result, std::vector<qsizetype> order);
    QList<int> selectedRows() const;
    QString currentStatusText() const;
    void showRowMenu(const QPoint &pos);

    // Files.
    void readQueryFile(const QString &path);
    void writeQueryFile(const QString &path, const QString &text);
    void presentError(const ErrorPtr &error);
    QueryHistoryBrowser::Replace replacer();

    const std::shared_ptr<ZNTQueryObject> m_queryObject;

    // The run.
    std::shared_ptr<ZNTQuery> m_currentQuery;
    std::vector<std::shared_ptr<QueryViewResult>> m_results;
    std::shared_ptr<QueryViewResult> m_currentResult;
    std::shared_ptr<QueryViewResult> m_resultInModel;
    std::vector<ObserverToken> m_queryObservers;
    QTimer *m_elapsedTimer = nullptr;
    std::shared_ptr<ZNTQuery> m_timerQuery;
    quint64 m_sortGeneration = 0;
    quint64 m_appliedSortGeneration = 0;
    bool m_layingOutColumns = false;

    // Files and history.
    QString m_loadPath;
    QueryHistoryBrowser m_history;
    bool m_steppingHistory = false;

    // Views; the page owns them, the accessory view too.
    QPointer<ZNTControlledView> m_view;
    QPointer<ZNTBottomBarView> m_accessoryView;
    QSplitter *m_splitter = nullptr;
    QueryTextView *m_textView = nullptr;
    QToolButton *m_executeButton = nullptr;
    QToolButton *m_cancelButton = nullptr;
    ZNTAnimatingIndicator *m_progressIndicator = nullptr;
    QLabel *m_elapsedTimeLabel = nullptr;
    ZNTTerminalSegmentedControl *m_historyControl = nullptr;
    QToolButton *m_saveButton = nullptr;
    QToolButton *m_loadButton = nullptr;
    QStackedWidget *m_resultStack = nullptr;
    ZNTTableGridView *m_tableView = nullptr;
    QueryResultModel *m_model = nullptr;
    QPlainTextEdit *m_statusTextView = nullptr;
    ZNTTerminalPopUpButton *m_selector = nullptr;
    QLabel *m_rowCountLabel = nullptr;
    QToolButton *m_exportButton = nullptr;
    QPointer<ZNTPopover> m_historyPopover;
    QPointer<QueryHistoryViewController> m_historyViewController;
    QPointer<QFileDialog> m_filePanel;
    QMenu *m_rowMenu = nullptr;
    QMenu *m_copySpecialMenu = nullptr;
    QList<QAction *> m_editActions;
    int m_clickedRow = -1;
    int m_clickedColumn = -1;
};
