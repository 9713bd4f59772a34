#include "engine/RowStore.h"
#include "platform/Log.h"

#include <QStringList>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace {
std::vector<Value> readRow(const RowStore &store, qsizetype row) {
    return store.rowAt(row);
}

QString textOfLength(qsizetype n, char c = 'a') {
    return QString(n, QLatin1Char(c));
}
} // namespace

TEST(RowStore, EveryKindReadsBackAsWritten) {
    const std::vector<Value> row = {
        Value::null(),
        Value::fromBool(true),
        Value::fromBool(false),
        Value::fromInt(0),
        Value::fromInt(127),
        Value::fromInt(128),
        Value::fromInt(-128),
        Value::fromInt(-129),
        Value::fromInt(32767),
        Value::fromInt(-32769),
        Value::fromInt(std::numeric_limits<int32_t>::max()),
        Value::fromInt(int64_t(std::numeric_limits<int32_t>::min()) - 1),
        Value::fromInt(std::numeric_limits<int64_t>::max()),
        Value::fromInt(std::numeric_limits<int64_t>::min()),
        Value::fromFloat(1.1f),
        Value::fromDouble(-0.5e300),
        Value::fromBytes(QByteArray("a\0b\0", 4)),
        Value::fromBytes(QByteArray()),
        Value::fromString(QString()),
        Value::fromString(QStringLiteral("Grüße, 東京 🐘")),
        Value::defaultMarker(),
        Value::multipleMarker(),
    };
    RowStore store(int(row.size()));
    store.appendRow(row);
    store.appendRow(row);
    ASSERT_EQ(store.rowCount(), 2);
    for (qsizetype r = 0; r < 2; ++r)
        EXPECT_EQ(readRow(store, r), row);
    // Empty text is text, not NULL; an empty bytea stays bytes.
    EXPECT_EQ(store.valueAt(0, 18).kind(), Value::Kind::String);
    EXPECT_EQ(store.valueAt(0, 17).kind(), Value::Kind::Bytes);
}

TEST(RowStore, SpecialFloatsKeepTheirKindAndValue) {
    RowStore store(3);
    store.addFloat(std::numeric_limits<float>::quiet_NaN());
    store.addDouble(-std::numeric_limits<double>::infinity());
    store.addFloat(std::numeric_limits<float>::denorm_min());
    store.endRow();
    EXPECT_TRUE(std::isnan(store.valueAt(0, 0).toFloat()));
    EXPECT_EQ(store.valueAt(0, 0).kind(), Value::Kind::Float);
    EXPECT_EQ(store.valueAt(0, 1), Value::fromDouble(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(store.valueAt(0, 2), Value::fromFloat(std::numeric_limits<float>::denorm_min()));
    EXPECT_EQ(store.displayText(0, 0), QStringLiteral("NaN"));
    EXPECT_EQ(store.displayText(0, 1), QStringLiteral("-Infinity"));
}

// The offset width of a row is not stored but follows from its size; rows whose
// payload sits right at the width limits are where a wrong inference would show.
TEST(RowStore, PayloadsAtOffsetWidthLimitsReadBackForManyColumnCounts) {
    for (int columns : {1, 2, 3, 7, 300}) {
        RowStore store(columns);
        std::vector<std::vector<Value>> written;
        for (qsizetype payload : {0, 1, 254, 255, 256, 257, 65534, 65535, 65536, 65537, 300000}) {
            std::vector<Value> row;
            qsizetype left = payload;
            for (int c = 0; c < columns; ++c) {
                const qsizetype share = c + 1 == columns ? left : left / (columns - c);
                row.push_back(Value::fromString(textOfLength(share, char('a' + c % 26))));
                left -= share;
            }
            store.appendRow(row);
            written.push_back(row);
        }
        for (qsizetype r = 0; r < store.rowCount(); ++r)
            ASSERT_EQ(readRow(store, r), written[size_t(r)]) << columns << " columns, row " << r;
    }
}

TEST(RowStore, RowsWithoutColumnsAndRowsLargerThanAChunk) {
    RowStore none(0);
    for (int i = 0; i < 100; ++i)
        none.endRow();
    EXPECT_EQ(none.rowCount(), 100);
    EXPECT_TRUE(none.rowAt(99).empty());

    RowStore store(2);
    const QString big = textOfLength(3 << 20, 'x');
    store.appendRow({Value::fromInt(1), Value::fromString(QStringLiteral("small"))});
    store.appendRow({Value::fromInt(2), Value::fromString(big)});
    store.appendRow({Value::fromInt(3), Value::fromString(QStringLiteral("after"))});
    EXPECT_EQ(store.valueAt(1, 1).toString(), big);
    EXPECT_EQ(store.valueAt(2, 1).toString(), QStringLiteral("after"));
    EXPECT_EQ(store.valueAt(0, 1).toString(), QStringLiteral("small"));
}

TEST(RowStore, ManyChunksAcrossDirectorySegmentsStayReadable) {
    // 4 KB rows fill well over the first directory segments' 16 + 32 chunks.
    RowStore store(2);
    const QByteArray filler(4000, 'f');
    const int rows = 20000;
    for (int r = 0; r < rows; ++r) {
        store.addInt(r);
        store.addBytes(filler.constData(), filler.size());
        store.endRow();
    }
    for (int r = 0; r < rows; r += 37)
        ASSERT_EQ(store.valueAt(r, 0).toInt(), r);
    EXPECT_EQ(store.valueAt(rows - 1, 0).toInt(), rows - 1);
    EXPECT_EQ(store.cellAt(rows - 1, 1).size, filler.size());
}

TEST(RowStore, MalformedUtf8KeepsItsBytesAndShowsReplacementCharacters) {
    LogCapture log;
    const QByteArray latin1("caf\xe9 \xff", 6);
    RowStore store(1);
    store.addText(latin1.constData(), latin1.size());
    store.endRow();
    const RowStore::Cell cell = store.cellAt(0, 0);
    EXPECT_EQ(QByteArray(cell.data, cell.size), latin1);
    const QString shown = store.displayText(0, 0);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("caf")));
    EXPECT_TRUE(shown.contains(QChar::ReplacementCharacter));
    EXPECT_EQ(store.valueAt(0, 0).toString(), shown);
    (void)store.valueAt(0, 0);
    // Once per process; no other test in this file decodes malformed text.
    EXPECT_EQ(log.lines().count(QStringLiteral("Received malformed UTF-8 from PostgreSQL server.")), 1);

    // A replacement character the server really sent is not malformed.
    LogCapture quiet;
    EXPECT_EQ(RowStore::decodeText("\xef\xbf\xbd", 3), QString(QChar::ReplacementCharacter));
}

