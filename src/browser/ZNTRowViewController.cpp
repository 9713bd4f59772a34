#include "ZNTRowViewController.h"

#include "ZNTBooleanCell.h"
#include "ZNTByteaCellView.h"
#include "ZNTForeignKeyCell.h"
#include "ZNTRowValueTextCell.h"
#include "model/ZNTAsynchronousRow.h"
#include "model/ZNTConstraint.h"
#include "platform/Log.h"
#include "uikit/AltTyping.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTTextView.h"

#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

ZNTRowViewController *ZNTRowViewController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    const auto row = std::dynamic_pointer_cast<ZNTRow>(item);
    if (!row)
        return nullptr;
    auto *controller = new ZNTRowViewController;
    // Reached from the window, not from a table page: whatever were typed
    // here would be stored nowhere.
    controller->setReadOnly(true);
    controller->setRow(row);
    return controller;
}

std::unique_ptr<ZNTSidebarRowEditor> ZNTRowViewController::sidebarEditorForRow(const std::shared_ptr<ZNTRow> &row) {
    auto editor = std::make_unique<ZNTRowViewController>();
    editor->setRow(row);
    return editor;
}

ZNTRowViewController::ZNTRowViewController(QObject *parent) : ZNTContentController(parent) {
    observeCells();
}

ZNTRowViewController::~ZNTRowViewController() {
    // The view goes after this object: nothing its cells report on the way
    // out may reach the delegate, or this object.
    m_cellObservers.clear();
    m_rowLoadingObserver.stopObserving();
    m_delegate = nullptr;
    m_pickObserver.stopObserving();
    if (m_foreignTablePopover) {
        disconnect(m_foreignTablePopover, nullptr, this, nullptr);
        delete m_foreignTablePopover.data();
    }
    // The list is a child of the view, which whoever holds it may have
    // deleted first.
    if (m_view && m_tableView)
        m_tableView->setDataSource(nullptr);
}

QWidget *ZNTRowViewController::makeView() {
    m_view = new ZNTControlledView;
    m_view->setViewController(this);
    auto *layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tableView = new ZNTRowListView(m_view);
    m_tableView->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_tableView);
    m_tableView->setDataSource(this);
    return m_view;
}

void ZNTRowViewController::observeCells() {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    m_cellObservers.push_back(center.observe(ZNTRowValueChanged, nullptr, [this](const Notification &n) {
        if (ZNTRowValueCell *cell = ownCell(n.object.get()))
            rowValueChanged(cell);
    }));
    m_cellObservers.push_back(center.observe(ZNTRowHeightChanged, nullptr, [this](const Notification &n) {
        if (ZNTRowValueCell *cell = ownCell(n.object.get()))
            rowHeightChanged(cell);
    }));
}

// Cells of other row editors post the same notifications.
ZNTRowValueCell *ZNTRowViewController::ownCell(const void *object) const {
    if (!m_tableView || !object)
        return nullptr;
    for (QWidget *view : m_tableView->allViews())
        if (view == object)
            return dynamic_cast<ZNTRowValueCell *>(view);
    return nullptr;
}

void ZNTRowViewController::setRow(const std::shared_ptr<ZNTRow> &row) {
    closePicker();
    if (m_tableView)
        for (int index : m_tableView->visibleRows())
            if (auto *cell = dynamic_cast<ZNTRowValueCell *>(m_tableView->viewAtRow(index, false)))
                cell->abandonEditing();
    m_rowLoadingObserver.stopObserving();
    m_model.setRow(row);
    // A referenced row opened before it loaded shows its values once it has.
    const auto loading = std::dynamic_pointer_cast<ZNTAsynchronousRow>(row);
    if (loading && !loading->hasLoaded())
        m_rowLoadingObserver = observeNext(loading, ZNTAsynchronousRow::LoadingDoneNotification,
                                           [this, row](const Notification &) { setRow(row); });
    if (m_tableView)
        m_tableView->reloadData();
}

