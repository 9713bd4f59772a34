// The table page's commands that read its rows: copying, the enabling and
// titles of its commands, the row and header menus, the save bar's keys while
// the first change is being typed, and the double click of the row picker.
#include "ZNTCopyModes.h"
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTableViewController.h"
#include "model/ZNTRow.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/Beep.h"
#include "uikit/TableViewAdditions.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>

namespace {
// What a row or header menu item does.
enum class RowCommand { CopyRows, CopyCell, AddRow, DuplicateRow, DeleteRows };
enum class HeaderCommand { SortAscending, SortDescending, FilterByColumn, RestoreOrder };

QAction *addItem(QMenu *menu, const QString &title, int command, int mode = 0) {
    QAction *action = menu->addAction(title);
    action->setData(command);
    action->setProperty("copyMode", mode);
    return action;
}
} // namespace

void ZNTTableViewController::buildMenus() {
    buildRowMenu();
    buildHeaderMenu();
}

void ZNTTableViewController::buildRowMenu() {
    m_rowMenu = new QMenu(m_view);
    m_rowMenu->setObjectName(QStringLiteral("rowMenu"));
    addItem(m_rowMenu, QStringLiteral("&Copy Row"), int(RowCommand::CopyRows));
    QMenu *special = m_rowMenu->addMenu(QStringLiteral("Copy &Special"));
    const QStringList forms = {QStringLiteral("&Tab-Separated Text"), QStringLiteral("&CSV"),
                               QStringLiteral("CSV with &Header"), QStringLiteral("&INSERT Statements")};
    for (int mode = 0; mode < forms.size(); ++mode)
        addItem(special, forms[mode], int(RowCommand::CopyRows), mode);
    addItem(m_rowMenu, QStringLiteral("Copy C&ell"), int(RowCommand::CopyCell));
    m_rowMenu->addSeparator();
    addItem(m_rowMenu, QStringLiteral("&Add Row"), int(RowCommand::AddRow));
    addItem(m_rowMenu, QStringLiteral("Dup&licate Row"), int(RowCommand::DuplicateRow));
    addItem(m_rowMenu, QStringLiteral("&Delete Row"), int(RowCommand::DeleteRows));
    connect(m_rowMenu, &QMenu::triggered, this, [this](QAction *action) {
        const int mode = action->property("copyMode").toInt();
        switch (RowCommand(action->data().toInt())) {
        case RowCommand::CopyRows:
            copyClickedRows(clickedRows(), mode);
            break;
        case RowCommand::CopyCell:
            copyClickedCell(m_clickedRow, m_clickedColumn);
            break;
        case RowCommand::AddRow:
            newRow();
            break;
        case RowCommand::DuplicateRow:
            duplicateClickedRow(m_clickedRow);
            break;
        case RowCommand::DeleteRows:
            deleteClickedRows(clickedRows());
            break;
        }
    });
}

void ZNTTableViewController::buildHeaderMenu() {
    m_headerMenu = new QMenu(m_view);
    m_headerMenu->setObjectName(QStringLiteral("headerMenu"));
    addItem(m_headerMenu, QStringLiteral("Sort &Ascending"), int(HeaderCommand::SortAscending))->setCheckable(true);
    addItem(m_headerMenu, QStringLiteral("Sort &Descending"), int(HeaderCommand::SortDescending))->setCheckable(true);
    m_headerMenu->addSeparator();
    addItem(m_headerMenu, QStringLiteral("&Filter by Column"), int(HeaderCommand::FilterByColumn));
    m_headerMenu->addSeparator();
    addItem(m_headerMenu, QStringLiteral("&Restore Default Column Order"), int(HeaderCommand::RestoreOrder));
    connect(m_headerMenu, &QMenu::triggered, this, [this](QAction *action) {
        switch (HeaderCommand(action->data().toInt())) {
        case HeaderCommand::SortAscending:
            sortAscendingByColumn();
            break;
        case HeaderCommand::SortDescending:
            sortDescendingByColumn();
            break;
        case HeaderCommand::FilterByColumn:
            filterByColumn();
            break;
        case HeaderCommand::RestoreOrder:
            restoreDefaultColumnOrder();
            break;
        }
    });
}

// --- copying --------------------------------------------------------------------

QStringList ZNTTableViewController::onScreenColumnNames() const {
    QStringList names;
    QHeaderView *header = m_tableView->header();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical) && m_model->resultColumn(logical) >= 0)
            names << m_model->displayColumns()[logical]->name();
    }
    return names;
}

