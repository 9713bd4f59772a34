#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class ZNTFavorite;
class ZNTQueryHistoryElement;
class ZNTResult;

// The decisions of the terminal page that need no widget: its texts, the
// metrics of its rows and grids, the automatic scrolling, the history steps
// and the remembered column widths.
namespace TerminalPageLogic {

// "1 row", else "%1 rows".
QString rowCountText(qsizetype rows);
// The summary of a finished run.
QString queryStateText(qsizetype results, qint64 rows, double seconds);
// While a query runs: "Waiting…" until it has started, then "Elapsed Time: 2.3 s".
QString runningStatusText(double elapsedSeconds, bool busy);
// When it has ended: "Elapsed Time: 400 ms" under a second, else "Elapsed Time: 2.3 s".
QString finishedStatusText(double elapsedSeconds);
// The title of a grid row opened on its own page: its displayed position, from 1.
QString rowTitle(qsizetype displayedRow);
// The table INSERT statements copied from a result name: a result has none.
inline const QString kInsertTableName = QStringLiteral("some_table");

// The placeholder under the editable query fills the rest of the visible
// height, at least 10 pixels.
int placeholderHeight(int visibleHeight, int editableRowHeight);

// Clearing a query fades its rows out when another query follows and its
// block (its rows down to the next query's) fits in the visible height.
bool fadesOnClear(bool followedByQuery, int visibleHeight, int blockHeight);

// One step of the automatic scrolling that keeps the editable query in sight
// while results arrive.
struct AutoscrollStep {
    bool stop = false;           // the user scrolled (or nothing runs any more): no more steps
    std::optional<int> scrollTo; // the new top of the visible area
};
// visibleTop/visibleHeight: the transcript's visible area; lastScrollPosition:
// the top the scrolling set last; rowTop/rowHeight: the editable query's row.
AutoscrollStep autoscrollStep(int visibleTop, int visibleHeight, int lastScrollPosition, int rowTop, int rowHeight,
                              bool running);

} // namespace TerminalPageLogic

// The metrics of a result grid in the transcript: every row shown, 32 pixels
// each, under a header and above the row count. main thread
namespace TerminalGrid {
constexpr int kRowHeight = 32;
constexpr int kHeaderTop = 10;
constexpr int kHeaderHeight = 25;
constexpr int kTableFrame = 4; // 2 above the rows, 2 below
constexpr int kBottom = 26;    // the row count
constexpr int kSide = 14;
// The tallest a widget may be (Qt's QWIDGETSIZE_MAX): a grid with more rows
// than fit scrolls inside.
constexpr int kMaxHeight = 16777215;

// The grid's height for rows (one row's height for none): 32 r + 65, plus
// scrollBarExtent for a horizontal scroll bar that takes room (0 when the
// style's scroll bars are transient), at most kMaxHeight.
int heightForRowCount(qsizetype rows, int scrollBarExtent);

// Where the parts that float are while the grid is scrolled partly out of
// sight: the header stays at the top of the visible area, the bottom strip
// (scroll bar and row count) at its bottom, neither beyond the grid's
// smallest layout. In the grid's coordinates; visibleTop/visibleBottom are
// the transcript's visible area there.
struct FloatingParts {
    int headerTop = kHeaderTop;
    int bottomTop = 0;
};
FloatingParts floatingParts(int gridHeight, int minimalHeight, int bottomHeight, int visibleTop, int visibleBottom);
} // namespace TerminalGrid

// Widths the user gave result columns: per result and column name, and per
// column name for the results that come after. Results are held weakly: a
// cleared result's widths go. main thread
class TerminalColumnWidths {
public:
    // 0 when none was recorded.
    double widthForResult(const std::shared_ptr<ZNTResult> &result, const QString &name) const;
    double widthForName(const QString &name) const { return m_byName.value(name); }
    void setWidth(const std::shared_ptr<ZNTResult> &result, const QString &name, double width);
    void setWidthForName(const QString &name, double width) { m_byName.insert(name, width); }

private:
    std::vector<std::pair<std::weak_ptr<ZNTResult>, QHash<QString, double>>> m_byResult;
    QHash<QString, double> m_byName;
};

// Stepping through the favorite's query history from the editable query: back
// goes to the newest entry first, then to older ones; forward to newer ones
// and, past the newest, back to the text typed before the first step. Each
// step replaces the text through a function that may refuse; a step that
// cannot be taken or is refused answers false (the page beeps). main thread
class TerminalHistory {
public:
    using Replace = std::function<bool(const QString &)>;

    void setFavorite(std::shared_ptr<ZNTFavorite> favorite) { m_favorite = std::move(favorite); }
    bool previous(const QString &typedText, const Replace &replace);
    bool next(const Replace &replace);
    // The user changed the text: the entry shown and the remembered text are forgotten.
    void textDidChange();

    bool canGoBack() const;
    bool canGoForward() const { return m_current != nullptr; }
    const std::shared_ptr<ZNTQueryHistoryElement> &currentElement() const { return m_current; }
    const std::optional<QString> &typedTextBuffer() const { return m_buffer; }

private:
    std::shared_ptr<ZNTFavorite> m_favorite;
    std::shared_ptr<ZNTQueryHistoryElement> m_current;
    std::optional<QString> m_buffer;
};
