#include "ZNTTerminalQueryTabularResult.h"

#include "TerminalPageLogic.h"
#include "ZNTTerminalQuery.h"
#include "browser/ZNTTableGridView.h"
#include "uikit/ZNTGridModel.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

using namespace TerminalGrid;

// --- the grid ---------------------------------------------------------------------

ZNTTerminalTableView::ZNTTerminalTableView(QWidget *parent) : QTableView(parent) {
    setObjectName(QStringLiteral("terminalTableView"));
    m_cell = new ZNTTableGridCell(this);
    setItemDelegate(m_cell);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(20);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAlternatingRowColors(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // The result row shows the sideways scroll bar where it can be reached.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
}

void ZNTTerminalTableView::setMarkedCell(int row, int column) {
    if (row == m_markedRow && column == m_markedColumn)
        return;
    const QModelIndex before = markedCell();
    m_markedRow = row;
    m_markedColumn = column;
    if (before.isValid())
        viewport()->update(visualRect(before).adjusted(-2, -2, 2, 2));
    if (const QModelIndex now = markedCell(); now.isValid())
        viewport()->update(visualRect(now).adjusted(-2, -2, 2, 2));
}

QModelIndex ZNTTerminalTableView::markedCell() const {
    return model() ? model()->index(m_markedRow, m_markedColumn) : QModelIndex();
}

void ZNTTerminalTableView::decideGesture(const QPoint &delta) {
    m_sideways = std::abs(delta.x()) > std::abs(delta.y());
    m_gestureDecided = true;
}

void ZNTTerminalTableView::wheelEvent(QWheelEvent *event) {
    const QPoint delta = event->pixelDelta().isNull() ? event->angleDelta() : event->pixelDelta();
    switch (event->phase()) {
    case Qt::NoScrollPhase: // a wheel of clicks: each event on its own
        decideGesture(delta);
        break;
    case Qt::ScrollBegin:
        m_gestureDecided = false;
        m_sideways = false;
        if (!delta.isNull())
            decideGesture(delta);
        break;
    case Qt::ScrollUpdate:
    case Qt::ScrollMomentum:
        if (!m_gestureDecided && !delta.isNull())
            decideGesture(delta);
        break;
    case Qt::ScrollEnd:
        break;
    }
    const bool sideways = m_sideways;
    if (event->phase() == Qt::ScrollEnd)
        m_gestureDecided = false;
    if (!sideways) {
        event->ignore(); // up and down belong to the transcript
        return;
    }
    int step = event->pixelDelta().isNull() ? event->angleDelta().x() * horizontalScrollBar()->singleStep() / 40
                                            : event->pixelDelta().x();
    if (event->inverted())
        step = -step;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - step);
    event->accept();
}

void ZNTTerminalTableView::paintEvent(QPaintEvent *event) {
    QTableView::paintEvent(event);
    const QModelIndex marked = markedCell();
    if (!marked.isValid())
        return;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor::fromRgbF(0.2f, 0.38f, 0.8f, 0.5f), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(visualRect(marked)).adjusted(1, 2, -1, -2));
}

void ZNTTerminalTableView::mouseDoubleClickEvent(QMouseEvent *event) {
    const int row = rowAt(event->position().toPoint().y());
    QTableView::mouseDoubleClickEvent(event);
    if (row >= 0)
        emit rowDoubleClicked(row);
}

void ZNTTerminalTableView::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    QTableView::currentChanged(current, previous);
    if (current.isValid())
        emit currentCellMoved(
            QRect(viewport()->mapTo(this, visualRect(current).topLeft()), visualRect(current).size()));
}

// --- the result row ---------------------------------------------------------------

ZNTTerminalQueryTabularResult::ZNTTerminalQueryTabularResult(QWidget *parent) : QWidget(parent) {
    buildUi();
    connectParts();
}

int ZNTTerminalQueryTabularResult::scrollBarExtent(const QWidget *widget) {
    const QStyle *style = widget ? widget->style() : QApplication::style();
    if (style->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, widget))
        return 0;
    return style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, widget);
}

int ZNTTerminalQueryTabularResult::heightForRowCount(qsizetype rows, const QWidget *widget) {
    return TerminalGrid::heightForRowCount(rows, scrollBarExtent(widget));
}

void ZNTTerminalQueryTabularResult::buildUi() {
    setObjectName(QStringLiteral("tabularResult"));
    m_model = new ZNTGridModel(this);
    m_tableView = new ZNTTerminalTableView(this);
    m_tableView->setModel(m_model);
    m_tableView->setAccessibleName(QStringLiteral("Result"));
    m_header = new ZNTTableHeaderCell(Qt::Horizontal, this);
    m_header->setObjectName(QStringLiteral("floatingHeader"));
    m_header->setModel(m_model);
    m_header->setSectionsClickable(true);
    m_header->setSectionsMovable(false); // the copies take the result's column order
    m_header->setHighlightSections(false);
    m_header->setStretchLastSection(false);
    m_header->setMinimumSectionSize(20);
    m_header->setFocusPolicy(Qt::NoFocus);
    m_bottomStrip = new QWidget(this);
    m_bottomStrip->setAutoFillBackground(true);
    m_bottomStrip->setBackgroundRole(QPalette::Base);
    m_scroller = new QScrollBar(Qt::Horizontal, this);
    m_scroller->setObjectName(QStringLiteral("horizontalScroller"));
    m_scroller->setFocusPolicy(Qt::NoFocus);
    m_scroller->setRange(0, 0); // the grid's own bar tells its range once it has one
    m_rowCountField = new QLabel(m_bottomStrip);
    m_rowCountField->setObjectName(QStringLiteral("rowCountField"));
    m_rowCountField->setTextFormat(Qt::PlainText);
    m_rowCountField->setForegroundRole(QPalette::PlaceholderText);
    m_header->raise();
    m_bottomStrip->raise();
    m_scroller->raise();
}

