#include "ZNTForeignKeyCell.h"

#include "ZNTColumnNameLabel.h"

#include "engine/ZNTColumn.h"
#include "model/ZNTAsynchronousRow.h"
#include "model/ZNTTable.h"
#include "uikit/BlockObservers.h"
#include "uikit/KRVTableDataCell.h"
#include "uikit/PlainToolTip.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>

namespace {
constexpr int kBaseScrollViewHeight = 51;
constexpr int kTopRowHeight = 18;
constexpr int kHeaderHeight = 20;
constexpr int kStripLeft = 3;
constexpr int kMaxHeaderWidth = 100;
constexpr int kMaxDataWidth = 80;
constexpr int kKeyMinWidth = 80;
constexpr int kValueMinWidth = 20;

bool isNewFocus(const QFocusEvent *event) {
    return event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
}
} // namespace

// --- the value field ------------------------------------------------------------

ZNTForeignValueField::ZNTForeignValueField(QWidget *parent)
    : ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable, parent) {
    setReadOnly(true);
    setFocusPolicy(Qt::NoFocus);
}

void ZNTForeignValueField::setValue(const Value &value, bool hasValue) {
    m_value = value;
    m_hasValue = hasValue;
    const QString text = shownText();
    setToolTip(text.size() > 40 ? plainToolTip(text.left(1000)) : QString());
    update();
}

QString ZNTForeignValueField::shownText() const {
    return m_hasValue ? KRVTableDataCell::displayValue(m_value).text : QString();
}

void ZNTForeignValueField::paintEvent(QPaintEvent *event) {
    ZNTBeveledTextField::paintEvent(event); // the box; the field's own text is empty
    if (!m_hasValue)
        return;
    QPainter painter(this);
    const QRect frame = boxRect().toAlignedRect().adjusted(1, 0, -2, 0);
    KRVTableDataCell::drawWithFrame(&painter, frame, KRVTableDataCell::displayValue(m_value),
                                    KRVTableDataCellStyleNormal, palette(), font(), false);
}

// --- the cell ---------------------------------------------------------------------

int ZNTForeignKeyCell::scrollViewHeight() {
    const QStyle *style = QApplication::style();
    if (style->styleHint(QStyle::SH_ScrollBar_Transient))
        return kBaseScrollViewHeight;
    return kBaseScrollViewHeight + style->pixelMetric(QStyle::PM_ScrollBarExtent);
}

int ZNTForeignKeyCell::defaultHeight() {
    return scrollViewHeight() + 5 + 3 + kTopRowHeight;
}

ZNTForeignKeyCell::ZNTForeignKeyCell(ZNTRowValueCellDelegate *delegate, QWidget *parent)
    : QWidget(parent), m_delegate(delegate) {
    buildUi();
    connectActions();
}

ZNTForeignKeyCell::~ZNTForeignKeyCell() = default;

void ZNTForeignKeyCell::buildUi() {
    m_nameLabel = new ZNTColumnNameLabel(this);
    m_progressIndicator = new ZNTAnimatingIndicator(this);
    m_progressIndicator->stopAnimation();
    m_selectButton = new QToolButton(this);
    m_selectButton->setFocusPolicy(Qt::StrongFocus);
    m_editButton = new QToolButton(this);
    m_editButton->setArrowType(Qt::RightArrow);
    m_editButton->setFocusPolicy(Qt::StrongFocus);
    m_editButton->setToolTip(QStringLiteral("Open the referenced row"));
    m_scrollView = new QScrollArea(this);
    m_scrollView->setFrameShape(QFrame::NoFrame);
    m_scrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scrollView->setFocusPolicy(Qt::NoFocus);
    m_strip = new QWidget;
    m_scrollView->setWidget(m_strip);
    m_scrollView->setWidgetResizable(false);
    m_keyField = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable, m_strip);
    m_keyField->installEventFilter(this);
    updateButtons();
}

void ZNTForeignKeyCell::connectActions() {
    connect(m_selectButton, &QToolButton::clicked, this,
            [this] { m_delegate->selectFromForeignTable(m_selectButton); });
    connect(m_editButton, &QToolButton::clicked, this, [this] { m_delegate->editForeignRow(m_editButton); });
    connect(m_keyField, &QLineEdit::textEdited, this, &ZNTForeignKeyCell::textFieldDidBeginEditing);
    connect(m_keyField, &QLineEdit::returnPressed, this, &ZNTForeignKeyCell::textFieldDidEndEditing);
    m_focusObserver = observe(m_keyField, NSTextFieldDidBecomeFirstResponder,
                              [this](const Notification &) { textFieldDidBecomeFirstResponder(); });
}

