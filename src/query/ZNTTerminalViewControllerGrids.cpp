// The terminal page's result grids: their columns and widths, the local sort,
// copying rows and cells, opening a row, and the grids' menu.
#include "QueryFavorite.h"
#include "QueryPageLogic.h"
#include "ResultSorting.h"
#include "ZNTTerminalOutlineView.h"
#include "ZNTTerminalQueryTabularResult.h"
#include "ZNTTerminalViewController.h"
#include "browser/KesCoder.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTTableGridView.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTPrefContainer.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTRow.h"
#include "model/ZNTTerminal.h"
#include "platform/Main.h"
#include "uikit/Beep.h"
#include "uikit/TableViewAdditions.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTGridModel.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/ZNTActionRoute.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QThreadPool>
#include <numeric>
#include <thread>

namespace {
enum class GridCommand { CopyRows, CopyCell, OpenRow };
} // namespace

// --- columns ------------------------------------------------------------------------

void ZNTTerminalViewController::buildGrid(ZNTTerminalQueryTabularResult *grid,
                                          const std::shared_ptr<ZNTTerminalResult> &result) {
    m_layingOutColumns = true;
    grid->setResult(result);
    const ZNTColumnList columns = result->result()->columns();
    for (int i = 0; i < columns.size(); ++i) {
        const double width = widthForColumn(*columns[i], result->result());
        setWidth(width, *columns[i], result->result());
        grid->setColumnWidth(i, int(width));
    }
    m_layingOutColumns = false;
    setSortIndicators(grid);
    grid->rowCountField()->setText(TerminalPageLogic::rowCountText(grid->model()->rowCount()));
}

void ZNTTerminalViewController::connectGrid(ZNTTerminalQueryTabularResult *grid) {
    ZNTTerminalTableView *table = grid->tableView();
    connect(grid->headerView(), &QHeaderView::sectionClicked, this,
            [this, grid](int logical) { tableViewDidClickTableColumn(grid, logical); });
    connect(grid->headerView(), &QHeaderView::sectionResized, this, [this, grid](int logical, int, int size) {
        if (!m_layingOutColumns)
            tableViewColumnDidResize(grid, logical, size);
    });
    connect(table, &QWidget::customContextMenuRequested, this,
            [this, grid](const QPoint &pos) { showTableContextMenu(grid, pos); });
    connect(table, &ZNTTerminalTableView::rowDoubleClicked, this, [this, grid](int row) {
        m_clickedGrid = grid;
        m_clickedRow = row;
        m_clickedColumn = -1;
        openClickedRow();
    });
    // The transcript brings the cell the keys moved to into sight.
    connect(table, &ZNTTerminalTableView::currentCellMoved, this, [this, grid, table](const QRect &rect) {
        const int row = m_outline->rowForView(grid);
        if (row < 0)
            return;
        // Clear of the header and the bottom strip, which float over the rows.
        const QPoint inGrid = table->mapTo(grid, rect.topLeft());
        const int above = TerminalGrid::kHeaderHeight + 1;
        const int below = TerminalGrid::kBottom + ZNTTerminalQueryTabularResult::scrollBarExtent(grid) + 1;
        m_outline->scrollRectToVisible(
            QRect(0, m_outline->rectOfRow(row).top() + inGrid.y() - above, 1, rect.height() + above + below));
    });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit validationRequested(); });
    connect(grid, &ZNTTerminalQueryTabularResult::scrollerStyleChanged, this, [this] {
        for (const auto &query : m_queries) {
            for (qsizetype i = 0; i < query->resultCount(); ++i) {
                if (gridForResult(query->cachedResultAtIndex(i).get()))
                    noteHeightOfRow(query->cachedResultAtIndex(i).get());
            }
        }
    });
}

void ZNTTerminalViewController::takeRows(ZNTTerminalQueryTabularResult *grid) {
    if (const auto store = grid->result() ? grid->result()->rows() : nullptr)
        grid->model()->takeRows(store->rowCount());
    grid->rowCountField()->setText(TerminalPageLogic::rowCountText(grid->model()->rowCount()));
}

