#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <vector>

// The terminal's transcript: rows of any height, top to bottom, each a widget
// of the full width (or an empty space), scrolled vertically. The transcript
// places its rows itself, so that no widget grows beyond Qt's limit however
// long the transcript is; a row widget never scrolls on its own.
//
// Rows are found by a key the owner gives each (its item), never by their
// number: a row fading out has none and is passed over. main thread
class ZNTTerminalOutlineView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ZNTTerminalOutlineView(QWidget *parent = nullptr);

    int rowCount() const { return int(m_rows.size()); }
    // Inserts a row before row (rowCount(): at the end); the view, when
    // given, is the transcript's from now on.
    void insertRow(int row, const void *key, QWidget *view, int height);
    // Removes the row of key and deletes its view.
    void removeRow(const void *key);
    // Takes the rows of keys out of reach at once; their views fade out where
    // they are, then the rows go and the rest closes up.
    void fadeOutRows(const QList<const void *> &keys);
    // Removes every row (views deleted).
    void removeAllRows();

    int rowForKey(const void *key) const;
    const void *keyAtRow(int row) const;
    QWidget *viewAtRow(int row) const;
    // The row whose view is, or holds, widget; -1 for none.
    int rowForView(const QWidget *widget) const;

    int rowHeight(int row) const;
    void setRowHeight(const void *key, int height);
    // In the transcript's coordinates (0 at the top of the first row).
    QRect rectOfRow(int row) const;
    int contentHeight() const;

    // The part of the transcript in sight, in its coordinates.
    QRect visibleRect() const;
    int visibleTop() const;
    void scrollToTop(int top);
    // Scrolls as little as needed to bring rect (transcript coordinates) into sight.
    void scrollRectToVisible(const QRect &rect);
    void scrollRowToVisible(int row);

signals:
    // The visible area changed size (the placeholder follows it).
    void visibleSizeChanged();
    // The rows moved: scrolled, inserted, removed or resized.
    void rowsPlaced();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Row {
        const void *key = nullptr;
        QPointer<QWidget> view;
        int height = 0;
    };
    void placeRows();
    void updateScrollRange();

    std::vector<Row> m_rows;
    bool m_placing = false;
};
