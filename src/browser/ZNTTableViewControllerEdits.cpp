// The table page's edits: cells typed into, rows added, duplicated, deleted
// and discarded, each an undoable step; the save bar; saving; the prompt that
// settles pending changes; and the row editor of the detail sidebar.
#include "ZNTTableContentModel.h"
#include "ZNTTableEditCommands.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "ZNTTableViewController.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTRow.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTSaveBarView.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QUndoStack>
#include <QVBoxLayout>

using namespace ZNTTablePageLogic;

// --- ending the editing ---------------------------------------------------------

// An action keeps what is being typed: the editor commits, or refuses and the
// action beeps.
bool ZNTTableViewController::endEditingForAction() {
    if (!m_tableView->endEditing())
        return false;
    m_tableView->setFocus(Qt::OtherFocusReason);
    return true;
}

// A primitive (also run by undo and redo) drops what is being typed: its rows
// may be about to change under the editor. Not while the entry that runs it
// is being committed. An edit made in the detail sidebar leaves the focus
// where the user moved it there (Tab to the next field, a pop-up's choice),
// or the next key typed would go into the grid.
void ZNTTableViewController::endEditingForPrimitive() {
    if (m_committingEntry)
        return;
    m_tableView->abortEditing();
    if (m_tableView->isVisible() && !m_committingSidebarEdit)
        m_tableView->setFocus(Qt::OtherFocusReason);
}

// --- values ---------------------------------------------------------------------

ZNTTableEdits::Values ZNTTableViewController::objectValuesAtRowIndex(qsizetype row) const {
    return m_model->edits().effectiveValues(row);
}

Value ZNTTableViewController::objectValueAtRowIndex(qsizetype row, int resultColumn) const {
    return m_model->edits().effectiveValue(row, resultColumn);
}

void ZNTTableViewController::cellEntered(qsizetype row, int resultColumn, const QString &text) {
    const ZNTTableEdits &edits = m_model->edits();
    if (row < 0 || row >= edits.rowCount() || resultColumn < 0 || resultColumn >= edits.columnCount())
        return;
    const auto value = ZNTTableEdits::valueForTypedText(text, edits.editedValue(row, resultColumn),
                                                        edits.loadedValue(row, resultColumn));
    if (!value || *value == edits.effectiveValue(row, resultColumn))
        return;
    m_committingEntry = true;
    pushSetValues({row}, resultColumn, {*value}, true, editActionName(1));
    m_committingEntry = false;
}

void ZNTTableViewController::applyValues(const QList<qsizetype> &rows, int resultColumn, const QList<Value> &values,
                                         bool changeSelection, bool updateSidebar) {
    endEditingForPrimitive();
    for (qsizetype i = 0; i < rows.size() && i < values.size(); ++i)
        m_model->setValue(rows[i], resultColumn, values[i]);
    updateSaveView();
    if (changeSelection)
        selectRows(rows, true);
    if (updateSidebar)
        updateSidebarView();
}

void ZNTTableViewController::pushSetValues(const QList<qsizetype> &rows, int resultColumn, const QList<Value> &values,
                                           bool updateSidebar, const QString &name) {
    QList<Value> before;
    for (qsizetype row : rows)
        before << m_model->edits().effectiveValue(row, resultColumn);
    m_undoStack->push(new ZNTTableEditCommand(
        name,
        [this, rows, resultColumn, values, updateSidebar](bool first) {
            applyValues(rows, resultColumn, values, !first, first ? updateSidebar : true);
        },
        [this, rows, resultColumn, before] { applyValues(rows, resultColumn, before, true, true); }));
}

// --- rows -----------------------------------------------------------------------

ZNTTableViewController::Removed ZNTTableViewController::deleteRowIndices(QList<qsizetype> indices,
                                                                         bool selectMarkedIndices) {
    endEditingForPrimitive();
    std::sort(indices.begin(), indices.end());
    Removed removed;
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
        const qsizetype row = *it;
        if (m_model->edits().isNew(row)) {
            removed.rows.insert(removed.rows.begin(), m_model->removeRow(row));
            removed.indices.prepend(row);
        } else if (!m_model->edits().isDeleted(row)) {
            m_model->setDeleted(row, true);
            removed.marked.prepend(row);
        }
    }
    QList<qsizetype> select;
    if (selectMarkedIndices) {
        for (qsizetype row : removed.marked) {
            const auto below = std::count_if(removed.indices.begin(), removed.indices.end(),
                                             [row](qsizetype gone) { return gone < row; });
            select << row - below;
        }
    }
    selectRows(select, false);
    updateSaveView();
    return removed;
}

