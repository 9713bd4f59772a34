#include "DrawnIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <cmath>

namespace DrawnIcon {
namespace {

class Engine : public QIconEngine {
public:
    Engine(Renderer render, QString key, QSizeF designSize)
        : m_render(std::move(render)), m_key(std::move(key)), m_designSize(designSize) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        // Rendered at the device's own resolution, so nothing is scaled afterwards.
        const QTransform t = painter->worldTransform();
        qreal scale = std::hypot(t.m11(), t.m12());
        if (painter->device())
            scale *= painter->device()->devicePixelRatioF();
        const QSize pixels(int(std::ceil(rect.width() * scale)), int(std::ceil(rect.height() * scale)));
        painter->drawImage(QRectF(rect), m_render(pixels, mode));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override {
        return QPixmap::fromImage(m_render(size, mode));
    }

    // QIcon asks with the size already in device pixels.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = QPixmap::fromImage(m_render(size, mode));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        return m_designSize.isEmpty() ? size : m_designSize.scaled(QSizeF(size), Qt::KeepAspectRatio).toSize();
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return m_designSize.isEmpty() ? QList<QSize>() : QList<QSize>{m_designSize.toSize()};
    }

    QString key() const override { return m_key; }
    QIconEngine *clone() const override { return new Engine(m_render, m_key, m_designSize); }

private:
    Renderer m_render;
    QString m_key;
    QSizeF m_designSize;
};

} // namespace

QIcon icon(Renderer render, const QString &key, const QSizeF &designSize) {
    return QIcon(new Engine(std::move(render), key, designSize));
}

void tintCoverage(QPainter &painter, const QImage &image, const QColor &colour) {
    painter.resetTransform();
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
}

} // namespace DrawnIcon
