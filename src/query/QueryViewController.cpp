// The query page: how it is made, its views and commands, and the
// capabilities the window asks of it. Running, results and files live in the
// files beside this one.
#include "QueryViewController.h"

#include "QueryFavorite.h"
#include "QueryResultModel.h"
#include "QueryTextView.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTTableGridView.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTServer.h"
#include "platform/ProgramError.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/ElidingLabel.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTBottomBarView.h"
#include "uikit/ZNTPopover.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/ToolbarIcons.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString withKeys(const QString &text, const QKeySequence &key) {
    return QStringLiteral("%1 (%2)").arg(text, key.toString(QKeySequence::NativeText));
}

const QKeySequence kExecuteKey(Qt::CTRL | Qt::Key_Return);
const QKeySequence kPreviousKey(Qt::CTRL | Qt::Key_Up);
const QKeySequence kNextKey(Qt::CTRL | Qt::Key_Down);
} // namespace

QueryViewController *QueryViewController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    auto queryObject = std::dynamic_pointer_cast<ZNTQueryObject>(item);
    if (!queryObject)
        throw ProgramError("InvalidClass",
                           QStringLiteral("Argument to [QueryViewController viewControllerForItem:] is not of class "
                                          "ZNTQueryObject: %1")
                               .arg(item ? item->name() : QStringLiteral("(null)"))
                               .toStdString());
    return new QueryViewController(queryObject);
}

QueryViewController::QueryViewController(std::shared_ptr<ZNTQueryObject> queryObject, QObject *parent)
    : ZNTContentController(parent), m_queryObject(std::move(queryObject)) {
    m_history.setFavorite(favorite());
}

QueryViewController::~QueryViewController() {
    stopObservingQuery();
    if (m_currentQuery)
        m_currentQuery->cancel();
    if (m_historyViewController)
        m_historyViewController->setDelegate(nullptr);
    // What the window showed of this page and only detached.
    delete m_accessoryView.data();
}

std::shared_ptr<ZNTFavorite> QueryViewController::favorite() const {
    return QueryFavorite::of(m_queryObject->database());
}

QWidget *QueryViewController::window() const {
    return m_view ? m_view->window() : nullptr;
}

// --- Views ----------------------------------------------------------------------

QWidget *QueryViewController::makeView() {
    buildUi();
    connectActions();
    const QString sql = m_queryObject->sql();
    m_textView->setPlainText(sql.isNull() ? QString() : sql);
    m_textView->document()->clearUndoRedoStacks();
    validateHistoryButtons();
    updateResultDisplay();
    m_selector->setEnabled(false);
    m_exportButton->setEnabled(false);
    updateExecuteButton();
    return m_view;
}

void QueryViewController::buildUi() {
    m_view = new ZNTControlledView;
    m_view->setObjectName(QStringLiteral("queryPage"));
    m_view->setViewController(this);
    auto *layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_splitter = new QSplitter(Qt::Vertical);
    m_splitter->setObjectName(QStringLiteral("querySplitView"));
    m_splitter->setChildrenCollapsible(false);
    layout->addWidget(m_splitter);

    auto *editorPane = new QWidget;
    auto *editorLayout = new QVBoxLayout(editorPane);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    editorLayout->setSpacing(0);
    m_textView = new QueryTextView;
    m_textView->setObjectName(QStringLiteral("queryTextView"));
    m_textView->setAccessibleName(QStringLiteral("SQL"));
    m_textView->setFrameShape(QFrame::NoFrame);
    editorLayout->addWidget(m_textView, 1);
    editorLayout->addWidget(buildEditorBar());
    m_splitter->addWidget(editorPane);

    m_resultStack = new QStackedWidget;
    m_resultStack->setObjectName(QStringLiteral("resultView"));
    m_tableView = new ZNTTableGridView;
    m_model = new QueryResultModel(this);
    m_tableView->setModel(m_model);
    m_tableView->setAccessibleName(QStringLiteral("Query Result"));
    m_statusTextView = new QPlainTextEdit;
    m_statusTextView->setObjectName(QStringLiteral("resultStatusTextView"));
    m_statusTextView->setAccessibleName(QStringLiteral("Query Status"));
    m_statusTextView->setReadOnly(true);
    m_statusTextView->setFrameShape(QFrame::NoFrame);
    m_statusTextView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_resultStack->addWidget(m_tableView);
    m_resultStack->addWidget(m_statusTextView);
    m_splitter->addWidget(m_resultStack);
    m_splitter->setStretchFactor(0, 2);
    m_splitter->setStretchFactor(1, 3);

    buildAccessoryView();
    buildCommands();
    buildMenus();
}

