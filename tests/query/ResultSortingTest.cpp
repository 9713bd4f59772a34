// Sorting fetched rows on the client: numbers by value (numeric text too),
// text case-insensitively with digit runs by value, NULL and binary values
// last, equal values in arrival order, and the same order however many
// threads share the work.
#include "query/ResultSorting.h"
#include "support/PostgresSupport.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace ResultSorting;

namespace {
// One column of values; nullopt is NULL.
std::shared_ptr<RowStore> textColumn(const QList<std::optional<QString>> &values) {
    auto store = std::make_shared<RowStore>(1);
    for (const auto &value : values) {
        if (!value) {
            store->addNull();
        } else {
            const QByteArray bytes = value->toUtf8();
            store->addText(bytes.constData(), bytes.size());
        }
        store->endRow();
    }
    return store;
}

QStringList sortedTexts(const QList<std::optional<QString>> &values, qint64 typeOid, bool ascending) {
    const auto store = textColumn(values);
    QStringList texts;
    for (qsizetype row : sortedRowOrder(*store, store->rowCount(), 0, typeOid, ascending))
        texts << (values[row] ? *values[row] : QStringLiteral("NULL"));
    return texts;
}

int numeric(const char *a, const char *b) {
    return compareNumericText(QByteArrayView(a), QByteArrayView(b));
}
} // namespace

TEST(ResultSorting, NumericTextSortsByValueNotByDigits) {
    EXPECT_EQ(sortedTexts({"1.5", "-5", "1.25", "-10", "10", "0.999"}, kNumericTypeOid, true),
              QStringList({"-10", "-5", "0.999", "1.25", "1.5", "10"}));
    // Exact beyond a double: these differ in the twentieth digit.
    EXPECT_LT(numeric("12345678901234567890.1", "12345678901234567890.2"), 0);
    EXPECT_EQ(numeric("1.50", "1.5"), 0);
    EXPECT_EQ(numeric("-0.0", "0"), 0);
    EXPECT_EQ(numeric("007", "7"), 0);
    // As the server orders them: -Infinity first, NaN after Infinity.
    EXPECT_EQ(sortedTexts({"NaN", "Infinity", "2", "-Infinity"}, kNumericTypeOid, true),
              QStringList({"-Infinity", "2", "Infinity", "NaN"}));
    // Text as a text column: digit runs by value, not the decimal point.
    EXPECT_EQ(sortedTexts({"1.5", "1.25"}, 25, true), QStringList({"1.5", "1.25"}));
}

TEST(ResultSorting, TextIgnoresCaseComparesDigitRunsAndPutsNullLast) {
    EXPECT_EQ(sortedTexts({"a10", std::nullopt, "A9"}, 25, true), QStringList({"A9", "a10", "NULL"}));
    EXPECT_EQ(sortedTexts({"a10", std::nullopt, "A9"}, 25, false), QStringList({"NULL", "a10", "A9"}));
    EXPECT_LT(compareTextNaturally("file2", "file10"), 0);
    EXPECT_LT(compareTextNaturally("abc", "abcd"), 0);
    EXPECT_EQ(compareTextNaturally("ÄRGER", "ärger"), 0);
    EXPECT_LT(compareTextNaturally("Zebra", "ärger"), 0); // by code point after folding
    // Malformed bytes still have an order and never read past the end.
    EXPECT_NE(compareTextNaturally(QByteArrayView("\xe2\x82", 2), QByteArrayView("\xe2", 1)), 0);
}

TEST(ResultSorting, NumbersBooleansAndBinaryValues) {
    auto store = std::make_shared<RowStore>(1);
    store->appendRow({Value::fromDouble(2.5)});
    store->appendRow({Value::fromInt(-3)});
    store->appendRow({Value::fromBytes("\x01")});
    store->appendRow({Value::fromDouble(std::nan(""))});
    store->appendRow({Value::fromInt(2)});
    store->appendRow({Value()});
    store->appendRow({Value::fromInt(std::numeric_limits<int64_t>::max())});
    const auto order = sortedRowOrder(*store, store->rowCount(), 0, 701, true);
    // -3, 2, 2.5, max, NaN, then binary and NULL in arrival order.
    EXPECT_EQ(order, (std::vector<qsizetype>{1, 4, 0, 6, 3, 2, 5}));

    auto flags = std::make_shared<RowStore>(1);
    for (bool b : {true, false, true})
        flags->appendRow({Value::fromBool(b)});
    EXPECT_EQ(sortedRowOrder(*flags, 3, 0, 16, true), (std::vector<qsizetype>{1, 0, 2}));
}

TEST(ResultSorting, EqualValuesKeepTheirOrderAndThreadsDoNotChangeTheResult) {
    auto store = std::make_shared<RowStore>(2);
    QRandomGenerator random(42);
    const qsizetype rows = 50000;
    for (qsizetype i = 0; i < rows; ++i) {
        const QByteArray key = QByteArray::number(random.bounded(100)); // many equal keys
        store->addText(key.constData(), key.size());
        store->addInt(i);
        store->endRow();
    }
    for (bool ascending : {true, false}) {
        const auto one = sortedRowOrder(*store, rows, 0, 25, ascending, 1);
        EXPECT_EQ(sortedRowOrder(*store, rows, 0, 25, ascending, 4), one);
        EXPECT_EQ(sortedRowOrder(*store, rows, 0, 25, ascending, 3), one);
        for (size_t i = 1; i < one.size(); ++i) {
            const int c = compareCells(store->cellAt(one[i - 1], 0), store->cellAt(one[i], 0), 25);
            ASSERT_TRUE(ascending ? c <= 0 : c >= 0);
            if (c == 0) {
                ASSERT_LT(one[i - 1], one[i]) << "equal values out of arrival order";
            }
        }
    }
    // Only the rows asked for.
    EXPECT_EQ(sortedRowOrder(*store, 3, 1, 20, false), (std::vector<qsizetype>{2, 1, 0}));
}
