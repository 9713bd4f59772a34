#include "ZNTBottomBarView.h"

#include <QLinearGradient>
#include <QPainter>

ZNTBottomBarView::ZNTBottomBarView(QWidget *parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ZNTBottomBarView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QPalette &pal = palette();
    const bool dark = pal.color(QPalette::Window).lightness() < 128;
    // Light: white 0.95 fading down to 8 % darker; dark: the window colour.
    const QColor base = dark ? pal.color(QPalette::Window).lighter(112) : QColor::fromRgbF(0.95f, 0.95f, 0.95f);
    const QColor bottom = base.darker(109);
    QLinearGradient gradient(0, height(), 0, 0);
    gradient.setColorAt(0, bottom);
    gradient.setColorAt(1, base);
    painter.fillRect(rect(), gradient);
    const QColor line = dark ? pal.color(QPalette::Shadow) : QColor::fromRgbF(0.8f, 0.8f, 0.8f);
    QColor light = dark ? pal.color(QPalette::Light) : QColor(Qt::white);
    if (dark)
        light.setAlphaF(0.5f);
    painter.fillRect(QRect(0, 0, width(), 1), line);
    painter.fillRect(QRect(0, 1, width(), 1), light);
}
