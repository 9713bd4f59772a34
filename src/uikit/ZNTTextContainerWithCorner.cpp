#include "ZNTTextContainerWithCorner.h"

#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>
#include <limits>
#include <memory>

namespace {
constexpr qreal kEverything = 1e9;

// Tells whether a line starting at a position lies in a word longer than any
// line holds. No glyph is taken to be narrower than half a pixel; a word that
// long ends a line's worth of characters later at the least. The positions
// asked about only grow, so the break opportunities are walked through once.
class LongWords {
public:
    LongWords(const QString &text, qreal width)
        : m_longest(qsizetype(std::min<qreal>(2 * std::max<qreal>(width, 1), 1e8)) + 64), m_length(text.size()) {
        // Text whose blanks come often enough needs no search at all.
        qsizetype run = 0;
        for (const QChar c : text) {
            run = c.isSpace() ? 0 : run + 1;
            if (run > m_longest) {
                m_breaks = std::make_unique<QTextBoundaryFinder>(QTextBoundaryFinder::Line, text);
                break;
            }
        }
    }
    bool startsIn(qsizetype position) {
        if (!m_breaks)
            return false;
        while (m_next >= 0 && m_next <= position) {
            m_breaks->setPosition(std::max(m_next, position));
            m_next = m_breaks->toNextBoundary();
        }
        const qsizetype next = m_next < 0 ? m_length : m_next;
        return next - position > m_longest;
    }

private:
    qsizetype m_longest;
    qsizetype m_length;
    std::unique_ptr<QTextBoundaryFinder> m_breaks;
    qsizetype m_next = 0;
};

qreal heightOf(const QTextLayout *layout) {
    if (!layout || layout->lineCount() == 0)
        return 0;
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    return last.y() + last.height();
}
} // namespace

ZNTTextContainerWithCorner::ZNTTextContainerWithCorner(QTextDocument *document, QSizeF corner)
    : QAbstractTextDocumentLayout(document), m_corner(corner) {
    layOutAll();
}

void ZNTTextContainerWithCorner::setCorner(QSizeF corner) {
    if (corner == m_corner)
        return;
    m_corner = corner;
    layOutAll();
}

qreal ZNTTextContainerWithCorner::containerWidth() const {
    const QTextDocument *doc = document();
    const qreal textWidth = doc->textWidth() > 0 ? doc->textWidth() : doc->pageSize().width();
    return textWidth > 0 ? textWidth - 2 * doc->documentMargin() : 1e6;
}

void ZNTTextContainerWithCorner::documentChanged(int from, int, int charsAdded) {
    // A new width (the view was resized) wraps every line anew; so does a
    // document never laid out at this width.
    if (containerWidth() != m_width)
        layOutAll();
    else
        layOutChange(from, charsAdded);
}

void ZNTTextContainerWithCorner::layOutAll() {
    m_width = containerWidth();
    qreal top = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        top = layOutBlock(block, top);
    finish(0, kEverything);
}

// The blocks the change touched are wrapped again. Those after them keep their
// lines; when the height above them changed they only move, unless a line of
// theirs starts (or started) beside the corner, where lines are shorter.
void ZNTTextContainerWithCorner::layOutChange(int from, int charsAdded) {
    QTextDocument *doc = document();
    QTextBlock first = doc->findBlock(from);
    if (!first.isValid())
        first = doc->lastBlock();
    QTextBlock last = doc->findBlock(from + charsAdded);
    if (!last.isValid())
        last = doc->lastBlock();
    qreal top = first.previous().isValid() ? bottomOf(first.previous()) : 0;
    const qreal dirtyTop = top;
    QTextBlock block = first;
    for (; block.isValid() && block.blockNumber() <= last.blockNumber(); block = block.next())
        top = layOutBlock(block, top);
    qreal dirtyBottom = top;
    for (; block.isValid(); block = block.next()) {
        const bool laidOut = block.layout()->lineCount() > 0;
        const qreal oldTop = topOf(block);
        if (laidOut && std::abs(oldTop - top) < 0.01)
            break; // nothing below moves
        dirtyBottom = kEverything;
        if (!laidOut || top < m_corner.height() || oldTop < m_corner.height()) {
            top = layOutBlock(block, top);
        } else {
            moveBlock(block, top);
            top += heightOf(block.layout());
        }
    }
    finish(dirtyTop, dirtyBottom);
}

