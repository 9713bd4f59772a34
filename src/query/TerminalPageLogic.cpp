#include "TerminalPageLogic.h"

#include "QueryPageLogic.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTQueryHistoryElement.h"

#include <algorithm>

namespace {
constexpr QChar kNoBreakSpace(0x00A0);
} // namespace

namespace TerminalPageLogic {

QString rowCountText(qsizetype rows) {
    return rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows);
}

QString queryStateText(qsizetype results, qint64 rows, double seconds) {
    return QStringLiteral("%1 result(s) with %2 total row(s) retrieved in %3 seconds.")
        .arg(results)
        .arg(rows)
        .arg(QString::asprintf("%.1f", seconds));
}

QString runningStatusText(double elapsedSeconds, bool busy) {
    if (elapsedSeconds == 0 && busy)
        return QStringLiteral("Waiting…");
    return QStringLiteral("Elapsed Time: ") + QString::asprintf("%.1f", elapsedSeconds) + kNoBreakSpace + u's';
}

QString finishedStatusText(double elapsedSeconds) {
    return QStringLiteral("Elapsed Time: ") + QueryPageLogic::finalTimeText(elapsedSeconds);
}

QString rowTitle(qsizetype displayedRow) {
    return QStringLiteral("Row %1").arg(displayedRow + 1);
}

int placeholderHeight(int visibleHeight, int editableRowHeight) {
    return std::max(10, visibleHeight - editableRowHeight);
}

bool fadesOnClear(bool followedByQuery, int visibleHeight, int blockHeight) {
    return followedByQuery && visibleHeight > blockHeight;
}

AutoscrollStep autoscrollStep(int visibleTop, int visibleHeight, int lastScrollPosition, int rowTop, int rowHeight,
                              bool running) {
    AutoscrollStep step;
    if (visibleTop != lastScrollPosition) {
        step.stop = true; // the user has scrolled: leave the view where it is
        return step;
    }
    if (rowTop + rowHeight > visibleTop + visibleHeight) {
        // A tall editable query shows its first quarter of a screen, not its end.
        const int shown = std::min(rowHeight, visibleHeight / 4);
        step.scrollTo = std::max(0, rowTop + shown - visibleHeight);
    }
    step.stop = !running;
    return step;
}

} // namespace TerminalPageLogic

namespace TerminalGrid {

int heightForRowCount(qsizetype rows, int scrollBarExtent) {
    const qint64 r = std::max<qint64>(rows, 1);
    const qint64 height = kRowHeight * r + kTableFrame + kHeaderTop + kHeaderHeight + kBottom + scrollBarExtent;
    return int(std::min<qint64>(height, kMaxHeight));
}

FloatingParts floatingParts(int gridHeight, int minimalHeight, int bottomHeight, int visibleTop, int visibleBottom) {
    FloatingParts parts;
    const int slack = std::max(0, gridHeight - minimalHeight);
    parts.headerTop = std::clamp(visibleTop - 1, kHeaderTop, kHeaderTop + slack);
    const int belowSight = std::clamp(gridHeight - visibleBottom, 0, slack);
    parts.bottomTop = gridHeight - belowSight - bottomHeight;
    return parts;
}

} // namespace TerminalGrid

double TerminalColumnWidths::widthForResult(const std::shared_ptr<ZNTResult> &result, const QString &name) const {
    for (const auto &[owner, widths] : m_byResult) {
        if (owner.lock() == result)
            return widths.value(name);
    }
    return 0;
}

void TerminalColumnWidths::setWidth(const std::shared_ptr<ZNTResult> &result, const QString &name, double width) {
    std::erase_if(m_byResult, [](const auto &entry) { return entry.first.expired(); });
    for (auto &[owner, widths] : m_byResult) {
        if (owner.lock() == result) {
            widths.insert(name, width);
            return;
        }
    }
    m_byResult.push_back({result, {{name, width}}});
}

bool TerminalHistory::previous(const QString &typedText, const Replace &replace) {
    const auto candidate = m_current ? m_current->previousHistoryElement()
                                     : (m_favorite ? m_favorite->lastQueryHistoryElement() : nullptr);
    if (!candidate || !replace(candidate->text()))
        return false;
    if (!m_current)
        m_buffer = typedText;
    m_current = candidate;
    return true;
}

bool TerminalHistory::next(const Replace &replace) {
    if (const auto candidate = m_current ? m_current->nextHistoryElement() : nullptr) {
        if (!replace(candidate->text()))
            return false;
        m_current = candidate;
        return true;
    }
    if (!m_buffer || !replace(*m_buffer))
        return false;
    textDidChange();
    return true;
}

void TerminalHistory::textDidChange() {
    m_current.reset();
    m_buffer.reset();
}

bool TerminalHistory::canGoBack() const {
    if (m_current)
        return m_current->previousHistoryElement() != nullptr;
    return m_favorite && m_favorite->lastQueryHistoryElement() != nullptr;
}
