#include "ZNTDatabaseViewController.h"

#include "CSVExportManager.h"
#include "ZNTDatabaseTreeModel.h"
#include "engine/PGError.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "model/ZNTVariousObjectsQuery.h"
#include "platform/ProgramError.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/IconView.h"
#include "uikit/ImageAndTextCell.h"
#include "uikit/TableViewAdditions.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTBottomBarView.h"
#include "uikit/ZNTControlledView.h"
#include "window/ZNTActionRoute.h"
#include "window/ZNTObjectCommands.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <optional>

namespace {
using Command = ZNTDatabaseOverview::Command;

// The context menu, in order; none: a separator.
const std::optional<Command> kMenu[] = {
    Command::Open,
    Command::OpenInNewWindow,
    Command::OpenStructure,
    std::nullopt,
    Command::Analyze,
    Command::Vacuum,
    Command::Reindex,
    Command::Cluster,
    Command::RefreshMaterializedView,
    Command::Truncate,
    std::nullopt,
    Command::Drop,
    Command::Export,
    std::nullopt,
    Command::NewTable,
    Command::NewView,
    Command::NewMaterializedView,
};

// Widths of the list's columns after the name, which takes the rest.
const int kColumnWidths[] = {0, 130, 130, 90, 80, 80};

bool altHeld() {
    return QGuiApplication::keyboardModifiers() & Qt::AltModifier;
}
} // namespace

ZNTDatabaseViewController::ZNTDatabaseViewController(std::shared_ptr<ZNTDatabase> database, QObject *parent)
    : ZNTContentController(parent), m_database(std::move(database)),
      m_model(new ZNTDatabaseTreeModel(m_database, this)) {
    m_relationsObserver = NotificationCenter::defaultCenter().observe(
        ZNTDatabase::RelationListChangedNotification, nullptr, [this](const Notification &n) {
            // Else the old name stays listed, and opening it shows a relation that is gone.
            if (const auto database = n.objectAs<ZNTDatabase>(); database && database->isEqual(*m_database))
                performReload();
        });
    performReload();
}

ZNTDatabaseViewController::~ZNTDatabaseViewController() {
    m_relationsObserver.stopObserving();
    m_queryObservers.clear();
    if (m_objectsQuery)
        m_objectsQuery->cancel();  // nobody is left to show it
    delete m_accessoryView.data(); // the window only lends it a place
}

ZNTContentController *ZNTDatabaseViewController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    auto database = std::dynamic_pointer_cast<ZNTDatabase>(item);
    return database ? new ZNTDatabaseViewController(database) : nullptr;
}

// --- Widgets -------------------------------------------------------------------------

QWidget *ZNTDatabaseViewController::makeView() {
    auto *page = new ZNTControlledView;
    page->setViewController(this);
    buildUi(page);
    buildAccessory();
    buildMenu(page);
    connectActions();
    showPresentation(Presentation::Icons);
    syncIndicator();
    return page;
}

void ZNTDatabaseViewController::buildUi(QWidget *page) {
    page->setObjectName(QStringLiteral("databasePage"));
    m_iconView = new IconView;
    m_iconView->setObjectName(QStringLiteral("relationGrid"));
    m_iconView->setAccessibleName(QStringLiteral("Relations"));
    m_iconView->setModel(m_model);
    // "public" is open from the start; the other schemas when the user opens them.
    m_iconView->setExpanded(ZNTDatabaseTreeModel::identity(std::make_shared<ZNTSchema>("public", m_database)), true);
    m_iconScroll = new QScrollArea;
    m_iconScroll->setWidget(m_iconView);
    m_iconScroll->setWidgetResizable(true);
    m_iconScroll->setFrameShape(QFrame::NoFrame);
    m_iconScroll->setFocusProxy(m_iconView);
    buildList();
    m_stack = new QStackedWidget;
    m_stack->addWidget(m_iconScroll);
    m_stack->addWidget(m_outlineView);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
}

