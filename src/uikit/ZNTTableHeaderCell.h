#pragma once

#include <QHeaderView>
#include <QMap>

enum ZNTSortMode {
    ZNTSortModeNone = 0,
    ZNTSortModeAscending = 1,
    ZNTSortModeDescending = 2,
};

// The column header of the data grids, drawn by hand in a smaller font: a
// light band (lighter while the window is inactive), a sort indicator per
// column as its owner sets it, the title left-aligned and cut short before the
// indicator. The owner decides what a click sorts; the header only shows it.
//
//     auto *header = new ZNTTableHeaderCell(Qt::Horizontal, grid);
//     grid->setHorizontalHeader(header);
//     header->setSortMode(column, ZNTSortModeAscending);
//
// main thread
class ZNTTableHeaderCell : public QHeaderView {
    Q_OBJECT
public:
    explicit ZNTTableHeaderCell(Qt::Orientation orientation = Qt::Horizontal, QWidget *parent = nullptr);

    // Any value but ascending and descending shows no indicator.
    void setSortMode(int logicalIndex, int mode);
    int sortMode(int logicalIndex) const;

    // Where the title of a section of that rectangle is drawn: 4 px in, and
    // 5 px plus the indicator and 2 px of space short of the right edge.
    QRect titleRect(const QRect &section, int logicalIndex) const;
    static QSize indicatorSize();

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
    QSize sectionSizeFromContents(int logicalIndex) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void drawIndicator(QPainter *painter, const QRect &rect, int mode) const;
    bool isSectionOn(int logicalIndex) const;

    QMap<int, int> m_sortModes;
    int m_pressed = -1;
};
