#include "ZNTTerminalOutlineView.h"

#include "platform/ProgramError.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>
#include <limits>

namespace {
constexpr int kFadeMilliseconds = 200;
constexpr qint64 kMaxContentHeight = std::numeric_limits<int>::max() / 2;
} // namespace

ZNTTerminalOutlineView::ZNTTerminalOutlineView(QWidget *parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("terminalOutlineView"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(20);
}

void ZNTTerminalOutlineView::insertRow(int row, const void *key, QWidget *view, int height) {
    if (!key || row < 0 || row > rowCount())
        throw ProgramError("IncorrectUsage", "ZNTTerminalOutlineView::insertRow: no key or a row out of range");
    if (view) {
        view->setParent(viewport());
        view->show();
    }
    m_rows.insert(m_rows.begin() + row, Row{key, view, std::max(0, height)});
    placeRows();
}

void ZNTTerminalOutlineView::removeRow(const void *key) {
    const int row = rowForKey(key);
    if (row < 0)
        return;
    delete m_rows[size_t(row)].view.data();
    m_rows.erase(m_rows.begin() + row);
    placeRows();
}

void ZNTTerminalOutlineView::fadeOutRows(const QList<const void *> &keys) {
    for (const void *key : keys) {
        const int row = rowForKey(key);
        if (row < 0)
            continue;
        Row &entry = m_rows[size_t(row)];
        entry.key = nullptr; // out of reach from now on
        QWidget *view = entry.view;
        if (!view) {
            m_rows.erase(m_rows.begin() + row);
            continue;
        }
        view->setEnabled(false);
        auto *effect = new QGraphicsOpacityEffect(view);
        view->setGraphicsEffect(effect);
        auto *fade = new QPropertyAnimation(effect, "opacity", view);
        fade->setDuration(kFadeMilliseconds);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        QPointer<QWidget> gone = view;
        connect(fade, &QPropertyAnimation::finished, this, [this, gone] {
            const auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const Row &r) { return r.view == gone; });
            if (it != m_rows.end())
                m_rows.erase(it);
            if (gone)
                gone->deleteLater();
            placeRows();
        });
        fade->start();
    }
    placeRows();
}

void ZNTTerminalOutlineView::removeAllRows() {
    for (Row &row : m_rows)
        delete row.view.data();
    m_rows.clear();
    placeRows();
}

int ZNTTerminalOutlineView::rowForKey(const void *key) const {
    if (!key)
        return -1;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].key == key)
            return int(i);
    }
    return -1;
}

const void *ZNTTerminalOutlineView::keyAtRow(int row) const {
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].key : nullptr;
}

QWidget *ZNTTerminalOutlineView::viewAtRow(int row) const {
    return row >= 0 && row < rowCount() && m_rows[size_t(row)].key ? m_rows[size_t(row)].view.data() : nullptr;
}

int ZNTTerminalOutlineView::rowForView(const QWidget *widget) const {
    for (const QWidget *w = widget; w && w != viewport(); w = w->parentWidget()) {
        if (w->parentWidget() != viewport())
            continue;
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].view == w && m_rows[i].key)
                return int(i);
        }
        return -1;
    }
    return -1;
}

int ZNTTerminalOutlineView::rowHeight(int row) const {
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].height : 0;
}

void ZNTTerminalOutlineView::setRowHeight(const void *key, int height) {
    const int row = rowForKey(key);
    if (row < 0 || m_rows[size_t(row)].height == std::max(0, height))
        return;
    m_rows[size_t(row)].height = std::max(0, height);
    placeRows();
}

QRect ZNTTerminalOutlineView::rectOfRow(int row) const {
    if (row < 0 || row >= rowCount())
        return {};
    qint64 top = 0;
    for (int i = 0; i < row; ++i)
        top += m_rows[size_t(i)].height;
    return QRect(0, int(std::min(top, kMaxContentHeight)), viewport()->width(), m_rows[size_t(row)].height);
}

int ZNTTerminalOutlineView::contentHeight() const {
    qint64 total = 0;
    for (const Row &row : m_rows)
        total += row.height;
    return int(std::min(total, kMaxContentHeight));
}

QRect ZNTTerminalOutlineView::visibleRect() const {
    return QRect(0, visibleTop(), viewport()->width(), viewport()->height());
}

int ZNTTerminalOutlineView::visibleTop() const {
    return verticalScrollBar()->value();
}

void ZNTTerminalOutlineView::scrollToTop(int top) {
    verticalScrollBar()->setValue(top);
}

void ZNTTerminalOutlineView::scrollRectToVisible(const QRect &rect) {
    const QRect visible = visibleRect();
    if (rect.top() < visible.top())
        scrollToTop(rect.top());
    else if (rect.bottom() > visible.bottom())
        scrollToTop(std::min(rect.top(), rect.bottom() + 1 - visible.height()));
}

void ZNTTerminalOutlineView::scrollRowToVisible(int row) {
    scrollRectToVisible(rectOfRow(row));
}

void ZNTTerminalOutlineView::updateScrollRange() {
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(std::max(1, viewport()->height()));
    bar->setRange(0, std::max(0, contentHeight() - viewport()->height()));
}

// Every row at its place, in the viewport's coordinates; rows far out of
// sight keep their place too, so that focus and tab order stay with them.
void ZNTTerminalOutlineView::placeRows() {
    if (m_placing)
        return;
    m_placing = true;
    updateScrollRange();
    const qint64 offset = visibleTop();
    const int width = viewport()->width();
    qint64 top = 0;
    for (Row &row : m_rows) {
        if (row.view) {
            const qint64 y = std::clamp<qint64>(top - offset, -kMaxContentHeight, kMaxContentHeight);
            const QRect target(0, int(y), width, row.height);
            if (row.view->geometry() != target)
                row.view->setGeometry(target);
        }
        top += row.height;
    }
    m_placing = false;
    emit rowsPlaced();
}

void ZNTTerminalOutlineView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    if (event->size().height() != event->oldSize().height())
        emit visibleSizeChanged();
    placeRows();
}

void ZNTTerminalOutlineView::scrollContentsBy(int, int) {
    placeRows();
}
