#include "browser/KesCoder.h"
#include "TestSupport.h"
#include "platform/Log.h"

#include <QLocale>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Value s(const char *text) {
    return Value::fromString(QString::fromUtf8(text));
}

std::string encode(const KesCoder &coder, const std::vector<Value> &row) {
    return coder.encodeRow(row).toStdString();
}
} // namespace

TEST(KesCoder, PostgresqlLiteralsReadBackAsTheValuesTheyCameFrom) {
    const KesCoder coder = KesCoder::postgresqlCoder();
    EXPECT_EQ(coder.encodeObject(s("it's")), "E'it\\'s'");
    EXPECT_EQ(coder.encodeObject(s("back\\slash then 'quote'")), "E'back\\\\slash then \\'quote\\''");
    // CR stays CR, so CR LF and a lone CR come back as they were.
    EXPECT_EQ(coder.encodeObject(s("a\r\nb\rc\nd\te")), "E'a\\r\\nb\\rc\\nd\te'");
    EXPECT_EQ(coder.encodeObject(Value::fromBytes(QByteArray("\x00\xff", 2))), "DECODE('00ff','hex')");
    EXPECT_EQ(encode(coder, {Value::fromInt(1), Value(), Value::fromBool(true)}), "1,NULL,TRUE");
    // Floats no bare SQL number can hold are literals the server reads, never
    // NULL, a bare word, or a zero that lost its sign.
    EXPECT_EQ(encode(coder, {Value::fromDouble(kNaN), Value::fromDouble(kInf), Value::fromFloat(-float(kInf)),
                             Value::fromDouble(-0.0), Value::fromDouble(0.0)}),
              "E'NaN',E'Infinity',E'-Infinity',E'-0',0");
    EXPECT_EQ(coder.encodeObject(Value::defaultMarker()), "DEFAULT");
    EXPECT_EQ(coder.encodeObject(s("")), "E''");
    EXPECT_EQ(coder.encodeObject(Value::fromInt(-9007199254740993)), "-9007199254740993");
}

TEST(KesCoder, CsvQuotesTextOnlyAndKeepsLineBreaksAsLineFeeds) {
    const KesCsvCoder coder = KesCoder::csvCoder();
    EXPECT_EQ(encode(coder, {s("id"), Value(), Value::fromInt(7), Value::fromBool(false)}), "\"id\",,7,FALSE");
    EXPECT_EQ(coder.encodeObject(s("\"")), "\"\"\"\"");
    EXPECT_EQ(coder.encodeObject(s("say \"hi\"")), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(coder.encodeObject(s("a\r\nb\rc\nd")), "\"a\nb\nc\nd\"");
    EXPECT_EQ(coder.encodeObject(Value::fromBytes("\x01\x02")), "");
    EXPECT_EQ(coder.encodeObject(s("")), "\"\"");
    EXPECT_EQ(encode(coder, {Value::fromDouble(kNaN), Value::fromDouble(kInf), Value::fromDouble(-kInf)}),
              "nan,inf,-inf");
    EXPECT_EQ(encode(coder, {Value::fromDouble(1e20), Value::fromFloat(1.5f), Value::fromDouble(0.1)}),
              "1e+20,1.5,0.1");
    EXPECT_EQ(coder.encodeObject(s("numeric 1.50 stays text")), "\"numeric 1.50 stays text\"");
}

TEST(KesCoder, CsvSwitchesOverwriteWhatWasSetBefore) {
    KesCsvCoder coder = KesCoder::csvCoder();
    coder.setContinental(true);
    EXPECT_EQ(encode(coder, {Value::fromDouble(2.5), s("x")}), "2,5;\"x\"");
    coder.setContinental(false);
    EXPECT_EQ(encode(coder, {Value::fromDouble(2.5), s("x")}), "2.5,\"x\"");
    coder.setAllowNewlines(false);
    EXPECT_EQ(coder.encodeObject(s("a\r\nb\rc\nd")), "\"a b c d\"") << "CR LF is one blank, not two";
    coder.setStringReplacements({"\"", "\"\"", "x"});
    EXPECT_EQ(coder.encodeObject(s("x\"")), "\"x\"\"\"") << "an unpaired last element is ignored";
}

TEST(KesCoder, ANumberHoldingTheSeparatorIsWrittenAsText) {
    KesCsvCoder coder = KesCoder::csvCoder();
    coder.setDecimalMark(","); // comma-separated, yet a comma as decimal mark
    EXPECT_EQ(encode(coder, {Value::fromDouble(2.5), Value::fromInt(3)}), "\"2,5\",3");
}

TEST(KesCoder, ClipboardTextFollowsTheUsersDecimalMarkAndFlattensLines) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const KesCoder coder = KesCoder::clipboardCoder();
    QLocale::setDefault(before);
    EXPECT_EQ(encode(coder, {s("a\tb"), Value(), Value::fromDouble(1.5)}), "a b\t\t1,5");
    EXPECT_EQ(encode(coder, {s("one\r\ntwo\rthree\nfour"), Value::fromBytes("\xff")}), "one two three four\t");
    EXPECT_EQ(encode(coder, {Value::fromDouble(kNaN), Value::fromDouble(-kInf)}), "nan\t-inf");
    EXPECT_EQ(coder.encodeObject(s("")), "");
}

