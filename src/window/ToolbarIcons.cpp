#include "ToolbarIcons.h"

#include "uikit/DrawnIcon.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {
using ToolbarIcons::Shape;

// Drawn on an 18 x 18 grid.
void draw(Shape shape, QPainter &p) {
    QPen pen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (shape) {
    case Shape::Back:
        p.drawPolyline(QPolygonF({{11.5, 3.5}, {5.5, 9}, {11.5, 14.5}}));
        break;
    case Shape::Forward:
        p.drawPolyline(QPolygonF({{6.5, 3.5}, {12.5, 9}, {6.5, 14.5}}));
        break;
    case Shape::Reload: {
        QPainterPath arc;
        arc.arcMoveTo(QRectF(3.5, 3.5, 11, 11), 60);
        arc.arcTo(QRectF(3.5, 3.5, 11, 11), 60, 290);
        p.drawPath(arc);
        p.setBrush(Qt::black);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({{9.2, 1.6}, {13.8, 4.2}, {9.4, 7.2}}));
        break;
    }
    case Shape::Filter:
        p.drawPolygon(QPolygonF({{3, 4}, {15, 4}, {10.5, 9.5}, {10.5, 14.5}, {7.5, 13}, {7.5, 9.5}}));
        break;
    case Shape::LeftSidebar:
    case Shape::RightSidebar: {
        pen.setWidthF(1.3);
        p.setPen(pen);
        const QRectF frame(2.5, 3.5, 13, 11);
        p.drawRoundedRect(frame, 2, 2);
        const double x = shape == Shape::LeftSidebar ? 7.0 : 11.0;
        p.drawLine(QPointF(x, 3.5), QPointF(x, 14.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 90));
        p.drawRect(shape == Shape::LeftSidebar ? QRectF(3.2, 4.2, 3.8, 9.6) : QRectF(11, 4.2, 3.8, 9.6));
        break;
    }
    }
}

QColor colourFor(QIcon::Mode mode) {
    const QPalette palette = QApplication::palette();
    if (mode == QIcon::Disabled)
        return palette.color(QPalette::Disabled, QPalette::ButtonText);
    if (mode == QIcon::Selected)
        return palette.color(QPalette::HighlightedText);
    return palette.color(QPalette::ButtonText);
}

QImage render(Shape shape, const QSize &pixels, QIcon::Mode mode) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels.width() / 18.0, pixels.height() / 18.0);
    draw(shape, p);
    // Only the coverage was drawn: it takes the palette's colour now.
    DrawnIcon::tintCoverage(p, image, colourFor(mode));
    return image;
}

} // namespace

QIcon ToolbarIcons::icon(Shape shape) {
    return DrawnIcon::icon([shape](const QSize &pixels, QIcon::Mode mode) { return render(shape, pixels, mode); },
                           QStringLiteral("TrellanToolbarIcon"));
}
