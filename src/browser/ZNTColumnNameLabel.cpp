#include "ZNTColumnNameLabel.h"

#include "uikit/PlainToolTip.h"

#include <QPainter>

ZNTColumnNameLabel::ZNTColumnNameLabel(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
}

void ZNTColumnNameLabel::setText(const QString &text) {
    if (text == m_text)
        return;
    // A column name is the server's text: one line, never markup.
    m_text = text;
    updateToolTip();
    update();
}

QString ZNTColumnNameLabel::shownText() const {
    return fontMetrics().elidedText(m_text, Qt::ElideRight, width());
}

QSize ZNTColumnNameLabel::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(m_text), fontMetrics().height());
}

void ZNTColumnNameLabel::updateToolTip() {
    setToolTip(shownText() == m_text ? QString() : plainToolTip(m_text));
}

void ZNTColumnNameLabel::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    updateToolTip();
}

void ZNTColumnNameLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
}