TEST(RowStore, DisplayTextOfHugeValuesIsCut) {
    RowStore store(3);
    const QByteArray text = QStringLiteral("é").repeated(100000).toUtf8();
    const QByteArray bytes(100000, '\x01');
    store.addText(text.constData(), text.size());
    store.addBytes(bytes.constData(), bytes.size());
    store.addText("short", 5);
    store.endRow();
    EXPECT_EQ(store.displayText(0, 0, 5000), QStringLiteral("é").repeated(5000));
    EXPECT_EQ(store.displayText(0, 1, 10), QStringLiteral("\\x01010101"));
    EXPECT_EQ(store.displayText(0, 2, 5000), QStringLiteral("short"));
    EXPECT_EQ(store.displayText(0, 0).size(), 100000);

    // The cap holds for every kind of cell, numbers and markers too.
    RowStore others(4);
    others.addInt(std::numeric_limits<int64_t>::min());
    others.addDouble(-1.7976931348623157e+308);
    others.addBool(true);
    others.addMultiple();
    others.endRow();
    EXPECT_EQ(others.displayText(0, 0, 4), QStringLiteral("-922"));
    EXPECT_EQ(others.displayText(0, 1, 0), QString());
    EXPECT_EQ(others.displayText(0, 2, 5), QStringLiteral("t"));
    EXPECT_EQ(others.displayText(0, 3, 3), QStringLiteral("MUL"));
    EXPECT_EQ(others.displayText(0, 0), QStringLiteral("-9223372036854775808"));
}

TEST(RowStore, StoredRowsCostAboutTheirTextSize) {
    // The shape of a typical narrow table: int8 id, int4, 8-character text.
    RowStore store(3);
    qsizetype textBytes = 0;
    for (int64_t r = 0; r < 100000; ++r) {
        const QByteArray name = QByteArray::number(r + 10000000);
        store.addInt(r * 1000);
        store.addInt(r % 1000);
        store.addText(name.constData(), name.size());
        store.endRow();
        textBytes += QByteArray::number(r * 1000).size() + QByteArray::number(r % 1000).size() + name.size();
    }
    EXPECT_LE(store.storedBytes(), textBytes * 13 / 10) << "stored " << store.storedBytes() << " for " << textBytes;
    // Chunks are filled before the next one opens; only the last is partly empty.
    EXPECT_LE(store.reservedBytes(), store.storedBytes() * 11 / 10 + (1 << 20));
}