// The width given to this result's column, else to a column of that name in
// the page, else the table page's stored width of the source column, else the
// default of its type.
double ZNTTerminalViewController::widthForColumn(const ZNTColumn &column,
                                                 const std::shared_ptr<ZNTResult> &result) const {
    double recorded = m_columnWidths.widthForResult(result, column.name());
    if (recorded <= 0)
        recorded = m_columnWidths.widthForName(column.name());
    const double stored = recorded > 0 ? 0 : persistentWidthForColumn(column);
    return QueryPageLogic::columnWidth(column, recorded, stored);
}

void ZNTTerminalViewController::setWidth(double width, const ZNTColumn &column,
                                         const std::shared_ptr<ZNTResult> &result) {
    m_columnWidths.setWidth(result, column.name(), width);
}

double ZNTTerminalViewController::persistentWidthForColumn(const ZNTColumn &column) const {
    return QueryFavorite::storedWidth(m_terminal ? m_terminal->database() : nullptr, column);
}

void ZNTTerminalViewController::tableViewColumnDidResize(ZNTTerminalQueryTabularResult *grid, int column, int width) {
    const auto result = grid->result();
    const ZNTColumnList columns = result ? result->result()->columns() : ZNTColumnList();
    if (column < 0 || column >= columns.size())
        return;
    setWidth(width, *columns[column], result->result());
    m_columnWidths.setWidthForName(columns[column]->name(), width);
}

// --- sorting ------------------------------------------------------------------------

ZNTTerminalQuery *ZNTTerminalViewController::ownerOfResult(const ZNTTerminalResult *result) const {
    for (const auto &query : m_queries) {
        for (qsizetype i = 0; i < query->resultCount(); ++i) {
            if (query->cachedResultAtIndex(i).get() == result)
                return query.get();
        }
    }
    return nullptr;
}

void ZNTTerminalViewController::setSortIndicators(ZNTTerminalQueryTabularResult *grid) {
    const auto &result = grid->result();
    const int sorted = result ? result->sortColumnIndex() : -1;
    const bool ascending = result && result->sortAscending();
    for (int logical = 0; logical < grid->model()->columnCount(); ++logical)
        grid->headerView()->setSortMode(logical, logical != sorted ? ZNTSortModeNone
                                                 : ascending       ? ZNTSortModeAscending
                                                                   : ZNTSortModeDescending);
    grid->tableView()->cell()->setHighlightedColumn(sorted);
    grid->tableView()->viewport()->update();
}

void ZNTTerminalViewController::tableViewDidClickTableColumn(ZNTTerminalQueryTabularResult *grid, int column) {
    const auto result = grid->result();
    if (!result || column < 0 || column >= grid->model()->columnCount())
        return;
    const ZNTTerminalQuery *owner = ownerOfResult(result.get());
    if (owner && owner->isBusy) {
        beep(); // its rows are still arriving
        return;
    }
    const QueryPageLogic::Sort sort =
        QueryPageLogic::sortAfterClick({result->sortColumnIndex(), result->sortAscending()}, column);
    result->setSort(sort.column, sort.ascending);
    setSortIndicators(grid);
    if (sort.column >= 0) {
        startSort(grid);
        return;
    }
    m_sortGenerations.erase(result.get()); // a sort still under way is dropped
    grid->model()->setRowOrder({});
}

// The order is worked out on other threads, from the rows the grid shows;
// only the latest sort asked for a result is applied.
void ZNTTerminalViewController::startSort(ZNTTerminalQueryTabularResult *grid) {
    const auto result = grid->result();
    const quint64 generation = ++m_lastSortGeneration;
    m_sortGenerations[result.get()] = generation;
    const auto rows = result->rows();
    const qsizetype count = grid->model()->takenRows();
    const int column = result->sortColumnIndex();
    const qint64 typeOid = result->result()->columns()[column]->typeOid();
    const bool ascending = result->sortAscending();
    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    QPointer<ZNTTerminalViewController> self = this;
    QPointer<ZNTTerminalQueryTabularResult> target = grid;
    QThreadPool::globalInstance()->start([=] {
        auto order = std::make_shared<std::vector<qsizetype>>(
            ResultSorting::sortedRowOrder(*rows, count, column, typeOid, ascending, threads));
        Main::post([self, target, result, generation, order] {
            if (!self)
                return;
            const auto it = self->m_sortGenerations.find(result.get());
            if (it == self->m_sortGenerations.end() || it->second != generation)
                return;
            self->m_sortGenerations.erase(it);
            if (target && target->result() == result && qsizetype(order->size()) == target->model()->takenRows())
                target->model()->setRowOrder(std::move(*order));
        });
    });
}

