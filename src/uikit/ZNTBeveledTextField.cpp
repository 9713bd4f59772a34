#include "ZNTBeveledTextField.h"

#include "BlockObservers.h"
#include "Contrast.h"
#include "LineEditLength.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

ZNTBeveledTextField::ZNTBeveledTextField(int style, QWidget *parent) : QLineEdit(parent), m_style(style) {
    uv_showStoredValue(this);
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    setPalette(p);
    if (style == ZNTBeveledTextFieldStyleLabel) {
        setReadOnly(true);
        setFocusPolicy(Qt::NoFocus);
    }
    applyMargins();
}

void ZNTBeveledTextField::setHasRoundTopLeft(bool on) {
    m_round[0] = on;
    update();
}

void ZNTBeveledTextField::setHasRoundTopRight(bool on) {
    m_round[1] = on;
    update();
}

void ZNTBeveledTextField::setHasRoundBottomLeft(bool on) {
    m_round[2] = on;
    update();
}

void ZNTBeveledTextField::setHasRoundBottomRight(bool on) {
    m_round[3] = on;
    update();
}

void ZNTBeveledTextField::setPreferredMaxLayoutWidth(int width) {
    m_preferredMaxLayoutWidth = width;
    updateGeometry();
}

bool ZNTBeveledTextField::drawsOutline() const {
    return m_style != ZNTBeveledTextFieldStyleLabel && !isReadOnly();
}

// Text keeps 3 px from the sides of the box: the box's inset and the usual
// padding of a field.
void ZNTBeveledTextField::applyMargins() {
    setTextMargins(3, 0, 3, 0);
}

QRectF ZNTBeveledTextField::boxRect() const {
    const qreal d = drawsOutline() ? 1.5 : 1.0;
    return QRectF(rect()).adjusted(d, d - 1, -d, -(d - 1));
}

QSize ZNTBeveledTextField::sizeHint() const {
    const QFontMetrics m = fontMetrics();
    const QMargins margins = textMargins();
    int cellWidth =
        m.horizontalAdvance(text().isEmpty() ? placeholderText() : text()) + 4 + margins.left() + margins.right();
    if (m_preferredMaxLayoutWidth > 0)
        cellWidth = std::min(cellWidth, m_preferredMaxLayoutWidth - 5);
    return QSize(cellWidth + 5, m.height() + 5 + 3);
}

QSize ZNTBeveledTextField::minimumSizeHint() const {
    return QSize(20, sizeHint().height());
}

void ZNTBeveledTextField::paintEvent(QPaintEvent *event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const QPalette &pal = palette();
        QColor fill = pal.color(QPalette::Text);
        fill.setAlphaF(0.05f);
        QColor outline;
        if (m_style != ZNTBeveledTextFieldStyleLabel) {
            // The field's own base is clear, so that the line edit paints no box of its own.
            const QPalette around = parentWidget() ? parentWidget()->palette() : QApplication::palette();
            QColor base = around.color(QPalette::Base);
            base.setAlphaF(drawsOutline() ? 1.0f : 0.55f);
            fill = base;
            if (drawsOutline())
                outline = fieldOutlineColour(around);
        }
        const QRectF box = boxRect();
        const bool round = isReadOnly();
        const qreal r = 3;
        QPainterPath path;
        path.moveTo(box.left(), box.top() + (round && m_round[0] ? r : 0));
        if (round && m_round[0])
            path.arcTo(QRectF(box.left(), box.top(), 2 * r, 2 * r), 180, -90);
        path.lineTo(box.right() - (round && m_round[1] ? r : 0), box.top());
        if (round && m_round[1])
            path.arcTo(QRectF(box.right() - 2 * r, box.top(), 2 * r, 2 * r), 90, -90);
        path.lineTo(box.right(), box.bottom() - (round && m_round[3] ? r : 0));
        if (round && m_round[3])
            path.arcTo(QRectF(box.right() - 2 * r, box.bottom() - 2 * r, 2 * r, 2 * r), 0, -90);
        path.lineTo(box.left() + (round && m_round[2] ? r : 0), box.bottom());
        if (round && m_round[2])
            path.arcTo(QRectF(box.left(), box.bottom() - 2 * r, 2 * r, 2 * r), 270, -90);
        path.closeSubpath();
        painter.fillPath(path, fill);
        if (outline.isValid()) {
            painter.setPen(QPen(outline, 1));
            painter.drawPath(path);
        }
        if (hasFocus()) {
            // The focus ring goes round the whole field.
            QColor ring = pal.color(QPalette::Highlight);
            ring.setAlphaF(0.7f);
            painter.setPen(QPen(ring, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 2, 2);
        }
    }
    QLineEdit::paintEvent(event);
}

void ZNTBeveledTextField::focusInEvent(QFocusEvent *event) {
    QLineEdit::focusInEvent(event);
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    NotificationCenter::defaultCenter().post(NSTextFieldDidBecomeFirstResponder, unownedObject(this));
}
