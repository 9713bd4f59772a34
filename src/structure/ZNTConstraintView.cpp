#include "ZNTConstraintView.h"

#include "ConstraintPopoverController.h"
#include "ZNTConstraintPresentation.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/PlainToolTip.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTPopover.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>

namespace {
bool isReturn(const QKeyEvent *event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}
} // namespace

void drawStripShape(QPainter &painter, const QRectF &box, const QPalette &palette, qreal stroke, qreal fill) {
    QColor line = palette.color(QPalette::Text);
    QColor inside = line;
    line.setAlphaF(float(stroke));
    inside.setAlphaF(float(fill));
    painter.setPen(QPen(line, 1));
    painter.setBrush(inside);
    painter.drawRoundedRect(box, 3, 3);
}

// --- pill ---------------------------------------------------------------------

ZNTConstraintView::ZNTConstraintView(std::shared_ptr<ZNTConstraint> original, std::shared_ptr<ZNTConstraint> edited,
                                     std::shared_ptr<ZNTTable> table, QWidget *parent)
    : QAbstractButton(parent), m_original(std::move(original)), m_edited(std::move(edited)), m_table(std::move(table)) {
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, &ZNTConstraintView::showPopover);
    setNeedsDisplay();
}

ZNTConstraintView::~ZNTConstraintView() {
    // Its handler would reach a pill that is gone.
    if (m_popover)
        disconnect(m_popover, nullptr, this, nullptr);
}

ConstraintPopoverController *ZNTConstraintView::popoverController() const {
    return m_controller;
}

QString ZNTConstraintView::referencedColumnName() const {
    const auto foreign = m_edited->foreignTable();
    if (!foreign || m_edited->foreignAttnums().size() != 1)
        return QString();
    const auto metadata = foreign->metadata();
    if (!metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        return QString();
    const auto column = metadata->columnForAttnum(m_edited->foreignAttnums().first());
    return column ? column->name() : QString();
}

void ZNTConstraintView::setNeedsDisplay() {
    setText(ZNTConstraintPresentation::title(*m_edited, referencedColumnName()));
    setToolTip(plainToolTip(ZNTConstraintPresentation::toolTip(*m_edited)));
    setAccessibleDescription(m_edited->markedForDeletion() ? QStringLiteral("marked for deletion") : QString());
    updateGeometry();
    update();
}

QSize ZNTConstraintView::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 12, std::max(17, metrics.height() + 4));
}

void ZNTConstraintView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    drawStripShape(painter, box, palette(), isDown() ? 0.45 : 0.25, isDown() ? 0.22 : 0.06);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (m_edited->markedForDeletion()) {
        QColor red(220, 40, 40);
        painter.setPen(QPen(red, 1));
        const qreal y = std::floor(height() / 2.0) + 0.5;
        painter.drawLine(QPointF(2, y), QPointF(width() - 2, y));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
    }
}

void ZNTConstraintView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        m_edited->setMarkedForDeletion(true);
        setNeedsDisplay();
        if (m_delegate)
            m_delegate->constraintViewDidEndEditing(this);
        return;
    }
    if (isReturn(event)) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void ZNTConstraintView::showPopover() {
    if (m_controller || !uv_endEditing(window()))
        return;
    setFocus(Qt::OtherFocusReason);
    auto *controller = ConstraintPopoverController::create(m_table, *m_edited, m_original == nullptr);
    if (!controller)
        return;
    if (!m_popover) {
        m_popover = new ZNTPopover(this);
        m_popover->setClosesOnOutsideClick(false);
        connect(m_popover, &ZNTPopover::didClose, this, &ZNTConstraintView::popoverDidClose);
    }
    m_beforePopover = m_edited->copy();
    m_controller = controller;
    controller->setAction([this] { popoverSaved(); });
    m_popover->setContentView(controller);
    m_popover->showRelativeToRect(QRect(), this, ZNTPopover::Edge::Below);
}

void ZNTConstraintView::popoverSaved() {
    if (m_popover)
        m_popover->performClose();
}

void ZNTConstraintView::popoverDidClose() {
    ConstraintPopoverController *controller = m_controller;
    m_controller = nullptr;
    if (controller && !controller->isCancelled())
        m_edited->takeValuesFromConstraint(*controller->constraint());
    setNeedsDisplay();
    if (isVisible())
        setFocus(Qt::OtherFocusReason);
    if (m_delegate)
        m_delegate->constraintViewDidEndEditing(this);
}

void ZNTConstraintView::putBack() {
    if (m_beforePopover)
        m_edited->takeValuesFromConstraint(*m_beforePopover);
    setNeedsDisplay();
}

// --- add button ---------------------------------------------------------------

ZNTConstraintButton::ZNTConstraintButton(QWidget *parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Add Constraint"));
    setToolTip(QStringLiteral("Add Constraint"));
    connect(this, &QAbstractButton::clicked, this, &ZNTConstraintButton::showMenu);
}

QList<QPair<QString, ZNTConstraint::Type>> ZNTConstraintButton::items() {
    return {{QStringLiteral("&Not NULL"), ZNTConstraint::ZNTConstraintTypeNotNull},
            {QStringLiteral("&Primary Key"), ZNTConstraint::ZNTConstraintTypePrimaryKey},
            {QStringLiteral("&Unique"), ZNTConstraint::ZNTConstraintTypeUnique},
            {QStringLiteral("&Foreign Key…"), ZNTConstraint::ZNTConstraintTypeForeignKey},
            {QStringLiteral("&Check…"), ZNTConstraint::ZNTConstraintTypeCheck}};
}

QSize ZNTConstraintButton::sizeHint() const {
    const int height = std::max(17, fontMetrics().height() + 4);
    return QSize(std::max(height, 26), height);
}

void ZNTConstraintButton::showMenu() {
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto &[title, type] : items()) {
        const ZNTConstraint::Type chosen = type;
        connect(menu->addAction(title), &QAction::triggered, this, [this, chosen] { emit addConstraint(chosen); });
    }
    menu->popup(mapToGlobal(QPoint(0, height())));
}

void ZNTConstraintButton::keyPressEvent(QKeyEvent *event) {
    if (isReturn(event) || (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier))) {
        showMenu();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void ZNTConstraintButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(4.5, 0.5, -4.5, -0.5);
    drawStripShape(painter, box, palette(), isDown() ? 0.4 : 0.15, isDown() ? 0.3 : 0.03);
    QColor ink = palette().color(QPalette::Text);
    ink.setAlphaF(0.75f);
    painter.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = box.center();
    const qreal arm = std::min(box.width(), box.height()) / 4.0;
    painter.drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
    painter.drawLine(QPointF(c.x(), c.y() - arm), QPointF(c.x(), c.y() + arm));
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box, 3, 3);
    }
}