QWidget *QueryViewController::buildEditorBar() {
    auto *bar = new ZNTBottomBarView;
    bar->setObjectName(QStringLiteral("queryEditorBar"));
    m_executeButton =
        ZNTTerminalButton::withText(QStringLiteral("executeButton"), QStringLiteral("Execute Query"),
                                    withKeys(QStringLiteral("Run the query, or the selected part of it"), kExecuteKey));
    m_cancelButton = ZNTTerminalButton::withText(QStringLiteral("cancelButton"), QStringLiteral("Cancel"),
                                                 QStringLiteral("Cancel the running query"));
    m_cancelButton->setEnabled(false);
    m_progressIndicator = new ZNTAnimatingIndicator;
    m_progressIndicator->stopAnimation();
    m_elapsedTimeLabel = new QLabel;
    m_elapsedTimeLabel->setObjectName(QStringLiteral("queryElapsedTimeLabel"));
    m_elapsedTimeLabel->setMinimumWidth(
        m_elapsedTimeLabel->fontMetrics().horizontalAdvance(QStringLiteral("0000.0 ms")));
    m_historyControl = new ZNTTerminalSegmentedControl(ZNTTerminalSegmentedControl::Tracking::Momentary);
    m_historyControl->setObjectName(QStringLiteral("historyPagerControl"));
    m_historyControl->addSegment(QString(), ToolbarIcons::icon(ToolbarIcons::Shape::Back),
                                 withKeys(QStringLiteral("Previous Query in the History"), kPreviousKey));
    m_historyControl->addSegment(QStringLiteral("History"), QIcon(), QStringLiteral("Query History"));
    m_historyControl->addSegment(QString(), ToolbarIcons::icon(ToolbarIcons::Shape::Forward),
                                 withKeys(QStringLiteral("Next Query in the History"), kNextKey));
    m_saveButton =
        ZNTTerminalButton::withText(QStringLiteral("saveButton"), QStringLiteral("Save…"),
                                    withKeys(QStringLiteral("Save the query to a file"), QKeySequence::Save));
    m_loadButton =
        ZNTTerminalButton::withText(QStringLiteral("loadButton"), QStringLiteral("Load…"),
                                    withKeys(QStringLiteral("Load a query from a file"), QKeySequence::Open));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 4, 8, 3);
    row->setSpacing(8);
    row->addWidget(m_executeButton);
    row->addWidget(m_cancelButton);
    row->addWidget(m_progressIndicator);
    row->addWidget(m_elapsedTimeLabel);
    row->addStretch(1);
    row->addWidget(m_historyControl);
    row->addWidget(m_saveButton);
    row->addWidget(m_loadButton);
    return bar;
}

void QueryViewController::buildAccessoryView() {
    m_accessoryView = new ZNTBottomBarView;
    m_accessoryView->setObjectName(QStringLiteral("queryAccessoryView"));
    m_selector = new ZNTTerminalPopUpButton;
    m_selector->setObjectName(QStringLiteral("queryResultSelector"));
    m_selector->setAccessibleName(QStringLiteral("Result"));
    m_selector->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_rowCountLabel = new ElidingLabel;
    m_rowCountLabel->setObjectName(QStringLiteral("queryResultRowCountLabel"));
    m_exportButton = ZNTTerminalButton::withText(QStringLiteral("queryResultExportButton"), QStringLiteral("Export…"),
                                                 QStringLiteral("Export the result as a CSV file"));
    auto *row = new QHBoxLayout(m_accessoryView);
    row->setContentsMargins(8, 4, 8, 3);
    row->setSpacing(8);
    row->addWidget(m_selector);
    row->addWidget(m_rowCountLabel, 1);
    row->addWidget(m_exportButton);
}

