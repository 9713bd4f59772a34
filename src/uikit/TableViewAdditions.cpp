#include "TableViewAdditions.h"
#include "platform/ProgramError.h"

#include "WindowEditing.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTreeView>
#include <algorithm>
#include <vector>

namespace {

bool shownByTree(const QTreeView *view, const QModelIndex &index) {
    for (QModelIndex i = index; i.isValid(); i = i.parent()) {
        if (view->isRowHidden(i.row(), i.parent()))
            return false;
        if (i != index && !view->isExpanded(i))
            return false;
    }
    return true;
}

// The rows from the root down: comparing them orders items as the tree shows
// them, parents before their children.
QList<int> pathOf(QModelIndex index) {
    QList<int> path;
    for (; index.isValid(); index = index.parent())
        path.prepend(index.row());
    return path;
}

// After the scroll: commit an open editor, lay the rows out again, and put the
// user back into the cell they were editing.
void relayoutKeepingTheEditor(QAbstractItemView *view) {
    QWidget *window = view->window();
    QWidget *editor = nullptr;
    const bool editing = itemViewEditing(window->focusWidget(), &editor) == view;
    const QPersistentModelIndex cell = view->currentIndex();
    if (editing && !uv_endEditing(window))
        return;
    view->doItemsLayout();
    if (editing && cell.isValid()) {
        view->setCurrentIndex(cell);
        view->edit(cell);
    }
}

} // namespace

QList<int> selectedRowsOf(const QItemSelectionModel *selection, bool wholeRows) {
    QList<int> rows;
    const QAbstractItemModel *model = selection ? selection->model() : nullptr;
    const int rowCount = model ? model->rowCount() : 0;
    const int columnCount = model ? model->columnCount() : 0;
    if (rowCount <= 0 || columnCount <= 0 || !selection->hasSelection())
        return rows;
    // Per row: nothing selected, a range over the whole row, or ranges over
    // parts of it only (whether those add up to the row, Qt answers).
    enum : uint8_t { None, Whole, Part };
    std::vector<uint8_t> seen(size_t(rowCount), None);
    for (const QItemSelectionRange &range : selection->selection()) {
        if (range.parent().isValid())
            continue;
        const bool whole = range.left() <= 0 && range.right() >= columnCount - 1;
        for (int row = std::max(range.top(), 0); row <= std::min(range.bottom(), rowCount - 1); ++row)
            seen[size_t(row)] = whole || seen[size_t(row)] == Whole ? Whole : Part;
    }
    for (int row = 0; row < rowCount; ++row) {
        const uint8_t state = seen[size_t(row)];
        if (state == Whole || (state == Part && (!wholeRows || selection->isRowSelected(row))))
            rows << row;
    }
    return rows;
}

QList<int> clickedRowIndexes(const QAbstractItemView *view, int clickedRow) {
    if (clickedRow < 0)
        return {};
    QList<int> selected = selectedRowsOf(view->selectionModel(), false);
    if (!std::binary_search(selected.begin(), selected.end(), clickedRow))
        return {clickedRow};
    return selected;
}

QModelIndexList selectedItems(const QTreeView *view) {
    QModelIndexList items;
    if (!view->selectionModel())
        return items;
    for (const QItemSelectionRange &range : view->selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r) {
            const QModelIndex item = range.model()->index(r, 0, range.parent());
            if (!items.contains(item) && shownByTree(view, item))
                items.append(item);
        }
    }
    std::sort(items.begin(), items.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return pathOf(a) < pathOf(b); });
    return items;
}

QModelIndexList clickedItems(const QTreeView *view, const QModelIndex &clicked) {
    if (!clicked.isValid())
        return {};
    const QModelIndex item = clicked.siblingAtColumn(0);
    const QModelIndexList selected = selectedItems(view);
    if (!selected.contains(item))
        return {item};
    return selected;
}

void scrollRowToVisibleWithAnimation(QAbstractItemView *view, const QModelIndex &index) {
    requireMainThread("scrollRowToVisibleWithAnimation");
    const QRect row = view->visualRect(index);
    if (!row.isValid())
        return;
    QScrollBar *bar = view->verticalScrollBar();
    const int visibleHeight = view->viewport()->height();
    int delta = 0;
    if (row.top() < 0)
        delta = row.top() - 5;
    else if (row.bottom() + 1 > visibleHeight)
        delta = row.bottom() + 1 - visibleHeight;
    else
        return;
    if (view->verticalScrollMode() != QAbstractItemView::ScrollPerPixel) {
        view->scrollTo(index);
        relayoutKeepingTheEditor(view);
        return;
    }
    auto *animation = new QPropertyAnimation(bar, "value", view);
    animation->setDuration(250);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(bar->value());
    animation->setEndValue(std::clamp(bar->value() + delta, bar->minimum(), bar->maximum()));
    QPointer<QAbstractItemView> guard(view);
    QObject::connect(animation, &QPropertyAnimation::finished, view, [guard] {
        if (guard)
            relayoutKeepingTheEditor(guard);
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
