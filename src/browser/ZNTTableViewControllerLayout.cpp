// The table page's layout: sorting by a header click or the header menu, the
// column widths and order the user drags, the filter bar, and the switch to
// the table's structure.
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "ZNTTableViewController.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "model/ZNTTableSchema.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/ZNTActionRoute.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QVBoxLayout>

void ZNTTableViewController::connectGrid() {
    connect(m_model, &ZNTTableContentModel::cellEntered, this,
            [this](qsizetype row, int column, const QString &text) { cellEntered(row, column, text); });
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        updateSidebarView();
        emit validationRequested();
    });
    connect(m_tableView->cell(), &ZNTTableGridCell::moveRequested, this,
            [this](QWidget *editor, int direction) { moveEditing(editor, direction); });
    ZNTTableHeaderCell *header = m_tableView->header();
    connect(header, &QHeaderView::sectionClicked, this, [this](int logical) { tableViewDidClickTableColumn(logical); });
    connect(header, &QHeaderView::sectionResized, this,
            [this](int logical, int, int size) { columnResized(logical, size); });
    connect(header, &QHeaderView::sectionMoved, this, [this] { columnMoved(); });
    connect(header, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) { showHeaderMenu(pos); });
    connect(m_tableView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) { showRowMenu(pos); });
    connect(m_tableView, &ZNTTableGridView::rowDoubleClicked, this, [this](int row) {
        if (m_doubleDelegate)
            performDoubleAction(row);
    });
}

void ZNTTableViewController::performReload() {
    uv_endEditing(pageView()->window());
    reloadWithStructure(true);
}

std::shared_ptr<ZNTColumn> ZNTTableViewController::displayColumnForLogical(int logicalColumn) const {
    const ZNTColumnList &columns = m_model->displayColumns();
    return logicalColumn >= 0 && logicalColumn < columns.size() ? columns[logicalColumn] : nullptr;
}

// --- sorting --------------------------------------------------------------------

void ZNTTableViewController::tableViewDidClickTableColumn(int logicalColumn) {
    if (m_isBusy) {
        beep();
        setSortIndicator(); // the header shows what the rows are sorted by
        return;
    }
    const int resultColumn = m_model->resultColumn(logicalColumn);
    if (!m_model->hasResult() || resultColumn < 0) {
        setSortIndicator();
        return;
    }
    const auto column = m_model->resultColumns()[resultColumn];
    const ZNTTablePageLogic::Sort now{m_orderColumn ? m_orderColumn->name() : QString(), m_orderAscending};
    const ZNTTablePageLogic::Sort next = ZNTTablePageLogic::sortAfterHeaderClick(now, column->name());
    setSortIndicator(); // until the prompt has been answered
    setOrderColumn(next.column.isEmpty() ? nullptr : column, next.ascending);
}

void ZNTTableViewController::setOrderColumn(const std::shared_ptr<ZNTColumn> &column, bool ascending) {
    resignWithInformativeText(QStringLiteral("The sort order can't be changed when there are unsaved changes."),
                              [this, column, ascending](bool ok) {
                                  if (!ok)
                                      return;
                                  m_orderColumn = column;
                                  m_orderAscending = ascending;
                                  m_currentPageIndex = 0;
                                  reloadWithStructure(false);
                                  setSortIndicator();
                              });
}

// The header's indicator and the tinted column follow the sort column.
void ZNTTableViewController::setSortIndicator() {
    ZNTTableHeaderCell *header = m_tableView->header();
    const int sorted = m_orderColumn ? m_model->displayColumnNamed(m_orderColumn->name()) : -1;
    for (int logical = 0; logical < m_model->columnCount(); ++logical) {
        const int mode = logical != sorted  ? ZNTSortModeNone
                         : m_orderAscending ? ZNTSortModeAscending
                                            : ZNTSortModeDescending;
        header->setSortMode(logical, mode);
    }
    m_tableView->cell()->setHighlightedColumn(sorted);
    m_tableView->viewport()->update();
    header->viewport()->update();
}

void ZNTTableViewController::sortAscendingByColumn() {
    const int logical = m_model->displayColumnNamed(m_headerMenuTableColumnIdentifier);
    const auto column = displayColumnForLogical(logical);
    if (!column)
        return;
    if (m_orderColumn && m_orderColumn->name() == column->name() && m_orderAscending)
        setOrderColumn(nullptr, false);
    else
        setOrderColumn(column, true);
}

void ZNTTableViewController::sortDescendingByColumn() {
    const int logical = m_model->displayColumnNamed(m_headerMenuTableColumnIdentifier);
    const auto column = displayColumnForLogical(logical);
    if (!column)
        return;
    if (m_orderColumn && m_orderColumn->name() == column->name() && !m_orderAscending)
        setOrderColumn(nullptr, false);
    else
        setOrderColumn(column, false);
}

// --- widths and order -----------------------------------------------------------

double ZNTTableViewController::persistentWidthForColumn(const ZNTColumn &column) const {
    return m_layout.widthForColumn(column.name());
}

