// The query page's results: the status view and the grid, the result
// selector, the grid's columns with their widths and order per result, the
// local sort, the row count, copying and the export.
#include "QueryFavorite.h"
#include "QueryPageLogic.h"
#include "QueryResultModel.h"
#include "QueryViewController.h"
#include "ResultSorting.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTTableGridView.h"
#include "engine/PGError.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTPrefContainer.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "platform/Main.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/TableViewAdditions.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QThreadPool>
#include <QToolButton>
#include <thread>

namespace {
// What a row menu item does.
enum class RowCommand { CopyRows, CopyCell };

// The logical columns in on-screen order.
std::vector<int> logicalOrder(const QHeaderView *header) {
    std::vector<int> order;
    for (int visual = 0; visual < header->count(); ++visual)
        order.push_back(header->logicalIndex(visual));
    return order;
}
} // namespace

void QueryViewController::connectGrid() {
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        updateQueryResultRowCount();
        emit validationRequested();
    });
    QHeaderView *header = m_tableView->header();
    connect(header, &QHeaderView::sectionClicked, this, [this](int logical) { tableViewDidClickTableColumn(logical); });
    connect(header, &QHeaderView::sectionResized, this, [this] { recordColumnWidths(); });
    connect(header, &QHeaderView::sectionMoved, this, [this] {
        recordColumnOrder();
        recordColumnWidths(); // the widths are by position: they move along
    });
    connect(m_tableView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) { showRowMenu(pos); });
}

// --- status and selector ------------------------------------------------------------

QString QueryViewController::currentStatusText() const {
    QList<QueryPageLogic::ResultMessage> messages;
    for (const auto &result : m_results) {
        const ZNTResult &shown = *result->result();
        // libpq's own words read as sentences, as pages say them; the server's
        // keep their lines (the caret under a statement's position).
        messages << QueryPageLogic::ResultMessage{shown.isLibpqError() ? PGError::unwrappedLibpqText(shown.string())
                                                                       : shown.string(),
                                                  shown.resultType() == QLatin1String("error")};
    }
    const ErrorPtr error = m_currentQuery ? m_currentQuery->error() : nullptr;
    return QueryPageLogic::statusText(messages, error ? PGError::reasonText(*error) : QString(),
                                      error && PGError::reportsLostConnection(*error));
}

void QueryViewController::setStatusString(const QString &text) {
    // Server messages are text, never markup.
    m_statusTextView->setPlainText(text);
}

void QueryViewController::updateResultDisplay() {
    if (!m_currentResult) {
        setStatusString(currentStatusText());
        m_resultStack->setCurrentWidget(m_statusTextView);
    } else {
        m_resultStack->setCurrentWidget(m_tableView);
        refreshColumns();
    }
    updateQueryResultSelectorPopUpButton();
    updateQueryResultRowCount();
    emit validationRequested();
}

void QueryViewController::updateQueryResultSelectorPopUpButton() {
    std::vector<bool> hasRows;
    for (const auto &result : m_results)
        hasRows.push_back(result->hasRows());
    m_selector->clear();
    int selected = 0;
    for (const QueryPageLogic::SelectorItem &item : QueryPageLogic::selectorItems(hasRows)) {
        if (item.kind == QueryPageLogic::SelectorItem::Kind::Separator) {
            m_selector->insertSeparator(m_selector->count());
            continue;
        }
        m_selector->addItem(item.title, item.tag);
        if (!item.enabled) {
            if (auto *model = qobject_cast<QStandardItemModel *>(m_selector->model()))
                model->item(m_selector->count() - 1)->setEnabled(false);
        }
        if (m_currentResult && item.tag >= 0 && m_results[size_t(item.tag)] == m_currentResult)
            selected = m_selector->count() - 1;
    }
    m_selector->setCurrentIndex(selected);
    m_selector->setEnabled(true);
}

void QueryViewController::selectQueryResult(int tag) {
    if (tag == -1) {
        m_currentResult.reset();
        updateResultDisplay();
        return;
    }
    if (tag < 0 || tag >= int(m_results.size()) || !m_results[size_t(tag)]->hasRows())
        return;
    if (m_results[size_t(tag)] != m_currentResult) {
        m_currentResult = m_results[size_t(tag)];
        updateResultDisplay();
    }
}

