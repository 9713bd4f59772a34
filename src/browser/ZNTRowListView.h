#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QPointer>
#include <vector>

// Where a ZNTRowListView gets its rows: how many, how high each is, and the
// widget that shows one (made afresh or taken from the list's pool of
// widgets no longer shown).
class ZNTRowListDataSource {
public:
    virtual ~ZNTRowListDataSource() = default;
    virtual int numberOfRows() = 0;
    virtual int heightOfRow(int row) = 0;
    // The widget for row, a child of viewport (dequeueReusableView first);
    // tag a new one with setReuseIdentifier.
    virtual QWidget *viewForRow(int row) = 0;
    // The widget of row leaves the screen and goes back to the pool.
    virtual void didRemoveRowView(QWidget *view, int row) {}
    // Tab and Shift+Tab left the last or first key view of the row's widget
    // (from: the widget that has the focus); false lets the list do nothing.
    virtual bool moveFocusFromRow(int row, QWidget *from, bool forward) { return false; }
};

// A vertical list of rows of their own heights, each shown by a widget as
// wide as the list, that makes widgets only for the rows in sight and reuses
// those that scroll away (or are shown for another row after a reload). A
// widget that holds the keyboard focus stays while it has it. main thread
class ZNTRowListView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ZNTRowListView(QWidget *parent = nullptr);
    ~ZNTRowListView() override;

    // Not owned.
    void setDataSource(ZNTRowListDataSource *dataSource);

    static void setReuseIdentifier(QWidget *view, const QString &identifier);
    static QString reuseIdentifier(const QWidget *view);
    // A widget of the pool with that identifier, or null.
    QWidget *dequeueReusableView(const QString &identifier);

    // Asks the data source for everything again; widgets shown go back to the pool.
    void reloadData();
    // The heights of the rows changed; the widgets move, none is made again.
    void noteHeightOfRowsChanged();
    // The widget shown for row, made (and placed where the row is, in sight
    // or not) when needed and asked for; null for a row out of range.
    QWidget *viewAtRow(int row, bool makeIfNecessary);
    // The row whose widget holds view (or is it); -1 for none.
    int rowForView(const QWidget *view) const;
    // Scrolls as little as needed to bring row into sight.
    void scrollRowToVisible(int row);
    // The row's rectangle in the list's content, and which rows are in sight.
    QRect rectOfRow(int row) const;
    QList<int> visibleRows() const;
    // Every widget the list has made, shown or pooled.
    QList<QWidget *> allViews() const;
    int contentHeight() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;
    QSize viewportSizeHint() const override;

private:
    void computeTops();
    void layOutRows();
    void place(QWidget *view, int row);
    void recycle(int row, bool hide = true);
    void updateScrollBar();

    ZNTRowListDataSource *m_dataSource = nullptr;
    std::vector<int> m_tops; // m_tops[n] is the content height
    QHash<int, QPointer<QWidget>> m_shown;
    QHash<QString, QList<QPointer<QWidget>>> m_pool;
    QList<QPointer<QWidget>> m_all;
    int m_makingRow = -1;
    bool m_layingOut = false;
    bool m_layoutAgain = false;
};
