#include "ZNTAutosizingTextField.h"

#include "LineEditLength.h"

#include <QStyle>
#include <QStyleOptionFrame>

ZNTAutosizingTextField::ZNTAutosizingTextField(QWidget *parent) : QLineEdit(parent) {
    uv_showStoredValue(this);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QLineEdit::textEdited, this, [this] { m_editing = true; });
    connect(this, &QLineEdit::editingFinished, this, [this] { m_editing = false; });
    // The text being typed is what is measured, not the value before editing.
    connect(this, &QLineEdit::textChanged, this, &QWidget::updateGeometry);
}

void ZNTAutosizingTextField::setPreferredMaxLayoutWidth(int width) {
    m_preferredMaxLayoutWidth = width;
    updateGeometry();
}

QSize ZNTAutosizingTextField::sizeHint() const {
    ensurePolished();
    const QFontMetrics m = fontMetrics();
    int width = m.horizontalAdvance(text().isEmpty() ? placeholderText() : text()) + 2 * 2 + 2 /* the caret */;
    const QMargins margins = textMargins();
    width += margins.left() + margins.right();
    QStyleOptionFrame option;
    initStyleOption(&option);
    QSize size = style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, m.height() + 2), this);
    if (m_preferredMaxLayoutWidth > 0)
        size.setWidth(std::min(size.width(), m_preferredMaxLayoutWidth));
    return size;
}
