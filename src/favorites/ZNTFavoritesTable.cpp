#include "ZNTFavoritesTable.h"

#include "FavoritePadDelegate.h"
#include "FavoritesListModel.h"
#include "uikit/TableViewAdditions.h"

#include <QContextMenuEvent>
#include <QKeyEvent>

ZNTFavoritesTable::ZNTFavoritesTable(QWidget *parent) : QListView(parent) {
    m_delegate = new FavoritePadDelegate(this);
    setItemDelegate(m_delegate);
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    setUniformItemSizes(false);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(QStringLiteral("Favorites"));
    m_spinnerTimer.setInterval(80);
    connect(&m_spinnerTimer, &QTimer::timeout, this, &ZNTFavoritesTable::updateSpinner);
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex &index) {
        if (m_model && m_model->isFavoriteRow(index.row()))
            emit connectRequested(index.row());
    });
}

void ZNTFavoritesTable::setListModel(FavoritesListModel *model) {
    m_model = model;
    setModel(model);
    connect(model, &FavoritesListModel::rowHeightChanged, this, &ZNTFavoritesTable::noteHeightOfRowsChanged);
    connect(model, &QAbstractItemModel::dataChanged, this, [this] {
        if (!m_spinnerTimer.isActive())
            updateSpinner();
    });
}

int ZNTFavoritesTable::currentRow() const {
    const int row = currentIndex().row();
    return m_model && m_model->isFavoriteRow(row) ? row : -1;
}

void ZNTFavoritesTable::selectRow(int row) {
    if (!m_model || !m_model->isFavoriteRow(row))
        return;
    setCurrentIndex(m_model->index(row));
}

void ZNTFavoritesTable::scrollRowToVisible(int row) {
    if (m_model && row >= 0 && row < m_model->rowCount())
        scrollRowToVisibleWithAnimation(this, m_model->index(row));
}

void ZNTFavoritesTable::noteHeightOfRowsChanged() {
    // Item sizes are cached by the view; this has them asked for again.
    scheduleDelayedItemsLayout();
}

void ZNTFavoritesTable::keyPressEvent(QKeyEvent *event) {
    const int row = currentRow();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (row >= 0 && state() != EditingState) {
            emit connectRequested(row);
            return;
        }
        break;
    case Qt::Key_F2:
        if (row >= 0) {
            emit editRequested(row);
            return;
        }
        break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (row >= 0 && event->modifiers() == Qt::NoModifier) {
            emit deleteRequested(row);
            return;
        }
        break;
    default:
        break;
    }
    QListView::keyPressEvent(event);
}

// The spacer and new-favorite rows show nothing and cannot be selected: the
// keys pass over them to the nearest favorite, so that a key always lands on a
// pad that Return can connect.
QModelIndex ZNTFavoritesTable::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex next = QListView::moveCursor(action, modifiers);
    if (!m_model || m_model->isFavoriteRow(next.row()))
        return next;
    const int count = int(m_model->favorites().size());
    if (count == 0)
        return {};
    return m_model->index(next.row() <= 0 ? 1 : count);
}

void ZNTFavoritesTable::contextMenuEvent(QContextMenuEvent *event) {
    int row = -1;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        row = currentRow();
        if (row >= 0)
            at = viewport()->mapToGlobal(visualRect(m_model->index(row)).center());
    } else {
        row = indexAt(viewport()->mapFromGlobal(event->globalPos())).row();
        if (m_model && !m_model->isFavoriteRow(row))
            row = -1;
    }
    m_clickedRow = row;
    emit contextMenuRequestedForRow(row, at);
    m_clickedRow = -1;
}

void ZNTFavoritesTable::resizeEvent(QResizeEvent *event) {
    const int oldWidth = viewport()->width();
    QListView::resizeEvent(event);
    // A list that only got narrower or wider lays out no row again, so the
    // settings form of the favorite being edited would keep its old width.
    updateEditorGeometries();
    if (viewport()->width() != oldWidth)
        emit widthChanged();
}

void ZNTFavoritesTable::updateSpinner() {
    bool anyBusy = false;
    for (int row = 1; m_model && m_model->isFavoriteRow(row); ++row) {
        const QModelIndex index = m_model->index(row);
        if (index.data(FavoritesListModel::BusyRole).toBool()) {
            anyBusy = true;
            viewport()->update(visualRect(index));
        }
    }
    m_spinnerPhase = (m_spinnerPhase + 1) % 12;
    m_delegate->setSpinnerPhase(m_spinnerPhase);
    if (anyBusy && !m_spinnerTimer.isActive())
        m_spinnerTimer.start();
    else if (!anyBusy)
        m_spinnerTimer.stop();
}
