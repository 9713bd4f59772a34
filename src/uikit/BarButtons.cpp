#include "BarButtons.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>

void drawBarButtonBackground(QWidget *button) {
    QPainter painter(button);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Black at 3 % on a light bar; on a dark bar the text colour, a little stronger.
    const bool dark = button->palette().color(QPalette::Window).lightness() < 128;
    QColor tint = dark ? button->palette().color(QPalette::WindowText) : QColor(Qt::black);
    tint.setAlphaF(dark ? 0.06f : 0.03f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint);
    painter.drawRoundedRect(QRectF(button->rect()), 3, 3);
}

ZNTTerminalButton::ZNTTerminalButton(QWidget *parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::TabFocus);
}

ZNTTerminalButton *ZNTTerminalButton::withText(const QString &name, const QString &title, const QString &toolTip) {
    auto *button = new ZNTTerminalButton;
    button->setObjectName(name);
    button->setText(title);
    button->setToolTip(toolTip);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

void ZNTTerminalButton::paintEvent(QPaintEvent *event) {
    QToolButton::paintEvent(event);
    drawBarButtonBackground(this);
}

ZNTTerminalPopUpButton::ZNTTerminalPopUpButton(QWidget *parent) : QComboBox(parent) {
    setFrame(false);
}

void ZNTTerminalPopUpButton::paintEvent(QPaintEvent *event) {
    QComboBox::paintEvent(event);
    drawBarButtonBackground(this);
}

ZNTTerminalSegmentedControl::ZNTTerminalSegmentedControl(Tracking tracking, QWidget *parent)
    : QWidget(parent), m_tracking(tracking), m_group(new QButtonGroup(this)) {
    m_group->setExclusive(tracking == Tracking::SelectOne);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    connect(m_group, &QButtonGroup::idClicked, this, &ZNTTerminalSegmentedControl::segmentClicked);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int ZNTTerminalSegmentedControl::addSegment(const QString &label, const QIcon &icon, const QString &toolTip) {
    auto *button = new QToolButton;
    button->setText(label);
    button->setIcon(icon);
    button->setToolTip(toolTip.isEmpty() ? label : toolTip);
    button->setAutoRaise(true);
    button->setCheckable(m_tracking != Tracking::Momentary);
    button->setToolButtonStyle(icon.isNull()     ? Qt::ToolButtonTextOnly
                               : label.isEmpty() ? Qt::ToolButtonIconOnly
                                                 : Qt::ToolButtonTextBesideIcon);
    const int id = segmentCount();
    m_group->addButton(button, id);
    layout()->addWidget(button);
    return id;
}

int ZNTTerminalSegmentedControl::segmentCount() const {
    return int(m_group->buttons().size());
}

QToolButton *ZNTTerminalSegmentedControl::segmentButton(int segment) const {
    return qobject_cast<QToolButton *>(m_group->button(segment));
}

void ZNTTerminalSegmentedControl::setSelected(int segment, bool selected) {
    if (QToolButton *b = segmentButton(segment); b && b->isCheckable())
        b->setChecked(selected);
}

bool ZNTTerminalSegmentedControl::isSelected(int segment) const {
    QToolButton *b = segmentButton(segment);
    return b && b->isChecked();
}

void ZNTTerminalSegmentedControl::setSegmentEnabled(int segment, bool enabled) {
    if (QToolButton *b = segmentButton(segment))
        b->setEnabled(enabled);
}

bool ZNTTerminalSegmentedControl::isSegmentEnabled(int segment) const {
    QToolButton *b = segmentButton(segment);
    return b && b->isEnabled();
}

void ZNTTerminalSegmentedControl::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    drawBarButtonBackground(this);
}