void ZNTRowViewController::setDisableEditing(bool disable) {
    m_disabledByOwner = disable;
    updateEditability();
}

void ZNTRowViewController::setReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    if (m_tableView)
        m_tableView->reloadData();
}

bool ZNTRowViewController::isEditable() const {
    const auto row = m_model.row();
    return !disableEditing() && !m_readOnly && row && !row->isReadOnly();
}

void ZNTRowViewController::updateEditability() {
    if (!m_tableView)
        return;
    for (QWidget *view : m_tableView->allViews()) {
        if (auto *cell = dynamic_cast<ZNTRowValueCell *>(view))
            cell->setEditable(isEditable());
        if (auto *foreign = qobject_cast<ZNTForeignKeyCell *>(view))
            foreign->setActionsEnabled(!disableEditing());
    }
}

bool ZNTRowViewController::makeFirstResponder() {
    for (int index = 0; index < m_model.count(); ++index)
        if (setFirstResponderToFieldAtIndex(index))
            return true;
    return false;
}

ZNTRowValueCell *ZNTRowViewController::cellAtRow(int index, bool makeIfNecessary) {
    view();
    return dynamic_cast<ZNTRowValueCell *>(m_tableView->viewAtRow(index, makeIfNecessary));
}

// --- the list's data source ------------------------------------------------------

int ZNTRowViewController::numberOfRows() {
    return m_model.count();
}

int ZNTRowViewController::heightOfRow(int row) {
    return m_model.heightOfRow(row, ZNTForeignKeyCell::defaultHeight(), int(ZNTRowValueTextCell::defaultHeight()));
}

QWidget *ZNTRowViewController::makeCell(ZNTRowEditorModel::CellKind kind) {
    using Kind = ZNTRowEditorModel::CellKind;
    const QString identifier = kind == Kind::Bytea        ? ZNTByteaCellView::Identifier
                               : kind == Kind::Boolean    ? ZNTBooleanCell::Identifier
                               : kind == Kind::ForeignKey ? ZNTForeignKeyCell::Identifier
                                                          : ZNTRowValueTextCell::Identifier;
    if (QWidget *reused = m_tableView->dequeueReusableView(identifier))
        return reused;
    QWidget *cell = nullptr;
    switch (kind) {
    case Kind::Bytea:
        cell = new ZNTByteaCellView(m_tableView->viewport());
        break;
    case Kind::Boolean:
        cell = new ZNTBooleanCell(m_tableView->viewport());
        break;
    case Kind::ForeignKey:
        cell = new ZNTForeignKeyCell(this, m_tableView->viewport());
        break;
    case Kind::Text:
        cell = new ZNTRowValueTextCell(m_tableView->viewport());
        break;
    }
    ZNTRowListView::setReuseIdentifier(cell, identifier);
    return cell;
}

QWidget *ZNTRowViewController::viewForRow(int row) {
    const ZNTRowEditorModel::CellKind kind = m_model.cellKind(row);
    QWidget *view = makeCell(kind);
    auto *cell = dynamic_cast<ZNTRowValueCell *>(view);
    // At its row's size from the start, so that what it measures is right.
    view->resize(m_tableView->viewport()->width(), heightOfRow(row));
    cell->setColumn(m_model.columnAt(row));
    cell->setEditable(isEditable());
    // Whatever its kind, no field types a letter pressed with Alt: the page's
    // Alt keys (save, discard, preview) reach it instead.
    for (QWidget *field : cell->keyViews())
        uv_skipAltTypingIn(field);
    const Value value = m_model.valueAt(row);
    if (auto *text = qobject_cast<ZNTRowValueTextCell *>(view)) {
        prepareTextCell(text, row);
        text->setObjectValue(value);
        textFieldFrameChanged(text);
    } else if (auto *bytea = qobject_cast<ZNTByteaCellView *>(view)) {
        bytea->setRowHeightIdentifier(row);
        bytea->setObjectValue(value);
        rowHeightChanged(bytea);
    } else if (auto *foreign = qobject_cast<ZNTForeignKeyCell *>(view)) {
        foreign->setActionsEnabled(!disableEditing());
        foreign->setObjectValue(value);
        const auto constraint = m_model.foreignKeyConstraint(row);
        foreign->setKeyAttnums(constraint ? constraint->foreignAttnums() : QList<qint64>());
        foreign->setForeignRow(m_model.foreignRow(row));
    } else {
        cell->setObjectValue(value);
    }
    return view;
}

