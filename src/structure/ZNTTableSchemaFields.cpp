#include "ZNTTableSchemaFields.h"

#include "platform/NotificationCenter.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTBeveledTextField.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QTextBlock>
#include <QTextLayout>

namespace {

// A focus change that leaves the editing as it is: a context menu or another
// window coming up.
bool keepsEditing(Qt::FocusReason reason) {
    return reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason;
}

bool isReturn(const QKeyEvent *event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// The fields draw no background: the row's box shows through.
void clearBackground(QWidget *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    widget->setPalette(palette);
}

// Lays out text wrapped at width, line breaks kept; calls draw for each line
// with its top, and answers the height.
template <class Draw> int layOutWrapped(const QString &text, const QFont &font, int width, Draw draw) {
    const QFontMetrics metrics(font);
    qreal y = 0;
    const QStringList paragraphs = text.split(u'\n');
    for (const QString &paragraph : paragraphs) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        bool any = false;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            line.setPosition(QPointF(0, y));
            y += metrics.lineSpacing();
            any = true;
        }
        layout.endLayout();
        if (!any)
            y += metrics.lineSpacing();
        draw(layout);
    }
    return int(std::ceil(y));
}

} // namespace

int wrappedTextHeight(const QString &text, const QFont &font, int width) {
    return layOutWrapped(text, font, width, [](const QTextLayout &) {});
}

// --- editing ----------------------------------------------------------------

ZNTEditingTracker::ZNTEditingTracker(QLineEdit *field) : QObject(field) {
    field->installEventFilter(this);
    connect(field, &QLineEdit::textEdited, this, &ZNTEditingTracker::begin);
}

ZNTEditingTracker::ZNTEditingTracker(QPlainTextEdit *editor) : QObject(editor), m_editor(editor) {
    editor->installEventFilter(this);
    connect(editor->document(), &QTextDocument::modificationChanged, this, [this](bool modified) {
        if (modified)
            begin();
    });
}

void ZNTEditingTracker::markUnedited() {
    if (m_editor)
        m_editor->document()->setModified(false);
}

void ZNTEditingTracker::begin() {
    if (m_isEditing)
        return;
    m_isEditing = true;
    emit didBeginEditing();
}

void ZNTEditingTracker::end() {
    markUnedited();
    if (!m_isEditing)
        return;
    m_isEditing = false;
    emit didEndEditing();
}

bool ZNTEditingTracker::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusOut && !keepsEditing(static_cast<QFocusEvent *>(event)->reason()))
        end();
    else if (!m_editor && event->type() == QEvent::KeyPress && isReturn(static_cast<QKeyEvent *>(event)))
        end();
    return QObject::eventFilter(watched, event);
}

// --- name, type and default fields --------------------------------------------

ZNTTableSchemaColumnViewTextFieldView::ZNTTableSchemaColumnViewTextFieldView(QWidget *parent)
    : ZNTAutosizingTextField(parent), m_tracker(new ZNTEditingTracker(this)) {
    setFrame(false);
    clearBackground(this);
    connect(m_tracker, &ZNTEditingTracker::didBeginEditing, this,
            &ZNTTableSchemaColumnViewTextFieldView::didBeginEditing);
    connect(m_tracker, &ZNTEditingTracker::didEndEditing, this, &ZNTTableSchemaColumnViewTextFieldView::didEndEditing);
}

bool ZNTTableSchemaColumnViewTextFieldView::isEditing() const {
    return m_tracker->isEditing();
}

void ZNTTableSchemaColumnViewTextFieldView::focusInEvent(QFocusEvent *event) {
    ZNTAutosizingTextField::focusInEvent(event);
    if (!keepsEditing(event->reason()))
        NotificationCenter::defaultCenter().post(NSTextFieldDidBecomeFirstResponder, unownedObject(this));
}

// --- comment ------------------------------------------------------------------

