// The table page: how it is made, its views and commands, and the
// capabilities the window asks of it. Loading, edits, commands and layout
// live in the files beside this one.
#include "ZNTTableViewController.h"

#include "ZNTCopyModes.h"
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "platform/ProgramError.h"
#include "platform/UserDefaults.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/ElidingLabel.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTBottomBarView.h"
#include "uikit/ZNTControlledView.h"
#include "uikit/ZNTPopover.h"
#include "uikit/ZNTSaveBarView.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/ToolbarIcons.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {
ZNTTableExporter &exporter() {
    static ZNTTableExporter hook;
    return hook;
}

ZNTRowEditorFactory &rowEditorFactory() {
    static ZNTRowEditorFactory hook;
    return hook;
}

const QString kRowsPerPage = QStringLiteral("TableViewRowsPerPage");

QLabel *statusLabel() {
    return new ElidingLabel;
}

// Previous, the page label (opens the go-to-page popover), next.
ZNTTerminalSegmentedControl *makePager(const QString &name) {
    auto *pager = new ZNTTerminalSegmentedControl(ZNTTerminalSegmentedControl::Tracking::Momentary);
    pager->setObjectName(name);
    pager->addSegment(QString(), ToolbarIcons::icon(ToolbarIcons::Shape::Back), QStringLiteral("Previous Page"));
    pager->addSegment(QStringLiteral("Page 1"), QIcon(), QStringLiteral("Go to Page…"));
    pager->addSegment(QString(), ToolbarIcons::icon(ToolbarIcons::Shape::Forward), QStringLiteral("Next Page"));
    return pager;
}
} // namespace

ZNTTableViewController *ZNTTableViewController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    auto table = std::dynamic_pointer_cast<ZNTTable>(item);
    if (!table)
        throw ProgramError("InvalidClass",
                           QStringLiteral("Argument to [ZNTTableViewController viewControllerForItem:] is not of class "
                                          "ZNTTable: %1")
                               .arg(item ? item->name() : QStringLiteral("(null)"))
                               .toStdString());
    return new ZNTTableViewController(table);
}

ZNTTableViewController::ZNTTableViewController(std::shared_ptr<ZNTTable> table, QObject *parent)
    : ZNTContentController(parent), m_table(std::move(table)), m_layout(m_table) {
    m_rowsPerPage = ZNTTablePageLogic::rowsPerPageFromSetting(UserDefaults::standard().integerForKey(kRowsPerPage));
    connect(&UserDefaults::standard(), &UserDefaults::changed, this,
            [this](const QString &key) { userDefaultsChanged(key); });
}

ZNTTableViewController::~ZNTTableViewController() {
    stopQueries();
    m_structureObserver.stopObserving();
    m_saveObserver.stopObserving();
    // The row editor's view sits in the sidebar view: it goes first.
    m_sidebarRowViewController.reset();
    // What the window showed of this page and only detached.
    delete m_accessoryView.data();
    delete m_smallAccessoryView.data();
    delete m_rightSidebarView.data();
}

void ZNTTableViewController::setExporter(ZNTTableExporter hook) {
    requireMainThread("ZNTTableViewController::setExporter");
    exporter() = std::move(hook);
}

bool ZNTTableViewController::hasExporter() {
    return static_cast<bool>(exporter());
}

std::unique_ptr<ZNTSidebarRowEditor> ZNTTableViewController::makeRowEditor(const std::shared_ptr<ZNTRow> &row) {
    return rowEditorFactory() ? rowEditorFactory()(row) : nullptr;
}

void ZNTTableViewController::setRowEditorFactory(ZNTRowEditorFactory factory) {
    requireMainThread("ZNTTableViewController::setRowEditorFactory");
    rowEditorFactory() = std::move(factory);
}

// --- Views ----------------------------------------------------------------------

QWidget *ZNTTableViewController::makeView() {
    buildUi();
    connectActions();
    // The first page: the columns the stored layout gives, then the rows. With
    // the structure: a structure another page loaded already still brings the
    // stored sort and filter bar.
    refreshColumns();
    reloadWithStructure(true);
    return m_view;
}

// The view, made on first need; also while it is being made (the base class
// learns of it only when makeView returns).
QWidget *ZNTTableViewController::pageView() {
    return m_view ? m_view.data() : view();
}

void ZNTTableViewController::buildUi() {
    m_view = new ZNTControlledView;
    m_view->setObjectName(QStringLiteral("tablePage"));
    m_view->setViewController(this);
    m_pageLayout = new QVBoxLayout(m_view);
    m_pageLayout->setContentsMargins(0, 0, 0, 0);
    m_pageLayout->setSpacing(0);
    m_tableView = new ZNTTableGridView;
    m_model = new ZNTTableContentModel(this);
    m_tableView->setModel(m_model);
    m_pageLayout->addWidget(m_tableView, 1);
    m_undoStack = new QUndoStack(this);
    buildAccessoryViews();
    buildSidebar();
    buildCommands();
    buildMenus();
    updateEditability();
}