void ZNTRowViewController::prepareTextCell(ZNTRowValueTextCell *cell, int row) {
    cell->setRowHeightIdentifier(row);
    if (!cell->textViewObservers().contains(this)) {
        connect(cell, &ZNTTextViewCell::preferredHeightChanged, this, [this, cell] { textFieldFrameChanged(cell); });
        cell->addTextViewObserver(this);
    }
    const auto shown = m_model.row();
    cell->setReadOnlyRow(m_readOnly || !shown || shown->isReadOnly());
}

// A text cell that goes off screen stops telling its heights.
void ZNTRowViewController::didRemoveRowView(QWidget *view, int) {
    if (auto *text = qobject_cast<ZNTTextViewCell *>(view))
        text->removeTextViewObservers();
}

// --- heights ------------------------------------------------------------------------

void ZNTRowViewController::textFieldFrameChanged(ZNTRowValueTextCell *cell) {
    bool ok = false;
    const int index = cell->rowHeightIdentifier().toInt(&ok);
    if (!ok)
        return;
    const int height = int(std::ceil(cell->preferredHeight()));
    if (height == m_model.storedHeight(index))
        return;
    m_model.setStoredHeight(index, height);
    scheduleHeightUpdate();
}

// The text view's frame changes in the middle of a layout: the rows follow
// on a later turn of the event loop.
void ZNTRowViewController::scheduleHeightUpdate() {
    if (m_heightUpdatePending)
        return;
    m_heightUpdatePending = true;
    QTimer::singleShot(0, this, [this] {
        m_heightUpdatePending = false;
        if (m_tableView)
            m_tableView->noteHeightOfRowsChanged();
    });
}

void ZNTRowViewController::rowHeightChanged(ZNTRowValueCell *cell) {
    const int index = rowIndexOfCell(cell);
    auto *bytea = dynamic_cast<ZNTByteaCellView *>(cell);
    if (index < 0 || !bytea)
        return;
    const int height = int(std::ceil(bytea->preferredHeight()));
    if (height == m_model.storedHeight(index))
        return;
    m_model.setStoredHeight(index, height);
    m_tableView->noteHeightOfRowsChanged();
}

// --- edits ---------------------------------------------------------------------------

int ZNTRowViewController::rowIndexOfCell(ZNTRowValueCell *cell) const {
    QVariant identifier;
    if (auto *text = dynamic_cast<ZNTTextViewCell *>(cell))
        identifier = text->rowHeightIdentifier();
    else if (auto *bytea = dynamic_cast<ZNTByteaCellView *>(cell))
        identifier = bytea->rowHeightIdentifier();
    else
        return m_tableView ? m_tableView->rowForView(cell->cellWidget()) : -1;
    bool ok = false;
    const int index = identifier.toInt(&ok);
    return ok ? index : -1;
}

void ZNTRowViewController::rowValueChanged(ZNTRowValueCell *cell) {
    const int index = rowIndexOfCell(cell);
    if (index < 0) {
        Log(QStringLiteral("Received rowValueChanged: from cell with invalid row index: %1.").arg(index));
        return;
    }
    if (!isEditable()) {
        cell->setObjectValue(m_model.valueAt(index)); // nothing is stored here
        return;
    }
    if (!m_model.setValue(index, cell->objectValue()))
        return;
    if (auto *foreign = dynamic_cast<ZNTForeignKeyCell *>(cell))
        foreign->setForeignRow(m_model.foreignRow(index));
    if (m_delegate)
        m_delegate->rowViewControllerDidEditColumn(this, index, m_model.valueAt(index));
}
