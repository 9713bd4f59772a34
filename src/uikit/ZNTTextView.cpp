#include "ZNTTextView.h"

#include "BlockObservers.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>

ZNTTextView::ZNTTextView(QWidget *parent) : QTextEdit(parent) {
    setAcceptRichText(false);
    viewport()->setMouseTracking(true);
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] {
        const QTextCursor c = textCursor();
        scrollRangeToVisible(c.selectionStart(), c.selectionEnd() - c.selectionStart());
    });
}

void ZNTTextView::setBlankTopRightCornerSize(QSizeF size) {
    m_corner = size;
}

bool ZNTTextView::isInBlankCorner(QPointF point) const {
    return point.y() < m_corner.height() && viewport()->width() - point.x() < m_corner.width();
}

void ZNTTextView::scrollRangeToVisible(int location, int length) {
    if (m_scrollDelegate && m_scrollDelegate->textViewScrollRangeToVisible(this, location, length))
        return;
    QTextCursor c(document());
    c.setPosition(std::clamp(location + length, 0, document()->characterCount() - 1));
    const QRect caret = cursorRect(c);
    QScrollBar *bar = verticalScrollBar();
    if (caret.top() < 0)
        bar->setValue(bar->value() + caret.top());
    else if (caret.bottom() > viewport()->height())
        bar->setValue(bar->value() + caret.bottom() - viewport()->height());
}

void ZNTTextView::focusInEvent(QFocusEvent *event) {
    QTextEdit::focusInEvent(event);
    // A window coming back or a menu closing returns the focus the view had:
    // that is no new focus.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    NotificationCenter::defaultCenter().post(ZNTTextViewDidBecomeFirstResponder, unownedObject(this));
}

void ZNTTextView::mouseMoveEvent(QMouseEvent *event) {
    QTextEdit::mouseMoveEvent(event);
    updatePointer(event->position());
}

void ZNTTextView::updatePointer(QPointF position) {
    if (m_corner.isEmpty())
        return;
    viewport()->setCursor(isInBlankCorner(position) ? Qt::ArrowCursor : Qt::IBeamCursor);
}

void ZNTTextView::resizeEvent(QResizeEvent *event) {
    QTextEdit::resizeEvent(event);
    emit frameChanged();
}

void ZNTTextView::moveEvent(QMoveEvent *event) {
    QTextEdit::moveEvent(event);
    emit frameChanged();
}
