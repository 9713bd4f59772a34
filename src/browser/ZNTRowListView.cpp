#include "ZNTRowListView.h"

#include <QApplication>
#include <QScrollBar>

namespace {
const char *const kReuseIdentifier = "ZNTReuseIdentifier";
const char *const kLastRow = "ZNTLastRow";
// Widgets that change their height while they are made can ask for another
// layout; this many rounds settle any list.
constexpr int kLayoutRounds = 8;
} // namespace

ZNTRowListView::ZNTRowListView(QWidget *parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    verticalScrollBar()->setSingleStep(20);
}

ZNTRowListView::~ZNTRowListView() = default;

void ZNTRowListView::setDataSource(ZNTRowListDataSource *dataSource) {
    m_dataSource = dataSource;
    reloadData();
}

void ZNTRowListView::setReuseIdentifier(QWidget *view, const QString &identifier) {
    view->setProperty(kReuseIdentifier, identifier);
}

QString ZNTRowListView::reuseIdentifier(const QWidget *view) {
    return view->property(kReuseIdentifier).toString();
}

// The widget that showed the same row last comes first: after a reload it is
// already where the row is.
QWidget *ZNTRowListView::dequeueReusableView(const QString &identifier) {
    QList<QPointer<QWidget>> &pool = m_pool[identifier];
    pool.removeAll(nullptr);
    for (qsizetype i = pool.size() - 1; i >= 0; --i)
        if (pool[i]->property(kLastRow).toInt() == m_makingRow)
            return pool.takeAt(i);
    return pool.isEmpty() ? nullptr : pool.takeLast().data();
}

// The widgets shown go back to the pool but stay on screen: most are taken
// again at once for the same rows, and hiding and showing them again would
// cost more than the rest of the reload. Those not taken are hidden after.
void ZNTRowListView::reloadData() {
    const QList<int> shown = m_shown.keys();
    for (int row : shown)
        recycle(row, false);
    computeTops();
    layOutRows();
    for (QList<QPointer<QWidget>> &pool : m_pool)
        for (const QPointer<QWidget> &view : pool)
            if (view && !view->isHidden())
                view->hide();
}

void ZNTRowListView::noteHeightOfRowsChanged() {
    computeTops();
    layOutRows();
}

void ZNTRowListView::computeTops() {
    const int n = m_dataSource ? std::max(0, m_dataSource->numberOfRows()) : 0;
    m_tops.assign(size_t(n) + 1, 0);
    for (int row = 0; row < n; ++row)
        m_tops[size_t(row) + 1] = m_tops[size_t(row)] + std::max(0, m_dataSource->heightOfRow(row));
}

int ZNTRowListView::contentHeight() const {
    return m_tops.empty() ? 0 : m_tops.back();
}

QRect ZNTRowListView::rectOfRow(int row) const {
    if (row < 0 || size_t(row) + 1 >= m_tops.size())
        return {};
    return QRect(0, m_tops[size_t(row)], viewport()->width(), m_tops[size_t(row) + 1] - m_tops[size_t(row)]);
}

QList<int> ZNTRowListView::visibleRows() const {
    QList<int> rows;
    const int top = verticalScrollBar()->value(), bottom = top + viewport()->height();
    const int n = int(m_tops.size()) - 1;
    // The last row that starts at or above the top, then every row up to the bottom.
    int row = int(std::upper_bound(m_tops.begin(), m_tops.end(), top) - m_tops.begin()) - 1;
    for (row = std::max(row, 0); row < n && m_tops[size_t(row)] < bottom; ++row)
        if (m_tops[size_t(row) + 1] > top)
            rows << row;
    return rows;
}

void ZNTRowListView::updateScrollBar() {
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, contentHeight() - viewport()->height()));
    bar->setPageStep(viewport()->height());
}

// Rows in sight get their widgets; the others give theirs back, except a
// widget that holds the focus, which would lose it (and its typing) on the way.
void ZNTRowListView::layOutRows() {
    if (m_layingOut) {
        m_layoutAgain = true;
        return;
    }
    m_layingOut = true;
    for (int round = 0; round < kLayoutRounds; ++round) {
        m_layoutAgain = false;
        updateScrollBar();
        const QList<int> wanted = visibleRows();
        const QWidget *focus = QApplication::focusWidget();
        for (int row : m_shown.keys()) {
            QWidget *view = m_shown.value(row);
            if (wanted.contains(row))
                continue;
            if (view && focus && view->isAncestorOf(focus))
                place(view, row);
            else
                recycle(row);
        }
        for (int row : wanted)
            viewAtRow(row, true);
        for (int row : wanted)
            if (QWidget *view = m_shown.value(row))
                place(view, row);
        if (!m_layoutAgain)
            break;
    }
    m_layingOut = false;
}

void ZNTRowListView::place(QWidget *view, int row) {
    const QRect rect = rectOfRow(row).translated(0, -verticalScrollBar()->value());
    if (view->geometry() != rect)
        view->setGeometry(rect);
    if (view->isHidden())
        view->show();
}

void ZNTRowListView::recycle(int row, bool hide) {
    QPointer<QWidget> view = m_shown.take(row);
    if (!view)
        return;
    if (m_dataSource)
        m_dataSource->didRemoveRowView(view, row);
    if (hide)
        view->hide();
    view->setProperty(kLastRow, row);
    m_pool[reuseIdentifier(view)].append(view);
}

QWidget *ZNTRowListView::viewAtRow(int row, bool makeIfNecessary) {
    if (QWidget *view = m_shown.value(row))
        return view;
    if (!makeIfNecessary || !m_dataSource || row < 0 || size_t(row) + 1 >= m_tops.size())
        return nullptr;
    m_makingRow = row;
    QWidget *view = m_dataSource->viewForRow(row);
    m_makingRow = -1;
    if (!view)
        return nullptr;
    if (view->parentWidget() != viewport())
        view->setParent(viewport());
    if (!m_all.contains(view))
        m_all.append(view);
    m_shown.insert(row, view);
    place(view, row);
    return view;
}

int ZNTRowListView::rowForView(const QWidget *view) const {
    while (view && view->parentWidget() != viewport())
        view = view->parentWidget();
    if (!view)
        return -1;
    for (auto it = m_shown.begin(); it != m_shown.end(); ++it)
        if (it.value() == view)
            return it.key();
    return -1;
}

void ZNTRowListView::scrollRowToVisible(int row) {
    const QRect rect = rectOfRow(row);
    if (rect.isNull())
        return;
    QScrollBar *bar = verticalScrollBar();
    const int height = viewport()->height();
    if (rect.top() < bar->value())
        bar->setValue(rect.top());
    else if (rect.bottom() + 1 > bar->value() + height)
        bar->setValue(std::min(rect.top(), rect.bottom() + 1 - height));
}

QList<QWidget *> ZNTRowListView::allViews() const {
    QList<QWidget *> views;
    for (const QPointer<QWidget> &view : m_all)
        if (view)
            views << view;
    return views;
}

void ZNTRowListView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    layOutRows();
}

void ZNTRowListView::scrollContentsBy(int, int) {
    layOutRows();
}

bool ZNTRowListView::focusNextPrevChild(bool next) {
    QWidget *focus = QApplication::focusWidget();
    const int row = focus ? rowForView(focus) : -1;
    if (row >= 0 && m_dataSource && m_dataSource->moveFocusFromRow(row, focus, next))
        return true;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

QSize ZNTRowListView::viewportSizeHint() const {
    return QSize(250, std::min(contentHeight(), 600));
}
