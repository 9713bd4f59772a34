#include "ZNTRowValueTextCell.h"

#include "ZNTColumnNameLabel.h"

#include "ZNTJSONText.h"
#include "ZNTRowValueText.h"
#include "engine/ZNTColumn.h"
#include "platform/NotificationCenter.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/Contrast.h"
#include "uikit/ZNTTextContainerWithCorner.h"
#include "uikit/ZNTTextView.h"

#include <QApplication>
#include <QDate>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace {
// The button sits in the field's top-right corner; the text keeps clear of it.
const QSizeF kBlankCorner(19, 18);
const QSizeF kTextCorner(18, 12);

bool isNewFocus(const QFocusEvent *event) {
    // A window coming back or a menu closing returns the focus the field had.
    return event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
}
} // namespace

ZNTRowValueTextCell::ZNTRowValueTextCell(QWidget *parent)
    : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {
    buildUi();
    buildMenu();
    connectActions();
}

void ZNTRowValueTextCell::buildUi() {
    setFocusPolicy(Qt::ClickFocus); // a menu choice leaves the focus here, out of the field
    m_nameLabel = new ZNTColumnNameLabel(this);
    ZNTTextView *view = textView();
    view->setFont(QApplication::font());
    view->setTabChangesFocus(true);
    view->setUndoRedoEnabled(true);
    view->document()->setDocumentMargin(0);
    m_container = new ZNTTextContainerWithCorner(view->document(), kTextCorner);
    view->document()->setDocumentLayout(m_container);
    view->installEventFilter(this);
    m_actionButton = new QToolButton(this);
    m_actionButton->setArrowType(Qt::DownArrow);
    m_actionButton->setAutoRaise(true);
    m_actionButton->setFocusPolicy(Qt::NoFocus);
    m_actionButton->setPopupMode(QToolButton::InstantPopup);
    m_actionButton->setToolTip(QStringLiteral("Special values (Alt+Down)"));
    m_actionButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    updateEditability();
}

void ZNTRowValueTextCell::buildMenu() {
    using namespace ZNTRowValueText;
    m_menu = new QMenu(this);
    for (int tag : {TagNull, TagDefault}) {
        QAction *action = m_menu->addAction(titleOfTag(tag));
        action->setData(tag);
    }
    m_menu->addSeparator()->setData(-1);
    for (int tag = TagEmptyString; tag <= TagPrettyPrint; ++tag) {
        QAction *action = m_menu->addAction(titleOfTag(tag));
        action->setData(tag);
    }
    m_actionButton->setMenu(m_menu);
}

void ZNTRowValueTextCell::connectActions() {
    connect(m_menu, &QMenu::aboutToShow, this, &ZNTRowValueTextCell::menuNeedsUpdate);
    connect(m_menu, &QMenu::triggered, this, [this](QAction *action) { handleActionMenu(action->data().toInt()); });
    connect(textView(), &QTextEdit::textChanged, this, &ZNTRowValueTextCell::textChanged);
    connect(this, &ZNTTextViewCell::preferredHeightChanged, this, &ZNTRowValueTextCell::placeActionButton);
}

void ZNTRowValueTextCell::setColumn(const std::shared_ptr<ZNTColumn> &column) {
    m_column = column;
    m_nameLabel->setText(column ? column->name() : QString());
}

void ZNTRowValueTextCell::setObjectValue(const Value &value) {
    m_didBeginEditing = false;
    m_value = value;
    ZNTTextViewCell::setObjectValue(QVariant()); // the text is this cell's own
    display(value);
}

void ZNTRowValueTextCell::display(const Value &value) {
    const ZNTRowValueText::Display shown = ZNTRowValueText::displayOf(value);
    m_showsPlaceholder = shown.isPlaceholder;
    m_isCut = shown.isCut;
    m_settingText = true;
    textView()->setPlainText(shown.text);
    m_settingText = false;
    applyTextColour();
    updateEditability();
}

void ZNTRowValueTextCell::applyTextColour() {
    const QColor colour = palette().color(m_showsPlaceholder || m_isCut ? QPalette::PlaceholderText : QPalette::Text);
    // A new palette goes down to the view's own widgets: only when the colour changes.
    if (textView()->testAttribute(Qt::WA_SetPalette) && textView()->palette().color(QPalette::Text) == colour)
        return;
    QPalette p = textView()->palette();
    p.setColor(QPalette::Text, colour);
    textView()->setPalette(p);
}

void ZNTRowValueTextCell::setEditable(bool editable) {
    m_editable = editable;
    updateEditability();
}

void ZNTRowValueTextCell::setReadOnlyRow(bool readOnly) {
    m_readOnlyRow = readOnly;
    m_container->setCorner(readOnly ? QSizeF() : kTextCorner);
    textView()->setBlankTopRightCornerSize(readOnly ? QSizeF() : kBlankCorner);
    m_actionButton->setVisible(!readOnly);
    updateEditability();
}