void QueryViewController::buildCommands() {
    auto pageAction = [this](const QKeySequence &key, std::function<void()> run) {
        auto *action = new QAction(this);
        action->setShortcut(key);
        // The keys act while the focus is in the page.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_view->addAction(action);
        connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
        return action;
    };
    pageAction(kExecuteKey, [this] {
        executeQuery();
    })->setShortcuts({kExecuteKey, QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    pageAction(QKeySequence::Save, [this] { saveQueryText(); });
    pageAction(QKeySequence::Open, [this] { loadQueryText(); });
    pageAction(kPreviousKey, [this] { previousQueryFromHistory(); });
    pageAction(kNextKey, [this] { nextQueryFromHistory(); });

    auto *copyAction = new QAction(QStringLiteral("&Copy"), this);
    copyAction->setData(int(CommandTag::Copy));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(copyAction);
    connect(copyAction, &QAction::triggered, this, [this] { copy(); });
    auto *special = new QAction(QStringLiteral("Copy &Special"), this);
    special->setData(int(CommandTag::CopySpecial));
    m_copySpecialMenu = new QMenu(m_view);
    const QStringList forms = {QStringLiteral("&Tab-Separated Text"), QStringLiteral("&CSV"),
                               QStringLiteral("CSV with &Header"), QStringLiteral("&INSERT Statements")};
    for (int mode = 0; mode < forms.size(); ++mode) {
        QAction *form = m_copySpecialMenu->addAction(forms[mode]);
        form->setData(int(CommandTag::CopySpecial));
        form->setProperty("copyMode", mode);
        connect(form, &QAction::triggered, this, [this, mode] { copySpecial(mode); });
    }
    special->setMenu(m_copySpecialMenu);
    m_editActions = {copyAction, special};
}

void QueryViewController::connectActions() {
    connect(m_executeButton, &QToolButton::clicked, this, [this] { executeQuery(); });
    connect(m_cancelButton, &QToolButton::clicked, this, [this] { cancelQuery(); });
    connect(m_saveButton, &QToolButton::clicked, this, [this] { saveQueryText(); });
    connect(m_loadButton, &QToolButton::clicked, this, [this] { loadQueryText(); });
    connect(m_exportButton, &QToolButton::clicked, this, [this] { exportContents(m_exportButton); });
    connect(m_historyControl, &ZNTTerminalSegmentedControl::segmentClicked, this,
            [this](int segment) { clickedHistoryControl(segment); });
    connect(m_selector, &QComboBox::activated, this,
            [this](int index) { selectQueryResult(m_selector->itemData(index).toInt()); });
    connect(m_textView, &QPlainTextEdit::copyAvailable, this, [this] {
        updateExecuteButton();
        emit validationRequested();
    });
    connect(m_textView, &QPlainTextEdit::textChanged, this, [this] {
        // Every change ends browsing the history; a step records itself after
        // its own change.
        m_history.textDidChange();
        if (!m_steppingHistory)
            validateHistoryButtons();
    });
    m_elapsedTimer = new QTimer(this);
    m_elapsedTimer->setInterval(50);
    connect(m_elapsedTimer, &QTimer::timeout, this, [this] { updateQueryElapsedTime(); });
    connectGrid();
}

void QueryViewController::updateExecuteButton() {
    m_executeButton->setText(m_textView->hasSelectedText() ? QStringLiteral("Execute Selection")
                                                           : QStringLiteral("Execute Query"));
}

bool QueryViewController::isShowingStatus() const {
    return m_resultStack && m_resultStack->currentWidget() == m_statusTextView;
}

// --- Capabilities -----------------------------------------------------------------

QWidget *QueryViewController::accessoryView() {
    view();
    return m_accessoryView;
}

bool QueryViewController::makeFirstResponder() {
    view();
    if (!m_textView->isVisibleTo(m_textView->window()))
        return false;
    m_textView->setFocus(Qt::OtherFocusReason);
    return true;
}

QList<QAction *> QueryViewController::editMenuActions() {
    view();
    return m_editActions;
}

bool QueryViewController::validateEditMenuAction(QAction *action) {
    if (!action)
        return false;
    auto *focused = qobject_cast<QPlainTextEdit *>(m_view ? workingFocusWidget(m_view) : nullptr);
    const bool textFocused = focused && m_view && m_view->isAncestorOf(focused);
    const bool rowsSelected = m_currentResult && !selectedRows().isEmpty();
    if (CommandTag(action->data().toInt()) == CommandTag::Copy)
        return textFocused ? focused->textCursor().hasSelection() : rowsSelected;
    return rowsSelected;
}

bool QueryViewController::validateMenuItem(ZNTWindowCommand, QAction *) {
    // Export stays enabled: without a result to export it beeps.
    return true;
}