// --- copying ------------------------------------------------------------------------

QList<int> ZNTTerminalViewController::selectedRowIndicesForTerminalResult(ZNTTerminalQueryTabularResult **grid) const {
    if (grid)
        *grid = nullptr;
    if (!m_outline)
        return {};
    const int row = m_outline->rowForView(workingFocusWidget(m_outline));
    auto *found = qobject_cast<ZNTTerminalQueryTabularResult *>(m_outline->viewAtRow(row));
    if (!found || !found->tableView()->selectionModel())
        return {};
    const QList<int> rows = selectedRowsOf(found->tableView()->selectionModel(), true);
    if (grid && !rows.isEmpty())
        *grid = found;
    return rows;
}

QList<int> ZNTTerminalViewController::clickedRowIndicesForTerminalResult(ZNTTerminalQueryTabularResult **grid) const {
    if (grid)
        *grid = m_clickedGrid;
    if (!m_clickedGrid)
        return {};
    return clickedRowIndexes(m_clickedGrid->tableView(), m_clickedRow);
}

void ZNTTerminalViewController::copyRowIndices(const QList<int> &rows, ZNTTerminalQueryTabularResult *grid, int mode) {
    if (rows.isEmpty() || !grid || !grid->result()) {
        beep();
        return;
    }
    // Every column of the result in its own order, whatever the grid shows.
    std::vector<int> columns(size_t(grid->result()->result()->columns().size()));
    std::iota(columns.begin(), columns.end(), 0);
    const ZNTCopySource source = ZNTCopySource::ofGrid(*grid->model(), rows, columns);
    const QString text = ZNTCopyText(mode, TerminalPageLogic::kInsertTableName, source);
    if (text.isEmpty()) {
        beep();
        return;
    }
    QApplication::clipboard()->setText(text);
}

void ZNTTerminalViewController::copy() {
    copySpecial(ZNTCopyModeText);
}

void ZNTTerminalViewController::copySpecial(int mode) {
    ZNTTerminalQueryTabularResult *grid = nullptr;
    const QList<int> rows = selectedRowIndicesForTerminalResult(&grid);
    copyRowIndices(rows, grid, mode);
}

void ZNTTerminalViewController::copyClickedRows(int mode) {
    ZNTTerminalQueryTabularResult *grid = nullptr;
    const QList<int> rows = clickedRowIndicesForTerminalResult(&grid);
    copyRowIndices(rows, grid, mode);
}

void ZNTTerminalViewController::copyClickedCell() {
    ZNTTerminalQueryTabularResult *grid = m_clickedGrid;
    if (!grid || m_clickedRow < 0 || m_clickedRow >= grid->model()->rowCount() || m_clickedColumn < 0 ||
        m_clickedColumn >= grid->model()->columnCount()) {
        beep();
        return;
    }
    const Value value = grid->model()->valueAt(m_clickedRow, m_clickedColumn);
    QApplication::clipboard()->setText(KesCoder::clipboardCoder().encodeObject(value));
}

// Opens the first clicked row, read only, on a page of its own, named by the
// position it is shown at.
void ZNTTerminalViewController::openClickedRow() {
    ZNTTerminalQueryTabularResult *grid = nullptr;
    const QList<int> rows = clickedRowIndicesForTerminalResult(&grid);
    if (rows.isEmpty() || !grid || !grid->result()) {
        beep();
        return;
    }
    const int shown = rows.first();
    const ZNTColumnList columns = grid->result()->result()->columns();
    ZNTRowValues values;
    for (int column = 0; column < columns.size(); ++column)
        values.push_back(grid->model()->valueAt(shown, column));
    auto row = ZNTRow::createWithColumns(columns, values, m_terminal);
    row->setName(TerminalPageLogic::rowTitle(shown));
    if (!sendAction(grid->tableView(), ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(row)))
        beep();
}