void ZNTDatabaseViewController::buildList() {
    m_outlineView = new QTreeView;
    m_outlineView->setObjectName(QStringLiteral("relationList"));
    m_outlineView->setAccessibleName(QStringLiteral("Relations"));
    m_outlineView->setModel(m_model);
    m_outlineView->setItemDelegateForColumn(ZNTDatabaseTreeModel::Name, new ImageAndTextCell(m_outlineView));
    m_outlineView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_outlineView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_outlineView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_outlineView->setUniformRowHeights(true);
    m_outlineView->setAllColumnsShowFocus(true);
    m_outlineView->setIconSize(QSize(16, 16));
    m_outlineView->setFrameShape(QFrame::NoFrame);
    m_outlineView->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = m_outlineView->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(ZNTDatabaseTreeModel::Name, QHeaderView::Stretch);
    for (int column = ZNTDatabaseTreeModel::Schema; column < ZNTDatabaseTreeModel::ColumnCount; ++column)
        header->resizeSection(column, kColumnWidths[column]);
}

void ZNTDatabaseViewController::buildAccessory() {
    auto *bar = new ZNTBottomBarView;
    bar->setObjectName(QStringLiteral("databasePageBar"));
    m_viewModeControl = new ZNTTerminalSegmentedControl(ZNTTerminalSegmentedControl::Tracking::SelectOne);
    m_viewModeControl->addSegment(QStringLiteral("Icons"), {}, QStringLiteral("Show the relations as icons"));
    m_viewModeControl->addSegment(QStringLiteral("List"), {}, QStringLiteral("Show the relations as a list"));
    m_progressIndicator = new ZNTAnimatingIndicator;
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->addWidget(m_viewModeControl);
    layout->addStretch(1);
    layout->addWidget(m_progressIndicator);
    m_accessoryView = bar;
}

void ZNTDatabaseViewController::buildMenu(QWidget *page) {
    m_menu = new QMenu(page);
    for (const std::optional<Command> &entry : kMenu) {
        if (!entry) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(QString::fromUtf8(ZNTDatabaseOverview::title(*entry)));
        m_menuActions[*entry] = action;
        connect(action, &QAction::triggered, this, [this, command = *entry] { performCommand(command); });
    }
    m_iconView->setMenu(m_menu);
}

void ZNTDatabaseViewController::connectActions() {
    connect(m_viewModeControl, &ZNTTerminalSegmentedControl::segmentClicked, this,
            [this](int segment) { setPresentation(segment == 0 ? Presentation::Icons : Presentation::List); });
    connect(m_iconView, &IconView::doubleAction, this, &ZNTDatabaseViewController::openFromGrid);
    connect(m_outlineView, &QTreeView::activated, this, &ZNTDatabaseViewController::openFromList);
    connect(m_outlineView, &QWidget::customContextMenuRequested, this, &ZNTDatabaseViewController::showListMenu);
    // What the window's Export acts on follows the selection.
    connect(m_iconView, &IconView::selectionChanged, this, &ZNTContentController::validationRequested);
    connect(m_outlineView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ZNTContentController::validationRequested);
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        for (const auto &[command, action] : m_menuActions)
            action->setEnabled(validateCommand(command));
    });
    // The clicked rows count while the menu and the command it runs last.
    connect(m_menu, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, this, [this] { setClickedRow({}); }); });
}

IconView *ZNTDatabaseViewController::iconView() {
    view();
    return m_iconView;
}

QTreeView *ZNTDatabaseViewController::outlineView() {
    view();
    return m_outlineView;
}

ZNTTerminalSegmentedControl *ZNTDatabaseViewController::viewModeControl() {
    view();
    return m_viewModeControl;
}

ZNTAnimatingIndicator *ZNTDatabaseViewController::progressIndicator() {
    view();
    return m_progressIndicator;
}

QMenu *ZNTDatabaseViewController::contextMenu() {
    view();
    return m_menu;
}

QAction *ZNTDatabaseViewController::menuAction(Command command) {
    view();
    return m_menuActions.at(command);
}

QWidget *ZNTDatabaseViewController::accessoryView() {
    view();
    return m_accessoryView;
}

ZNTDatabaseViewController::Presentation ZNTDatabaseViewController::presentation() {
    view();
    return m_stack->currentWidget() == m_outlineView ? Presentation::List : Presentation::Icons;
}

