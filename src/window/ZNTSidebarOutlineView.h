#pragma once

#include <QTreeView>

// The outline of the navigation sidebar. Tab hands the focus to the content
// area when the window takes makeMainViewFirstResponder; a context menu, by
// mouse or keyboard, is announced with the row it was opened on. main thread
class ZNTSidebarOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit ZNTSidebarOutlineView(QWidget *parent = nullptr);

    // Rows drawn with a ring: those a context menu acts on while it is open,
    // which need not be the selected ones.
    void setMarkedRows(const QList<QPersistentModelIndex> &rows);

signals:
    // clicked: the row under the pointer (the current row for the keyboard's
    // menu key); invalid for none.
    void contextMenuRequested(const QModelIndex &clicked, const QPoint &globalPos);

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QList<QPersistentModelIndex> m_markedRows;
};
