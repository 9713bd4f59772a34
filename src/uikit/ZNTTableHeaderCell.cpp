#include "ZNTTableHeaderCell.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

bool isDark(const QPalette &palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor background(const QPalette &palette, bool activeWindow) {
    if (isDark(palette)) {
        const QColor button = palette.color(QPalette::Button);
        return activeWindow ? button.lighter(118) : button;
    }
    return activeWindow ? QColor::fromRgbF(0.83f, 0.86f, 0.92f) : QColor::fromRgbF(0.93f, 0.94f, 0.96f);
}

// The light edge on the left and the top that makes each section stand out.
QColor edge(const QPalette &palette) {
    if (isDark(palette)) {
        QColor c = palette.color(QPalette::Light);
        c.setAlphaF(0.6f);
        return c;
    }
    return Qt::white;
}

} // namespace

ZNTTableHeaderCell::ZNTTableHeaderCell(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent) {
    QFont small = font();
    small.setPointSizeF(std::max(6.0, font().pointSizeF() * 11.0 / 13.0));
    setFont(small);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void ZNTTableHeaderCell::setSortMode(int logicalIndex, int mode) {
    if (sortMode(logicalIndex) == mode)
        return;
    m_sortModes[logicalIndex] = mode;
    updateSection(logicalIndex);
}

int ZNTTableHeaderCell::sortMode(int logicalIndex) const {
    return m_sortModes.value(logicalIndex, ZNTSortModeNone);
}

QSize ZNTTableHeaderCell::indicatorSize() {
    return {9, 8};
}

QRect ZNTTableHeaderCell::titleRect(const QRect &section, int logicalIndex) const {
    const int mode = sortMode(logicalIndex);
    const bool indicator = mode == ZNTSortModeAscending || mode == ZNTSortModeDescending;
    const int indicatorWidth = indicator ? indicatorSize().width() : 0;
    const int width = section.width() - 5 - (indicatorWidth + 2);
    const int height = fontMetrics().height();
    const int y = section.y() + std::max(section.height() / 2 - height / 2 + 1, 2);
    return QRect(section.x() + 4, y, std::max(0, width), height);
}

bool ZNTTableHeaderCell::isSectionOn(int logicalIndex) const {
    if (!highlightSections() || !selectionModel())
        return false;
    return orientation() == Qt::Horizontal ? selectionModel()->isColumnSelected(logicalIndex, rootIndex())
                                           : selectionModel()->isRowSelected(logicalIndex, rootIndex());
}

void ZNTTableHeaderCell::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const {
    if (!rect.isValid())
        return;
    const QPalette &pal = palette();
    painter->save();
    painter->fillRect(rect, background(pal, isActiveWindow()));
    painter->fillRect(QRect(rect.x(), rect.y(), 1, rect.height()), edge(pal));
    painter->fillRect(QRect(rect.x(), rect.y(), rect.width(), 1), edge(pal));
    if (isSectionOn(logicalIndex) || m_pressed == logicalIndex)
        painter->fillRect(rect.adjusted(1, 1, 0, 0), QColor(0, 0, 0, 51));
    if (m_pressed == logicalIndex) {
        QColor tint = pal.color(QPalette::Highlight);
        tint.setAlphaF(0.3f);
        painter->fillRect(QRect(rect.x() + 1, rect.y() + 1, rect.width() - 1, rect.height() - 1), tint);
    }
    const QRect title = titleRect(rect, logicalIndex);
    const QString text =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString() : QString();
    painter->setFont(font());
    painter->setPen(pal.color(QPalette::ButtonText));
    // Not clipped to the line: at small sizes an underscore lies below the font's descent.
    painter->drawText(title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                      fontMetrics().elidedText(text, Qt::ElideRight, title.width()));
    drawIndicator(painter, rect, sortMode(logicalIndex));
    painter->restore();
}

void ZNTTableHeaderCell::drawIndicator(QPainter *painter, const QRect &rect, int mode) const {
    if (mode != ZNTSortModeAscending && mode != ZNTSortModeDescending)
        return;
    const QSize size = indicatorSize();
    const QRectF box(rect.x() + rect.width() - size.width() - 4, rect.y() + (rect.height() - size.height()) / 2,
                     size.width(), size.height());
    QPainterPath triangle;
    if (mode == ZNTSortModeAscending) {
        triangle.moveTo(box.left(), box.bottom());
        triangle.lineTo(box.center().x(), box.top());
        triangle.lineTo(box.right(), box.bottom());
    } else {
        triangle.moveTo(box.left(), box.top());
        triangle.lineTo(box.center().x(), box.bottom());
        triangle.lineTo(box.right(), box.top());
    }
    triangle.closeSubpath();
    QColor color = palette().color(QPalette::ButtonText);
    color.setAlphaF(0.75f);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->fillPath(triangle, color);
}

QSize ZNTTableHeaderCell::sectionSizeFromContents(int logicalIndex) const {
    const QString text =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString() : QString();
    const int mode = sortMode(logicalIndex);
    const bool indicator = mode == ZNTSortModeAscending || mode == ZNTSortModeDescending;
    const int width = 4 + fontMetrics().horizontalAdvance(text) + 5 + (indicator ? indicatorSize().width() : 0) + 2;
    return QSize(width, fontMetrics().height() + 6);
}

void ZNTTableHeaderCell::mousePressEvent(QMouseEvent *event) {
    QHeaderView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && sectionsClickable()) {
        m_pressed = logicalIndexAt(event->position().toPoint());
        if (m_pressed >= 0)
            updateSection(m_pressed);
    }
}

void ZNTTableHeaderCell::mouseReleaseEvent(QMouseEvent *event) {
    const int pressed = m_pressed;
    m_pressed = -1;
    if (pressed >= 0)
        updateSection(pressed);
    QHeaderView::mouseReleaseEvent(event);
}

bool ZNTTableHeaderCell::event(QEvent *event) {
    // The band is lighter while the window is inactive.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        viewport()->update();
    return QHeaderView::event(event);
}