CommentTextField::CommentTextField(QWidget *parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(m_placeholder);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QString CommentTextField::text() const {
    return m_editor ? m_editor->toPlainText() : m_text;
}

void CommentTextField::setText(const QString &text) {
    if (m_editor) {
        m_settingText = true;
        m_editor->setPlainText(text);
        m_settingText = false;
    } else {
        m_text = text;
        update();
    }
    m_heightCache.first = -1;
    updateGeometry();
}

QColor CommentTextField::textColor() const {
    QColor color = palette().color(QPalette::Text);
    color.setAlphaF(0.6f);
    return color;
}

int CommentTextField::heightForWidth(int width) const {
    if (m_heightCache.first == width)
        return m_heightCache.second;
    const QString shown = text();
    const bool editing = m_editor && m_editor->hasFocus();
    int height = 0;
    if (!shown.isEmpty() || editing)
        height = wrappedTextHeight(shown.isEmpty() ? m_placeholder : shown, font(), width) + 2;
    m_heightCache = {width, height};
    return height;
}

QSize CommentTextField::sizeHint() const {
    const int width = std::max(this->width(), 100);
    return QSize(width, heightForWidth(width));
}

void CommentTextField::focusInEvent(QFocusEvent *event) {
    QWidget::focusInEvent(event);
    makeEditor();
    m_editor->setFocus(event->reason());
}

void CommentTextField::makeEditor() {
    if (m_editor)
        return;
    m_editor = new QPlainTextEdit(this);
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setTabChangesFocus(true);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editor->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_editor->document()->setDocumentMargin(0);
    m_editor->setAccessibleName(m_placeholder);
    QPalette palette = m_editor->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, textColor());
    m_editor->setPalette(palette);
    m_editor->setPlainText(m_text);
    m_text.clear();
    m_editor->setGeometry(rect());
    m_editor->installEventFilter(this);
    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        m_heightCache.first = -1;
        updateGeometry();
        if (m_settingText || m_isEditing)
            return;
        m_isEditing = true;
        emit didBeginEditing();
    });
    // The editor stands in the field's place in the Tab chain. Made now, it
    // sits at the end of the window's chain: it moves behind the field before
    // it becomes the field's focus proxy, for after that Qt would take the
    // field for the editor itself and leave the editor where it is.
    QWidget::setTabOrder(this, m_editor);
    setFocusProxy(m_editor);
    m_editor->show();
    update();
}

bool CommentTextField::eventFilter(QObject *watched, QEvent *event) {
    if (watched != m_editor)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::FocusIn) {
        if (!keepsEditing(static_cast<QFocusEvent *>(event)->reason()))
            NotificationCenter::defaultCenter().post(NSTextFieldDidBecomeFirstResponder, unownedObject(this));
        m_editor->setPlaceholderText(m_placeholder);
        m_heightCache.first = -1;
        updateGeometry();
    } else if (event->type() == QEvent::FocusOut && !keepsEditing(static_cast<QFocusEvent *>(event)->reason())) {
        m_editor->setPlaceholderText(QString());
        m_heightCache.first = -1;
        endEditing();
        updateGeometry();
    } else if (event->type() == QEvent::KeyPress && isReturn(static_cast<QKeyEvent *>(event))) {
        if (static_cast<QKeyEvent *>(event)->modifiers() & Qt::ShiftModifier)
            m_editor->textCursor().insertText(QStringLiteral("\n"));
        else
            endEditing();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CommentTextField::endEditing() {
    if (!m_isEditing)
        return;
    m_isEditing = false;
    emit didEndEditing();
}

void CommentTextField::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_editor)
        m_editor->setGeometry(rect());
}