void ZNTTableViewController::insertOriginalRows(const std::vector<ZNTTableEdits::Row> &rows,
                                                const QList<qsizetype> &indices,
                                                const QList<qsizetype> &markUndeleted) {
    endEditingForPrimitive();
    for (qsizetype k = 0; k < indices.size() && size_t(k) < rows.size(); ++k)
        m_model->insertRow(indices[k], rows[size_t(k)]);
    for (qsizetype row : markUndeleted)
        m_model->setDeleted(row, false);
    updateSaveView();
    QList<qsizetype> select = indices;
    select << markUndeleted;
    selectRows(select, true);
}

void ZNTTableViewController::setOriginalRows(std::vector<ZNTTableEdits::Row> rows, qsizetype takenStoreRows) {
    endEditingForPrimitive();
    m_model->setRows(std::move(rows), takenStoreRows);
    updateSaveView();
    updateSidebarView();
}

void ZNTTableViewController::pushInsert(std::vector<ZNTTableEdits::Row> rows, QList<qsizetype> indices,
                                        const QString &name) {
    m_undoStack->push(new ZNTTableEditCommand(
        name, [this, rows, indices](bool) { insertOriginalRows(rows, indices, {}); },
        [this, indices] { deleteRowIndices(indices, true); }));
}

void ZNTTableViewController::pushDelete(QList<qsizetype> indices) {
    indices.removeIf([this](qsizetype row) { return m_model->edits().isDeleted(row); });
    if (indices.isEmpty())
        return;
    auto removed = std::make_shared<Removed>();
    m_undoStack->push(new ZNTTableEditCommand(
        deleteActionName(indices.size()),
        [this, indices, removed](bool first) { *removed = deleteRowIndices(indices, !first); },
        [this, removed] { insertOriginalRows(removed->rows, removed->indices, removed->marked); }));
}

void ZNTTableViewController::newRow() {
    if (m_isBusy || m_readOnly || !m_model->edits().hasResult() || !endEditingForAction()) {
        beep();
        return;
    }
    const qsizetype at = m_model->edits().rowCount();
    pushInsert({ZNTTableEdits::Row::newRow()}, {at}, QStringLiteral("Add Row"));
    m_tableView->editCell(int(at), m_tableView->header()->logicalIndex(0));
}

void ZNTTableViewController::duplicate() {
    const QList<int> rows = m_tableView->selectedRowIndexes();
    if (rows.size() != 1 || !endEditingForAction()) {
        beep();
        return;
    }
    duplicateRowAtIndex(rows.first());
}

void ZNTTableViewController::duplicateClickedRow(int row) {
    if (row < 0)
        return;
    if (!endEditingForAction()) {
        beep();
        return;
    }
    duplicateRowAtIndex(row);
}

void ZNTTableViewController::duplicateRowAtIndex(qsizetype row) {
    const auto metadata = pageMetadata();
    if (m_isBusy || m_readOnly || !m_model->edits().hasResult() || !metadata || row < 0 ||
        row >= m_model->edits().rowCount()) {
        beep();
        return;
    }
    // The row's values with its key left to the server, as a new row right
    // below it, every cell edited.
    const auto copy = ZNTRow::createDuplicate(m_table, displayOrder(objectValuesAtRowIndex(row), *metadata), metadata);
    ZNTTableEdits::EditSlots cells(m_model->edits().columnCount());
    const ZNTColumnList &display = metadata->displayColumns();
    for (int d = 0; d < display.size() && size_t(d) < copy->values().size(); ++d) {
        const int r = m_model->resultColumn(m_model->displayColumnNamed(display[d]->name()));
        if (r >= 0)
            cells[r] = copy->values()[size_t(d)];
    }
    pushInsert({ZNTTableEdits::Row::newRow(cells)}, {row + 1}, QStringLiteral("Duplicate Row"));
    m_tableView->editCell(int(row + 1), m_tableView->header()->logicalIndex(0));
}

void ZNTTableViewController::deleteRows() {
    deleteClickedRows(m_tableView->selectedRowIndexes());
}

void ZNTTableViewController::deleteClickedRows(const QList<int> &rows) {
    if (m_isBusy || m_readOnly || !endEditingForAction()) {
        beep();
        return;
    }
    QList<qsizetype> indices;
    for (int row : rows) {
        if (row >= 0 && row < m_model->edits().rowCount())
            indices << row;
    }
    pushDelete(indices);
}