// Lines are placed in container coordinates (the document less its margin):
// those starting above the corner's height lose the corner's width.
//
// Lines wrap at word boundaries, and break a word that no line can hold.
// Qt's word wrapping looks for the end of the word before it breaks one: in
// a word of a million characters it does so for each of its thousands of
// lines, which takes minutes. A line that starts in such a word is broken
// anywhere from the start, as word wrapping would break it in the end.
qreal ZNTTextContainerWithCorner::layOutBlock(const QTextBlock &block, qreal top) {
    ++m_blocksLaidOut;
    QTextLayout *layout = block.layout();
    QTextOption option = document()->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    LongWords longWords(block.text(), m_width);
    moveBlock(block, top);
    qreal y = 0;
    layout->beginLayout();
    for (int start = 0;;) {
        option.setWrapMode(longWords.startsIn(start) ? QTextOption::WrapAnywhere
                                                     : QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout->setTextOption(option);
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        line.setLeadingIncluded(true);
        const bool inCorner = top + y < m_corner.height();
        line.setLineWidth(std::max<qreal>(1, inCorner ? m_width - m_corner.width() : m_width));
        line.setPosition(QPointF(0, y));
        y += line.height();
        start = line.textStart() + line.textLength();
    }
    layout->endLayout();
    return top + y;
}

void ZNTTextContainerWithCorner::moveBlock(const QTextBlock &block, qreal top) {
    const qreal margin = document()->documentMargin();
    block.layout()->setPosition(QPointF(margin, margin + top));
}

qreal ZNTTextContainerWithCorner::topOf(const QTextBlock &block) const {
    return block.layout()->position().y() - document()->documentMargin();
}

qreal ZNTTextContainerWithCorner::bottomOf(const QTextBlock &block) const {
    return topOf(block) + heightOf(block.layout());
}

QTextBlock ZNTTextContainerWithCorner::blockAt(qreal y) const {
    const QTextDocument *doc = document();
    int low = 0, high = doc->blockCount() - 1;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (bottomOf(doc->findBlockByNumber(middle)) <= y)
            low = middle + 1;
        else
            high = middle;
    }
    return doc->findBlockByNumber(low);
}

void ZNTTextContainerWithCorner::finish(qreal dirtyTop, qreal dirtyBottom) {
    const QTextDocument *doc = document();
    const qreal margin = doc->documentMargin();
    const QTextBlock last = doc->lastBlock();
    const qreal height = last.isValid() ? bottomOf(last) : 0;
    const qreal textWidth = doc->textWidth() > 0 ? doc->textWidth() : doc->pageSize().width();
    const QSizeF size(textWidth > 0 ? textWidth : m_width, height + 2 * margin);
    if (size != m_size) {
        m_size = size;
        emit documentSizeChanged(size);
    }
    const qreal bottom = dirtyBottom >= kEverything ? kEverything : margin + dirtyBottom + 1;
    emit update(QRectF(0, margin + dirtyTop - 1, kEverything, bottom - (margin + dirtyTop - 1)));
}

QRectF ZNTTextContainerWithCorner::blockBoundingRect(const QTextBlock &block) const {
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return {};
    return QRectF(layout->position(), QSizeF(m_size.width(), heightOf(layout)));
}

QRectF ZNTTextContainerWithCorner::frameBoundingRect(QTextFrame *) const {
    return QRectF(QPointF(0, 0), m_size);
}

int ZNTTextContainerWithCorner::hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const {
    const QTextBlock block = blockAt(point.y() - document()->documentMargin());
    if (block.isValid()) {
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
    const qreal margin = document()->documentMargin();
    const bool clipped = context.clip.isValid();
    const qreal clipBottom = clipped ? context.clip.bottom() : std::numeric_limits<qreal>::max();
    painter->save();
    painter->setPen(context.palette.color(QPalette::Text));
    QTextBlock block = clipped ? blockAt(context.clip.top() - margin) : document()->begin();
    for (; block.isValid() && topOf(block) + margin <= clipBottom; block = block.next()) {
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
