#pragma once

#include "TerminalPageLogic.h"
#include "ZNTTerminalQuery.h"
#include "platform/NotificationCenter.h"
#include "uikit/ZNTControlledView.h"
#include "uikit/ZNTTextView.h"
#include "window/ZNTContentController.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QPointer>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class QAction;
class QMenu;
class QTextEdit;
class QTimer;
class ZNTColumn;
class ZNTCopyFileRequest;
class ZNTFavorite;
class ZNTObject;
class ZNTQuery;
class ZNTTerminal;
class ZNTTerminalCopyDelegate;
class ZNTTerminalEditableQueryView;
class ZNTTerminalExecutedQueryCell;
class ZNTTerminalOutlineView;
class ZNTTerminalQueryTabularResult;

// The page of a terminal item: a transcript of the queries run on the
// database's connection, each with its results under it (messages, or a grid
// of every row), and at its end the query being written. Running it adds a new
// query to the transcript; an executed query runs again in its place. Grids
// sort, copy their rows and open a row on a page of its own; COPY TO STDOUT
// and COPY FROM STDIN move their data through files the user chooses. The
// transcript lives with the page (a window reload keeps it) and is never
// stored; every run goes into the favorite's history.
//
// Runs may overlap; each is observed by its own query, and a query cleared
// from the transcript is cancelled and no longer observed. Everything here
// runs on the main thread. The files beside this one hold the runs, the grids
// and the editing.
class ZNTTerminalViewController : public ZNTContentController,
                                  public ZNTFirstResponderPlacer,
                                  public ZNTExporting,
                                  public ZNTMenuValidator,
                                  public ZNTEditMenuProvider,
                                  public ZNTReloadKeeping,
                                  public ZNTTextViewScrollDelegateProtocol {
    Q_OBJECT
public:
    // "InvalidClass" unless item is a ZNTTerminal.
    static ZNTTerminalViewController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);
    explicit ZNTTerminalViewController(QObject *parent = nullptr);
    ~ZNTTerminalViewController() override;

    void setTerminal(std::shared_ptr<ZNTTerminal> terminal);
    const std::shared_ptr<ZNTTerminal> &terminal() const { return m_terminal; }

    // --- Capabilities of a page ---
    bool makeFirstResponder() override;
    void exportContents(QObject *sender) override; // nothing to export: beeps
    bool validateMenuItem(ZNTWindowCommand command, QAction *item) override;
    QList<QAction *> editMenuActions() override;
    bool validateEditMenuAction(QAction *action) override;
    bool keepsPageOnReload() const override { return true; }

    // --- The transcript ---
    // The executed queries in order, then the editable one.
    const std::vector<std::shared_ptr<ZNTTerminalQuery>> &queries() const { return m_queries; }
    const std::shared_ptr<ZNTTerminalQuery> &editableQuery() const { return m_queries.back(); }
    ZNTTerminalOutlineView *terminalOutlineView() const { return m_outline; }
    ZNTTerminalEditableQueryView *queryView() const { return m_queryView; }
    ZNTTerminalExecutedQueryCell *cellForQuery(const ZNTTerminalQuery *query) const;
    ZNTTerminalQueryTabularResult *gridForResult(const ZNTTerminalResult *result) const;
    QWidget *viewForItem(const void *item) const;
    // The transcript row's height as the page wants it.
    int heightForItem(const void *item) const;

    // --- Running (ZNTTerminalViewControllerRunning.cpp) ---
    // Each acts on the query in the row of sender (a widget in a transcript
    // row, or an action of a row's menu).
    void executeQuery(QObject *sender);
    void cancelQuery(QObject *sender);
    void clearQuery(QObject *sender);
    void clearDisplay();
    int numRunningQueries() const { return m_numRunningQueries; }
    bool isAutoscrolling() const;
    void autoscrollQueries();

    // --- Grids (ZNTTerminalViewControllerGrids.cpp) ---
    double widthForColumn(const ZNTColumn &column, const std::shared_ptr<ZNTResult> &result) const;
    void setWidth(double width, const ZNTColumn &column, const std::shared_ptr<ZNTResult> &result);
    // A click on the header of a grid's result column.
    void tableViewDidClickTableColumn(ZNTTerminalQueryTabularResult *grid, int column);
    void tableViewColumnDidResize(ZNTTerminalQueryTabularResult *grid, int column, int width);
    bool isSorting() const { return !m_sortGenerations.empty(); }
    // The selected rows of the grid that has the keys, and that grid.
    QList<int> selectedRowIndicesForTerminalResult(ZNTTerminalQueryTabularResult **grid) const;
    // The rows the grid's menu was opened for, and that grid.
    QList<int> clickedRowIndicesForTerminalResult(ZNTTerminalQueryTabularResult **grid) const;
    void copy();
    void copySpecial(int mode);
    void copyClickedRows(int mode);
    void copyClickedCell();
    void openClickedRow();
    void copyRowIndices(const QList<int> &rows, ZNTTerminalQueryTabularResult *grid, int mode);
    // The grids' menu, made ready for a click on row and column of grid.
    QMenu *tableContextMenuForClick(ZNTTerminalQueryTabularResult *grid, int row, int column);
    QMenu *tableContextMenu() const { return m_tableContextMenu; }
    QAction *copyCellAction() const { return m_copyCellAction; }
    // The menu's hovered item: "Copy Cell" frames the clicked cell.
    void menuWillHighlightItem(QAction *action);

    // --- Editing, history and files (ZNTTerminalViewControllerEditing.cpp) ---
    // A text view of the page asks for the page's one undo history: another
    // view than the one that asked last finds it emptied.
    void undoManagerForTextView(QTextEdit *textView);
    bool textViewScrollRangeToVisible(ZNTTextView *textView, int location, int length) override;
    void previousQueryFromHistory();
    void nextQueryFromHistory();
    void clickedHistoryControl(int segment);
    bool updateQueryTextViewContents(const QString &text);
    void validateHistoryButtons();
    const TerminalHistory &history() const { return m_history; }
    void saveQueryText(QObject *sender);
    void loadQueryText();
    QFileDialog *filePanel() const { return m_filePanel; }

    // --- COPY: the questions and reports of the copy delegate ---
    void presentCopyPanel(const std::shared_ptr<ZNTCopyFileRequest> &request);
    void presentCopyAlert(const QString &message, const QString &informative);
    QFileDialog *copyPanel() const { return m_copyPanel; }
    const std::shared_ptr<ZNTTerminalCopyDelegate> &copyDelegate() const { return m_copyDelegate; }

