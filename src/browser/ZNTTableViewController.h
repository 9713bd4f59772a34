#pragma once

#include "ZNTFilterController.h"
#include "ZNTRowEditorHook.h"
#include "ZNTTableEdits.h"
#include "ZNTTableLayoutStore.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "uikit/SQLPreview.h"
#include "uikit/ZNTControlledView.h"
#include "uikit/ZNTSaveBarView.h"
#include "window/ZNTContentController.h"

#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QUndoStack;
class QVBoxLayout;
class ZNTAnimatingIndicator;
class ZNTColumn;
class ZNTConnection;
class ZNTObject;
class ZNTFilterCondition;
class ZNTPopover;
class ZNTQuery;
class ZNTResult;
class ZNTRow;
class ZNTTable;
class ZNTTableContentModel;
class ZNTTableGridView;
class ZNTTableMetadata;
class ZNTTableViewController;
class ZNTTerminalSegmentedControl;
class ZNTUpdateInsertDeleteQuery;

// Told of a double click on a row of a page that has it (the row picker).
class ZNTTableViewControllerDoubleDelegate {
public:
    virtual ~ZNTTableViewControllerDoubleDelegate() = default;
    // row: the clicked row with its values as loaded (pending edits left out).
    virtual void tableViewControllerDidDoubleClickRow(ZNTTableViewController *controller,
                                                      const std::shared_ptr<ZNTRow> &row) = 0;
};

// Writes the rows of a query to a file the user picks (CSV export); installed
// at start-up by the layer that has it.
using ZNTTableExporter = std::function<void(QWidget *window, std::shared_ptr<ZNTQuery> query,
                                            std::shared_ptr<ZNTConnection> connection, QString suggestedName)>;

// The page of a table, view or materialized view: one page of its rows in a
// grid, with a pager and the row count under it, sorting by a column, the
// column layout kept per favorite and table, and editing: cells typed into,
// rows added, duplicated and deleted, all pending until saved in one
// transaction or discarded, each step undoable. Its commands copy rows in four
// forms, preview the SQL a save runs and export every matching row.
//
// The window makes it through the factory BrowserPages::install() sets; the
// row picker makes a read-only one (setReadOnly, smallAccessoryView and a
// double-click delegate). Everything here runs on the main thread; the page
// and count queries run on the connection's queue, and their replies are
// taken only from the queries the page holds now.
class ZNTTableViewController : public ZNTContentController,
                               public ZNTAccessoryViewProvider,
                               public ZNTRightSidebarProvider,
                               public ZNTFirstResponderPlacer,
                               public ZNTReloadable,
                               public ZNTPendingChangesHolder,
                               public ZNTCustomUndoProvider,
                               public ZNTTableFilterToggling,
                               public ZNTStructureToggling,
                               public ZNTExporting,
                               public ZNTMenuValidator,
                               public ZNTEditMenuProvider,
                               public ZNTRowViewControllerDelegate,
                               public ZNTFilterControllerDelegate,
                               public SQLPreviewOwner {
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY busyChanged)
    Q_PROPERTY(bool filterState READ filterState NOTIFY filterStateChanged)