void QueryViewController::updateQueryResultRowCount() {
    const bool hasResult = m_currentResult != nullptr;
    const qsizetype selected = hasResult ? selectedRows().size() : 0;
    m_rowCountLabel->setText(QueryPageLogic::rowCountText(hasResult, hasResult ? m_model->rowCount() : 0, selected));
    // Always "Export…": the export writes every row of the result, so the
    // button never promises the selection alone.
    m_exportButton->setEnabled(hasResult);
}

// --- columns ------------------------------------------------------------------------

void QueryViewController::refreshColumns() {
    if (!m_currentResult)
        return;
    if (m_resultInModel != m_currentResult)
        showResultInModel(m_currentResult);
    setSortIndicators();
}

void QueryViewController::showResultInModel(const std::shared_ptr<QueryViewResult> &result) {
    QHeaderView *header = m_tableView->header();
    QStringList titles, names;
    for (int visual = 0; visual < header->count(); ++visual)
        titles << m_model->headerData(header->logicalIndex(visual), Qt::Horizontal).toString();
    for (const auto &column : result->columns())
        names << column->name();
    std::vector<double> shownWidths;
    for (int visual = 0; visual < header->count(); ++visual)
        shownWidths.push_back(header->sectionSize(header->logicalIndex(visual)));
    // The same columns as shown keep their widths.
    if (QueryPageLogic::keepsColumns(titles, logicalOrder(header), names, result->columnIndices()))
        result->setColumnWidths(shownWidths);
    // The result shown before keeps its sort while another one shows.
    if (m_resultInModel)
        m_resultInModel->setRowOrder(m_model->takeRowOrder());
    m_layingOutColumns = true;
    m_model->setResult(result->columns(), result->rows());
    m_resultInModel = result;
    if (result->rows())
        m_model->takeRows(result->rows()->rowCount());
    applyColumnLayout(*result);
    m_layingOutColumns = false;
    if (std::vector<qsizetype> order = result->takeRowOrder(); !order.empty())
        m_model->setRowOrder(std::move(order));
}

void QueryViewController::applyColumnLayout(const QueryViewResult &result) {
    QHeaderView *header = m_tableView->header();
    const ZNTColumnList columns = result.columns();
    if (columns.isEmpty()) {
        header->resizeSection(0, 150);
        return;
    }
    const std::vector<int> &indices = result.columnIndices();
    const std::vector<double> &widths = result.columnWidths();
    // Position by position: the ones before are in place already.
    for (int visual = 0; visual < int(indices.size()); ++visual) {
        const int from = header->visualIndex(indices[size_t(visual)]);
        if (from != visual)
            header->moveSection(from, visual);
    }
    for (int visual = 0; visual < int(indices.size()); ++visual) {
        const ZNTColumn &column = *columns[indices[size_t(visual)]];
        const double recorded = visual < int(widths.size()) ? widths[size_t(visual)] : 0;
        const double stored = recorded > 0 ? 0 : persistentWidthForColumn(column);
        header->resizeSection(indices[size_t(visual)], int(QueryPageLogic::columnWidth(column, recorded, stored)));
    }
}

double QueryViewController::persistentWidthForColumn(const ZNTColumn &column) const {
    return QueryFavorite::storedWidth(m_queryObject->database(), column);
}

void QueryViewController::recordColumnWidths() {
    if (m_layingOutColumns || !m_currentResult || m_resultInModel != m_currentResult ||
        m_model->resultColumnCount() == 0)
        return;
    QHeaderView *header = m_tableView->header();
    std::vector<double> widths;
    for (int visual = 0; visual < header->count(); ++visual)
        widths.push_back(header->sectionSize(header->logicalIndex(visual)));
    m_currentResult->setColumnWidths(std::move(widths));
}

void QueryViewController::recordColumnOrder() {
    if (m_layingOutColumns || !m_currentResult || m_resultInModel != m_currentResult ||
        m_model->resultColumnCount() == 0)
        return;
    m_currentResult->setColumnIndices(logicalOrder(m_tableView->header()));
}