bool ZNTTableViewController::discardChanges() {
    if (m_isBusy || !endEditingForAction())
        return false;
    m_carriedChanges = {}; // the changes held over an unsettled save go too
    m_notPutBackNotice = 0;
    // Both snapshots hold the rows taken so far; a page still loading takes
    // more before an undo or redo puts one of them back.
    const std::vector<ZNTTableEdits::Row> before = m_model->edits().rows();
    const std::vector<ZNTTableEdits::Row> after = m_model->edits().rowsWithoutChanges();
    const qsizetype taken = m_model->edits().takenStoreRows();
    m_undoStack->push(new ZNTTableEditCommand(
        QStringLiteral("Discard Changes"), [this, after, taken](bool) { setOriginalRows(after, taken); },
        [this, before, taken] { setOriginalRows(before, taken); }));
    return true;
}

void ZNTTableViewController::selectRows(const QList<qsizetype> &rows, bool scroll) {
    QItemSelectionModel *selection = m_tableView->selectionModel();
    QItemSelection chosen;
    const int lastColumn = m_model->columnCount() - 1;
    for (qsizetype row : rows) {
        if (row >= 0 && row < m_model->rowCount())
            chosen.select(m_model->index(int(row), 0), m_model->index(int(row), lastColumn));
    }
    selection->select(chosen, QItemSelectionModel::ClearAndSelect);
    if (scroll && !rows.isEmpty()) {
        const qsizetype first = *std::min_element(rows.begin(), rows.end());
        if (first >= 0 && first < m_model->rowCount())
            m_tableView->scrollTo(
                m_model->index(int(first), m_tableView->columnAt(0) < 0 ? 0 : m_tableView->columnAt(0)));
    }
}

void ZNTTableViewController::moveEditing(QWidget *, int direction) {
    const QModelIndex current = m_tableView->currentIndex();
    const int target = current.row() + direction;
    if (!m_tableView->endEditing()) {
        beep();
        return;
    }
    m_tableView->setFocus(Qt::OtherFocusReason);
    if (!current.isValid() || target < 0 || target >= m_model->rowCount())
        return;
    selectRows({target}, false);
    m_tableView->editCell(target, current.column());
}

// --- the save bar and saving ----------------------------------------------------

void ZNTTableViewController::updateSaveView() {
    const ZNTTableEdits::Counts counts = m_model->edits().counts();
    if (!counts.any()) {
        if (m_saveBar)
            m_saveBar->hide();
    } else {
        if (!m_saveBar) {
            m_saveBar = new ZNTSaveBarView;
            m_pageLayout->addWidget(m_saveBar);
            connect(m_saveBar, &ZNTSaveBarView::saveClicked, this, [this] { save(); });
            connect(m_saveBar, &ZNTSaveBarView::discardClicked, this, [this] {
                if (!discardChanges())
                    beep();
            });
            connect(m_saveBar, &ZNTSaveBarView::previewClicked, this,
                    [this](QWidget *sender) { showSQLPreview(sender); });
        }
        m_saveBar->setStatusText(pendingChangesText(counts.newRows, counts.editedRows, counts.deletedRows));
        m_saveBar->setBusy(m_isBusy);
        m_saveBar->show();
    }
    refreshSQLPreviewPanel();
    emit validationRequested();
}

// --- settling pending changes ---------------------------------------------------

bool ZNTTableViewController::hasUnsavedChanges() const {
    if (!m_model)
        return false;
    return (m_tableView && m_tableView->isEditing()) || m_model->edits().counts().any() || !m_carriedChanges.isEmpty();
}

// A notice of changes that could not be put back waits too: the page is not
// let go before it has been shown.
bool ZNTTableViewController::hasPendingChanges() const {
    return hasUnsavedChanges() || noticeWaits();
}

