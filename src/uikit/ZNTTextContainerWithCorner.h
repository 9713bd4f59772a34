#pragma once

#include <QAbstractTextDocumentLayout>
#include <QSizeF>
#include <QTextBlock>

// Lays out a plain-text document with its top-right corner kept free: the
// lines that start within the corner's height end the corner's width early,
// so text flows around a button placed there. For a ZNTTextView (any
// QTextEdit showing plain text):
//
//     view->document()->setDocumentLayout(new ZNTTextContainerWithCorner(view->document()));
//
// A change lays out only the blocks it touched; the blocks after them move
// when the height changed, and only those whose lines start within the
// corner's height are wrapped again. Drawing and hit tests visit only the
// blocks in question, so typing into a long value costs about what one block
// costs. The document keeps one format; rich text is laid out as plain.
// main thread
class ZNTTextContainerWithCorner : public QAbstractTextDocumentLayout {
    Q_OBJECT
public:
    explicit ZNTTextContainerWithCorner(QTextDocument *document, QSizeF corner = QSizeF(18, 12));

    QSizeF corner() const { return m_corner; }
    // Another corner wraps every line anew; an empty one keeps nothing free.
    void setCorner(QSizeF corner);

    void draw(QPainter *painter, const PaintContext &context) override;
    int hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return m_size; }
    QRectF frameBoundingRect(QTextFrame *frame) const override;
    QRectF blockBoundingRect(const QTextBlock &block) const override;

    // How many blocks have been wrapped since the container was made; for
    // tests and benchmarks.
    quint64 blocksLaidOut() const { return m_blocksLaidOut; }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    qreal containerWidth() const;
    void layOutAll();
    void layOutChange(int from, int charsAdded);
    qreal layOutBlock(const QTextBlock &block, qreal top);
    void moveBlock(const QTextBlock &block, qreal top);
    // Container coordinates: the document less its margin.
    qreal topOf(const QTextBlock &block) const;
    qreal bottomOf(const QTextBlock &block) const;
    // The first block whose bottom lies below y (container coordinates).
    QTextBlock blockAt(qreal y) const;
    void finish(qreal dirtyTop, qreal dirtyBottom);

    QSizeF m_corner;
    QSizeF m_size;
    qreal m_width = -1; // the width of the last layout; another one lays out all
    quint64 m_blocksLaidOut = 0;
};