void ZNTForeignKeyCell::setColumn(const std::shared_ptr<ZNTColumn> &column) {
    m_column = column;
    m_nameLabel->setText(column ? column->name() : QString());
}

void ZNTForeignKeyCell::setObjectValue(const Value &value) {
    m_value = value;
    m_didBeginEditing = false;
    showKeyValue();
}

void ZNTForeignKeyCell::showKeyValue() {
    const ZNTForeignKeyStrip::KeyDisplay shown = ZNTForeignKeyStrip::keyDisplay(m_value);
    m_showsPlaceholder = shown.isPlaceholder;
    m_keyField->setText(shown.text);
    m_keyField->setCursorPosition(0);
    applyKeyColour();
}

void ZNTForeignKeyCell::applyKeyColour() {
    QPalette p = m_keyField->palette();
    p.setColor(QPalette::Text, palette().color(m_showsPlaceholder ? QPalette::PlaceholderText : QPalette::Text));
    m_keyField->setPalette(p);
}

void ZNTForeignKeyCell::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyKeyColour();
}

void ZNTForeignKeyCell::setEditable(bool editable) {
    m_editable = editable;
    m_keyField->setReadOnly(!editable);
    updateButtons();
}

void ZNTForeignKeyCell::setActionsEnabled(bool enabled) {
    m_actionsEnabled = enabled;
    updateButtons();
}

void ZNTForeignKeyCell::updateButtons() {
    m_selectButton->setEnabled(m_editable && m_actionsEnabled);
    m_editButton->setEnabled(m_foreignRowEditable && m_actionsEnabled);
}

QList<QWidget *> ZNTForeignKeyCell::keyViews() const {
    return {m_keyField, m_selectButton, m_editButton};
}

void ZNTForeignKeyCell::abandonEditing() {
    if (!m_didBeginEditing && !m_showsPlaceholder)
        return;
    m_didBeginEditing = false;
    showKeyValue();
}

void ZNTForeignKeyCell::setForeignRow(const std::shared_ptr<ZNTRow> &row) {
    const auto table = row ? row->table() : nullptr;
    m_selectButton->setText(table ? table->name() : QString());
    m_selectButton->setToolTip(table ? plainToolTip(QStringLiteral("Choose a row of %1").arg(table->name()))
                                     : QString());
    m_loadingObserver.stopObserving();
    m_foreignRow = row;
    const auto loading = std::dynamic_pointer_cast<ZNTAsynchronousRow>(row);
    if (loading && !loading->hasLoaded()) {
        m_loadingObserver = observe(loading, ZNTAsynchronousRow::LoadingDoneNotification,
                                    [this](const Notification &) { rowLoaded(); });
        m_progressIndicator->startAnimation();
    } else {
        m_progressIndicator->stopAnimation();
    }
    remakeTable();
    resizeEvent(nullptr);
}

void ZNTForeignKeyCell::rowLoaded() {
    m_loadingObserver.stopObserving();
    remakeTable();
    m_progressIndicator->stopAnimation();
}

// The strip anew: one labelled field per column of the referenced row; the
// key column's field is the cell's own, holding the edited row's value.
void ZNTForeignKeyCell::remakeTable() {
    const ZNTForeignKeyStrip::Strip strip =
        m_foreignRow ? ZNTForeignKeyStrip::stripFor(*m_foreignRow, m_keyAttnums) : ZNTForeignKeyStrip::Strip();
    m_foreignRowEditable = strip.foreignRowEditable;
    for (ZNTBeveledTextField *header : m_headerFields) {
        header->hide();
        m_spareHeaders << header;
    }
    for (ZNTBeveledTextField *field : m_dataFields) {
        field->hide();
        if (auto *value = qobject_cast<ZNTForeignValueField *>(field))
            m_spareValues << value;
    }
    m_headerFields.clear();
    m_dataFields.clear();
    const QFontMetrics metrics(font());
    QList<int> widths;
    for (const ZNTForeignKeyStrip::Field &field : strip.fields) {
        ZNTBeveledTextField *header = m_spareHeaders.isEmpty()
                                          ? new ZNTBeveledTextField(ZNTBeveledTextFieldStyleLabel, m_strip)
                                          : m_spareHeaders.takeLast();
        header->setText(field.name);
        header->setCursorPosition(0);
        ZNTBeveledTextField *data = m_keyField;
        if (!field.isKey) {
            auto *value = m_spareValues.isEmpty() ? new ZNTForeignValueField(m_strip) : m_spareValues.takeLast();
            value->setValue(field.value, field.hasValue);
            data = value;
        }
        const int dataText = field.isKey
                                 ? metrics.horizontalAdvance(m_keyField->text())
                                 : metrics.horizontalAdvance(static_cast<ZNTForeignValueField *>(data)->shownText());
        const int minimum = field.isKey ? kKeyMinWidth : kValueMinWidth;
        const int content =
            std::max(std::min(dataText + 12, kMaxDataWidth), metrics.horizontalAdvance(field.name) + 12);
        widths << std::max(minimum, std::min(kMaxHeaderWidth, content));
        m_headerFields << header;
        m_dataFields << data;
    }
    placeStrip(widths);
    updateButtons();
}

