#include "ZNTSidebarController.h"

#include "ZNTActionRoute.h"
#include "ZNTObjectCommands.h"
#include "ZNTSidebarOutlineView.h"
#include "ZNTSidebarTreeModel.h"
#include "ZNTTablesExporter.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTRow.h"
#include "model/ZNTSchema.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "platform/ProgramError.h"
#include "uikit/Beep.h"
#include "uikit/TableViewAdditions.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QVBoxLayout>
#include <optional>
#include <set>

namespace {
using Command = ZNTSidebarController::Command;

struct MenuEntry {
    std::optional<Command> command; // none: a separator
    const char *title;
};

// The context menu, in order.
const MenuEntry kMenu[] = {
    {Command::OpenSidebarItem, "Open"},
    {Command::OpenSidebarItemInNewWindow, "Open in New Window"},
    {Command::OpenSidebarItemSchema, "Open Structure"},
    {Command::OpenSidebarItemSchemaInNewWindow, "Open Structure in New Window"},
    {std::nullopt, ""},
    {Command::CopySidebarItemName, "Copy Name"},
    {std::nullopt, ""},
    {Command::AnalyzeSidebarItem, "Analyze\u2026"},
    {Command::VacuumSidebarItem, "Vacuum\u2026"},
    {Command::ReindexSidebarItem, "Reindex\u2026"},
    {Command::ClusterSidebarItem, "Cluster\u2026"},
    {Command::RefreshMaterializedViewSidebarItem, "Refresh Materialized View\u2026"},
    {Command::TruncateSidebarItem, "Truncate\u2026"},
    {std::nullopt, ""},
    {Command::DeleteSidebarItem, "Drop\u2026"},
    {Command::ExportSidebarItem, "Export\u2026"},
    {std::nullopt, ""},
    {Command::NewTable, "New Table"},
    {Command::NewView, "New View"},
    {Command::NewMaterializedView, "New Materialized View"},
};

// The maintenance action a command runs; none for another command.
std::optional<ZNTObjectCommands::Maintenance> maintenanceOf(Command command) {
    using M = ZNTObjectCommands::Maintenance;
    switch (command) {
    case Command::AnalyzeSidebarItem:
        return M::Analyze;
    case Command::VacuumSidebarItem:
        return M::Vacuum;
    case Command::ReindexSidebarItem:
        return M::Reindex;
    case Command::ClusterSidebarItem:
        return M::Cluster;
    case Command::RefreshMaterializedViewSidebarItem:
        return M::RefreshMaterializedView;
    case Command::TruncateSidebarItem:
        return M::Truncate;
    default:
        return std::nullopt;
    }
}

bool isRelation(const std::shared_ptr<ZNTObject> &item) {
    return std::dynamic_pointer_cast<ZNTTable>(item) != nullptr;
}
} // namespace

ZNTSidebarController::ZNTSidebarController(QWidget *parent) : QWidget(parent) {
    buildUi();
    buildMenu();
    connectActions();
}

ZNTSidebarController::~ZNTSidebarController() {
    m_outlineView->setModel(nullptr);
}

void ZNTSidebarController::buildUi() {
    setObjectName(QStringLiteral("sidebar"));
    m_outlineView = new ZNTSidebarOutlineView(this);
    m_model = new ZNTSidebarTreeModel(this);
    m_outlineView->setModel(m_model);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_outlineView);
    setFocusProxy(m_outlineView);
}

void ZNTSidebarController::buildMenu() {
    m_menu = new QMenu(this);
    for (const MenuEntry &entry : kMenu) {
        if (!entry.command) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(QString::fromUtf8(entry.title));
        m_menuActions[*entry.command] = action;
        connect(action, &QAction::triggered, this, [this, command = *entry.command] { performMenuAction(command); });
    }
}