void QueryViewController::setSortIndicators() {
    const int sorted = m_currentResult ? m_currentResult->sortColumnIndex() : -1;
    const bool ascending = m_currentResult && m_currentResult->sortAscending();
    for (int logical = 0; logical < m_model->columnCount(); ++logical)
        m_tableView->header()->setSortMode(logical, logical != sorted ? ZNTSortModeNone
                                                    : ascending       ? ZNTSortModeAscending
                                                                      : ZNTSortModeDescending);
    m_tableView->cell()->setHighlightedColumn(sorted);
    m_tableView->header()->viewport()->update();
    m_tableView->viewport()->update();
}

// --- sorting ------------------------------------------------------------------------

void QueryViewController::tableViewDidClickTableColumn(int column) {
    const auto result = m_currentResult;
    if (!result || column < 0 || column >= m_model->resultColumnCount())
        return;
    if (!result->isComplete()) {
        Alert *alert = Alert::alertWithMessageText(
            QStringLiteral("Please wait until the query result has been loaded"), QStringLiteral("OK"), {}, {},
            QStringLiteral("Sorting query results locally is only possible after the result was downloaded "
                           "completely."));
        alert->compatibleBeginSheetModalForWindow(window(), nullptr);
        return;
    }
    const QueryPageLogic::Sort sort =
        QueryPageLogic::sortAfterClick({result->sortColumnIndex(), result->sortAscending()}, column);
    result->setSort(sort.column, sort.ascending);
    setSortIndicators();
    if (sort.column >= 0) {
        startSort(result);
        return;
    }
    m_appliedSortGeneration = ++m_sortGeneration; // a sort still under way is dropped
    updateProgressIndicator();
    m_model->setRowOrder({});
}

// The order is worked out on other threads (a million rows take a moment),
// from the rows the result holds; only the latest sort asked for is applied.
void QueryViewController::startSort(const std::shared_ptr<QueryViewResult> &result) {
    const quint64 generation = ++m_sortGeneration;
    const auto rows = result->rows();
    const qsizetype count = m_model->takenRows();
    const int column = result->sortColumnIndex();
    const qint64 typeOid = result->columns()[column]->typeOid();
    const bool ascending = result->sortAscending();
    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    QPointer<QueryViewController> self = this;
    std::weak_ptr<QueryViewResult> sorted = result;
    updateProgressIndicator();
    QThreadPool::globalInstance()->start([=] {
        auto order = std::make_shared<std::vector<qsizetype>>(
            ResultSorting::sortedRowOrder(*rows, count, column, typeOid, ascending, threads));
        Main::post([self, sorted, generation, order] {
            if (!self || generation != self->m_sortGeneration)
                return;
            self->m_appliedSortGeneration = generation;
            self->updateProgressIndicator();
            if (const auto target = sorted.lock())
                self->applySort(target, std::move(*order));
        });
    });
}

void QueryViewController::applySort(const std::shared_ptr<QueryViewResult> &result, std::vector<qsizetype> order) {
    if (m_resultInModel == result && qsizetype(order.size()) == m_model->takenRows())
        m_model->setRowOrder(std::move(order));
    else
        result->setRowOrder(std::move(order));
}

// --- copying ------------------------------------------------------------------------

QList<int> QueryViewController::selectedRows() const {
    return m_tableView ? m_tableView->selectedRowIndexes() : QList<int>();
}

void QueryViewController::copyRowIndices(const QList<int> &rows, int mode) {
    if (rows.isEmpty() || !m_currentResult || m_model->resultColumnCount() == 0) {
        beep();
        return;
    }
    // Columns in on-screen order, rows as they are shown (sorted or not).
    const ZNTCopySource source = ZNTCopySource::ofGrid(*m_model, rows, logicalOrder(m_tableView->header()));
    // The editor knows no table: INSERT statements name one for the user to replace.
    const QString text = ZNTCopyText(mode, QStringLiteral("table_name"), source);
    if (text.isEmpty()) {
        beep();
        return;
    }
    QApplication::clipboard()->setText(text);
}

void QueryViewController::copy() {
    // Copy in the editor or the status view copies their selected text.
    if (auto *focused = qobject_cast<QPlainTextEdit *>(m_view ? workingFocusWidget(m_view) : nullptr);
        focused && m_view && m_view->isAncestorOf(focused)) {
        if (focused->textCursor().hasSelection())
            focused->copy();
        else
            beep();
        return;
    }
    copyRowIndices(selectedRows(), ZNTCopyModeText);
}