TEST(KesCoder, BooleansAreNeverNumbersNorNumbersBooleans) {
    EXPECT_EQ(encode(KesCoder::csvCoder(), {Value::fromInt(1), Value::fromBool(true), Value::fromInt(0)}), "1,TRUE,0");
    EXPECT_EQ(encode(KesCoder::sqliteCoder(), {Value::fromBool(true), Value::fromBool(false), Value::fromInt(1)}),
              "1,0,1");
}

TEST(KesCoder, OtherDialectsWriteTheirOwnQuotesAndEscapes) {
    EXPECT_EQ(encode(KesCoder::ansiIdentifierCoder(), {s("id"), s("we\"ird"), Value()}), "\"id\",\"we\"\"ird\",\"\"");
    EXPECT_EQ(encode(KesCoder::mysqlIdentifierCoder(), {s("a`b"), Value()}), "`a``b`,``");
    EXPECT_EQ(encode(KesCoder::mysqlCoder(), {s("a\\'\r\n"), Value::fromBytes("\x0a"), Value::fromDouble(kNaN)}),
              "'a\\\\\\'\\n',UNHEX('0a'),NULL");
    EXPECT_EQ(encode(KesCoder::sqliteCoder(), {s("it's\r\n"), Value::fromBytes("\xab"), Value::fromDouble(kNaN)}),
              "'it''s\n',X'ab',NULL");
    EXPECT_EQ(KesCoder::sqliteCoder().encodeObject(Value::fromString(QString("a") + QChar(0) + "b")),
              "'a'||X'00'||'b'");
}

TEST(KesCoder, RowsJoinValuesWithTheSeparatorOnly) {
    const KesCsvCoder coder = KesCoder::csvCoder();
    EXPECT_EQ(encode(coder, {}), "");
    EXPECT_EQ(encode(coder, {Value()}), "");
    EXPECT_EQ(encode(KesCoder::postgresqlCoder(), {Value()}), "NULL");
    const KesCoder bare;
    EXPECT_EQ(bare.trueValue(), "TRUE");
    EXPECT_TRUE(bare.separator().isNull() && bare.quoteCharacter().isNull() && bare.nullValue().isNull());
}

TEST(KesCoder, StoredRowsEncodeAsTheirValuesDo) {
    RowStore store(7);
    const std::vector<Value> row = {s("x\"y\r\n"),          Value(),
                                    Value::fromInt(-5),     Value::fromDouble(kNaN),
                                    Value::fromBool(true),  Value::fromBytes("\x01"),
                                    Value::fromFloat(0.25f)};
    store.appendRow(row);
    for (const KesCoder &coder : {KesCoder(KesCoder::csvCoder()), KesCoder::postgresqlCoder()}) {
        std::string stored;
        coder.appendStoredRowUtf8(store, 0, {0, 1, 2, 3, 4, 5, 6}, stored);
        EXPECT_EQ(QString::fromStdString(stored), coder.encodeRow(row));
    }
    std::string reordered;
    KesCoder::csvCoder().appendStoredRowUtf8(store, 0, {2, 0}, reordered);
    EXPECT_EQ(reordered, "-5,\"x\"\"y\n\"");

    // Text that is not UTF-8 (a SQL_ASCII database): the file gets the bytes
    // as received, a copy the text as its value reads.
    RowStore ascii(1);
    ascii.addText("a\xff'b", 4);
    ascii.endRow();
    const KesCoder literals = KesCoder::postgresqlCoder();
    std::string received, decoded;
    literals.appendStoredRowUtf8(ascii, 0, {0}, received);
    literals.appendStoredRowUtf8(ascii, 0, {0}, decoded, true);
    EXPECT_EQ(received, "E'a\xff\\'b'");
    EXPECT_EQ(QString::fromUtf8(decoded), literals.encodeRow(ascii.rowAt(0)));
    EXPECT_EQ(QString::fromUtf8(decoded), QStringLiteral("E'a\ufffd\\'b'"));
}

// The mark is one flag for the whole process: a fresh process proves it.
TEST(KesCoder, AnUnsupportedValueIsLoggedOnceWhicheverCoderAndThreadMeetsIt) {
    if (!isChildRun()) {
        runCurrentTestInChild({});
        return;
    }
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i)
                EXPECT_EQ(KesCoder::csvCoder().encodeObject(Value::multipleMarker()), "");
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(KesCoder::csvCoder().encodeObject(Value::defaultMarker()), "") << "DEFAULT has no text in CSV";
    int lines = 0;
    for (const QString &line : log.lines())
        lines += line.contains("can't encode object");
    EXPECT_EQ(lines, 1);
}
