// The terminal page's decisions without widgets: its texts, the grid metrics
// and floating parts, the automatic scrolling and the remembered widths.
#include "query/TerminalPageLogic.h"
#include "engine/ZNTResult.h"
#include "support/PostgresSupport.h"

#include <gtest/gtest.h>

using namespace TerminalPageLogic;

namespace {
const QString nbsp = QString(QChar(0x00A0));
}

TEST(TerminalPageLogic, TextsOfCountsTimesAndSummaries) {
    EXPECT_EQ(rowCountText(0), "0 rows");
    EXPECT_EQ(rowCountText(1), "1 row");
    EXPECT_EQ(rowCountText(2), "2 rows");
    EXPECT_EQ(runningStatusText(0, true), "Waiting…");
    EXPECT_EQ(runningStatusText(2.34, true), "Elapsed Time: 2.3" + nbsp + "s");
    EXPECT_EQ(finishedStatusText(0.4), "Elapsed Time: 400" + nbsp + "ms");
    EXPECT_EQ(finishedStatusText(2.5), "Elapsed Time: 2.5" + nbsp + "s");
    EXPECT_EQ(finishedStatusText(1.0), "Elapsed Time: 1.0" + nbsp + "s"); // a second is written in seconds
    EXPECT_EQ(queryStateText(3, 12, 0.26), "3 result(s) with 12 total row(s) retrieved in 0.3 seconds.");
    EXPECT_EQ(rowTitle(2), "Row 3");
}

TEST(TerminalPageLogic, GridHeightsShowEveryRowUnderTheLimit) {
    using TerminalGrid::heightForRowCount;
    EXPECT_EQ(heightForRowCount(0, 0), 97); // an empty grid keeps the room of one row
    EXPECT_EQ(heightForRowCount(1, 0), 97);
    EXPECT_EQ(heightForRowCount(10, 0), 385);
    EXPECT_EQ(heightForRowCount(10, 15), 400); // a scroll bar that takes room
    EXPECT_EQ(heightForRowCount(1'000'000, 15), TerminalGrid::kMaxHeight);
    EXPECT_EQ(heightForRowCount(std::numeric_limits<qsizetype>::max() / 64, 0), TerminalGrid::kMaxHeight);
}

TEST(TerminalPageLogic, TheHeaderAndBottomFloatWithinTheGrid) {
    using TerminalGrid::floatingParts;
    const int height = 1000, minimal = 97, bottom = 26;
    // All in sight: the parts where the layout has them.
    auto parts = floatingParts(height, minimal, bottom, -50, 1200);
    EXPECT_EQ(parts.headerTop, TerminalGrid::kHeaderTop);
    EXPECT_EQ(parts.bottomTop, height - bottom);
    // The top scrolled away: the header at the top of the visible area, the
    // bottom at its bottom.
    parts = floatingParts(height, minimal, bottom, 300, 700);
    EXPECT_EQ(parts.headerTop, 299);
    EXPECT_EQ(parts.bottomTop, 700 - bottom);
    // Near the end the header stops where the smallest grid would end.
    parts = floatingParts(height, minimal, bottom, 990, 1400);
    EXPECT_EQ(parts.headerTop, TerminalGrid::kHeaderTop + height - minimal);
    parts = floatingParts(height, minimal, bottom, -900, 40);
    EXPECT_EQ(parts.bottomTop, minimal - bottom);
}

TEST(TerminalPageLogic, AutomaticScrollingFollowsTheEditableQueryUntilTheUserScrolls) {
    // The editable query's bottom beyond the visible area: scrolled to show it.
    AutoscrollStep step = autoscrollStep(0, 400, 0, 500, 122, true);
    ASSERT_TRUE(step.scrollTo);
    EXPECT_EQ(*step.scrollTo, 500 + 100 - 400); // a tall row shows a quarter of the visible height
    EXPECT_FALSE(step.stop);
    step = autoscrollStep(0, 800, 0, 500, 122, true);
    EXPECT_EQ(*step.scrollTo, 500 + 122 - 800 < 0 ? 0 : 500 + 122 - 800);
    // In sight: nothing to do; the runs over: the timer stops.
    step = autoscrollStep(0, 800, 0, 100, 122, false);
    EXPECT_FALSE(step.scrollTo);
    EXPECT_TRUE(step.stop);
    // The user scrolled away from where the scrolling left the view.
    step = autoscrollStep(37, 400, 0, 500, 122, true);
    EXPECT_TRUE(step.stop);
    EXPECT_FALSE(step.scrollTo);
}

TEST(TerminalPageLogic, PlaceholderAndFading) {
    EXPECT_EQ(placeholderHeight(600, 122), 478);
    EXPECT_EQ(placeholderHeight(100, 122), 10);
    EXPECT_TRUE(fadesOnClear(true, 600, 300));
    EXPECT_FALSE(fadesOnClear(true, 600, 600));
    EXPECT_FALSE(fadesOnClear(false, 600, 100));
}

TEST(TerminalPageLogic, WidthsAreRememberedPerResultAndByNameAndGoWithTheirResult) {
    TerminalColumnWidths widths;
    auto first = ZNTResult::create();
    auto second = ZNTResult::create();
    widths.setWidth(first, "id", 80);
    widths.setWidthForName("id", 90);
    EXPECT_EQ(widths.widthForResult(first, "id"), 80);
    EXPECT_EQ(widths.widthForResult(second, "id"), 0);
    EXPECT_EQ(widths.widthForName("id"), 90);
    EXPECT_EQ(widths.widthForName("name"), 0);
    std::weak_ptr<ZNTResult> gone = first;
    first.reset();
    widths.setWidth(second, "id", 70); // prunes what is gone
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(widths.widthForResult(second, "id"), 70);
}