// The attribute numbers come from the structure the columns were made from;
// while none is at hand (a reload waiting for it) the stored ones stay.
void ZNTTableViewController::setPersistentWidth(double width, const ZNTColumn &column) {
    QHash<QString, qint64> attnums;
    if (const auto metadata = pageMetadata()) {
        for (const auto &c : metadata->columns())
            attnums.insert(c->name(), c->attnum());
    }
    m_layout.setWidthForColumn(column.name(), width, attnums);
}

void ZNTTableViewController::columnResized(int logicalColumn, int newSize) {
    if (m_layingOutColumns)
        return;
    if (const auto column = displayColumnForLogical(logicalColumn))
        setPersistentWidth(newSize, *column);
}

void ZNTTableViewController::columnMoved() {
    if (m_layingOutColumns || m_model->displayColumns().isEmpty())
        return;
    QStringList order;
    QHeaderView *header = m_tableView->header();
    for (int visual = 0; visual < header->count(); ++visual) {
        if (const auto column = displayColumnForLogical(header->logicalIndex(visual)))
            order << column->name();
    }
    m_layout.setColumnOrder(order);
}

void ZNTTableViewController::restoreDefaultColumnOrder() {
    m_layout.unsetColumnOrder();
    QStringList names;
    for (const auto &column : m_model->displayColumns())
        names << column->name();
    m_layingOutColumns = true;
    QHeaderView *header = m_tableView->header();
    for (int logical = 0; logical < m_model->columnCount(); ++logical) {
        if (header->visualIndex(logical) != logical)
            header->moveSection(header->visualIndex(logical), logical);
    }
    m_layingOutColumns = false;
}

// --- filter bar -----------------------------------------------------------------

void ZNTTableViewController::setFilterState(bool shown) {
    if (shown == m_filterState)
        return;
    m_filterState = shown;
    emit filterStateChanged(shown);
    emit validationRequested();
}

// Shown above the rows, with the filters kept for the table; the rows are not
// queried again until the user runs the filters.
void ZNTTableViewController::showFilterBar() {
    if (!m_filterController) {
        m_filterController = new ZNTFilterController(m_table, this);
        m_filterController->setDelegate(this);
        const QVariant stored = m_layout.filters();
        if (stored.isValid())
            m_filterController->loadDictionaryRepresentations(stored);
    }
    QWidget *bar = m_filterController->view();
    m_pageLayout->insertWidget(0, bar);
    bar->show();
    if (QLineEdit *first = m_filterController->firstTextField())
        first->setFocus(Qt::OtherFocusReason);
    m_filterController->makeFirstResponder();
    setFilterState(true);
}

// The bar may be the one whose button asked for this: it goes after the event.
void ZNTTableViewController::hideFilterBar() {
    if (ZNTFilterController *controller = m_filterController) {
        QWidget *bar = controller->view();
        m_pageLayout->removeWidget(bar);
        bar->hide();
        controller->setDelegate(nullptr);
        controller->deleteLater();
    }
    m_filterController = nullptr;
    setFilterState(false);
}

void ZNTTableViewController::toggleTableFilter() {
    if (m_isBusy) {
        beep();
        return;
    }
    pageView();
    if (!m_filterController || !m_filterController->view()->isVisibleTo(m_view)) {
        showFilterBar();
        return;
    }
    if (!m_resultIsFiltered) {
        hideFilterBar();
        return;
    }
    resignWithInformativeText(QStringLiteral("Filters can't be removed when there are unsaved changes."),
                              [this](bool ok) {
                                  if (!ok)
                                      return;
                                  hideFilterBar();
                                  m_tableView->setFocus(Qt::OtherFocusReason);
                                  m_currentPageIndex = 0;
                                  reloadWithStructure(false);
                              });
}

void ZNTTableViewController::filterControllerDidClickFind(ZNTFilterController &) {
    resignWithInformativeText(QStringLiteral("Filters can't be applied when there are unsaved changes."),
                              [this](bool ok) {
                                  if (!ok)
                                      return;
                                  m_currentPageIndex = 0;
                                  reloadWithStructure(false);
                              });
}

void ZNTTableViewController::filterControllerDidRemoveLastFilter(ZNTFilterController &) {
    if (m_filterController)
        toggleTableFilter();
}

void ZNTTableViewController::filterByColumn() {
    const auto column = displayColumnForLogical(m_model->displayColumnNamed(m_headerMenuTableColumnIdentifier));
    if (!m_filterController)
        toggleTableFilter();
    if (!m_filterController)
        return;
    m_filterController->filterColumn(column);
    m_filterController->makeFirstResponder();
}

// --- structure ------------------------------------------------------------------

void ZNTTableViewController::toggleStructureAndContents(QObject *sender) {
    if (sender == m_switcher) {
        if (m_switcher->isSelected(0))
            return;
        m_switcher->setSelected(0, true);
    }
    auto structure = std::make_shared<ZNTTableSchema>(m_table);
    if (!sendAction(pageView(), ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(structure)))
        beep();
}
