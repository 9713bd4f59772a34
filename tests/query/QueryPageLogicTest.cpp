// The query page's texts and decisions without widgets: times, the desktop
// notification, the status view, the result selector, the row count, header
// clicks and column widths.
#include "query/QueryPageLogic.h"
#include "engine/ZNTColumn.h"
#include "support/PostgresSupport.h"

#include <gtest/gtest.h>

using namespace QueryPageLogic;

TEST(QueryPageLogic, TimesReadInMillisecondsUnderASecondWithANoBreakSpace) {
    EXPECT_EQ(finalTimeText(0.4), QStringLiteral("400\u00a0ms"));
    EXPECT_EQ(finalTimeText(2.34), QStringLiteral("2.3\u00a0s"));
    EXPECT_EQ(finalTimeText(0.9996), QStringLiteral("1000\u00a0ms"));
    EXPECT_EQ(finalTimeText(0.0004), QStringLiteral("0\u00a0ms"));
    EXPECT_EQ(elapsedText(0), QString());
    EXPECT_EQ(elapsedText(0.06), QStringLiteral("0.1\u00a0s"));
    EXPECT_EQ(notificationTitle(finalTimeText(2.34)), QStringLiteral("Query Completed in 2.3\u00a0s"));
}

TEST(QueryPageLogic, TheNotificationShowsTheFirstThousandCharactersOnOneLine) {
    QString sql = QStringLiteral("select\n\t 1,\r\n  2");
    EXPECT_EQ(notificationBody(sql), QStringLiteral("select 1, 2"));
    const QString longText = QString(1500, u'x');
    EXPECT_EQ(notificationBody(longText), QString(1000, u'x'));
    // A character beyond the basic plane is not cut in half.
    const QString emoji = QString(999, u'a') + QString::fromUcs4(U"\U0001F600") + QStringLiteral("tail");
    EXPECT_EQ(notificationBody(emoji), QString(999, u'a'));
}

TEST(QueryPageLogic, TheStatusListsEveryMessageAndAnErrorNoResultTold) {
    EXPECT_EQ(statusText({{"UPDATE 2"}, {"SELECT 1"}}, QString()), QStringLiteral("UPDATE 2\nSELECT 1\n"));
    // The server's error is a result of its own: not told twice.
    EXPECT_EQ(statusText({{"SELECT 3"}, {"ERROR:  division by zero", true}}, QStringLiteral("Query failed")),
              QStringLiteral("SELECT 3\nERROR:  division by zero\n"));
    // No result tells it: a lost connection, a cancel before the start.
    EXPECT_EQ(statusText({}, QStringLiteral("The connection was lost.")), QStringLiteral("The connection was lost.\n"));
    EXPECT_EQ(statusText({{"SELECT 3"}}, QStringLiteral("The connection was lost.")),
              QStringLiteral("SELECT 3\nThe connection was lost.\n"));
}

TEST(QueryPageLogic, TheSelectorNumbersRowResultsAndTagsThemWithTheirIndex) {
    using Kind = SelectorItem::Kind;
    EXPECT_EQ(selectorItems({false, true, true}), (QList<SelectorItem>{{Kind::Item, "Query Status", -1, true},
                                                                       {Kind::Separator, "", -1, false},
                                                                       {Kind::Item, "Result 1", 1, true},
                                                                       {Kind::Item, "Result 2", 2, true}}));
    EXPECT_EQ(selectorItems({false}), (QList<SelectorItem>{{Kind::Item, "Query Status", -1, true},
                                                           {Kind::Separator, "", -1, false},
                                                           {Kind::Item, "No Query Results", -1, false}}));
}

TEST(QueryPageLogic, RowCountTexts) {
    EXPECT_EQ(rowCountText(false, 0, 0), QString());
    EXPECT_EQ(rowCountText(true, 0, 0), QStringLiteral("0 rows"));
    EXPECT_EQ(rowCountText(true, 1, 0), QStringLiteral("1 row"));
    EXPECT_EQ(rowCountText(true, 1200, 3), QStringLiteral("3 of 1200 selected"));
}

TEST(QueryPageLogic, ThreeClicksOnAHeaderSortUpDownAndOff) {
    Sort sort;
    sort = sortAfterClick(sort, 2);
    EXPECT_EQ(sort, (Sort{2, true}));
    sort = sortAfterClick(sort, 2);
    EXPECT_EQ(sort, (Sort{2, false}));
    sort = sortAfterClick(sort, 2);
    EXPECT_EQ(sort, (Sort{-1, false}));
    EXPECT_EQ(sortAfterClick({2, false}, 0), (Sort{0, true}));
}

TEST(QueryPageLogic, AStoredWidthIsFoundByAttributeNumberAndCheckedBeforeUse) {
    const QVariantMap attnums{{"id", 1}, {"name", 2}, {"note", 3}};
    const QVariantMap widths{{"id", 61.0}, {"name", 233.0}, {"note", "wide"}};
    EXPECT_EQ(storedWidth(attnums, widths, 2), 233.0);
    EXPECT_EQ(storedWidth(attnums, widths, 3), 0.0); // not a number
    EXPECT_EQ(storedWidth(attnums, widths, 4), 0.0);
    EXPECT_EQ(storedWidth(attnums, widths, 0), 0.0);
    EXPECT_EQ(storedWidth(QVariant("junk"), widths, 1), 0.0);
    EXPECT_EQ(storedWidth(attnums, QVariantMap{{"id", 1e9}}, 1), 0.0);

    ZNTColumn text(QStringLiteral("t"));
    text.setTypeOid(25);
    ZNTColumn count(QStringLiteral("n"));
    count.setTypeOid(20);
    EXPECT_EQ(columnWidth(text, 0, 0), 250.0);
    EXPECT_EQ(columnWidth(count, 0, 0), 60.0);
    EXPECT_EQ(columnWidth(text, 0, 120), 120.0);
    EXPECT_EQ(columnWidth(text, 90, 120), 90.0);
}

TEST(QueryPageLogic, AGridKeepsItsColumnsOnlyForTheSameUnmovedColumns) {
    EXPECT_TRUE(keepsColumns({"a", "b"}, {0, 1}, {"a", "b"}, {0, 1}));
    EXPECT_FALSE(keepsColumns({"a", "b"}, {1, 0}, {"a", "b"}, {0, 1})); // moved in the grid
    EXPECT_FALSE(keepsColumns({"a", "b"}, {0, 1}, {"a", "c"}, {0, 1}));
    EXPECT_FALSE(keepsColumns({"a"}, {0}, {"a", "b"}, {0, 1}));
}
