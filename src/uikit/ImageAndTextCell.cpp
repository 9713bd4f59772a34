#include "ImageAndTextCell.h"

#include <QApplication>
#include <QPainter>

QRect ImageAndTextCell::iconRect(const QRect &cell, QSize iconSize) {
    return QRect(QPoint(cell.x() + 4, cell.y() + cell.height() / 2 - iconSize.height() / 2), iconSize);
}

void ImageAndTextCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QIcon icon = opt.icon;
    const bool selected = opt.state & QStyle::State_Selected;
    // The style draws the row and the text; the icon is ours.
    opt.icon = QIcon();
    opt.features &= ~QStyleOptionViewItem::HasDecoration;
    opt.decorationSize = QSize(0, 0);
    const QRect cell = opt.rect;
    opt.rect = textRect(cell);
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    if (selected)
        painter->fillRect(cell, opt.palette.brush(QPalette::Highlight));
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    if (!icon.isNull()) {
        const QSize size = option.decorationSize.isValid() ? option.decorationSize : QSize(16, 16);
        icon.paint(painter, iconRect(cell, size), Qt::AlignCenter, selected ? QIcon::Selected : QIcon::Normal);
    }
}

QSize ImageAndTextCell::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.icon = QIcon();
    opt.features &= ~QStyleOptionViewItem::HasDecoration;
    QSize size = QStyledItemDelegate::sizeHint(opt, index);
    size.rwidth() += 22;
    size.setHeight(std::max(size.height(), 20));
    return size;
}
