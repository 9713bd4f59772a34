#pragma once

#include <QAbstractTextDocumentLayout>
#include <QSizeF>
#include <QVector>

// Lays out a plain-text document with its top-right corner kept free: the
// lines that start within the corner's height end the corner's width early,
// so text flows around a button placed there. For a ZNTTextView (any
// QTextEdit showing plain text):
//
//     view->document()->setDocumentLayout(new ZNTTextContainerWithCorner(view->document()));
//
// The document keeps one format; rich text is laid out as plain. main thread
class ZNTTextContainerWithCorner : public QAbstractTextDocumentLayout {
    Q_OBJECT
public:
    explicit ZNTTextContainerWithCorner(QTextDocument *document, QSizeF corner = QSizeF(18, 12));

    QSizeF corner() const { return m_corner; }

    void draw(QPainter *painter, const PaintContext &context) override;
    int hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return m_size; }
    QRectF frameBoundingRect(QTextFrame *frame) const override;
    QRectF blockBoundingRect(const QTextBlock &block) const override;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    void layOut();
    qreal layOutBlock(const QTextBlock &block, qreal top, qreal width);

    QSizeF m_corner;
    QSizeF m_size;
};