// --- the grids' menu ----------------------------------------------------------------

void ZNTTerminalViewController::buildTableContextMenu() {
    m_tableContextMenu = new QMenu(m_view);
    m_tableContextMenu->setObjectName(QStringLiteral("tableContextMenu"));
    auto add = [](QMenu *menu, const QString &title, GridCommand command, int mode = 0) {
        QAction *action = menu->addAction(title);
        action->setData(int(command));
        action->setProperty("copyMode", mode);
        return action;
    };
    m_copyRowsAction = add(m_tableContextMenu, QStringLiteral("&Copy Row"), GridCommand::CopyRows);
    QMenu *special = m_tableContextMenu->addMenu(QStringLiteral("Copy &Special"));
    const QStringList forms = {QStringLiteral("&Tab-Separated Text"), QStringLiteral("&CSV"),
                               QStringLiteral("CSV with &Header"), QStringLiteral("&INSERT Statements")};
    for (int mode = 0; mode < forms.size(); ++mode)
        add(special, forms[mode], GridCommand::CopyRows, mode);
    m_copyCellAction = add(m_tableContextMenu, QStringLiteral("Copy C&ell"), GridCommand::CopyCell);
    m_tableContextMenu->addSeparator();
    m_openRowAction = add(m_tableContextMenu, QStringLiteral("&Open Row"), GridCommand::OpenRow);
    connect(m_tableContextMenu, &QMenu::triggered, this, [this](QAction *action) {
        switch (GridCommand(action->data().toInt())) {
        case GridCommand::CopyRows:
            copyClickedRows(action->property("copyMode").toInt());
            break;
        case GridCommand::CopyCell:
            copyClickedCell();
            break;
        case GridCommand::OpenRow:
            openClickedRow();
            break;
        }
    });
    connect(m_tableContextMenu, &QMenu::hovered, this, [this](QAction *action) { menuWillHighlightItem(action); });
    connect(m_tableContextMenu, &QMenu::aboutToHide, this, [this] { menuWillHighlightItem(nullptr); });
}

QMenu *ZNTTerminalViewController::tableContextMenuForClick(ZNTTerminalQueryTabularResult *grid, int row, int column) {
    view();
    m_clickedGrid = grid;
    m_clickedRow = row;
    m_clickedColumn = column;
    const QList<int> rows = clickedRowIndicesForTerminalResult(nullptr);
    m_copyRowsAction->setText(rows.size() == 1 ? QStringLiteral("&Copy Row") : QStringLiteral("&Copy Rows"));
    m_copyRowsAction->setEnabled(!rows.isEmpty());
    for (QAction *action : m_tableContextMenu->actions()) {
        if (QMenu *submenu = action->menu()) {
            action->setEnabled(!rows.isEmpty());
            for (QAction *inner : submenu->actions())
                inner->setEnabled(!rows.isEmpty());
        }
    }
    m_copyCellAction->setEnabled(!rows.isEmpty() && column >= 0);
    m_openRowAction->setEnabled(rows.size() == 1);
    return m_tableContextMenu;
}

void ZNTTerminalViewController::showTableContextMenu(ZNTTerminalQueryTabularResult *grid, const QPoint &pos) {
    ZNTTerminalTableView *table = grid->tableView();
    QMenu *menu = tableContextMenuForClick(grid, table->rowAt(pos.y()), table->columnAt(pos.x()));
    menu->popup(table->viewport()->mapToGlobal(pos));
}

// While "Copy Cell" is highlighted the cell it would copy is framed.
void ZNTTerminalViewController::menuWillHighlightItem(QAction *action) {
    if (!m_clickedGrid)
        return;
    if (action && action == m_copyCellAction)
        m_clickedGrid->tableView()->setMarkedCell(m_clickedRow, m_clickedColumn);
    else
        m_clickedGrid->tableView()->setMarkedCell(-1, -1);
}