void ZNTTableViewController::buildAccessoryViews() {
    m_accessoryView = new ZNTBottomBarView;
    m_accessoryView->setObjectName(QStringLiteral("tableAccessoryView"));
    m_switcher = new ZNTTerminalSegmentedControl(ZNTTerminalSegmentedControl::Tracking::SelectOne);
    m_switcher->setObjectName(QStringLiteral("structureContentsSwitcher"));
    m_switcher->addSegment(QStringLiteral("Contents"), QIcon(), QStringLiteral("The table's rows"));
    m_switcher->addSegment(QStringLiteral("Structure"), QIcon(), QStringLiteral("The table's columns and constraints"));
    m_switcher->setSelected(0, true);
    m_progressIndicator = new ZNTAnimatingIndicator;
    m_progressIndicator->stopAnimation();
    m_statusLabel = statusLabel();
    m_statusLabel->setObjectName(QStringLiteral("statusText"));
    m_pager = makePager(QStringLiteral("pager"));
    auto *bar = new QHBoxLayout(m_accessoryView);
    bar->setContentsMargins(8, 4, 8, 3);
    bar->setSpacing(8);
    bar->addWidget(m_switcher);
    bar->addWidget(m_progressIndicator);
    bar->addWidget(m_statusLabel, 1);
    bar->addWidget(m_pager);

    m_smallAccessoryView = new ZNTBottomBarView;
    m_smallAccessoryView->setObjectName(QStringLiteral("tableSmallAccessoryView"));
    m_smallStatusLabel = statusLabel();
    m_smallPager = makePager(QStringLiteral("smallPager"));
    auto *small = new QHBoxLayout(m_smallAccessoryView);
    small->setContentsMargins(6, 3, 6, 2);
    small->addWidget(m_smallStatusLabel, 1);
    small->addWidget(m_smallPager);

    m_pageNumberPopover = new ZNTPopover(m_view);
    auto *form = new QWidget;
    auto *formLayout = new QHBoxLayout(form);
    formLayout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(QStringLiteral("&Page:"));
    m_pageNumberTextField = new QLineEdit;
    m_pageNumberTextField->setObjectName(QStringLiteral("pageNumberTextField"));
    m_pageNumberTextField->setMaxLength(25);
    m_pageNumberTextField->setMinimumWidth(90);
    label->setBuddy(m_pageNumberTextField);
    auto *go = new QPushButton(QStringLiteral("&Go"));
    formLayout->addWidget(label);
    formLayout->addWidget(m_pageNumberTextField);
    formLayout->addWidget(go);
    m_pageNumberPopover->setContentView(form);
    connect(m_pageNumberTextField, &QLineEdit::returnPressed, this, [this] { goToPageFromPopover(); });
    connect(go, &QPushButton::clicked, this, [this] { goToPageFromPopover(); });
}

void ZNTTableViewController::buildSidebar() {
    m_rightSidebarView = new QWidget;
    m_rightSidebarView->setObjectName(QStringLiteral("tableDetailView"));
    auto *layout = new QVBoxLayout(m_rightSidebarView);
    layout->setContentsMargins(0, 0, 0, 0);
    m_sidebarPlaceholder = new QLabel(QStringLiteral("No row selected."));
    m_sidebarPlaceholder->setObjectName(QStringLiteral("rightSidebarViewPlaceholderText"));
    m_sidebarPlaceholder->setAlignment(Qt::AlignCenter);
    m_sidebarPlaceholder->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_sidebarPlaceholder);
}

