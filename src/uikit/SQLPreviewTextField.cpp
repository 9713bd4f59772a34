#include "SQLPreviewTextField.h"

#include <QFontDatabase>
#include <QTextDocument>

SQLPreviewTextField::SQLPreviewTextField(QWidget *parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFrameShape(QFrame::NoFrame);
    setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        // A scroll bar only for statements taller than the field may grow.
        setVerticalScrollBarPolicy(sizeHint().height() >= kMaxHeight ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        updateGeometry();
    });
}

QSize SQLPreviewTextField::sizeHint() const {
    QTextDocument measure;
    measure.setDefaultFont(font());
    measure.setDocumentMargin(document()->documentMargin());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    measure.setDefaultTextOption(option);
    measure.setPlainText(toPlainText());
    measure.setTextWidth(kWrapWidth);
    // Room for the caret, and for the lines a plain-text layout spaces a
    // little wider than the measuring one.
    const int width = int(std::ceil(std::min<qreal>(measure.idealWidth(), kWrapWidth))) + 4;
    const int lines = measure.lineCount();
    const int height = int(std::ceil(measure.size().height())) + lines + 4;
    const QMargins frame = contentsMargins();
    return QSize(std::max(width, 120) + frame.left() + frame.right(),
                 std::min(height, kMaxHeight) + frame.top() + frame.bottom());
}
