#include "ZNTSidebarOutlineView.h"

#include "ZNTActionRoute.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

ZNTSidebarOutlineView::ZNTSidebarOutlineView(QWidget *parent) : QTreeView(parent) {
    setObjectName(QStringLiteral("sidebarOutline"));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setFrameShape(QFrame::NoFrame);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(QStringLiteral("Navigation sidebar"));
    header()->setStretchLastSection(true);
}

bool ZNTSidebarOutlineView::event(QEvent *event) {
    // Before the widget's own Tab handling moves the focus to the next child.
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab && !(key->modifiers() & ~Qt::KeypadModifier) &&
            sendAction(this, ZNTActionName::makeMainViewFirstResponder)) {
            event->accept();
            return true;
        }
    }
    return QTreeView::event(event);
}

// A right click opens the menu for the clicked row without selecting it: a
// selection navigates, and the menu acts on the row, or on the selection
// when the row is part of it.
void ZNTSidebarOutlineView::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void ZNTSidebarOutlineView::contextMenuEvent(QContextMenuEvent *event) {
    QModelIndex clicked;
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        clicked = currentIndex();
        const QRect row = visualRect(clicked);
        if (row.isValid())
            global = viewport()->mapToGlobal(row.bottomLeft() + QPoint(row.height(), 0));
    } else {
        clicked = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    }
    emit contextMenuRequested(clicked, global);
    event->accept();
}

void ZNTSidebarOutlineView::setMarkedRows(const QList<QPersistentModelIndex> &rows) {
    m_markedRows = rows;
    viewport()->update();
}

void ZNTSidebarOutlineView::drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const {
    QTreeView::drawRow(painter, option, index);
    if (!m_markedRows.contains(QPersistentModelIndex(index)))
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(QRectF(option.rect).adjusted(1, 1, -1, -1), 3, 3);
    painter->restore();
}
