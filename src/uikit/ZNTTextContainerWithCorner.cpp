#include "ZNTTextContainerWithCorner.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

ZNTTextContainerWithCorner::ZNTTextContainerWithCorner(QTextDocument *document, QSizeF corner)
    : QAbstractTextDocumentLayout(document), m_corner(corner) {
    layOut();
}

void ZNTTextContainerWithCorner::documentChanged(int, int, int) {
    layOut();
}

void ZNTTextContainerWithCorner::layOut() {
    QTextDocument *doc = document();
    const qreal margin = doc->documentMargin();
    const qreal textWidth = doc->textWidth() > 0 ? doc->textWidth() : doc->pageSize().width();
    const qreal width = textWidth > 0 ? textWidth - 2 * margin : 1e6;
    qreal top = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        top = layOutBlock(block, top, width);
    const QSizeF size(textWidth > 0 ? textWidth : width, top + 2 * margin);
    if (size != m_size) {
        m_size = size;
        emit documentSizeChanged(size);
    }
    emit update(QRectF(0, 0, 1e9, 1e9));
}

// Lines are placed in container coordinates (the document less its margin):
// those starting above the corner's height lose the corner's width.
qreal ZNTTextContainerWithCorner::layOutBlock(const QTextBlock &block, qreal top, qreal width) {
    QTextLayout *layout = block.layout();
    QTextOption option = document()->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    const qreal margin = document()->documentMargin();
    layout->setPosition(QPointF(margin, margin + top));
    qreal y = 0;
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLeadingIncluded(true);
        const bool inCorner = top + y < m_corner.height();
        line.setLineWidth(std::max<qreal>(1, inCorner ? width - m_corner.width() : width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    return top + y;
}

QRectF ZNTTextContainerWithCorner::blockBoundingRect(const QTextBlock &block) const {
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return {};
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    return QRectF(layout->position(), QSizeF(m_size.width(), last.y() + last.height()));
}

QRectF ZNTTextContainerWithCorner::frameBoundingRect(QTextFrame *) const {
    return QRectF(QPointF(0, 0), m_size);
}

int ZNTTextContainerWithCorner::hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const {
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        const QPointF local = point - layout->position();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (local.y() < line.y() || local.y() >= line.y() + line.height())
                continue;
            if (accuracy == Qt::ExactHit && (local.x() < 0 || local.x() > line.naturalTextWidth()))
                return -1;
            return block.position() + line.xToCursor(local.x());
        }
    }
    if (accuracy == Qt::ExactHit)
        return -1;
    return point.y() < 0 ? 0 : document()->characterCount() - 1;
}

void ZNTTextContainerWithCorner::draw(QPainter *painter, const PaintContext &context) {
    painter->save();
    painter->setPen(context.palette.color(QPalette::Text));
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout *layout = block.layout();
        const int start = block.position(), length = block.length();
        QList<QTextLayout::FormatRange> selections;
        for (const Selection &s : context.selections) {
            const int from = std::max(s.cursor.selectionStart(), start) - start;
            const int to = std::min(s.cursor.selectionEnd(), start + length) - start;
            if (to > from)
                selections.append({from, to - from, s.format});
        }
        layout->draw(painter, QPointF(0, 0), selections, context.clip);
        if (context.cursorPosition >= start && context.cursorPosition < start + length)
            layout->drawCursor(painter, QPointF(0, 0), context.cursorPosition - start);
    }
    painter->restore();
}
