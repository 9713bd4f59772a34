#include "ZNTAnimatingIndicator.h"

#include <QPainter>
#include <QTimer>
#include <cmath>

namespace {
constexpr int kSpokes = 12;
}

ZNTAnimatingIndicator::ZNTAnimatingIndicator(QWidget *parent) : QWidget(parent), m_timer(new QTimer(this)) {
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ZNTAnimatingIndicator::startAnimation() {
    m_animating = true;
    syncTimer();
    update();
}

void ZNTAnimatingIndicator::stopAnimation() {
    m_animating = false;
    syncTimer();
    update();
}

void ZNTAnimatingIndicator::syncTimer() {
    if (m_animating && isVisible())
        m_timer->start();
    else
        m_timer->stop();
}

void ZNTAnimatingIndicator::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    syncTimer();
}

void ZNTAnimatingIndicator::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    syncTimer();
}

void ZNTAnimatingIndicator::paintEvent(QPaintEvent *) {
    if (!m_animating)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = side / 2.0, inner = side / 4.0;
    QColor color = palette().color(QPalette::WindowText);
    QPen pen;
    pen.setWidthF(std::max(1.5, side / 10.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The newest spoke darkest, the others fading behind it.
        const int age = (m_step - i + kSpokes) % kSpokes;
        color.setAlphaF(float(1.0 - age / double(kSpokes) * 0.85));
        pen.setColor(color);
        painter.setPen(pen);
        const qreal a = 2 * M_PI * i / kSpokes;
        painter.drawLine(QPointF(std::sin(a) * inner, -std::cos(a) * inner),
                         QPointF(std::sin(a) * (outer - 1), -std::cos(a) * (outer - 1)));
    }
}
