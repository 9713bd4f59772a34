#pragma once

#include <QTableView>
#include <QWidget>
#include <memory>

class QLabel;
class QScrollBar;
class ZNTGridModel;
class ZNTTableGridCell;
class ZNTTableHeaderCell;
class ZNTTerminalResult;

// The grid of a result inside the transcript: every row shown, 32 pixels
// each; the transcript scrolls it up and down, the grid itself only sideways.
// Its own header is hidden: the result row shows one that floats. A wheel
// gesture that begins more sideways than up or down scrolls the grid sideways
// to its end (decided on the gesture's first event where the platform tells
// gestures, else per event); every other goes on to the transcript. A marked
// cell is framed (the cell "Copy Cell" of its menu would copy). main thread
class ZNTTerminalTableView : public QTableView {
    Q_OBJECT
public:
    explicit ZNTTerminalTableView(QWidget *parent = nullptr);

    ZNTTableGridCell *cell() const { return m_cell; }
    void setMarkedCell(int row, int column);
    QModelIndex markedCell() const;
    bool isScrollingSideways() const { return m_sideways; }

signals:
    void rowDoubleClicked(int row);
    // The current cell moved (by keys or a click): its rectangle, in this
    // view's coordinates, should be in sight.
    void currentCellMoved(const QRect &rect);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    void decideGesture(const QPoint &delta);

    ZNTTableGridCell *m_cell;
    int m_markedRow = -1;
    int m_markedColumn = -1;
    bool m_sideways = false;
    bool m_gestureDecided = false;
};

// A row of the transcript for a result with rows: the floating header, the
// grid, and under it a sideways scroll bar and the row count, which float at
// the bottom of the visible area while the grid's end is out of sight.
class ZNTTerminalQueryTabularResult : public QWidget {
    Q_OBJECT
public:
    explicit ZNTTerminalQueryTabularResult(QWidget *parent = nullptr);

    // The height for rows under the style of widget: with the room of a
    // sideways scroll bar unless the style's scroll bars are transient.
    static int heightForRowCount(qsizetype rows, const QWidget *widget);
    // That room: 0 for transient scroll bars.
    static int scrollBarExtent(const QWidget *widget);

    void setResult(const std::shared_ptr<ZNTTerminalResult> &result);
    const std::shared_ptr<ZNTTerminalResult> &result() const { return m_result; }
    ZNTGridModel *model() const { return m_model; }
    ZNTTerminalTableView *tableView() const { return m_tableView; }
    ZNTTableHeaderCell *headerView() const { return m_header; }
    QScrollBar *horizontalScroller() const { return m_scroller; }
    QLabel *rowCountField() const { return m_rowCountField; }

    // A column's width in the grid and its header alike.
    void setColumnWidth(int column, int width);
    // Places the floating parts for the transcript's visible area as it is now.
    void updateFloatingParts();

signals:
    // The style changed: whether scroll bars take room may have too.
    void scrollerStyleChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    void connectParts();
    QRect tableArea() const;

    std::shared_ptr<ZNTTerminalResult> m_result;
    ZNTGridModel *m_model = nullptr;
    ZNTTerminalTableView *m_tableView = nullptr;
    ZNTTableHeaderCell *m_header = nullptr;
    QWidget *m_bottomStrip = nullptr;
    QScrollBar *m_scroller = nullptr;
    QLabel *m_rowCountField = nullptr;
};