void ZNTTableViewController::copyRowIndices(const QList<int> &rows, int mode) {
    if (rows.isEmpty()) {
        beep();
        return;
    }
    // Columns in on-screen order, values with the pending edits.
    QList<int> resultColumns;
    for (const QString &name : onScreenColumnNames())
        resultColumns << m_model->resultColumn(m_model->displayColumnNamed(name));
    const ZNTTableEdits &edits = m_model->edits();
    ZNTCopySource source;
    source.columnNames = onScreenColumnNames();
    source.rowCount = rows.size();
    source.valueAt = [&edits, rows, resultColumns](qsizetype row, int column) {
        return edits.effectiveValue(rows[row], resultColumns[column]);
    };
    // INSERT statements run back into this table, or a copy of it, as they
    // stand: the server computes generated columns and keeps identity values
    // only when told to. The rows go by the structure they were read with, as
    // their save does, also after a reload elsewhere purged the cached one.
    if (const auto metadata = pageMetadata()) {
        const ZNTTableMetadata::ServerFilledColumns filled = metadata->serverFilledColumns(source.columnNames);
        source.generatedColumns = filled.generated;
        source.overridingSystemValue = filled.overridingSystemValue;
    }
    // Rows without edits straight from the result's store.
    source.store = edits.store();
    source.storeColumns.assign(resultColumns.begin(), resultColumns.end());
    source.storeRowAt = [&edits, rows](qsizetype row) { return edits.plainStoreRow(rows[row]); };
    // One row of one NULL copies as nothing, which is still a copy.
    QApplication::clipboard()->setText(ZNTCopyText(mode, m_table->name(), source));
}

void ZNTTableViewController::copy() {
    copyRowIndices(m_tableView->selectedRowIndexes(), ZNTCopyModeText);
}

void ZNTTableViewController::copySpecial(int mode) {
    copyRowIndices(m_tableView->selectedRowIndexes(), mode);
}

void ZNTTableViewController::copyClickedRows(const QList<int> &rows, int mode) {
    copyRowIndices(rows, mode);
}

void ZNTTableViewController::copyClickedCell(int row, int column) {
    const int resultColumn = m_model->resultColumn(column);
    if (row < 0 || row >= m_model->rowCount() || column < 0 || resultColumn < 0) {
        beep();
        return;
    }
    const Value value = m_model->edits().effectiveValue(row, resultColumn);
    if (value.kind() == Value::Kind::Bytes) {
        const QImage image = QImage::fromData(value.toBytes());
        if (image.isNull()) {
            beep();
            return;
        }
        QApplication::clipboard()->setImage(image);
        return;
    }
    const KRVTableDataCell::DisplayValue shown = KRVTableDataCell::displayValue(value);
    QApplication::clipboard()->setText(value.isNull()                        ? QString()
                                       : value.kind() == Value::Kind::String ? value.toString()
                                                                             : shown.text);
}

// --- menus ----------------------------------------------------------------------

QList<int> ZNTTableViewController::clickedRows() const {
    return clickedRowIndexes(m_tableView, m_clickedRow);
}

bool ZNTTableViewController::validateMenuItem(ZNTWindowCommand command, QAction *) {
    if (command == ZNTWindowCommand::Export)
        return static_cast<bool>(loadedMetadata()) && hasExporter();
    return true;
}

bool ZNTTableViewController::validateEditMenuAction(QAction *item) {
    if (!item)
        return false;
    const int selected = int(m_tableView->selectedRowIndexes().size());
    switch (CommandTag(item->data().toInt())) {
    case CommandTag::Copy:
    case CommandTag::CopySpecial:
        return selected > 0;
    case CommandTag::AddRow:
        return true;
    case CommandTag::Duplicate:
        return !m_readOnly && selected == 1;
    case CommandTag::Delete:
        item->setText(selected > 1 ? QStringLiteral("&Delete Rows") : QStringLiteral("&Delete Row"));
        return !m_readOnly && selected > 0;
    }
    return true;
}

bool ZNTTableViewController::validateRowMenuItem(QAction *item) {
    const QList<int> rows = clickedRows();
    switch (RowCommand(item->data().toInt())) {
    case RowCommand::CopyRows:
        if (item->property("copyMode").toInt() == 0 && item->parent() == m_rowMenu)
            item->setText(rows.size() == 1 ? QStringLiteral("&Copy Row") : QStringLiteral("&Copy Rows"));
        return !rows.isEmpty();
    case RowCommand::CopyCell:
        return m_clickedRow >= 0;
    case RowCommand::AddRow:
        return true;
    case RowCommand::DuplicateRow:
        return !m_readOnly && rows.size() == 1;
    case RowCommand::DeleteRows:
        item->setText(rows.size() == 1 ? QStringLiteral("&Delete Row") : QStringLiteral("&Delete Rows"));
        return !m_readOnly && !rows.isEmpty();
    }
    return true;
}