void ZNTSidebarController::connectActions() {
    connect(m_menu, &QMenu::aboutToHide, this, [this] { m_outlineView->setMarkedRows({}); });
    connect(m_outlineView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ZNTSidebarController::selectionDidChange);
    connect(m_outlineView, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        m_model->loadChildrenIfNeeded(index);
        selectRowOfSelectedItemWithScrolling(false);
    });
    connect(m_model, &ZNTSidebarTreeModel::levelLoaded, this, [this] {
        if (!m_outlineView->selectionModel()->hasSelection())
            selectRowOfSelectedItemWithScrolling(false);
    });
    connect(m_outlineView, &ZNTSidebarOutlineView::contextMenuRequested, this, &ZNTSidebarController::showContextMenu);
    connect(m_outlineView, &QAbstractItemView::clicked, this, &ZNTSidebarController::enterTypingPage);
    connect(m_outlineView, &QAbstractItemView::activated, this, &ZNTSidebarController::enterTypingPage);
    m_relationsObserver =
        NotificationCenter::defaultCenter().observe(ZNTDatabase::RelationListChangedNotification, nullptr,
                                                    [this](const Notification &n) { relationListChanged(n); });
}

// The SQL Query page and the terminal are there to be typed in: a click on
// their row, or Return on it, takes the keys to their text, as Ctrl+T does.
// Moving through the rows with the arrows leaves the focus here.
void ZNTSidebarController::enterTypingPage(const QModelIndex &row) {
    const std::shared_ptr<ZNTObject> item = m_model->itemForIndex(row);
    if (!item || !m_selectedItem || !item->isEqual(*m_selectedItem))
        return; // not shown (a page with changes may have kept the window)
    if (item->objectKind() == ZNTObjectKind::QueryObject || item->objectKind() == ZNTObjectKind::Terminal)
        sendAction(m_outlineView, ZNTActionName::makeMainViewFirstResponder);
}

std::shared_ptr<ZNTObject> ZNTSidebarController::rootItem() const {
    return m_model->rootItem();
}

void ZNTSidebarController::setRootItem(const std::shared_ptr<ZNTObject> &root) {
    m_model->setRootItem(root);
}

void ZNTSidebarController::performReload() {
    m_model->performReload();
}

// The old name would stay listed, and choosing it show a relation that is gone.
void ZNTSidebarController::relationListChanged(const Notification &notification) {
    const auto database = notification.objectAs<ZNTDatabase>();
    const auto root = rootItem();
    if (!database || !root)
        return;
    const auto server = database->server();
    if (root->isEqual(*database) || (server && root->isEqual(*server)))
        performReload();
}

void ZNTSidebarController::selectItem(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTSidebarController::selectItem");
    std::shared_ptr<ZNTObject> shown = item;
    if (shown && shown->objectKind() == ZNTObjectKind::Row)
        shown = shown->parent();
    if (auto structure = std::dynamic_pointer_cast<ZNTTableSchema>(shown))
        shown = structure->table();
    m_selectedItem = shown;
    selectRowOfSelectedItemWithScrolling(true);
}

void ZNTSidebarController::selectRowOfSelectedItemWithScrolling(bool scroll) {
    QModelIndex row = m_selectedItem ? m_model->indexForItem(*m_selectedItem) : QModelIndex();
    // A row inside a collapsed level is not on screen: it has no row to highlight.
    for (QModelIndex up = row.parent(); row.isValid() && up.isValid(); up = up.parent()) {
        if (!m_outlineView->isExpanded(up))
            row = QModelIndex();
    }
    QItemSelectionModel *selection = m_outlineView->selectionModel();
    if (!row.isValid()) {
        selection->clearSelection();
        return;
    }
    selection->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (scroll)
        m_outlineView->scrollTo(row);
}

void ZNTSidebarController::selectionDidChange() {
    const QModelIndexList rows = selectedItems(m_outlineView);
    if (rows.size() != 1)
        return;
    std::shared_ptr<ZNTObject> item = m_model->itemForIndex(rows.first());
    if (!item || (m_selectedItem && item->isEqual(*m_selectedItem)))
        return; // the window shows it already
    if (item->objectKind() == ZNTObjectKind::Schema)
        return;
    if (auto table = std::dynamic_pointer_cast<ZNTTable>(item);
        table && (QGuiApplication::keyboardModifiers() & Qt::AltModifier))
        item = std::make_shared<ZNTTableSchema>(table);
    sendAction(m_outlineView, ZNTActionName::navigateToItem, item);
}

