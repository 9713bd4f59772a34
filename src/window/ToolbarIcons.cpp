#include "ToolbarIcons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <cmath>

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
    p.resetTransform();
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), colourFor(mode));
    return image;
}

class Engine : public QIconEngine {
public:
    explicit Engine(Shape shape) : m_shape(shape) {}
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        const QTransform t = painter->worldTransform();
        qreal scale = std::hypot(t.m11(), t.m12());
        if (painter->device())
            scale *= painter->device()->devicePixelRatioF();
        const QSize pixels(int(std::ceil(rect.width() * scale)), int(std::ceil(rect.height() * scale)));
        painter->drawImage(QRectF(rect), render(m_shape, pixels, mode));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override {
        return QPixmap::fromImage(render(m_shape, size, mode));
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = QPixmap::fromImage(render(m_shape, size, mode));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QString key() const override { return QStringLiteral("TrellanToolbarIcon"); }
    QIconEngine *clone() const override { return new Engine(m_shape); }

private:
    Shape m_shape;
};
} // namespace

QIcon ToolbarIcons::icon(Shape shape) {
    return QIcon(new Engine(shape));
}