signals:
    // A run ended (its done notification was taken).
    void queryFinished();

protected:
    QWidget *makeView() override;

private:
    // One run of an executed query, while it lasts.
    struct Run {
        std::shared_ptr<ZNTQuery> query;
        std::vector<ObserverToken> observers;
        QTimer *elapsedTimer = nullptr;
        qint64 startedMs = 0; // on the page's clock
    };
    enum class CommandTag { Copy, CopySpecial };

    void buildUi();
    void buildCommands();
    void buildTableContextMenu();
    void connectQueryView();
    std::shared_ptr<ZNTFavorite> favorite() const;
    QWidget *window() const;

    // Rows.
    std::shared_ptr<ZNTTerminalQuery> queryForSender(QObject *sender) const;
    std::shared_ptr<ZNTTerminalQuery> queryForItem(const void *item) const;
    ZNTTerminalExecutedQueryCell *makeExecutedQueryCell(const std::shared_ptr<ZNTTerminalQuery> &query);
    QWidget *makeResultView(const std::shared_ptr<ZNTTerminalQuery> &query,
                            const std::shared_ptr<ZNTTerminalResult> &result);
    void insertResultRow(const std::shared_ptr<ZNTTerminalQuery> &query, qsizetype index);
    void removeResultRows(const std::shared_ptr<ZNTTerminalQuery> &query);
    QList<const void *> keysOfQuery(const std::shared_ptr<ZNTTerminalQuery> &query) const;
    void noteHeightOfRow(const void *item);
    void notePreferredHeight(const void *item, qreal height);
    void updatePlaceholderHeight();
    void updateFloatingParts();
    void orderTabChain();
    void refreshQueryViews(const ZNTTerminalQuery *query);

    // Running.
    void startRun(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery, bool isNew);
    void askToReconnect(QObject *sender);
    void noteNewResult(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery, const Notification &notification);
    void noteNewRows(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery, const Notification &notification);
    void noteQueryDone(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery);
    void updateQueryElapsedTime(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery);
    void stopRun(const ZNTTerminalQuery *terminalQuery, bool cancel);
    void forgetRun(const std::shared_ptr<ZNTTerminalQuery> &terminalQuery);
    void startAutoscrolling();
    void postNotification(const ZNTQuery &query, const QString &timeText);

    // Grids.
    void buildGrid(ZNTTerminalQueryTabularResult *grid, const std::shared_ptr<ZNTTerminalResult> &result);
    void connectGrid(ZNTTerminalQueryTabularResult *grid);
    void takeRows(ZNTTerminalQueryTabularResult *grid);
    void setSortIndicators(ZNTTerminalQueryTabularResult *grid);
    void startSort(ZNTTerminalQueryTabularResult *grid);
    double persistentWidthForColumn(const ZNTColumn &column) const;
    ZNTTerminalQuery *ownerOfResult(const ZNTTerminalResult *result) const;
    void showTableContextMenu(ZNTTerminalQueryTabularResult *grid, const QPoint &pos);

    // Files.
    void presentError(const QString &message, const QString &informative);
    void closeCopyPanelsOf(const std::shared_ptr<ZNTQuery> &query);

    std::shared_ptr<ZNTTerminal> m_terminal;
    std::vector<std::shared_ptr<ZNTTerminalQuery>> m_queries;
    std::map<const ZNTTerminalQuery *, Run> m_runs;
    std::unordered_map<const void *, int> m_rowHeights;
    std::shared_ptr<ZNTTerminalCopyDelegate> m_copyDelegate;
    bool m_shouldAutoReconnect = false;
    int m_numRunningQueries = 0;
    QElapsedTimer m_clock; // runs from the page's start: the start of each run on it

    // Automatic scrolling.
    QTimer *m_autoscrollTimer = nullptr;
    int m_lastScrollPosition = 0;

    // Grids.
    TerminalColumnWidths m_columnWidths;
    std::map<const ZNTTerminalResult *, quint64> m_sortGenerations;
    quint64 m_lastSortGeneration = 0;
    bool m_layingOutColumns = false;
    QPointer<ZNTTerminalQueryTabularResult> m_clickedGrid;
    int m_clickedRow = -1;
    int m_clickedColumn = -1;

    // Editing.
    TerminalHistory m_history;
    bool m_steppingHistory = false;
    QPointer<QTextEdit> m_lastUndoTextView;
    QPointer<QFileDialog> m_filePanel;
    QPointer<QFileDialog> m_copyPanel;
    std::vector<std::pair<QPointer<QFileDialog>, std::shared_ptr<ZNTCopyFileRequest>>> m_copyRequests;

    // Views; the page owns them.
    QPointer<ZNTControlledView> m_view;
    ZNTTerminalOutlineView *m_outline = nullptr;
    ZNTTerminalEditableQueryView *m_queryView = nullptr;
    QMenu *m_tableContextMenu = nullptr;
    QMenu *m_copySpecialMenu = nullptr;
    QAction *m_copyRowsAction = nullptr;
    QAction *m_copyCellAction = nullptr;
    QAction *m_openRowAction = nullptr;
    QList<QAction *> m_editActions;
};