public:
    // "InvalidClass" unless item is a relation.
    static ZNTTableViewController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);
    explicit ZNTTableViewController(std::shared_ptr<ZNTTable> table, QObject *parent = nullptr);
    ~ZNTTableViewController() override;

    // Hooks other layers fill at start-up; empty ones remove them.
    static void setExporter(ZNTTableExporter exporter);
    static void setRowEditorFactory(ZNTRowEditorFactory factory);
    static bool hasExporter();

    std::shared_ptr<ZNTTable> table() const { return m_table; }

    // --- Capabilities of a page ---
    QWidget *accessoryView() override;
    QWidget *rightSidebarView() override;
    bool makeFirstResponder() override;
    void performReload() override;
    bool hasPendingChanges() const override;
    // Edits, the one being typed, or changes held for rows not loaded yet.
    bool hasUnsavedChanges() const override;
    ZNTPageLeftovers takeLeftovers() override;
    void resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) override;
    QUndoStack *customUndoManager() override; // null while saving
    void toggleTableFilter() override;
    void toggleStructureAndContents(QObject *sender) override;
    void exportContents(QObject *sender) override;
    bool validateMenuItem(ZNTWindowCommand command, QAction *item) override;
    QList<QAction *> editMenuActions() override;
    bool validateEditMenuAction(QAction *action) override;

    // The compact pager and status bar, for the row picker.
    QWidget *smallAccessoryView();
    void setReadOnly(bool readOnly);
    bool readOnly() const { return m_readOnly; }
    // Not owned; it must outlive the page or be taken back (nullptr).
    void setDoubleDelegate(ZNTTableViewControllerDoubleDelegate *delegate);
    ZNTTableViewControllerDoubleDelegate *doubleDelegate() const { return m_doubleDelegate; }

    // --- Paging ---
    // Loads the current page again, after the structure when withStructure;
    // drops every pending change without asking (callers a user reaches ask).
    void reloadWithStructure(bool withStructure);
    void refreshColumns();
    // After the unsaved-changes prompt: that page (clamped), reloaded.
    void setCurrentPageIndex(qint64 pageIndex);
    qint64 rowsPerPage() const { return m_rowsPerPage; }
    qint64 currentPageIndex() const { return m_currentPageIndex; }
    qint64 totalNumRows() const { return m_totalNumRows; }
    QString statusText() const { return m_statusText; }
    bool isBusy() const { return m_isBusy; }
    bool filterState() const { return m_filterState; }
    // The structure, the rows or the count are on their way.
    bool isLoading() const;
    void showPageNumberPopover();
    void goToPageFromPopover();

    // --- Sorting and layout ---
    void setOrderColumn(const std::shared_ptr<ZNTColumn> &column, bool ascending);
    std::shared_ptr<ZNTColumn> orderColumn() const { return m_orderColumn; }
    bool orderAscending() const { return m_orderAscending; }
    double persistentWidthForColumn(const ZNTColumn &column) const;
    void setPersistentWidth(double width, const ZNTColumn &column);
    void tableViewDidClickTableColumn(int logicalColumn);
    // The header menu of a grid column (-1: none).
    void validateMenuForTableColumn(QMenu *menu, int logicalColumn);
    void sortAscendingByColumn();
    void sortDescendingByColumn();
    void restoreDefaultColumnOrder();
    void filterByColumn();

    // --- Filter bar ---
    ZNTFilterController *filterController() const { return m_filterController; }
    void filterControllerDidClickFind(ZNTFilterController &controller) override;
    void filterControllerDidRemoveLastFilter(ZNTFilterController &controller) override;

    // --- Edits ---
    // Values in the result's column order, pending edits included.
    ZNTTableEdits::Values objectValuesAtRowIndex(qsizetype row) const;
    Value objectValueAtRowIndex(qsizetype row, int resultColumn) const;
    void newRow();
    void duplicate();
    void duplicateClickedRow(int row);
    void duplicateRowAtIndex(qsizetype row);
    void deleteRows(); // the selected ones
    void deleteClickedRows(const QList<int> &rows);
    void save();
    // false (and nothing changes) while saving or when editing cannot end.
    bool discardChanges();
    void saveEditsWithCompletionHandler(std::function<void(bool success, ErrorPtr error)> handler);
    std::shared_ptr<ZNTUpdateInsertDeleteQuery> crudQuery() const;
    void presentSaveError(const ErrorPtr &error);
    // The "Save changes to the database?" prompt; handler true when nothing
    // is pending afterwards.
    void resignWithInformativeText(const QString &text, std::function<void(bool)> handler);
    void rowViewControllerDidEditColumn(ZNTSidebarRowEditor *rowViewController, qsizetype column,
                                        const Value &newValue) override;

    // --- Commands ---
    void copy();
    void copySpecial(int mode);
    void copyClickedRows(const QList<int> &rows, int mode);
    void copyClickedCell(int row, int column);
    void copyRowIndices(const QList<int> &rows, int mode);
    QString sqlPreviewString() override;
    QWidget *sqlPreviewView() override;
    void performDoubleAction(int row);

    // Parts the tests look at.
    ZNTTableGridView *tableView() const { return m_tableView; }
    ZNTTableContentModel *contentModel() const { return m_model; }
    ZNTSaveBarView *saveBar() const { return m_saveBar; }
    ZNTTerminalSegmentedControl *pager() const { return m_pager; }
    ZNTTerminalSegmentedControl *smallPager() const { return m_smallPager; }
    ZNTTerminalSegmentedControl *structureContentsSwitcher() const { return m_switcher; }
    ZNTPopover *pageNumberPopover() const { return m_pageNumberPopover; }
    QUndoStack *undoStack() const { return m_undoStack; }
    QLabel *rightSidebarPlaceholder() const { return m_sidebarPlaceholder; }
    ZNTSidebarRowEditor *sidebarRowViewController() const { return m_sidebarRowViewController.get(); }
    // The row menu for a right click on row (-1: none), as it would open.
    QMenu *rowMenuForRow(int row, int column);
    QMenu *headerMenu() const { return m_headerMenu; }

signals:
    void statusTextChanged(const QString &text);
    void busyChanged(bool busy);
    void filterStateChanged(bool shown);