void CommentTextField::paintEvent(QPaintEvent *) {
    if (m_editor || m_text.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(textColor());
    layOutWrapped(m_text, font(), width(), [&](const QTextLayout &layout) { layout.draw(&painter, QPointF(0, 0)); });
}

// --- default kind -------------------------------------------------------------

DefaultPopUpButton::DefaultPopUpButton(QWidget *parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Default"));
    setText(itemTitles().first());
    connect(this, &QAbstractButton::clicked, this, &DefaultPopUpButton::showList);
}

const QStringList &DefaultPopUpButton::itemTitles() {
    static const QStringList titles = {QStringLiteral("no default"), QStringLiteral("constant"),
                                       QStringLiteral("expression"), QStringLiteral("sequence")};
    return titles;
}

void DefaultPopUpButton::setCurrentIndex(int index) {
    m_index = std::clamp(index, 0, int(itemTitles().size()) - 1);
    setText(itemTitles()[m_index]);
    update();
}

QSize DefaultPopUpButton::sizeHint() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString &title : itemTitles())
        widest = std::max(widest, metrics.horizontalAdvance(title));
    return QSize(widest + 6 + 12 + 4, metrics.height() + 4);
}

void DefaultPopUpButton::choose(int index) {
    setCurrentIndex(index);
    emit activated(m_index);
}

void DefaultPopUpButton::showList() {
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (int i = 0; i < itemTitles().size(); ++i) {
        QAction *item = menu->addAction(itemTitles()[i]);
        item->setCheckable(true);
        item->setChecked(i == m_index);
        connect(item, &QAction::triggered, this, [this, i] { choose(i); });
    }
    menu->setActiveAction(menu->actions().value(m_index));
    menu->popup(mapToGlobal(QPoint(0, height())));
}

void DefaultPopUpButton::keyPressEvent(QKeyEvent *event) {
    const bool alt = event->modifiers() & Qt::AltModifier;
    if (event->key() == Qt::Key_Up && !alt) {
        choose(std::max(0, m_index - 1));
    } else if (event->key() == Qt::Key_Down && !alt) {
        choose(std::min(int(itemTitles().size()) - 1, m_index + 1));
    } else if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Space || isReturn(event)) {
        showList();
    } else {
        QAbstractButton::keyPressEvent(event);
    }
}

void DefaultPopUpButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor stroke = palette().color(QPalette::Text);
    QColor fill = stroke;
    stroke.setAlphaF(isDown() ? 0.6f : 0.2f);
    fill.setAlphaF(isDown() ? 0.25f : 0.03f);
    painter.setPen(QPen(stroke, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 3, 3);
    painter.setPen(palette().color(QPalette::Text));
    const QRect textRect = rect().adjusted(5, 0, -14, 0);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());
    // The list's arrow.
    const QPointF tip(width() - 9.0, height() / 2.0 + 2.0);
    QPainterPath arrow;
    arrow.moveTo(tip + QPointF(-3, -4));
    arrow.lineTo(tip + QPointF(3, -4));
    arrow.lineTo(tip);
    arrow.closeSubpath();
    painter.fillPath(arrow, palette().color(QPalette::Text));
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box, 3, 3);
    }
}

// --- delete button ------------------------------------------------------------

ZNTColumnDeleteButton::ZNTColumnDeleteButton(QWidget *parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setAccessibleName(QStringLiteral("Delete Column"));
    setToolTip(QStringLiteral("Delete Column"));
}

QSize ZNTColumnDeleteButton::sizeHint() const {
    const int side = fontMetrics().height() + 2;
    return QSize(side, side);
}

void ZNTColumnDeleteButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor ink = palette().color(QPalette::Text);
    if (underMouse() || hasFocus() || isDown()) {
        QColor frame = hasFocus() ? palette().color(QPalette::Highlight) : ink;
        if (!hasFocus())
            frame.setAlphaF(0.35f);
        painter.setPen(QPen(frame, hasFocus() ? 1.5 : 1));
        QColor fill = ink;
        fill.setAlphaF(isDown() ? 0.25f : 0.05f);
        painter.setBrush(fill);
        painter.drawRoundedRect(box, 3, 3);
    }
    ink.setAlphaF(0.75f);
    const qreal half = box.width() / 4;
    painter.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(box.center().x() - half, box.center().y()),
                     QPointF(box.center().x() + half, box.center().y()));
}
