#pragma once

#include "uikit/KRVTableDataCell.h"

#include <QTableView>

class ZNTTableHeaderCell;

// The cell of the table page's grid: a data cell that tints the column the
// rows are sorted by, and whose editor hands Up and Down to the grid (to go on
// editing in the row above or below) instead of moving its cursor.
class ZNTTableGridCell : public KRVTableDataCell {
    Q_OBJECT
public:
    using KRVTableDataCell::KRVTableDataCell;

    void setHighlightedColumn(int column) { m_highlightedColumn = column; }
    int highlightedColumn() const { return m_highlightedColumn; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // No editor for a text longer than the row editor takes: the cell says
    // why in a tool tip, and beeps.
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    static QString tooLongToEditText();

signals:
    // The editor's Up (-1) or Down (+1).
    void moveRequested(QWidget *editor, int direction);

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    int m_highlightedColumn = -1;
};

// The grid of the table page: whole rows selected, one line per row, the
// sortable header, a context menu and double clicks reported to the page, and
// editing started by typing, a double click (unless the page takes double
// clicks itself) or F2. main thread
class ZNTTableGridView : public QTableView {
    Q_OBJECT
public:
    explicit ZNTTableGridView(QWidget *parent = nullptr);

    ZNTTableHeaderCell *header() const { return m_header; }
    ZNTTableGridCell *cell() const { return m_cell; }
    // A double click edits its cell; with this off it only reports the row.
    void setDoubleClickEdits(bool edits);
    // The row and column under a point of the viewport (-1 for none).
    int rowAtPoint(const QPoint &pos) const { return rowAt(pos.y()); }
    // The rows whose every cell is selected, else those with a selected cell;
    // ascending.
    QList<int> selectedRowIndexes() const;
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }
    // Commits the open editor, if any; false when it refused to let go.
    bool endEditing();
    // Closes the open editor without keeping its text.
    void abortEditing();
    void editCell(int row, int column);

signals:
    void rowDoubleClicked(int row);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    ZNTTableHeaderCell *m_header;
    ZNTTableGridCell *m_cell;
};