void ZNTForeignKeyCell::placeStrip(const QList<int> &widths) {
    const int dataHeight = kBaseScrollViewHeight - kHeaderHeight - 2;
    int x = kStripLeft;
    for (qsizetype i = 0; i < m_headerFields.size(); ++i) {
        ZNTBeveledTextField *header = m_headerFields[i];
        ZNTBeveledTextField *data = m_dataFields[i];
        header->setHasRoundTopLeft(i == 0);
        header->setHasRoundTopRight(i == m_headerFields.size() - 1);
        data->setHasRoundBottomLeft(i == 0);
        data->setHasRoundBottomRight(i == m_headerFields.size() - 1);
        header->setGeometry(x, 0, widths[i], kHeaderHeight);
        data->setGeometry(x, kHeaderHeight, widths[i], dataHeight);
        header->show();
        data->show();
        x += widths[i];
    }
    if (!m_dataFields.contains(m_keyField))
        m_keyField->hide();
    m_strip->resize(std::max(x, m_scrollView->viewport()->width()), kBaseScrollViewHeight);
}

void ZNTForeignKeyCell::clearDataFields() {
    for (ZNTBeveledTextField *field : m_dataFields)
        if (auto *value = qobject_cast<ZNTForeignValueField *>(field))
            value->setValue(Value::null(), false);
}

void ZNTForeignKeyCell::resizeEvent(QResizeEvent *event) {
    if (event)
        QWidget::resizeEvent(event);
    const int top = 4;
    int right = width() - 6;
    for (QWidget *button : {static_cast<QWidget *>(m_editButton), static_cast<QWidget *>(m_selectButton)}) {
        const int w = std::min(button->sizeHint().width(), std::max(40, width() / 2));
        right -= w;
        button->setGeometry(right, top - 1, w, kTopRowHeight + 2);
        right -= 2;
    }
    right -= 18;
    m_progressIndicator->setGeometry(right, top + 1, 16, 16);
    m_nameLabel->setGeometry(6, top, std::max(0, right - 8), kTopRowHeight);
    m_scrollView->setGeometry(4, top + kTopRowHeight + 3, std::max(0, width() - 10), scrollViewHeight());
    m_strip->resize(std::max(m_strip->width(), m_scrollView->viewport()->width()), kBaseScrollViewHeight);
}

void ZNTForeignKeyCell::post(const QString &name) {
    NotificationCenter::defaultCenter().post(name, unownedObject(static_cast<QWidget *>(this)));
}

// --- typing the key ---------------------------------------------------------------

bool ZNTForeignKeyCell::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_keyField) {
        if (event->type() == QEvent::FocusOut && isNewFocus(static_cast<QFocusEvent *>(event)))
            textFieldDidEndEditing();
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
            m_didBeginEditing) {
            cancelOperation();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ZNTForeignKeyCell::textFieldDidBecomeFirstResponder() {
    if (!m_showsPlaceholder || m_keyField->isReadOnly())
        return;
    m_showsPlaceholder = false;
    m_keyField->clear();
    applyKeyColour();
}

// The referenced row no longer matches what is typed: its values go.
void ZNTForeignKeyCell::textFieldDidBeginEditing() {
    if (m_didBeginEditing)
        return;
    m_didBeginEditing = true;
    clearDataFields();
    post(ZNTRowValueDidBeginEditing);
}

void ZNTForeignKeyCell::textFieldDidEndEditing() {
    const bool typed = m_didBeginEditing;
    m_didBeginEditing = false;
    if (typed)
        m_value = ZNTForeignKeyStrip::valueForString(m_showsPlaceholder ? QString() : m_keyField->text(), m_value);
    showKeyValue();
    if (!typed)
        return;
    const auto before = m_foreignRow;
    QPointer<ZNTForeignKeyCell> guard(this); // the edit may take the editor away
    post(ZNTRowValueChanged);
    // The row editor found nothing new: the row shown before is still the one.
    if (guard && m_foreignRow == before)
        remakeTable();
}

void ZNTForeignKeyCell::cancelOperation() {
    if (!m_didBeginEditing)
        return;
    m_didBeginEditing = false;
    showKeyValue();
    remakeTable();
    m_keyField->setFocus(Qt::OtherFocusReason);
    post(ZNTRowValueChanged);
}
