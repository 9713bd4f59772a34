#pragma once

#include "ZNTTableSchemaColumnView.h"
#include "ZNTTableSchemaEdits.h"
#include "model/ZNTObject.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "uikit/SQLPreview.h"
#include "uikit/ZNTControlledView.h"
#include "uikit/ZNTSaveBarView.h"
#include "window/ZNTContentController.h"

#include <QPointer>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSplitter;
class QUndoCommand;
class QUndoStack;
class QVBoxLayout;
class ZNTBottomBarView;
class ZNTEditingTracker;
class ZNTObjectQuery;
class ZNTStructureQuery;
class ZNTTable;
class ZNTTableMetadata;
class ZNTTableSchema;
class ZNTTableSchemaColumnsView;
class ZNTTerminalSegmentedControl;

// The structure page of a table, view or materialized view, or of a new one
// not created yet: its name, schema, tablespace (tables and materialized
// views), comment and definition (views), and a row per column with name,
// type, default, constraints and comment.
//
// What the page loaded is kept as the original model; every finished edit is
// stored in the edited model as one undoable step on the page's own undo
// stack, and the save bar shows while the two differ (from the first
// keystroke of an edit on). Saving turns the difference into one ALTER (or
// CREATE) statement run on the database's connection: a missing sequence is
// offered for creation, a rename or a first save replaces the item in the
// window, any other save reloads the page; a failure keeps every edit.
// Discarding rebuilds the page from what was loaded (a new relation leaves).
//
// The window makes it through the factory StructurePages::install() sets.
// main thread
class ZNTTableSchemaController : public ZNTContentController,
                                 public ZNTAccessoryViewProvider,
                                 public ZNTReloadable,
                                 public ZNTPendingChangesHolder,
                                 public ZNTCustomUndoProvider,
                                 public ZNTStructureToggling,
                                 public ZNTTableSchemaColumnViewDelegate,
                                 public SQLPreviewOwner {
    Q_OBJECT
public:
    using StepKind = ZNTTableSchemaEdits::StepKind;

    // "InvalidClass" unless item is a ZNTTableSchema.
    static ZNTTableSchemaController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);
    explicit ZNTTableSchemaController(const std::shared_ptr<ZNTTableSchema> &item, QObject *parent = nullptr);
    ~ZNTTableSchemaController() override;

    std::shared_ptr<ZNTTable> table() const { return m_table; }
    const ZNTTableSchemaEdits &edits() const { return m_edits; }

    // --- Capabilities of a page ---
    QWidget *accessoryView() override;
    void performReload() override;
    bool hasPendingChanges() const override;
    void resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) override;
    QUndoStack *customUndoManager() override; // null while saving
    void toggleStructureAndContents(QObject *sender) override;

    // --- Building and recording ---
    void noteStructureLoaded(const Notification *notification);
    void loadPopupMenus();
    // Records what the page shows and the edited model lacks.
    void updateModel();
    void didUpdateModel();
    bool hasChanges() const { return m_hasChanges; }
    void setHasChanges(bool hasChanges);
    void addColumn();
    void tableSchemaColumnViewDidBeginEditing(ZNTTableSchemaColumnView *row) override;
    void tableSchemaColumnViewDidEndEditing(ZNTTableSchemaColumnView *row) override;

    // The undoable primitives, as undo and redo run them.
    void doSetText(StepKind kind, const QString &text);
    void doDeleteColumnAtIndex(qsizetype index);
    void doInsertColumn(const ZNTTableSchemaEdits::RemovedColumn &column, qsizetype index);
    void doReplaceColumn(const std::shared_ptr<ZNTColumnDefinition> &column, qsizetype index);
    void doSetConstraints(const std::shared_ptr<ZNTConstraintList> &constraints, qsizetype index);

    // --- Saving and leaving ---
    // A new, unstarted statement of the edits now.
    std::shared_ptr<ZNTStructureQuery> saveChangesQuery() const;
    void save();
    // (false, null) at once while another save runs.
    void saveWithCompletionHandler(std::function<void(bool success, ErrorPtr error)> handler);
    bool isSaving() const { return m_saveChangesQuery != nullptr; }
    void discardChanges();
    QString sqlPreviewString() override;
    QWidget *sqlPreviewView() override;
    bool sqlPreviewCanShow() override;

    // Parts the tests look at.
    QLineEdit *tableNameField() const { return m_tableNameField; }
    QLineEdit *tableCommentField() const { return m_tableCommentField; }
    QPlainTextEdit *viewDefinitionField() const { return m_viewDefinitionField; }
    QComboBox *tableSchemaPopup() const { return m_tableSchemaPopup; }
    QComboBox *tableTablespacePopup() const { return m_tableTablespacePopup; }
    ZNTTableSchemaColumnsView *columnsView() const { return m_columnsView; }
    QList<ZNTTableSchemaColumnView *> columnViews() const;
    ZNTSaveBarView *saveBar() const { return m_saveBar; }
    ZNTTerminalSegmentedControl *structureContentsSwitcher() const { return m_switcher; }
    QPushButton *addColumnButton() const { return m_addColumnButton; }
    QLabel *loadErrorLabel() const { return m_loadErrorLabel; }
    QUndoStack *undoStack() const { return m_undoStack; }
    QScrollArea *scrollView() const { return m_scrollView; }

