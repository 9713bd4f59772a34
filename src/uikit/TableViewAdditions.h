#pragma once

#include <QList>
#include <QModelIndexList>

class QAbstractItemView;
class QItemSelectionModel;
class QTreeView;

// The selected rows of a table's selection, ascending: with wholeRows those
// whose every cell is selected (what QItemSelectionModel::selectedRows()
// answers), else those with any selected cell. Read from the selection's
// ranges: a million selected rows cost one pass and no index objects.
QList<int> selectedRowsOf(const QItemSelectionModel *selection, bool wholeRows);

// Which rows a context-menu action applies to, given the row the user clicked
// (view->rowAt(pos.y()) in the menu handler; -1 for none): nothing for no row,
// the whole selection when the clicked row is part of it, else only that row.
// A row counts as selected when any of its cells is. Ascending. main thread
QList<int> clickedRowIndexes(const QAbstractItemView *view, int clickedRow);

// The same rule for the items of a tree, as column-0 indexes in the order the
// tree shows them; clicked: view->indexAt(pos) (invalid for none).
QModelIndexList clickedItems(const QTreeView *view, const QModelIndex &clicked);
// The selected items the tree shows (not those inside a collapsed item), in the
// order it shows them.
QModelIndexList selectedItems(const QTreeView *view);

// Scrolls the view smoothly until the row of index is in sight: a row above
// the visible part ends 5 px below its top, one below ends flush with its
// bottom; a row in sight moves nothing. Afterwards the view lays out its rows
// again; an open cell editor is committed first (a refusing editor stops the
// relayout) and opened again on the same cell, so the user keeps typing where
// they were. main thread
void scrollRowToVisibleWithAnimation(QAbstractItemView *view, const QModelIndex &index);