protected:
    QWidget *makeView() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class CommandTag { Copy, CopySpecial, AddRow, Duplicate, Delete };

    void buildUi();
    void buildAccessoryViews();
    void buildSidebar();
    void buildCommands();
    void buildMenus();
    void buildRowMenu();
    void buildHeaderMenu();
    void connectActions();
    void connectGrid();
    QWidget *pageView();

    // Loading (ZNTTableViewControllerLoading.cpp).
    void startStructureLoad(const std::shared_ptr<ZNTTableMetadata> &metadata);
    void noteStructureLoaded(const Notification *notification);
    void restoreStateOnce(const ZNTTableMetadata &metadata);
    void dropVanishedSortColumn(const ZNTTableMetadata &metadata);
    void startPageQueries();
    void noteNewResult(const Notification &notification);
    void noteNewRows(const Notification &notification);
    void noteResultDone(const Notification &notification);
    void noteQueryDone(const Notification &notification);
    void noteCountQueryUpdated(const Notification &notification);
    void stopQueries();
    void updateRowCount();
    void updatePagerLabels();
    void notePageLoadFailed();
    void performPagerOperation(int segment, QWidget *pager);
    void userDefaultsChanged(const QString &key);
    void setStatusText(const QString &text);
    void setBusy(bool busy);
    void applyColumnLayout(const QStringList &order);
    QList<std::shared_ptr<ZNTFilterCondition>> currentFilters() const;
    std::shared_ptr<ZNTTableMetadata> loadedMetadata() const;
    // The structure of the rows shown: the one the page's result was loaded
    // with, else the cached one when it is loaded.
    std::shared_ptr<ZNTTableMetadata> pageMetadata() const;

    // Edits (ZNTTableViewControllerEdits.cpp).
    bool endEditingForAction();
    void endEditingForPrimitive();
    void cellEntered(qsizetype row, int resultColumn, const QString &text);
    void applyValues(const QList<qsizetype> &rows, int resultColumn, const QList<Value> &values, bool changeSelection,
                     bool updateSidebar);
    void pushSetValues(const QList<qsizetype> &rows, int resultColumn, const QList<Value> &values, bool updateSidebar,
                       const QString &name);
    struct Removed {
        std::vector<ZNTTableEdits::Row> rows;
        QList<qsizetype> indices;
        QList<qsizetype> marked;
    };
    Removed deleteRowIndices(QList<qsizetype> indices, bool selectMarkedIndices);
    void insertOriginalRows(const std::vector<ZNTTableEdits::Row> &rows, const QList<qsizetype> &indices,
                            const QList<qsizetype> &markUndeleted);
    void setOriginalRows(std::vector<ZNTTableEdits::Row> rows, qsizetype takenStoreRows);
    void pushInsert(std::vector<ZNTTableEdits::Row> rows, QList<qsizetype> indices, const QString &name);
    void pushDelete(QList<qsizetype> indices);
    void moveEditing(QWidget *editor, int direction);
    void selectRows(const QList<qsizetype> &rows, bool scroll);
    void updateSaveView();
    void updateSidebarView();
    void noteRowsSaved(qint64 change);
    void saveDone(const std::shared_ptr<ZNTUpdateInsertDeleteQuery> &query,
                  const std::function<void(bool, ErrorPtr)> &handler);
    ZNTTableEdits::CarriedChanges carriedChangesOf(const ZNTUpdateInsertDeleteQuery &query) const;
    ErrorPtr reloadAfterUnsettledSave(const ZNTUpdateInsertDeleteQuery &query);
    void reloadAfterUnpairedSave();
    // The window placed the page again (or shows again): what waited for the
    // page to be on screen runs.
    void pageShown();
    qsizetype putBackCarriedChanges();
    void saveAfterLoad(bool loaded, qsizetype notPutBack = 0);
    void presentNotPutBackNotice();
    // A notice of changes a load could not put back is still to be shown.
    bool noticeWaits() const { return m_notPutBackNotice > 0; }
    // The installed hook's editor for row; null without one.
    static std::unique_ptr<ZNTSidebarRowEditor> makeRowEditor(const std::shared_ptr<ZNTRow> &row);
    std::shared_ptr<ZNTRow> rowForValues(const ZNTTableEdits::Values &resultValues) const;
    // Result-column values in the order of the structure's display columns.
    std::vector<Value> displayOrder(const ZNTTableEdits::Values &resultValues, const ZNTTableMetadata &metadata) const;
    void updateEditability();

    // Commands (ZNTTableViewControllerCommands.cpp).
    void showRowMenu(const QPoint &pos);
    void showHeaderMenu(const QPoint &pos);
    QList<int> clickedRows() const;
    int modeOf(QAction *action) const;
    bool validateRowMenuItem(QAction *item);
    QStringList onScreenColumnNames() const;
    // Alt+S, Alt+D or Alt+P from an editor before the save bar shows; false
    // for any other key or state.
    bool performSaveBarKey(int key, bool fromSidebar);

    // Layout (ZNTTableViewControllerLayout.cpp).
    void columnResized(int logicalColumn, int newSize);
    void columnMoved();
    void setSortIndicator();
    std::shared_ptr<ZNTColumn> displayColumnForLogical(int logicalColumn) const;
    void showFilterBar();
    void hideFilterBar();
    void setFilterState(bool shown);
    std::shared_ptr<ZNTColumn> systemOrDisplayColumnNamed(const ZNTTableMetadata &metadata, const QString &name) const;

    const std::shared_ptr<ZNTTable> m_table;
    ZNTTableLayoutStore m_layout;

    // Page state.
    std::shared_ptr<ZNTQuery> m_tableDataQuery;
    std::shared_ptr<ZNTQuery> m_tableCountQuery;
    std::shared_ptr<ZNTResult> m_tableResult;
    std::shared_ptr<ZNTColumn> m_orderColumn;
    bool m_orderAscending = true;
    bool m_resultIsFiltered = false;
    bool m_didRestoreState = false;
    bool m_isBusy = false;
    bool m_readOnly = false;
    bool m_filterState = false;
    qint64 m_rowsPerPage = 1000;
    qint64 m_currentPageIndex = 0;
    qint64 m_totalNumRows = -1;
    // The last load ended without the page's rows: the pager waits for a reload.
    bool m_pageLoadFailed = false;
    // Rows the saves since this page loaded inserted, less those they deleted:
    // the count and the page's own rows follow them without a new query.
    qint64 m_savedRowsChange = 0;
    QString m_statusText;
    ObserverToken m_structureObserver;
    // One token per notification name observed.
    std::vector<ObserverToken> m_dataQueryObserver;
    std::vector<ObserverToken> m_resultObserver;
    std::vector<ObserverToken> m_countQueryObserver;
    ObserverToken m_saveObserver;
    // The structure the page's result was loaded with: a window reload may
    // purge the cached one while this page keeps its pending edits.
    std::shared_ptr<ZNTTableMetadata> m_resultMetadata;

    // Edits.
    // The changes of saves that may have been committed, put back over the
    // rows once they are loaded again; until then they are unsaved changes.
    ZNTTableEdits::HeldChanges m_carriedChanges;
    // A save that waits for the rows to load and the held changes to go back.
    std::function<void(bool, ErrorPtr)> m_saveAfterLoad;
    // Rows whose held changes a load no save waited for could not put back,
    // until the page has told it (once it is on screen).
    qsizetype m_notPutBackNotice = 0;
    // A committed save's rows did not come back as the server stored them: the
    // rows load again once the page is on screen, unless a load starts first.
    bool m_reloadAfterSave = false;
    std::unique_ptr<ZNTSidebarRowEditor> m_sidebarRowViewController;
    QList<int> m_sidebarIndexes;
    QUndoStack *m_undoStack = nullptr;
    ZNTTableViewControllerDoubleDelegate *m_doubleDelegate = nullptr;
    QString m_headerMenuTableColumnIdentifier;
    bool m_layingOutColumns = false;
    bool m_committingEntry = false;
    bool m_committingSidebarEdit = false;

    // Views; the page owns every one of them, also those the window shows.
    QPointer<ZNTControlledView> m_view;
    ZNTTableGridView *m_tableView = nullptr;
    ZNTTableContentModel *m_model = nullptr;
    QVBoxLayout *m_pageLayout = nullptr;
    QPointer<ZNTSaveBarView> m_saveBar;
    QPointer<ZNTBottomBarView> m_accessoryView;
    QPointer<ZNTBottomBarView> m_smallAccessoryView;
    QPointer<QWidget> m_rightSidebarView;
    QLabel *m_sidebarPlaceholder = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_smallStatusLabel = nullptr;
    ZNTAnimatingIndicator *m_progressIndicator = nullptr;
    ZNTTerminalSegmentedControl *m_pager = nullptr;
    ZNTTerminalSegmentedControl *m_smallPager = nullptr;
    ZNTTerminalSegmentedControl *m_switcher = nullptr;
    ZNTPopover *m_pageNumberPopover = nullptr;
    class QLineEdit *m_pageNumberTextField = nullptr;
    QMenu *m_headerMenu = nullptr;
    QMenu *m_rowMenu = nullptr;
    QMenu *m_copySpecialMenu = nullptr;
    QList<QAction *> m_editActions;
    QPointer<ZNTFilterController> m_filterController;
    int m_clickedRow = -1;
    int m_clickedColumn = -1;
};