double ZNTSidebarController::preferredWidth() const {
    std::vector<QModelIndex> shown;
    for (QModelIndex row = m_model->index(0, 0); row.isValid(); row = m_outlineView->indexBelow(row))
        shown.push_back(row);
    if (shown.empty())
        return 170.0;
    std::set<size_t> measured;
    if (shown.size() <= 99) {
        for (size_t i = 0; i < shown.size(); ++i)
            measured.insert(i);
    } else {
        // Many rows: those on screen and a sample of the rest.
        const QRect visible = m_outlineView->viewport()->rect();
        for (size_t i = 0; i < shown.size(); ++i) {
            if (m_outlineView->visualRect(shown[i]).intersects(visible))
                measured.insert(i);
        }
        for (int n = 0; n < 30; ++n)
            measured.insert(size_t(QRandomGenerator::global()->bounded(quint32(shown.size()))));
    }
    const int chrome = m_outlineView->width() - m_outlineView->viewport()->width();
    QStyleOptionViewItem option;
    option.initFrom(m_outlineView);
    option.decorationSize = m_outlineView->iconSize();
    option.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    double widest = 0.0;
    for (size_t i : measured) {
        const QModelIndex &row = shown[i];
        const int indent = m_outlineView->visualRect(row).x() + m_outlineView->horizontalScrollBar()->value();
        const int text = m_outlineView->itemDelegate(row)->sizeHint(option, row).width();
        widest = std::max(widest, double(indent + text + chrome));
    }
    return widest;
}

void ZNTSidebarController::showContextMenu(const QModelIndex &clicked, const QPoint &globalPos) {
    setClickedRow(clicked);
    for (const auto &[command, action] : m_menuActions)
        action->setEnabled(validateMenuItem(command));
    m_outlineView->setMarkedRows(m_clicked);
    m_menu->popup(globalPos);
}

void ZNTSidebarController::setClickedRow(const QModelIndex &clicked) {
    m_clicked.clear();
    for (const QModelIndex &row : ::clickedItems(m_outlineView, clicked))
        m_clicked.append(QPersistentModelIndex(row));
}

ZNTObjectList ZNTSidebarController::clickedItems() const {
    ZNTObjectList items;
    for (const QPersistentModelIndex &row : m_clicked) {
        if (auto item = m_model->itemForIndex(row))
            items.append(item);
    }
    return items;
}

QAction *ZNTSidebarController::menuAction(Command command) const {
    return m_menuActions.at(command);
}

// Loading and error rows count: a menu opened on one is not for items.
bool ZNTSidebarController::clickedRowsAreItems() const {
    return !m_clicked.isEmpty() && clickedItems().size() == m_clicked.size();
}

std::shared_ptr<ZNTObject> ZNTSidebarController::singleClickedItem() const {
    return m_clicked.size() == 1 && clickedRowsAreItems() ? clickedItems().first() : nullptr;
}

std::shared_ptr<ZNTDatabase> ZNTSidebarController::clickedDatabase() const {
    if (auto root = std::dynamic_pointer_cast<ZNTDatabase>(rootItem()))
        return root;
    const ZNTObjectList items = clickedItems();
    for (auto item = items.isEmpty() ? nullptr : items.first(); item; item = item->parent()) {
        if (auto database = std::dynamic_pointer_cast<ZNTDatabase>(item))
            return database;
    }
    return nullptr;
}

// The schema a new relation goes into: the clicked schema, or the clicked
// relation's own; "public" otherwise.
QString ZNTSidebarController::clickedSchemaName() const {
    const ZNTObjectList items = clickedItems();
    if (!items.isEmpty()) {
        if (auto table = std::dynamic_pointer_cast<ZNTTable>(items.first()))
            return table->schemaName();
        for (auto item = items.first(); item; item = item->parent()) {
            if (auto schema = std::dynamic_pointer_cast<ZNTSchema>(item))
                return schema->name();
        }
    }
    return QStringLiteral("public");
}