QMenu *ZNTTableViewController::rowMenuForRow(int row, int column) {
    pageView();
    m_clickedRow = row;
    m_clickedColumn = column;
    std::function<void(QMenu *)> validate = [&](QMenu *menu) {
        for (QAction *action : menu->actions()) {
            if (action->menu()) {
                validate(action->menu());
                action->setEnabled(!clickedRows().isEmpty());
            } else if (!action->isSeparator()) {
                action->setEnabled(validateRowMenuItem(action));
            }
        }
    };
    validate(m_rowMenu);
    return m_rowMenu;
}

void ZNTTableViewController::showRowMenu(const QPoint &pos) {
    const int row = m_tableView->rowAt(pos.y());
    const int column = m_tableView->columnAt(pos.x());
    rowMenuForRow(row, column)->popup(m_tableView->viewport()->mapToGlobal(pos));
}

void ZNTTableViewController::validateMenuForTableColumn(QMenu *menu, int logicalColumn) {
    const auto column = displayColumnForLogical(logicalColumn);
    const bool sortedHere = column && m_orderColumn && m_orderColumn->name() == column->name();
    QStringList displayNames;
    for (const auto &c : m_model->displayColumns())
        displayNames << c->name();
    QStringList shown;
    for (int visual = 0; visual < m_tableView->header()->count(); ++visual) {
        const int logical = m_tableView->header()->logicalIndex(visual);
        if (logical < displayNames.size())
            shown << displayNames[logical];
    }
    for (QAction *action : menu->actions()) {
        if (action->isSeparator())
            continue;
        switch (HeaderCommand(action->data().toInt())) {
        case HeaderCommand::SortAscending:
            action->setEnabled(column != nullptr);
            action->setChecked(sortedHere && m_orderAscending);
            break;
        case HeaderCommand::SortDescending:
            action->setEnabled(column != nullptr);
            action->setChecked(sortedHere && !m_orderAscending);
            break;
        case HeaderCommand::FilterByColumn:
            action->setEnabled(column != nullptr);
            break;
        case HeaderCommand::RestoreOrder:
            action->setEnabled(shown != displayNames);
            break;
        }
    }
    m_headerMenuTableColumnIdentifier = column ? column->name() : QString();
}

void ZNTTableViewController::showHeaderMenu(const QPoint &pos) {
    const int logical = m_tableView->header()->logicalIndexAt(pos);
    validateMenuForTableColumn(m_headerMenu, logical);
    m_headerMenu->popup(m_tableView->header()->mapToGlobal(pos));
}

void ZNTTableViewController::performDoubleAction(int row) {
    if (!m_doubleDelegate || row < 0 || row >= m_model->rowCount())
        return;
    if (auto picked = rowForValues(m_model->edits().loadedValues(row)))
        m_doubleDelegate->tableViewControllerDidDoubleClickRow(this, picked);
}

// --- the save bar's keys ----------------------------------------------------------

// Alt+S, Alt+D and Alt+P press the save bar's buttons while it shows. The bar
// shows once a change is pending, so while the first one is still in its
// editor (a grid cell, a field of the detail sidebar) the keys are not there
// yet: the editors type nothing with Alt and pass the key on to the page's
// view or its detail sidebar, and here it does what the button would.
bool ZNTTableViewController::eventFilter(QObject *watched, QEvent *event) {
    // Queued: after the window has placed the page (its bars, its sidebar, the focus).
    if (event->type() == QEvent::Show && watched && watched == m_view)
        QMetaObject::invokeMethod(this, &ZNTTableViewController::pageShown, Qt::QueuedConnection);
    if (event->type() == QEvent::KeyPress && watched && (watched == m_view || watched == m_rightSidebarView)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::AltModifier && performSaveBarKey(key->key(), watched == m_rightSidebarView)) {
            event->accept();
            return true;
        }
    }
    return ZNTContentController::eventFilter(watched, event);
}

bool ZNTTableViewController::performSaveBarKey(int key, bool fromSidebar) {
    if (key != Qt::Key_S && key != Qt::Key_D && key != Qt::Key_P)
        return false;
    // The bar's own buttons take the keys while it shows (and none while it saves).
    if ((m_saveBar && m_saveBar->isVisible()) || m_isBusy || m_readOnly || !(fromSidebar || m_tableView->isEditing()))
        return false;
    if (key == Qt::Key_D) {
        // What is being typed goes; the row stays as it was.
        if (fromSidebar)
            updateSidebarView();
        else
            m_tableView->abortEditing();
        return true;
    }
    // The typing is kept first, as Return or leaving the field keeps it.
    if (!uv_endEditing(m_tableView->window())) {
        beep();
        return true;
    }
    if (!m_model->edits().counts().any() || !m_saveBar)
        return true;
    if (key == Qt::Key_S) {
        save();
    } else {
        m_pageLayout->activate(); // the popover goes by the button, which has only just shown
        showSQLPreview(m_saveBar->previewButton());
    }
    return true;
}
