#include "VisualFormatLayout.h"

#include "VisualFormatParser.h"
#include "platform/ProgramError.h"

#include <QWidget>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kRequired = 1000;
constexpr double kUnbounded = QWIDGETSIZE_MAX;
// Spacing of "-" between two views and between a view and the container's edge.
constexpr double kStandardSpacing = 8;
constexpr double kStandardEdgeSpacing = 20;

int along(const QSize &s, Qt::Orientation o) {
    return o == Qt::Horizontal ? s.width() : s.height();
}

bool namesView(const VisualFormatLayout::Chain &chain, const QWidget *view) {
    return std::find(chain.views.begin(), chain.views.end(), view) != chain.views.end();
}

} // namespace

VisualFormatLayout::VisualFormatLayout(QWidget *parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
}

VisualFormatLayout::~VisualFormatLayout() {
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

VisualFormatLayout *VisualFormatLayout::forWidget(QWidget *container) {
    if (!container->layout())
        return new VisualFormatLayout(container);
    auto *layout = dynamic_cast<VisualFormatLayout *>(container->layout());
    if (!layout)
        throw ProgramError("IncorrectUsage", "visual formats need a widget without another layout");
    return layout;
}

void VisualFormatLayout::addFormat(const QString &text, const QList<QPair<QString, QWidget *>> &views,
                                   LayoutFormatOptions options) {
    Chain chain = parseVisualFormat(text, views, options);
    QWidget *container = parentWidget();
    for (QWidget *view : chain.views) {
        if (view == container || (view->parentWidget() && view->parentWidget() != container))
            throw ProgramError(kVisualFormatException,
                               "Unable to install constraint: a view of the format is not a child of its receiver");
    }
    // Join first, check after: the chains are only kept when every view ends up
    // in one chain per axis.
    std::vector<Chain> before = m_chains;
    m_chains.push_back(std::move(chain));
    joinChains();
    for (size_t i = 0; i < m_chains.size(); ++i)
        for (size_t j = i + 1; j < m_chains.size(); ++j)
            if (m_chains[i].orientation == m_chains[j].orientation)
                for (QWidget *v : m_chains[i].views)
                    if (namesView(m_chains[j], v)) {
                        m_chains = std::move(before);
                        throw ProgramError(kVisualFormatException,
                                           "Unable to satisfy constraints: a view is placed twice along one axis");
                    }
    for (const Chain &c : m_chains)
        for (QWidget *view : c.views)
            if (indexOf(view) < 0) {
                addChildWidget(view);
                m_items.append(new QWidgetItem(view));
            }
    invalidate();
}

// "V:|[a]" and "V:[a]-8-[b]-|" are one chain from the top edge to the bottom one.
void VisualFormatLayout::joinChains() {
    bool joined = true;
    while (joined) {
        joined = false;
        for (size_t i = 0; i < m_chains.size() && !joined; ++i) {
            for (size_t j = 0; j < m_chains.size() && !joined; ++j) {
                Chain &a = m_chains[i];
                Chain &b = m_chains[j];
                if (i == j || a.orientation != b.orientation || a.trailingEdge || b.leadingEdge ||
                    a.views.back() != b.views.front())
                    continue;
                a.sizes.back() += b.sizes.front();
                a.gaps.pop_back();
                a.standardGap.pop_back();
                a.views.insert(a.views.end(), b.views.begin() + 1, b.views.end());
                a.sizes.insert(a.sizes.end(), b.sizes.begin() + 1, b.sizes.end());
                a.gaps.insert(a.gaps.end(), b.gaps.begin() + 1, b.gaps.end());
                a.standardGap.insert(a.standardGap.end(), b.standardGap.begin() + 1, b.standardGap.end());
                a.trailingEdge = b.trailingEdge;
                a.options |= b.options;
                m_chains.erase(m_chains.begin() + j);
                joined = true;
            }
        }
    }
}

void VisualFormatLayout::addItem(QLayoutItem *item) {
    m_items.append(item);
}

QLayoutItem *VisualFormatLayout::itemAt(int index) const {
    return m_items.value(index);
}

QLayoutItem *VisualFormatLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    if (QWidget *view = item->widget())
        dropView(view);
    invalidate();
    return item;
}