bool ZNTSidebarController::validateMenuItem(Command command) const {
    if (auto maintenance = maintenanceOf(command)) // the action itself decides what it can act upon
        return ZNTObjectCommands::canPerform(*maintenance, clickedRowsAreItems() ? clickedItems() : ZNTObjectList());
    const auto single = singleClickedItem();
    switch (command) {
    case Command::OpenSidebarItem:
    case Command::OpenSidebarItemInNewWindow:
        return single && single->objectKind() != ZNTObjectKind::Schema;
    case Command::OpenSidebarItemSchema:
    case Command::OpenSidebarItemSchemaInNewWindow:
        return isRelation(single);
    case Command::CopySidebarItemName:
        return single && single->objectKind() != ZNTObjectKind::QueryObject;
    case Command::DeleteSidebarItem:
        return clickedRowsAreItems() && ZNTObjectCommands::areRelations(clickedItems());
    case Command::ExportSidebarItem:
        return ZNTTablesExporter::isInstalled() && clickedRowsAreItems() &&
               ZNTObjectCommands::areRelations(clickedItems());
    case Command::NewTable:
    case Command::NewView:
    case Command::NewMaterializedView:
        return clickedDatabase() != nullptr;
    default:
        return true;
    }
}

void ZNTSidebarController::performMenuAction(Command command) {
    if (auto maintenance = maintenanceOf(command)) {
        ZNTObjectCommands::perform(*maintenance, clickedItems(), window());
        return;
    }
    switch (command) {
    case Command::DeleteSidebarItem:
        return deleteSidebarItem();
    case Command::ExportSidebarItem:
        ZNTTablesExporter::exportRelations(window(), clickedItems());
        return;
    case Command::OpenSidebarItem:
    case Command::OpenSidebarItemInNewWindow:
        return openSidebarItem(command == Command::OpenSidebarItemInNewWindow);
    case Command::OpenSidebarItemSchema:
    case Command::OpenSidebarItemSchemaInNewWindow:
        return openSidebarItemSchema(command == Command::OpenSidebarItemSchemaInNewWindow);
    case Command::CopySidebarItemName:
        return copySidebarItemName();
    case Command::NewTable:
        return newRelation(ZNTTable::ZNTTableTypeTable);
    case Command::NewView:
        return newRelation(ZNTTable::ZNTTableTypeView);
    case Command::NewMaterializedView:
        return newRelation(ZNTTable::ZNTTableTypeMaterializedView);
    default:
        return; // the maintenance commands above
    }
}

void ZNTSidebarController::openSidebarItem(bool inNewWindow) {
    const auto item = singleClickedItem();
    if (!item || item->objectKind() == ZNTObjectKind::Schema) {
        if (!inNewWindow)
            beep();
        return;
    }
    if (!inNewWindow) {
        sendAction(m_outlineView, ZNTActionName::navigateToItem, item);
    } else {
        ZNTObjectCommands::openInNewWindow(item);
    }
}

void ZNTSidebarController::openSidebarItemSchema(bool inNewWindow) {
    const auto table = std::dynamic_pointer_cast<ZNTTable>(singleClickedItem());
    if (!table) {
        if (!inNewWindow)
            beep();
        return;
    }
    auto structure = std::make_shared<ZNTTableSchema>(table);
    if (!inNewWindow) {
        if (sendAction(m_outlineView, ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(structure)))
            enterChosenPage();
    } else {
        ZNTObjectCommands::openInNewWindow(structure);
    }
}

void ZNTSidebarController::deleteSidebarItem() {
    ZNTObjectCommands::drop(clickedItems(), window(), this, [this] { performReload(); });
}

void ZNTSidebarController::copySidebarItemName() {
    if (const auto item = singleClickedItem())
        QGuiApplication::clipboard()->setText(item->name());
}

void ZNTSidebarController::newRelation(int type) {
    if (!ZNTObjectCommands::newRelation(m_outlineView, ZNTTable::Type(type), clickedDatabase(), clickedSchemaName()))
        beep();
    else
        enterChosenPage();
}

// A page a menu command opened is there to be worked in, as when the database
// page gives the same command: the keys go to it (a new relation's name is
// typed over), not to the rows' type-ahead. Navigation from here is never
// refused, so the page shown is the one chosen.
void ZNTSidebarController::enterChosenPage() {
    sendAction(m_outlineView, ZNTActionName::makeMainViewFirstResponder);
}
