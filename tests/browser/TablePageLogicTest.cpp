// Paging arithmetic, status and pager texts, widths, column order and sorting
// of the table page, without widgets.
#include "browser/ZNTTablePageLogic.h"
#include "engine/ZNTColumn.h"

#include <gtest/gtest.h>
#include <limits>

using namespace ZNTTablePageLogic;

namespace {
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
}

TEST(TablePageLogic, StatusAndPagerFor250RowsAt100PerPage) {
    // Third page, counted: all of it numbered, next disabled.
    EXPECT_EQ(statusText(true, 250, 50, 100, 2), "Rows 201-250 of 250");
    auto pager = pagerState(2, 100, 250);
    EXPECT_EQ(pager.label, "Page 3 of 3");
    EXPECT_TRUE(pager.previousEnabled);
    EXPECT_FALSE(pager.nextEnabled);
    // Not counted ("DontCountRows"): no total, next stays enabled.
    EXPECT_EQ(statusText(true, -1, 50, 100, 2), "Rows 201-250");
    pager = pagerState(2, 100, -1);
    EXPECT_EQ(pager.label, "Page 3");
    EXPECT_TRUE(pager.nextEnabled);
    // First page.
    pager = pagerState(0, 100, 250);
    EXPECT_FALSE(pager.previousEnabled);
    EXPECT_TRUE(pager.nextEnabled);
    EXPECT_EQ(pager.label, "Page 1 of 3");
    EXPECT_EQ(statusText(true, 250, 100, 100, 0), "Rows 1-100 of 250");
}

TEST(TablePageLogic, SmallAndEmptyTables) {
    EXPECT_EQ(statusText(true, 0, 0, 100, 0), "0 rows");
    EXPECT_EQ(statusText(true, -1, 0, 100, 0), "No rows");
    EXPECT_EQ(statusText(true, 1, 1, 100, 0), "1 row");
    EXPECT_EQ(statusText(true, 42, 42, 100, 0), "42 rows");
    EXPECT_EQ(statusText(false, 42, 0, 100, 0), "");
    EXPECT_EQ(pagerState(0, 100, 0).label, "Page 1 of 1");
    EXPECT_FALSE(pagerState(0, 100, 0).nextEnabled);
    // A page past the end shows no rows.
    EXPECT_EQ(statusText(true, 250, 0, 100, 7), "No rows");
}

TEST(TablePageLogic, RowsPerPageSettingAndChange) {
    EXPECT_EQ(rowsPerPageFromSetting(0), 1000);
    EXPECT_EQ(rowsPerPageFromSetting(-5), 1000);
    EXPECT_EQ(rowsPerPageFromSetting(25), 25);
    // 100 -> 50 at page index 4 (rows 401-500): page index 8 (rows 401-450).
    EXPECT_EQ(pageIndexForRowsPerPage(100, 4, 50), 8);
    EXPECT_EQ(pageIndexForRowsPerPage(50, 8, 100), 4);
    EXPECT_EQ(pageIndexForRowsPerPage(100, 4, 1000), 0);
}

TEST(TablePageLogic, PageNumbersNeverOverflow) {
    // The largest page the user can type: index clamped so that every row of
    // it can be numbered and the OFFSET stays a bigint.
    const auto typed = pageIndexFromText("9223372036854775807");
    ASSERT_TRUE(typed);
    const qint64 index = clampPageIndex(*typed, 1000);
    EXPECT_EQ(index, kMax / 1000 - 1);
    EXPECT_LE(__int128(index) * 1000 + 1000, __int128(kMax));
    EXPECT_EQ(statusText(true, -1, 0, 1000, index), "No rows");
    EXPECT_EQ(pagerState(index, 1000, -1).label, QStringLiteral("Page %1").arg(index + 1));
    EXPECT_FALSE(pagerState(index, 1000, -1).nextEnabled);
    // Beyond 64 bits, negative, nothing.
    EXPECT_EQ(clampPageIndex(*pageIndexFromText("99999999999999999999999"), 1000), index);
    EXPECT_EQ(clampPageIndex(*pageIndexFromText("0"), 1000), 0);
    EXPECT_EQ(clampPageIndex(*pageIndexFromText("-3"), 1000), 0);
    EXPECT_EQ(pageIndexFromText("abc"), std::nullopt);
    EXPECT_EQ(pageIndexFromText(" 12 "), 11);
    EXPECT_EQ(clampPageIndex(kMax, 1), kMax - 1);
    EXPECT_EQ(pageIndexForRowsPerPage(kMax, kMax, 1), kMax - 1);
    EXPECT_EQ(pagerState(3, 1000, kMax).label, QStringLiteral("Page 4 of %1").arg(kMax / 1000 + 1));
}