void ZNTTerminalQueryTabularResult::connectParts() {
    QScrollBar *own = m_tableView->horizontalScrollBar();
    connect(own, &QScrollBar::rangeChanged, this, [this, own](int min, int max) {
        m_scroller->setRange(min, max);
        m_scroller->setPageStep(own->pageStep());
        m_scroller->setSingleStep(own->singleStep());
        updateFloatingParts();
    });
    connect(own, &QScrollBar::valueChanged, this, [this](int value) {
        m_scroller->setValue(value);
        m_header->setOffset(value);
    });
    connect(m_scroller, &QScrollBar::valueChanged, own, &QScrollBar::setValue);
    connect(m_header, &QHeaderView::sectionResized, this,
            [this](int logical, int, int size) { m_tableView->horizontalHeader()->resizeSection(logical, size); });
    // The header passes the wheel to its grid.
    m_header->viewport()->installEventFilter(this);
}

void ZNTTerminalQueryTabularResult::setResult(const std::shared_ptr<ZNTTerminalResult> &result) {
    m_result = result;
    m_tableView->clearSelection();
    m_model->setResult(result ? result->result()->columns() : ZNTColumnList(), result ? result->rows() : nullptr);
}

void ZNTTerminalQueryTabularResult::setColumnWidth(int column, int width) {
    m_header->resizeSection(column, width);
    m_tableView->horizontalHeader()->resizeSection(column, width);
}

QRect ZNTTerminalQueryTabularResult::tableArea() const {
    const int bottom = kBottom + scrollBarExtent(this);
    return QRect(kSide, kHeaderTop + kHeaderHeight, width() - 2 * kSide,
                 std::max(kTableFrame, height() - kHeaderTop - kHeaderHeight - bottom));
}

void ZNTTerminalQueryTabularResult::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    const QRect area = tableArea();
    m_tableView->setGeometry(area.adjusted(0, kTableFrame / 2, 0, -kTableFrame / 2));
    updateFloatingParts();
}

void ZNTTerminalQueryTabularResult::moveEvent(QMoveEvent *event) {
    QWidget::moveEvent(event);
    updateFloatingParts();
}

void ZNTTerminalQueryTabularResult::updateFloatingParts() {
    const QWidget *sight = parentWidget();
    const int visibleTop = sight ? -y() : 0;
    const int visibleBottom = sight ? sight->height() - y() : height();
    const int extent = scrollBarExtent(this);
    const int bottomHeight = kBottom + extent;
    const TerminalGrid::FloatingParts parts =
        TerminalGrid::floatingParts(height(), heightForRowCount(0, this), bottomHeight, visibleTop, visibleBottom);
    m_header->setGeometry(kSide, parts.headerTop, width() - 2 * kSide, kHeaderHeight);
    m_bottomStrip->setGeometry(0, parts.bottomTop, width(), bottomHeight);
    m_rowCountField->setGeometry(kSide + 2, extent, width() - 2 * kSide - 4, kBottom);
    const int scrollerHeight = m_scroller->sizeHint().height();
    const int scrollerTop = extent > 0 ? parts.bottomTop : parts.bottomTop - scrollerHeight;
    m_scroller->setGeometry(kSide, scrollerTop, width() - 2 * kSide, extent > 0 ? extent : scrollerHeight);
    m_scroller->setVisible(m_scroller->maximum() > m_scroller->minimum());
}

void ZNTTerminalQueryTabularResult::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::StyleChange) {
        updateFloatingParts();
        emit scrollerStyleChanged();
    }
}

bool ZNTTerminalQueryTabularResult::eventFilter(QObject *watched, QEvent *event) {
    // The header's wheel is the grid's; what the grid leaves goes on up to the transcript.
    if (watched == m_header->viewport() && event->type() == QEvent::Wheel) {
        QApplication::sendEvent(m_tableView->viewport(), event);
        return event->isAccepted();
    }
    return QWidget::eventFilter(watched, event);
}

// A frame around the grid's area, under the header.
void ZNTTerminalQueryTabularResult::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QColor line = palette().color(QPalette::Text);
    line.setAlphaF(0.18f);
    painter.setPen(line);
    const QRect area = tableArea();
    painter.drawRect(QRect(area.left() - 1, kHeaderTop - 1, area.width() + 1, area.bottom() - kHeaderTop + 1));
}