protected:
    QWidget *makeView() override;

private:
    void buildUi();
    void buildForm();
    void buildAccessoryView();
    void connectActions();
    void awake();
    QWidget *pageView();

    // Building (ZNTTableSchemaControllerModel.cpp).
    void reloadStructure();
    void startStructureLoad(const std::shared_ptr<ZNTTableMetadata> &metadata);
    void showLoadError(const ErrorPtr &error);
    ZNTStructureSource sourceFrom(const std::shared_ptr<ZNTTableMetadata> &metadata) const;
    void showModel();
    ZNTTableSchemaColumnView *makeRow(const ZNTColumnDefinition &column,
                                      const std::shared_ptr<ZNTColumnDefinition> &originalColumn,
                                      const ZNTConstraintList &constraints,
                                      const std::optional<ZNTConstraintList> &originalConstraints);
    void chainTabOrder(qsizetype rowIndex);
    // Puts the row's controls in the Tab chain right after previous.
    void chainTabOrder(ZNTTableSchemaColumnView *row, QWidget *previous);
    QWidget *lastFieldBeforeRows() const;
    void noteSchemasLoaded();
    void noteTablespacesLoaded();
    ZNTTableSchemaEdits::Shown shown() const;
    void record(const QList<ZNTTableSchemaEdits::Step> &steps);
    QUndoCommand *commandFor(const ZNTTableSchemaEdits::Step &step);
    void endEditingForPrimitive();
    // Ends the editing in the page and puts the focus on the page itself;
    // false when an editor will not let go.
    bool makePageFirstResponder();
    void setSaving(bool saving);

    // Saving (ZNTTableSchemaControllerSaving.cpp).
    void saveStepDone(const std::function<void(bool, ErrorPtr)> &handler);
    void askToCreateSequence(const QString &name, const std::function<void(bool, ErrorPtr)> &handler);
    void finishSave(const std::function<void(bool, ErrorPtr)> &handler, bool success, ErrorPtr error);
    void didSave();
    ErrorPtr renameRefusal();
    void presentError(const ErrorPtr &error, std::function<void()> then = nullptr);
    QString relationNameForPrompt() const;

    const std::shared_ptr<ZNTTable> m_table;
    ZNTTableSchemaEdits m_edits;
    bool m_hasChanges = false;
    bool m_loadFailed = false;
    int m_primitiveDepth = 0;
    QUndoStack *m_undoStack = nullptr;
    ObserverToken m_structureObserver;
    std::shared_ptr<ZNTObjectQuery> m_schemaQuery;
    std::shared_ptr<ZNTObjectQuery> m_tablespaceQuery;
    ObserverToken m_schemaObserver;
    ObserverToken m_tablespaceObserver;
    std::shared_ptr<ZNTStructureQuery> m_saveChangesQuery;
    ObserverToken m_saveObserver;

    // Views; the page owns every one of them, also those the window shows.
    QPointer<ZNTControlledView> m_view;
    QPointer<ZNTBottomBarView> m_accessoryView;
    QWidget *m_formArea = nullptr;
    QLineEdit *m_tableNameField = nullptr;
    QLineEdit *m_tableCommentField = nullptr;
    QPlainTextEdit *m_viewDefinitionField = nullptr;
    ZNTEditingTracker *m_viewDefinitionTracker = nullptr;
    QComboBox *m_tableSchemaPopup = nullptr;
    QComboBox *m_tableTablespacePopup = nullptr;
    QSplitter *m_splitter = nullptr;
    QScrollArea *m_scrollView = nullptr;
    ZNTTableSchemaColumnsView *m_columnsView = nullptr;
    QLabel *m_loadErrorLabel = nullptr;
    QVBoxLayout *m_saveBarContainer = nullptr;
    QPointer<ZNTSaveBarView> m_saveBar;
    ZNTTerminalSegmentedControl *m_switcher = nullptr;
    QPushButton *m_addColumnButton = nullptr;
};