void ZNTDatabaseViewController::setPresentation(Presentation presentation) {
    view();
    showPresentation(presentation);
    if (view()->isVisible())
        shownPresentation()->setFocus(Qt::OtherFocusReason);
}

void ZNTDatabaseViewController::showPresentation(Presentation presentation) {
    const bool list = presentation == Presentation::List;
    QWidget *shown = list ? static_cast<QWidget *>(m_outlineView) : m_iconView;
    m_stack->setCurrentWidget(list ? static_cast<QWidget *>(m_outlineView) : m_iconScroll);
    m_viewModeControl->setSelected(list ? 1 : 0, true);
    m_stack->parentWidget()->setFocusProxy(shown);
    emit validationRequested();
}

QWidget *ZNTDatabaseViewController::shownPresentation() {
    return presentation() == Presentation::List ? static_cast<QWidget *>(m_outlineView) : m_iconView;
}

bool ZNTDatabaseViewController::makeFirstResponder() {
    QWidget *shown = shownPresentation();
    shown->setFocus(Qt::OtherFocusReason);
    return shown->window()->focusWidget() == shown;
}

void ZNTDatabaseViewController::syncIndicator() {
    if (!m_progressIndicator)
        return;
    if (!m_queryObservers.empty())
        m_progressIndicator->startAnimation();
    else
        m_progressIndicator->stopAnimation();
}

// --- Listing -------------------------------------------------------------------------

void ZNTDatabaseViewController::performReload() {
    requireMainThread("ZNTDatabaseViewController::performReload");
    if (m_objectsQuery) {
        // The tree stays as it is until the new listing's first relations.
        m_queryObservers.clear();
        m_objectsQuery->cancel();
    }
    m_objectsQuery = std::make_shared<ZNTVariousObjectsQuery>(m_database);
    m_handled = 0;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const void *sender = m_objectsQuery.get();
    m_queryObservers.push_back(center.observe(ZNTObjectQuery::NewObjectNotification, sender,
                                              [this](const Notification &) { handleObjects(); }));
    m_queryObservers.push_back(
        center.observe(ZNTObjectQuery::DoneNotification, sender, [this](const Notification &n) { queryDone(n); }));
    syncIndicator();
    m_objectsQuery->executeInBackground();
}

void ZNTDatabaseViewController::handleObjects() {
    const ZNTObjectList objects = m_objectsQuery->objects().value_or(ZNTObjectList());
    if (objects.size() <= m_handled)
        return;
    if (m_handled == 0)
        m_model->replaceObjects(objects); // the listing's first relations replace the old tree
    else
        m_model->appendObjects(objects.mid(m_handled));
    m_handled = objects.size();
    if (m_outlineView)
        m_outlineView->expand(m_model->schemaIndex(QStringLiteral("public")));
}

void ZNTDatabaseViewController::queryDone(const Notification &notification) {
    if (notification.object.get() != m_objectsQuery.get())
        return;
    m_queryObservers.clear();
    m_initialQueryDone = true;
    syncIndicator();
    if (ErrorPtr error = m_objectsQuery->error()) {
        QWidget *window = view()->window() != view() ? view()->window() : nullptr;
        Alert *alert = Alert::alertWithError(*error);
        if (PGError::reportsLostConnection(*error))
            alert->setInformativeText(PGError::withReconnectAdvice(alert->informativeText()));
        alert->compatibleBeginSheetModalForWindow(window, nullptr);
        return;
    }
    handleObjects();
    if (m_handled == 0)
        m_model->replaceObjects({}); // a database without relations
}

// --- Commands ------------------------------------------------------------------------

void ZNTDatabaseViewController::setClickedRow(const QModelIndex &row) {
    m_clickedRows.clear();
    if (!row.isValid() || !m_outlineView)
        return;
    for (const QModelIndex &each : ::clickedItems(m_outlineView, row))
        m_clickedRows << QPersistentModelIndex(each);
}

ZNTObjectList ZNTDatabaseViewController::clickedItems() {
    QModelIndexList rows;
    if (presentation() == Presentation::List) {
        for (const QPersistentModelIndex &row : m_clickedRows) {
            if (row.isValid())
                rows << row;
        }
        if (rows.isEmpty())
            rows = selectedItems(m_outlineView);
    } else {
        rows = m_iconView->selectedIndexes();
    }
    ZNTObjectList items;
    for (const QModelIndex &row : rows) {
        if (auto item = m_model->itemForIndex(row))
            items << item;
    }
    return items;
}

