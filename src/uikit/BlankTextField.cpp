#include "BlankTextField.h"

BlankTextField::BlankTextField(const QString &text, QWidget *parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAutoFillBackground(false);
    setFrameShape(QFrame::NoFrame);
    // Hugs its text across, keeps its height down.
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Minimum);
}
