// Where a window goes on its screen and how large it is, frame included.
#include "uikit/WindowPlacement.h"

#include <gtest/gtest.h>

using WindowPlacement::fit;
using WindowPlacement::Placement;

namespace {
const QRect kFree(0, 30, 800, 470); // 800x500 points less a panel at the top
const QMargins kFrame(2, 12, 2, 2);
} // namespace

TEST(WindowPlacement, ALargerDefaultShrinksToTheFreeAreaWithItsFrameAndIsCentred) {
    // 460x560 points wanted: the frame's 14 points of height count too.
    EXPECT_EQ(fit({460, 560}, {360, 300}, kFrame, kFree, std::nullopt), (Placement{{168, 30}, {460, 456}}));
    EXPECT_EQ(fit({1100, 700}, {640, 400}, kFrame, kFree, std::nullopt), (Placement{{0, 30}, {796, 456}}));
    // One that fits keeps its size, in the middle of the free area.
    EXPECT_EQ(fit({400, 200}, {100, 100}, kFrame, kFree, std::nullopt), (Placement{{198, 158}, {400, 200}}));
}

TEST(WindowPlacement, APlacedWindowMovesOnlyAsFarAsItMustToBeInside) {
    EXPECT_EQ(fit({400, 200}, {}, kFrame, kFree, QPoint(10, 40)), (Placement{{10, 40}, {400, 200}}));
    // Below and right of the free area, and above it (under the panel).
    EXPECT_EQ(fit({400, 200}, {}, kFrame, kFree, QPoint(600, 450)), (Placement{{396, 286}, {400, 200}}));
    EXPECT_EQ(fit({400, 200}, {}, kFrame, kFree, QPoint(-50, 0)), (Placement{{0, 30}, {400, 200}}));
}

TEST(WindowPlacement, AWindowThatCannotFitKeepsItsLeastSizeAndItsTitleBarInView) {
    EXPECT_EQ(fit({1100, 700}, {900, 600}, kFrame, kFree, QPoint(300, 200)), (Placement{{0, 30}, {900, 600}}));
    // A free area of nothing still gives a window of at least one point.
    EXPECT_EQ(fit({300, 300}, {}, kFrame, QRect(0, 0, 2, 2), std::nullopt).size, QSize(1, 1));
}