void ZNTDatabaseViewController::showListMenu(const QPoint &position) {
    setClickedRow(m_outlineView->indexAt(position));
    m_menu->popup(m_outlineView->viewport()->mapToGlobal(position));
}

bool ZNTDatabaseViewController::validateCommand(Command command) {
    return ZNTDatabaseOverview::isEnabled(command, clickedItems());
}

void ZNTDatabaseViewController::performCommand(Command command) {
    const ZNTObjectList items = clickedItems();
    QWidget *window = view()->window();
    if (auto maintenance = ZNTDatabaseOverview::maintenanceOf(command)) {
        ZNTObjectCommands::perform(*maintenance, items, window);
        return;
    }
    const auto single = items.size() == 1 ? items.first() : nullptr;
    switch (command) {
    case Command::Open:
        if (const auto item = ZNTDatabaseOverview::itemToOpen(single, false))
            sendAction(shownPresentation(), ZNTActionName::navigateToItem, item);
        return;
    case Command::OpenInNewWindow:
        if (const auto item = ZNTDatabaseOverview::itemToOpen(single, false))
            ZNTObjectCommands::openInNewWindow(item);
        return;
    case Command::OpenStructure:
        return openStructure(items);
    case Command::Drop:
        return ZNTObjectCommands::drop(items, window, this, [this] { performReload(); });
    case Command::Export:
        return exportContents(menuAction(command));
    case Command::NewTable:
    case Command::NewView:
    case Command::NewMaterializedView: {
        const auto type = command == Command::NewTable  ? ZNTTable::ZNTTableTypeTable
                          : command == Command::NewView ? ZNTTable::ZNTTableTypeView
                                                        : ZNTTable::ZNTTableTypeMaterializedView;
        if (!ZNTObjectCommands::newRelation(shownPresentation(), type, m_database,
                                            ZNTDatabaseOverview::schemaForNewRelation(items)))
            beep();
        return;
    }
    default:
        return;
    }
}

void ZNTDatabaseViewController::openStructure(const ZNTObjectList &items) {
    const auto table = items.size() == 1 ? std::dynamic_pointer_cast<ZNTTable>(items.first()) : nullptr;
    const auto structure = table ? ZNTDatabaseOverview::itemToOpen(table, true) : nullptr;
    if (!structure || !sendAction(shownPresentation(), ZNTActionName::navigateToItem, structure))
        beep();
}

void ZNTDatabaseViewController::open(const std::shared_ptr<ZNTObject> &item, QWidget *from) {
    const auto target = ZNTDatabaseOverview::itemToOpen(item, altHeld());
    if (!target || !sendAction(from, ZNTActionName::navigateToItem, target))
        beep();
}

void ZNTDatabaseViewController::openFromGrid() {
    const QModelIndexList selected = iconView()->selectedIndexes();
    if (selected.size() != 1) {
        beep();
        return;
    }
    open(m_model->itemForIndex(selected.first()), m_iconView);
}

void ZNTDatabaseViewController::openFromList(const QModelIndex &row) {
    const auto item = m_model->itemForIndex(row.sibling(row.row(), 0));
    // A schema row opens and closes in the list itself.
    if (item && item->objectKind() == ZNTObjectKind::Schema)
        return;
    open(item, outlineView());
}

// --- The window's commands ---------------------------------------------------------------

// The clicked relations as CSV: one file, or a folder of them.
void ZNTDatabaseViewController::exportContents(QObject *) {
    const ZNTObjectList items = clickedItems();
    if (!validateCommand(Command::Export)) {
        beep();
        return;
    }
    auto exporter = CSVExportManager::withTables(items);
    exporter->setConnection(m_database->connection());
    exporter->beginModalForWindow(view()->window());
}

bool ZNTDatabaseViewController::validateMenuItem(ZNTWindowCommand command, QAction *) {
    if (command == ZNTWindowCommand::Export)
        return validateCommand(Command::Export);
    return true;
}