// As when a view leaves its superview: the chains lose it and the spacings
// next to it, and fall apart into the pieces before and after it.
void VisualFormatLayout::dropView(QWidget *view) {
    std::vector<Chain> kept;
    for (Chain &chain : m_chains) {
        auto it = std::find(chain.views.begin(), chain.views.end(), view);
        if (it == chain.views.end()) {
            kept.push_back(std::move(chain));
            continue;
        }
        const size_t k = size_t(it - chain.views.begin());
        Chain head = chain, tail = chain;
        head.views.resize(k);
        head.sizes.resize(k);
        head.gaps.resize(k + 1);
        head.standardGap.resize(k + 1);
        head.gaps[k] = {};
        head.trailingEdge = false;
        tail.views.erase(tail.views.begin(), tail.views.begin() + long(k) + 1);
        tail.sizes.erase(tail.sizes.begin(), tail.sizes.begin() + long(k) + 1);
        tail.gaps.erase(tail.gaps.begin(), tail.gaps.begin() + long(k) + 1);
        tail.standardGap.erase(tail.standardGap.begin(), tail.standardGap.begin() + long(k) + 1);
        tail.gaps.insert(tail.gaps.begin(), QList<Predicate>{});
        tail.standardGap.insert(tail.standardGap.begin(), false);
        tail.leadingEdge = false;
        for (Chain *piece : {&head, &tail})
            if (!piece->views.empty())
                kept.push_back(std::move(*piece));
    }
    m_chains = std::move(kept);
}

int VisualFormatLayout::count() const {
    return int(m_items.size());
}

int VisualFormatLayout::indexOf(const QWidget *view) const {
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items[i]->widget() == view)
            return i;
    return -1;
}

Qt::Orientations VisualFormatLayout::expandingDirections() const {
    return Qt::Horizontal | Qt::Vertical;
}

VisualFormatLayout::Span VisualFormatLayout::viewSpan(QWidget *view, Qt::Orientation o,
                                                      const QList<Predicate> &predicates) const {
    const QSizePolicy policy = view->sizePolicy();
    const QSizePolicy::Policy p = o == Qt::Horizontal ? policy.horizontalPolicy() : policy.verticalPolicy();
    const double hint = std::max(0, along(view->sizeHint(), o));
    Span s;
    s.pref = hint;
    s.min = (p & QSizePolicy::ShrinkFlag) ? std::max(0, along(view->minimumSizeHint(), o)) : hint;
    s.min = std::max<double>(s.min, along(view->minimumSize(), o));
    s.max = (p & QSizePolicy::GrowFlag) ? along(view->maximumSize(), o) : hint;
    s.growWeakness = (p & QSizePolicy::ExpandFlag) ? 200 : (p & QSizePolicy::GrowFlag) ? 250 : kRequired;
    s.shrinkWeakness = (p & QSizePolicy::ShrinkFlag) ? 750 : kRequired;
    for (const Predicate &pr : predicates) {
        if (pr.priority < kRequired) {
            if (pr.relation == Predicate::Equal) {
                s.pref = pr.constant;
                s.growWeakness = std::min(s.growWeakness, pr.priority);
                s.shrinkWeakness = std::min(s.shrinkWeakness, pr.priority);
            } else if (pr.relation == Predicate::AtMost) {
                s.pref = std::min(s.pref, pr.constant);
            } else {
                s.pref = std::max(s.pref, pr.constant);
            }
            continue;
        }
        if (pr.relation != Predicate::AtMost)
            s.min = pr.relation == Predicate::Equal ? pr.constant : std::max(s.min, pr.constant);
        if (pr.relation != Predicate::AtLeast)
            s.max = pr.relation == Predicate::Equal ? pr.constant : std::min(s.max, pr.constant);
        s.max = std::max(s.max, s.min);
    }
    // A hard size wins over the widget's own wishes.
    s.min = std::min(s.min, s.max);
    s.pref = std::clamp(s.pref, s.min, s.max);
    return s;
}