void ZNTTableViewController::buildCommands() {
    auto make = [this](const QString &title, CommandTag tag, const QKeySequence &key) {
        auto *action = new QAction(title, this);
        action->setData(QVariant::fromValue(int(tag)));
        action->setShortcut(key);
        // The keys act while the focus is in the page; the menu anywhere.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_view->addAction(action);
        return action;
    };
    QAction *copyAction = make(QStringLiteral("&Copy"), CommandTag::Copy, QKeySequence::Copy);
    connect(copyAction, &QAction::triggered, this, [this] { copy(); });
    auto *special = new QAction(QStringLiteral("Copy &Special"), this);
    special->setData(QVariant::fromValue(int(CommandTag::CopySpecial)));
    m_copySpecialMenu = new QMenu(m_view);
    const QStringList forms = {QStringLiteral("&Tab-Separated Text"), QStringLiteral("&CSV"),
                               QStringLiteral("CSV with &Header"), QStringLiteral("&INSERT Statements")};
    for (int mode = 0; mode < forms.size(); ++mode) {
        QAction *form = m_copySpecialMenu->addAction(forms[mode]);
        form->setData(QVariant::fromValue(int(CommandTag::CopySpecial)));
        form->setProperty("copyMode", mode);
        connect(form, &QAction::triggered, this, [this, mode] { copySpecial(mode); });
    }
    special->setMenu(m_copySpecialMenu);
    QAction *add = make(QStringLiteral("&Add Row"), CommandTag::AddRow, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    // A new row needs no selection: the key works wherever the menu item
    // does, also while the navigation sidebar or the detail sidebar has it.
    add->setShortcutContext(Qt::WindowShortcut);
    connect(add, &QAction::triggered, this, [this] { newRow(); });
    QAction *dup = make(QStringLiteral("Dup&licate Row"), CommandTag::Duplicate, QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(dup, &QAction::triggered, this, [this] { duplicate(); });
    QAction *del = make(QStringLiteral("&Delete Row"), CommandTag::Delete, QKeySequence::Delete);
    connect(del, &QAction::triggered, this, [this] { deleteRows(); });
    m_editActions = {copyAction, special, nullptr, add, dup, del};
    // Keys its editors pass on: the save bar's letters before it shows.
    m_view->installEventFilter(this);
    m_rightSidebarView->installEventFilter(this);
}

void ZNTTableViewController::connectActions() {
    connectGrid();
    connect(m_pager, &ZNTTerminalSegmentedControl::segmentClicked, this,
            [this](int segment) { performPagerOperation(segment, m_pager); });
    connect(m_smallPager, &ZNTTerminalSegmentedControl::segmentClicked, this,
            [this](int segment) { performPagerOperation(segment, m_smallPager); });
    connect(m_switcher, &ZNTTerminalSegmentedControl::segmentClicked, this, [this](int segment) {
        if (segment == 1)
            toggleStructureAndContents(m_switcher);
    });
    connect(m_undoStack, &QUndoStack::indexChanged, this, [this] { emit validationRequested(); });
}

// --- Capabilities -----------------------------------------------------------------

QWidget *ZNTTableViewController::accessoryView() {
    pageView();
    return m_accessoryView;
}

QWidget *ZNTTableViewController::smallAccessoryView() {
    pageView();
    return m_smallAccessoryView;
}

QWidget *ZNTTableViewController::rightSidebarView() {
    pageView();
    return m_rightSidebarView;
}

bool ZNTTableViewController::makeFirstResponder() {
    pageView();
    if (!m_tableView->window()->isVisible() && !m_tableView->isVisibleTo(m_tableView->window()))
        return false;
    m_tableView->setFocus(Qt::OtherFocusReason);
    return true;
}

QUndoStack *ZNTTableViewController::customUndoManager() {
    pageView();
    return m_isBusy ? nullptr : m_undoStack;
}

QList<QAction *> ZNTTableViewController::editMenuActions() {
    pageView();
    return m_editActions;
}

void ZNTTableViewController::setReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    if (m_model)
        updateEditability();
    emit validationRequested();
}

void ZNTTableViewController::setDoubleDelegate(ZNTTableViewControllerDoubleDelegate *delegate) {
    m_doubleDelegate = delegate;
    pageView();
    m_tableView->setDoubleClickEdits(delegate == nullptr);
}

void ZNTTableViewController::updateEditability() {
    m_model->setEditable(!m_readOnly && !m_isBusy);
}

void ZNTTableViewController::setStatusText(const QString &text) {
    if (text == m_statusText)
        return;
    m_statusText = text;
    m_statusLabel->setText(text);
    m_smallStatusLabel->setText(text);
    emit statusTextChanged(text);
}

void ZNTTableViewController::setBusy(bool busy) {
    if (busy == m_isBusy)
        return;
    m_isBusy = busy;
    updateEditability();
    if (m_saveBar)
        m_saveBar->setBusy(busy);
    if (m_sidebarRowViewController)
        m_sidebarRowViewController->setDisableEditing(busy);
    emit busyChanged(busy);
    emit validationRequested();
}

void ZNTTableViewController::exportContents(QObject *) {
    const auto metadata = loadedMetadata();
    if (!exporter() || !metadata) {
        beep();
        return;
    }
    auto query = m_table->queryWithOffset(0, 0, m_orderColumn, m_orderAscending, currentFilters());
    const QString name = m_filterState ? QStringLiteral("%1 (filtered)").arg(m_table->name()) : m_table->name();
    exporter()(pageView()->window(), query, m_table->database()->connection(), name);
}
