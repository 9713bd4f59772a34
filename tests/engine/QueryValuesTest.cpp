// Values as they come from the server through a query: the server writes the
// text, the query must turn it into the right kind without losing anything.
#include "QueryTestSupport.h"
#include "engine/ZNTQuery.h"
#include "platform/Log.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {
std::shared_ptr<const RowStore> rowsOf(const std::shared_ptr<ZNTConnection> &connection, const QString &sql) {
    auto query = runQuery(connection, sql);
    EXPECT_EQ(query->error(), nullptr) << sql.toStdString() << ": "
                                       << (query->error() ? query->error()->localizedRecoverySuggestion().toStdString()
                                                          : "");
    const auto results = query->results();
    return results.isEmpty() ? nullptr : results.last()->rows();
}
} // namespace

TEST(QueryValues, EachTypeArrivesAsItsKind) {
    auto connection = ZNTConnection::create(serverParams());
    auto rows = rowsOf(connection, R"(select 9223372036854775807::int8, (-32768)::int2, 2147483647::int4,
        'NaN'::float8, '-Infinity'::float8, 0.1::float4, 12345678901234567890.123::numeric,
        '\x00ff0001'::bytea, true, false, null::int4, ''::text, '{1,2}'::int4[], 42::oid)");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_EQ(rows->valueAt(0, 0), Value::fromInt(std::numeric_limits<int64_t>::max()));
    EXPECT_EQ(rows->valueAt(0, 1), Value::fromInt(-32768));
    EXPECT_EQ(rows->valueAt(0, 2), Value::fromInt(2147483647));
    EXPECT_EQ(rows->valueAt(0, 3).kind(), Value::Kind::Double);
    EXPECT_TRUE(std::isnan(rows->valueAt(0, 3).toDouble()));
    EXPECT_EQ(rows->valueAt(0, 4), Value::fromDouble(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(rows->valueAt(0, 5), Value::fromFloat(0.1f));
    EXPECT_EQ(rows->valueAt(0, 6), Value::fromString("12345678901234567890.123"));
    EXPECT_EQ(rows->valueAt(0, 7), Value::fromBytes(QByteArray("\0\xff\0\x01", 4)));
    EXPECT_EQ(rows->valueAt(0, 8), Value::fromBool(true));
    EXPECT_EQ(rows->valueAt(0, 9), Value::fromBool(false));
    EXPECT_EQ(rows->valueAt(0, 10), Value::null());
    EXPECT_EQ(rows->valueAt(0, 11), Value::fromString(""));
    EXPECT_EQ(rows->valueAt(0, 12), Value::fromString("{1,2}"));
    EXPECT_EQ(rows->valueAt(0, 13), Value::fromString("42")); // oid has no number kind of its own
}

// Whatever float text the server writes reads back as exactly its number: the
// server's own float8send bytes are the oracle.
TEST(QueryValues, FloatsMatchTheServersBinaryValue) {
    auto connection = ZNTConnection::create(serverParams());
    // Extremes of float8 that float4 cannot hold.
    auto rows = rowsOf(connection, "select x, float8send(x) from unnest(array[1e308, 5e-324, -2.5e-300]::float8[]) x");
    ASSERT_TRUE(rows);
    auto bitsOf = [](QByteArray networkOrder, auto &number) {
        std::reverse(networkOrder.begin(), networkOrder.end());
        ASSERT_EQ(size_t(networkOrder.size()), sizeof number);
        memcpy(&number, networkOrder.constData(), sizeof number);
    };
    auto query = runQuery(connection, R"(select x, float8send(x), x::float4, float4send(x::float4)
        from unnest(array[0.1, -2.5e-30, 3.4e38, 1.17549435e-38, 123456789.123456789, pi()]::float8[]) x)");
    const auto floats = query->results()[0]->rows();
    for (qsizetype r = 0; r < floats->rowCount(); ++r) {
        double expected;
        bitsOf(floats->valueAt(r, 1).toBytes(), expected);
        EXPECT_EQ(floats->valueAt(r, 0), Value::fromDouble(expected)) << r;
        float expected4;
        bitsOf(floats->valueAt(r, 3).toBytes(), expected4);
        EXPECT_EQ(floats->valueAt(r, 2), Value::fromFloat(expected4)) << r;
    }
    for (qsizetype r = 0; r < rows->rowCount(); ++r) {
        double expected;
        bitsOf(rows->valueAt(r, 1).toBytes(), expected);
        EXPECT_EQ(rows->valueAt(r, 0), Value::fromDouble(expected)) << r;
    }
}

TEST(QueryValues, ByteaInEscapeFormatStillArrivesAsBytes) {
    auto connection = ZNTConnection::create(serverParams());
    auto rows = rowsOf(connection, R"(set bytea_output = 'escape'; select '\x00275c01'::bytea)");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->valueAt(0, 0), Value::fromBytes(QByteArray("\0'\\\x01", 4)));
}

// A SQL_ASCII database stores bytes without checking them; text that is not
// UTF-8 must arrive whole and show with replacement characters.
TEST(QueryValues, MalformedUtf8FromSqlAsciiKeepsItsBytes) {
    LogCapture log;
    auto connection = ZNTConnection::create(serverParams(QStringLiteral("trellan_sqlascii")));
    auto rows = rowsOf(connection, R"(select E'caf\xe9 \xff\xfe ok', 'plain')");
    ASSERT_TRUE(rows);
    const RowStore::Cell cell = rows->cellAt(0, 0);
    EXPECT_EQ(QByteArray(cell.data, cell.size), QByteArray("caf\xe9 \xff\xfe ok"));
    const QString shown = rows->displayText(0, 0);
    EXPECT_TRUE(shown.startsWith("caf"));
    EXPECT_TRUE(shown.endsWith(" ok"));
    EXPECT_TRUE(shown.contains(QChar::ReplacementCharacter));
    EXPECT_EQ(rows->valueAt(0, 1), Value::fromString("plain"));
    EXPECT_TRUE(log.contains("Received malformed UTF-8 from PostgreSQL server."));
}

TEST(QueryValues, ColumnsNameTheirSourceTable) {
    auto connection = ZNTConnection::create(serverParams());
    auto query = runQuery(connection, R"(create temp table src(a int8, b text);
        select b, a, a + 1 as c from src)");
    ASSERT_EQ(query->error(), nullptr);
    const auto columns = query->results().last()->columns();
    ASSERT_EQ(columns.size(), 3);
    const qint64 table = columns[0]->sourceTableOid();
    EXPECT_NE(table, 0);
    EXPECT_EQ(columns[0]->sourceTableAttnum(), 2);
    EXPECT_EQ(columns[1]->sourceTableAttnum(), 1);
    EXPECT_EQ(columns[1]->typeOid(), 20);
    EXPECT_EQ(columns[2]->sourceTableOid(), 0);
    EXPECT_EQ(query->results().last()->columnNumberForName("c"), 2);
}

// Every grid, copy and SQL preview shows floats by their description: it must be
// the very text the server writes for the same value (select x::text), in the
// positional form up to the type's precision and in exponent form beyond it.
TEST(QueryValues, FloatTextIsWhatTheServerWrites) {
    auto connection = ZNTConnection::create(serverParams());
    const QString corpus8 = "0.1, 100000, 1e15, 1e14, 123456789012345, 1e-5, 0.0001, 0.00012345, "
                            "123456789012345678, -0, 0, -1.5, 1e300, 1e-300, 5e-324, 1.7976931348623157e308, "
                            "2.5e-7, 1234.5678, 'NaN', 'Infinity', '-Infinity'";
    const QString corpus4 = "0.1, 100000, 999999, 1e6, 1234567, 123456.7, 1e-5, 0.0001, -0, 3.4028235e38, 1e-45, "
                            "1.17549435e-38, 16777217, 'NaN', '-Infinity'";
    for (const auto &[type, corpus] : {std::pair{QString("float8"), corpus8}, std::pair{QString("float4"), corpus4}}) {
        SCOPED_TRACE(type.toStdString());
        auto rows =
            rowsOf(connection, QStringLiteral("select x, x::text from unnest(array[%1]::%2[]) x").arg(corpus, type));
        ASSERT_TRUE(rows);
        ASSERT_GT(rows->rowCount(), 10);
        for (qsizetype r = 0; r < rows->rowCount(); ++r) {
            const std::string server = rows->valueAt(r, 1).toString().toStdString();
            EXPECT_EQ(rows->valueAt(r, 0).description().toStdString(), server);
            EXPECT_EQ(rows->displayText(r, 0).toStdString(), server);
        }
    }
}