void ZNTRowValueTextCell::updateEditability() {
    const bool typing = m_editable && !m_readOnlyRow && !m_isCut;
    if (textView()->isReadOnly() == typing) {
        textView()->setReadOnly(!typing);
        textView()->setTextInteractionFlags(typing ? Qt::TextEditorInteraction
                                                   : Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        // A field that takes no typing still takes the focus, to select and copy.
        textView()->setFocusPolicy(Qt::StrongFocus);
    }
    m_actionButton->setEnabled(m_editable && !m_readOnlyRow);
}

QList<QWidget *> ZNTRowValueTextCell::keyViews() const {
    return {textView()};
}

void ZNTRowValueTextCell::abandonEditing() {
    if (!m_didBeginEditing && !m_showsPlaceholder)
        return;
    m_didBeginEditing = false;
    display(m_value);
}

void ZNTRowValueTextCell::post(const QString &name) {
    NotificationCenter::defaultCenter().post(name, unownedObject(static_cast<QWidget *>(this)));
}

bool ZNTRowValueTextCell::eventFilter(QObject *watched, QEvent *event) {
    if (watched != textView())
        return ZNTTextViewCell::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        update();
        if (isNewFocus(static_cast<QFocusEvent *>(event)))
            textviewDidBecomeFirstResponder();
        break;
    case QEvent::FocusOut:
        update();
        if (isNewFocus(static_cast<QFocusEvent *>(event)))
            textviewDidEndEditing();
        break;
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Down && key->modifiers() == Qt::AltModifier && m_actionButton->isVisible() &&
            m_actionButton->isEnabled()) {
            m_actionButton->showMenu();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return ZNTTextViewCell::eventFilter(watched, event);
}

// The grey word would be typed over: the field starts empty instead.
void ZNTRowValueTextCell::textviewDidBecomeFirstResponder() {
    if (!m_showsPlaceholder || textView()->isReadOnly())
        return;
    m_showsPlaceholder = false;
    m_settingText = true;
    textView()->clear();
    m_settingText = false;
    applyTextColour();
}

void ZNTRowValueTextCell::textChanged() {
    if (m_settingText || m_didBeginEditing || textView()->isReadOnly())
        return;
    m_didBeginEditing = true;
    post(ZNTRowValueDidBeginEditing);
}

void ZNTRowValueTextCell::textviewDidEndEditing() {
    // Typing cannot be undone once the field is left: the row editor has the value.
    textView()->document()->clearUndoRedoStacks();
    QTextCursor cursor = textView()->textCursor();
    cursor.setPosition(0);
    textView()->setTextCursor(cursor);
    const QString text = m_showsPlaceholder ? QString() : textView()->toPlainText();
    const ZNTRowValueText::EndOfEditing end = ZNTRowValueText::endOfEditing(m_value, text, m_didBeginEditing);
    m_didBeginEditing = false;
    m_value = end.value;
    if (text.isEmpty())
        display(m_value); // the placeholder, or the empty text, is back
    if (end.report)
        post(ZNTRowValueChanged);
}

void ZNTRowValueTextCell::menuNeedsUpdate() {
    const QList<int> tags = m_column ? ZNTRowValueText::tagsForColumn(*m_column) : QList<int>();
    bool special = false;
    for (QAction *action : m_menu->actions()) {
        const int tag = action->data().toInt();
        if (tag < 1)
            continue;
        action->setVisible(tags.contains(tag));
        special = special || (tag >= ZNTRowValueText::TagEmptyString && tags.contains(tag));
        if (tag == ZNTRowValueText::TagPrettyPrint)
            action->setEnabled(!m_showsPlaceholder && ZNTJSONText::canIndent(textView()->toPlainText()));
    }
    for (QAction *action : m_menu->actions())
        if (action->data().toInt() == -1)
            action->setVisible(special);
}

void ZNTRowValueTextCell::handleActionMenu(int tag) {
    // What was typed counts first, as if the field had been left.
    if (textView()->hasFocus() || m_didBeginEditing)
        textviewDidEndEditing();
    if (const std::optional<Value> value = ZNTRowValueText::valueForTag(tag, m_value, QDate::currentDate())) {
        m_value = *value;
        display(m_value);
    } else {
        beep();
    }
    if (textView()->hasFocus() || isAncestorOf(QApplication::focusWidget()))
        setFocus(Qt::OtherFocusReason);
    post(ZNTRowValueChanged);
}

void ZNTRowValueTextCell::placeActionButton() {
    const QRect field = textView()->geometry();
    m_actionButton->setGeometry(field.right() + 1 - int(kBlankCorner.width()), field.top() - 3,
                                int(kBlankCorner.width()), int(kBlankCorner.height()));
    m_actionButton->raise();
    const QFontMetrics metrics(m_nameLabel->font());
    m_nameLabel->setGeometry(int(textFieldInsets().left()) - 4, 3, width() - int(textFieldInsets().left()),
                             metrics.height());
}

void ZNTRowValueTextCell::resizeEvent(QResizeEvent *event) {
    ZNTTextViewCell::resizeEvent(event);
    placeActionButton();
}

void ZNTRowValueTextCell::changeEvent(QEvent *event) {
    ZNTTextViewCell::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTextColour();
}

// The bezel goes round the text, a little outside it, drawn in the palette's
// colours (the style's own frame all but vanishes on a dark palette), with
// the focus ring while the text has the focus.
void ZNTRowValueTextCell::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPalette &p = palette();
    const QRectF bezel = QRectF(textView()->geometry()).adjusted(-5.5, -4, 5.5, 4).translated(0, 0.5);
    QColor fill = p.color(QPalette::Base);
    if (textView()->isReadOnly())
        fill = QColor::fromRgbF(fill.redF(), fill.greenF(), fill.blueF(), 0.55f);
    painter.setPen(QPen(fieldOutlineColour(p), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(bezel, 2, 2);
    if (textView()->hasFocus()) {
        QColor ring = p.color(QPalette::Highlight);
        ring.setAlphaF(0.7f);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bezel.adjusted(-1, -1, 1, 1), 3, 3);
    }
}