VisualFormatLayout::Span VisualFormatLayout::gapSpan(const Chain &chain, size_t index) const {
    Span s;
    if (chain.standardGap[index]) {
        const bool edge = index == 0 || index == chain.views.size();
        s.min = s.pref = s.max = edge ? kStandardEdgeSpacing : kStandardSpacing;
        return s;
    }
    s.max = kUnbounded;
    bool hasWish = false;
    for (const Predicate &p : chain.gaps[index]) {
        if (p.priority < kRequired) {
            // A wish: the spacing to have when nothing stronger pulls.
            s.pref = p.constant;
            s.growWeakness = std::min(s.growWeakness, p.priority);
            s.shrinkWeakness = std::min(s.shrinkWeakness, p.priority);
            hasWish = true;
        } else if (p.relation == Predicate::Equal) {
            s.min = s.max = s.pref = p.constant;
            hasWish = true;
        } else if (p.relation == Predicate::AtLeast) {
            s.min = std::max(s.min, p.constant);
        } else {
            s.max = std::min(s.max, p.constant);
        }
    }
    if (!hasWish) {
        // ">=" alone takes whatever is left over before anything else does.
        s.pref = s.min;
        s.growWeakness = 0;
        s.shrinkWeakness = 0;
    }
    s.pref = std::clamp(s.pref, s.min, s.max);
    return s;
}

// Gap, view, gap, view, ..., gap: 2n + 1 spans; the edge gaps are empty
// without their edge.
std::vector<VisualFormatLayout::Span> VisualFormatLayout::spans(const Chain &chain) const {
    std::vector<Span> out;
    const size_t n = chain.views.size();
    for (size_t i = 0; i <= n; ++i) {
        const bool unused = (i == 0 && !chain.leadingEdge) || (i == n && !chain.trailingEdge);
        out.push_back(unused ? Span{0, 0, 0, kRequired, kRequired} : gapSpan(chain, i));
        if (i < n)
            out.push_back(viewSpan(chain.views[i], chain.orientation, chain.sizes[i]));
    }
    return out;
}

namespace {

// Moves the spans' sizes by extra, weakest first, each within its bounds.
void distribute(std::vector<double> &size, const std::vector<VisualFormatLayout::Span> &spans, double extra) {
    while (std::abs(extra) > 0.01) {
        const bool grow = extra > 0;
        double weakest = std::numeric_limits<double>::max();
        for (size_t i = 0; i < spans.size(); ++i) {
            const bool room = grow ? size[i] < spans[i].max - 0.001 : size[i] > spans[i].min + 0.001;
            if (room)
                weakest = std::min(weakest, grow ? spans[i].growWeakness : spans[i].shrinkWeakness);
        }
        if (weakest == std::numeric_limits<double>::max())
            return;
        std::vector<size_t> movers;
        for (size_t i = 0; i < spans.size(); ++i) {
            const bool room = grow ? size[i] < spans[i].max - 0.001 : size[i] > spans[i].min + 0.001;
            if (room && (grow ? spans[i].growWeakness : spans[i].shrinkWeakness) == weakest)
                movers.push_back(i);
        }
        const double share = extra / double(movers.size());
        for (size_t i : movers) {
            const double target =
                grow ? std::min(size[i] + share, spans[i].max) : std::max(size[i] + share, spans[i].min);
            extra -= target - size[i];
            size[i] = target;
        }
    }
}

} // namespace