TEST(TablePageLogic, DefaultWidthsByTypeInOrder) {
    ZNTColumn numeric("n");
    numeric.setTypeCategory('N');
    numeric.setTypeOid(25); // numeric first, whatever else
    ZNTColumn boolean("b");
    boolean.setTypeCategory('B');
    ZNTColumn date("d");
    date.setTypeCategory('D');
    ZNTColumn text("t");
    text.setTypeCategory('S');
    text.setTypeOid(25);
    ZNTColumn other("o");
    other.setTypeCategory('S');
    other.setTypeOid(1043);
    EXPECT_EQ(defaultWidth(numeric), 60);
    EXPECT_EQ(defaultWidth(boolean), 45);
    EXPECT_EQ(defaultWidth(date), 110);
    EXPECT_EQ(defaultWidth(text), 250);
    EXPECT_EQ(defaultWidth(other), 150);
    EXPECT_EQ(columnWidth(other, 77), 77);
    EXPECT_EQ(columnWidth(other, 0), 150);
}

TEST(TablePageLogic, StoredOrderKeepsKnownColumnsFirstThenNewOnesInTableOrder) {
    const QStringList display = {"id", "name", "email", "added"};
    EXPECT_EQ(orderedColumnNames(display, QVariantList{"email", "dropped", "id", "email"}),
              QStringList({"email", "id", "name", "added"}));
    EXPECT_EQ(orderedColumnNames(display, QVariant()), display);
    // What a settings file may hold instead of a list of names.
    EXPECT_EQ(orderedColumnNames(display, QVariantMap{{"id", 1}}), display);
    EXPECT_EQ(orderedColumnNames(display, QVariantList{1, QVariantList{"id"}, "name"}),
              QStringList({"name", "id", "email", "added"}));
}

TEST(TablePageLogic, AHeaderClickedThreeTimesSortsUpDownThenNotAtAll) {
    Sort sort;
    sort = sortAfterHeaderClick(sort, "name");
    EXPECT_EQ(sort, (Sort{"name", true}));
    sort = sortAfterHeaderClick(sort, "name");
    EXPECT_EQ(sort, (Sort{"name", false}));
    EXPECT_EQ(sortAfterHeaderClick(sort, "id"), (Sort{"id", true})); // another column: ascending
    sort = sortAfterHeaderClick(sort, "name");
    EXPECT_EQ(sort, (Sort{"", true}));
}

TEST(TablePageLogic, TextsOfPendingChangesAndUndoSteps) {
    EXPECT_EQ(pendingChangesText(2, 1, 0), "2 new rows, 1 edited row");
    EXPECT_EQ(pendingChangesText(0, 0, 3), "3 deleted rows");
    EXPECT_EQ(pendingChangesText(1, 2, 1), "1 new row, 2 edited rows, 1 deleted row");
    EXPECT_EQ(deleteActionName(1), "Delete Row");
    EXPECT_EQ(deleteActionName(4), "Delete 4 rows");
    EXPECT_EQ(editActionName(1), "Edit Row");
    EXPECT_EQ(editActionName(2), "Edit 2 rows");
}

TEST(TablePageLogic, ErrorsInTheServersWords) {
    auto error = Error::make(kBundleIdentifier, 1,
                             {{Error::DescriptionKey, "Query failed"},
                              {"PG_DIAG_MESSAGE_PRIMARY", "invalid input syntax for type integer: \"abc\""},
                              {"PG_DIAG_MESSAGE_DETAIL", ""},
                              {"PG_DIAG_MESSAGE_HINT", "Type a number."}});
    EXPECT_EQ(informativeTextForError(error),
              "The server said: invalid input syntax for type integer: \"abc\"\nHint: Type a number.");
    EXPECT_EQ(informativeTextForError(
                  Error::make(kBundleIdentifier, 1, {{Error::DescriptionKey, "The connection was lost."}})),
              "The connection was lost.");
}