void QueryViewController::copySpecial(int mode) {
    copyRowIndices(selectedRows(), mode);
}

void QueryViewController::copyClickedRows(const QList<int> &rows, int mode) {
    copyRowIndices(rows, mode);
}

void QueryViewController::copyClickedCell(int row, int column) {
    if (!m_currentResult || row < 0 || row >= m_model->rowCount() || column < 0 ||
        column >= m_model->resultColumnCount()) {
        beep();
        return;
    }
    const Value value = m_model->valueAt(row, column);
    if (value.kind() == Value::Kind::Bytes) {
        const QImage image = QImage::fromData(value.toBytes());
        if (image.isNull()) {
            beep();
            return;
        }
        QApplication::clipboard()->setImage(image);
        return;
    }
    QApplication::clipboard()->setText(value.isNull()                        ? QString()
                                       : value.kind() == Value::Kind::String ? value.toString()
                                                                             : value.description());
}

void QueryViewController::buildMenus() {
    m_rowMenu = new QMenu(m_view);
    m_rowMenu->setObjectName(QStringLiteral("rowMenu"));
    auto add = [](QMenu *menu, const QString &title, RowCommand command, int mode = 0) {
        QAction *action = menu->addAction(title);
        action->setData(int(command));
        action->setProperty("copyMode", mode);
        return action;
    };
    add(m_rowMenu, QStringLiteral("&Copy Row"), RowCommand::CopyRows);
    QMenu *special = m_rowMenu->addMenu(QStringLiteral("Copy &Special"));
    const QStringList forms = {QStringLiteral("&Tab-Separated Text"), QStringLiteral("&CSV"),
                               QStringLiteral("CSV with &Header"), QStringLiteral("&INSERT Statements")};
    for (int mode = 0; mode < forms.size(); ++mode)
        add(special, forms[mode], RowCommand::CopyRows, mode);
    add(m_rowMenu, QStringLiteral("Copy C&ell"), RowCommand::CopyCell);
    connect(m_rowMenu, &QMenu::triggered, this, [this](QAction *action) {
        if (RowCommand(action->data().toInt()) == RowCommand::CopyCell)
            copyClickedCell(m_clickedRow, m_clickedColumn);
        else
            copyClickedRows(clickedRowIndexes(m_tableView, m_clickedRow), action->property("copyMode").toInt());
    });
}

QMenu *QueryViewController::rowMenuForRow(int row, int column) {
    view();
    m_clickedRow = row;
    m_clickedColumn = column;
    const QList<int> rows = clickedRowIndexes(m_tableView, row);
    for (QAction *action : m_rowMenu->actions()) {
        if (action->isSeparator())
            continue;
        if (QMenu *submenu = action->menu()) {
            action->setEnabled(!rows.isEmpty());
            for (QAction *inner : submenu->actions())
                inner->setEnabled(!rows.isEmpty());
        } else if (RowCommand(action->data().toInt()) == RowCommand::CopyCell) {
            action->setEnabled(row >= 0);
        } else {
            action->setText(rows.size() == 1 ? QStringLiteral("&Copy Row") : QStringLiteral("&Copy Rows"));
            action->setEnabled(!rows.isEmpty());
        }
    }
    return m_rowMenu;
}

void QueryViewController::showRowMenu(const QPoint &pos) {
    const int row = m_tableView->rowAt(pos.y());
    const int column = m_tableView->columnAt(pos.x());
    rowMenuForRow(row, column)->popup(m_tableView->viewport()->mapToGlobal(pos));
}

// --- export -------------------------------------------------------------------------

// The current result as a CSV file: its columns in their on-screen order, the
// rows that have arrived in the order shown. Without a result shown there is
// nothing to export.
void QueryViewController::exportContents(QObject *) {
    if (!m_currentResult || !m_currentResult->rows()) {
        beep();
        return;
    }
    // While the result is shown the grid holds its sort: the export gets the
    // result as it stands now.
    auto shown = std::make_shared<QueryViewResult>(*m_currentResult);
    if (m_resultInModel == m_currentResult)
        shown->setRowOrder(m_model->rowOrder());
    CSVExportManager::withQueryViewResult(shown)->beginModalForWindow(window());
}