void ZNTTableViewController::resignWithInformativeText(const QString &text, std::function<void(bool)> handler) {
    if (m_isBusy || !m_view || !m_tableView->endEditing()) {
        beep();
        handler(false);
        return;
    }
    if (!hasUnsavedChanges()) {
        // The notice shows first; the page is let go only once it has.
        const bool waits = noticeWaits();
        handler(!waits);
        if (waits)
            presentNotPutBackNotice();
        return;
    }
    Alert *alert = Alert::alertWithMessageText(QStringLiteral("Save changes to the database?"), QStringLiteral("Save"),
                                               QStringLiteral("Discard Changes"), QStringLiteral("Cancel"), text);
    for (QPushButton *button : alert->buttons()) {
        if (alert->returnCode(button) == Alert::AlternateReturn)
            alert->setKeyEquivalent(button, QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    }
    alert->compatibleBeginSheetModalForWindow(pageView()->window(), [this, handler](int code) {
        if (code == Alert::DefaultReturn) {
            saveEditsWithCompletionHandler([this, handler](bool success, ErrorPtr error) {
                // Changes still held for rows not loaded yet are not settled,
                // nor is a page whose notice of changes not put back waits: it
                // shows once the save has ended.
                const bool waits = noticeWaits();
                const bool settled = success && m_carriedChanges.isEmpty() && !waits;
                handler(settled);
                if (!success && error)
                    presentSaveError(error);
                else if (!settled && !waits)
                    beep();
            });
        } else if (code == Alert::AlternateReturn) {
            const bool discarded = discardChanges();
            if (!discarded)
                beep();
            handler(discarded);
        } else {
            handler(false);
        }
    });
}

void ZNTTableViewController::resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) {
    resignWithInformativeText(QString(), [delegate, userInfo](bool success) {
        if (delegate)
            delegate->didResign(success, userInfo);
    });
}

// --- the detail sidebar ---------------------------------------------------------

std::vector<Value> ZNTTableViewController::displayOrder(const ZNTTableEdits::Values &resultValues,
                                                        const ZNTTableMetadata &metadata) const {
    std::vector<Value> values;
    for (const auto &column : metadata.displayColumns()) {
        const int r = m_model->resultColumn(m_model->displayColumnNamed(column->name()));
        values.push_back(r >= 0 && r < resultValues.size() ? resultValues[r] : Value());
    }
    return values;
}

std::shared_ptr<ZNTRow> ZNTTableViewController::rowForValues(const ZNTTableEdits::Values &resultValues) const {
    const auto metadata = pageMetadata();
    return metadata ? ZNTRow::createWithTable(m_table, displayOrder(resultValues, *metadata), metadata) : nullptr;
}

void ZNTTableViewController::updateSidebarView() {
    if (!m_model)
        return;
    m_sidebarIndexes = m_tableView->selectedRowIndexes();
    std::shared_ptr<ZNTRow> row;
    if (!m_sidebarIndexes.isEmpty() && m_model->edits().hasResult()) {
        ZNTTableEdits::Values merged = objectValuesAtRowIndex(m_sidebarIndexes.first());
        for (qsizetype i = 1; i < m_sidebarIndexes.size(); ++i) {
            const ZNTTableEdits::Values other = objectValuesAtRowIndex(m_sidebarIndexes[i]);
            for (qsizetype c = 0; c < merged.size() && c < other.size(); ++c) {
                if (merged[c] != other[c])
                    merged[c] = Value::multipleMarker();
            }
        }
        row = rowForValues(merged);
    }
    m_sidebarPlaceholder->setVisible(!row);
    if (!row) {
        m_sidebarRowViewController.reset();
        return;
    }
    if (m_sidebarRowViewController) {
        m_sidebarRowViewController->setRow(row);
        return;
    }
    m_sidebarRowViewController = makeRowEditor(row);
    if (!m_sidebarRowViewController)
        return;
    m_sidebarRowViewController->setDisableEditing(m_isBusy);
    m_sidebarRowViewController->setDelegate(this);
    m_rightSidebarView->layout()->addWidget(m_sidebarRowViewController->editorView());
}

void ZNTTableViewController::rowViewControllerDidEditColumn(ZNTSidebarRowEditor *, qsizetype column,
                                                            const Value &newValue) {
    if (newValue.isMultiple())
        return;
    const auto metadata = pageMetadata();
    if (m_isBusy || !metadata || column < 0 || column >= metadata->displayColumns().size()) {
        beep();
        return;
    }
    const int r = m_model->resultColumn(m_model->displayColumnNamed(metadata->displayColumns()[column]->name()));
    if (r < 0)
        return;
    QList<qsizetype> rows;
    bool differs = false;
    for (int row : m_sidebarIndexes) {
        rows << row;
        differs = differs || objectValueAtRowIndex(row, r) != newValue;
    }
    if (!differs)
        return;
    m_committingSidebarEdit = true;
    pushSetValues(rows, r, QList<Value>(rows.size(), newValue), false, editActionName(rows.size()));
    m_committingSidebarEdit = false;
}