TEST(RowStore, WrongCellCountOrReadingPastThePublishedRowsIsMisuse) {
    RowStore store(2);
    store.addInt(1);
    EXPECT_ANY_THROW(store.endRow());
    RowStore other(1);
    other.addInt(1);
    other.endRow();
    EXPECT_ANY_THROW(other.valueAt(1, 0));
    EXPECT_ANY_THROW(other.valueAt(0, 1));
}

// A reader sees only whole rows, and every row below the published count stays
// where it was while the writer keeps appending (and opening new chunks).
TEST(RowStore, ReaderSeesStableCompleteRowsWhileWriterAppends) {
    auto store = std::make_shared<RowStore>(5);
    constexpr int kRows = 200000; // a million cells
    auto textFor = [](int r) { return QByteArray::number(r * 7919).repeated(1 + r % 5); };
    std::atomic<bool> writerDone{false};
    std::atomic<qsizetype> mismatches{0}, checked{0};

    std::thread reader([&] {
        qsizetype verifiedUpTo = 0;
        while (true) {
            const bool finished = writerDone.load();
            const qsizetype count = store->rowCount();
            // Re-read an early row each round: it must never move or change.
            if (count > 0 && store->valueAt(0, 0).toInt() != 0)
                ++mismatches;
            for (qsizetype r = verifiedUpTo; r < count; ++r) {
                const int i = int(r);
                const RowStore::Cell text = store->cellAt(r, 3);
                if (store->valueAt(r, 0).toInt() != i || store->valueAt(r, 1).toBool() != (i % 2 == 0) ||
                    !store->valueAt(r, 2).isNull() || QByteArray(text.data, text.size) != textFor(i) ||
                    store->valueAt(r, 4).toDouble() != i / 4.0)
                    ++mismatches;
                ++checked;
            }
            verifiedUpTo = count;
            if (finished && verifiedUpTo == kRows)
                break;
        }
    });

    for (int r = 0; r < kRows; ++r) {
        const QByteArray text = textFor(r);
        store->addInt(r);
        store->addBool(r % 2 == 0);
        store->addNull();
        store->addText(text.constData(), text.size());
        store->addDouble(r / 4.0);
        store->endRow();
    }
    writerDone = true;
    reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(checked.load(), kRows);
}

TEST(RowStore, RangeReadsTheStoreWithoutCopying) {
    auto store = std::make_shared<RowStore>(1);
    for (int i = 0; i < 10; ++i)
        store->appendRow({Value::fromInt(i)});
    RowRange range{store, 4, 3};
    store.reset(); // the range keeps the rows alive
    EXPECT_EQ(range.size(), 3);
    EXPECT_EQ(range.valueAt(0, 0).toInt(), 4);
    EXPECT_EQ(range.rowAt(2), std::vector<Value>{Value::fromInt(6)});
    EXPECT_EQ(range.displayText(1, 0), QStringLiteral("5"));
}

// A display text cut inside a multi-byte character is valid text all the same:
// it must not be reported as malformed data from the server (the report is made
// once per process, so a false one would hide every real one).
TEST(RowStore, CuttingLongTextForDisplayIsNotMalformedUtf8) {
    LogCapture log;
    RowStore store(1);
    const QByteArray text = QStringLiteral("é").repeated(1000).toUtf8();
    store.addText(text.constData(), text.size());
    store.endRow();
    for (qsizetype maxLength : {0, 1, 2, 5, 10, 100})
        EXPECT_EQ(store.displayText(0, 0, maxLength), QStringLiteral("é").repeated(maxLength));
    const QByteArray fourByte = QStringLiteral("😀").repeated(100).toUtf8();
    RowStore wide(1);
    wide.addText(fourByte.constData(), fourByte.size());
    wide.endRow();
    for (qsizetype maxLength : {1, 2, 3, 7, 10}) {
        const QString shown = wide.displayText(0, 0, maxLength);
        EXPECT_EQ(shown, QStringLiteral("😀").repeated(100).left(maxLength));
    }
    EXPECT_FALSE(log.contains(QStringLiteral("malformed UTF-8")));
}