void VisualFormatLayout::placeChain(const Chain &chain, const QRect &rect, std::vector<QRect> &frames) const {
    const bool h = chain.orientation == Qt::Horizontal;
    const double length = h ? rect.width() : rect.height();
    const std::vector<Span> sp = spans(chain);
    std::vector<double> size;
    double total = 0;
    for (const Span &s : sp) {
        size.push_back(s.pref);
        total += s.pref;
    }
    double start = 0;
    if (chain.leadingEdge && chain.trailingEdge)
        distribute(size, sp, length - total);
    else if (chain.trailingEdge)
        start = length - total;
    double pos = start;
    for (size_t i = 0; i < sp.size(); ++i) {
        const double end = pos + size[i];
        if (i % 2 == 1) {
            const int view = indexOf(chain.views[i / 2]);
            QRect &f = frames[size_t(view)];
            const int a = int(std::lround(pos)), b = int(std::lround(end));
            if (h)
                f.setRect(rect.x() + a, f.y(), b - a, f.height());
            else
                f.setRect(f.x(), rect.y() + a, f.width(), b - a);
        }
        pos = end;
    }
}

void VisualFormatLayout::alignUnplaced(const QRect &rect, std::vector<QRect> &frames, const std::vector<bool> &placedH,
                                       const std::vector<bool> &placedV) const {
    for (const Chain &chain : m_chains) {
        if (!chain.options)
            continue;
        const bool alignV = chain.orientation == Qt::Horizontal; // an H chain aligns on the V axis
        const std::vector<bool> &placed = alignV ? placedV : placedH;
        QRect ref = rect;
        for (QWidget *v : chain.views)
            if (placed[size_t(indexOf(v))]) {
                ref = frames[size_t(indexOf(v))];
                break;
            }
        for (QWidget *v : chain.views) {
            const size_t i = size_t(indexOf(v));
            if (placed[i])
                continue;
            QRect &f = frames[i];
            if (alignV) {
                const int hgt = f.height();
                int y = ref.y();
                if (chain.options & LayoutFormatOption::AlignAllBottom)
                    y = ref.bottom() + 1 - hgt;
                else if (chain.options & LayoutFormatOption::AlignAllCenterY)
                    y = ref.y() + (ref.height() - hgt) / 2;
                f.moveTop(y);
            } else {
                const int w = f.width();
                int x = ref.x();
                if (chain.options & LayoutFormatOption::AlignAllRight)
                    x = ref.right() + 1 - w;
                else if (chain.options & LayoutFormatOption::AlignAllCenterX)
                    x = ref.x() + (ref.width() - w) / 2;
                f.moveLeft(x);
            }
        }
    }
}

void VisualFormatLayout::setGeometry(const QRect &r) {
    QLayout::setGeometry(r);
    const QRect rect = contentsRect();
    std::vector<QRect> frames;
    for (QLayoutItem *item : std::as_const(m_items)) {
        const QSize hint = item->widget() ? item->widget()->sizeHint().expandedTo(QSize(0, 0)) : item->sizeHint();
        frames.emplace_back(rect.topLeft(), hint);
    }
    std::vector<bool> placedH(frames.size(), false), placedV(frames.size(), false);
    for (const Chain &chain : m_chains) {
        placeChain(chain, rect, frames);
        for (QWidget *v : chain.views)
            (chain.orientation == Qt::Horizontal ? placedH : placedV)[size_t(indexOf(v))] = true;
    }
    alignUnplaced(rect, frames, placedH, placedV);
    for (int i = 0; i < m_items.size(); ++i)
        m_items[i]->setGeometry(frames[size_t(i)]);
}

QSize VisualFormatLayout::measure(bool minimum) const {
    int extent[2] = {0, 0};
    for (const Chain &chain : m_chains) {
        double total = 0;
        for (const Span &s : spans(chain))
            total += minimum ? s.min : s.pref;
        int &e = extent[chain.orientation == Qt::Horizontal ? 0 : 1];
        e = std::max(e, int(std::ceil(total)));
    }
    for (QLayoutItem *item : m_items) {
        const QSize s = minimum ? item->minimumSize() : item->sizeHint();
        extent[0] = std::max(extent[0], s.width());
        extent[1] = std::max(extent[1], s.height());
    }
    const QMargins m = contentsMargins();
    return QSize(extent[0] + m.left() + m.right(), extent[1] + m.top() + m.bottom());
}

QSize VisualFormatLayout::sizeHint() const {
    return measure(false);
}

QSize VisualFormatLayout::minimumSize() const {
    return measure(true);
}
