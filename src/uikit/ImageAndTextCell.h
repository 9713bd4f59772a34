#pragma once

#include <QStyledItemDelegate>

// A list cell with an icon (the model's Qt::DecorationRole) 4 px in from the
// left, vertically centred, and the text 22 px in. On a selected row the icon
// is drawn in its selected form. main thread
class ImageAndTextCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QRect iconRect(const QRect &cell, QSize iconSize);
    static QRect textRect(const QRect &cell) { return cell.adjusted(22, 0, 0, 0); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
