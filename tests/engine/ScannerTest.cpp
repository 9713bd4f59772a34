#include "QueryTestSupport.h"
#include "engine/PGScanner.h"
#include "engine/SizeFormatting.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

namespace {
struct LiteralCase {
    const char *name;
    QString text;
    bool standardConformingStrings;
    bool ok;
    QString value;
};

std::optional<QString> readLiteral(const QString &text, bool scs, qsizetype *endLocation = nullptr) {
    PGScanner scanner(text, scs);
    QString value;
    const bool ok = scanner.scanQuotedLiteral(&value);
    if (endLocation)
        *endLocation = scanner.scanLocation();
    return ok ? std::optional(value) : std::nullopt;
}

QVariantList parse(const QString &text, const QString &delimiter = QString()) {
    ErrorPtr error;
    auto result = arrayFromPostgresWithDelimiter(text, delimiter, &error);
    EXPECT_TRUE(result.has_value()) << text.toStdString() << ": "
                                    << (error ? error->localizedDescription().toStdString() : "");
    return result.value_or(QVariantList());
}

QString parseError(const QString &text) {
    ErrorPtr error;
    EXPECT_FALSE(arrayFromPostgresWithDelimiter(text, QString(), &error).has_value()) << text.toStdString();
    return error ? error->localizedDescription() : QString();
}

const QVariant kNull;
} // namespace

TEST(Scanner, QuotedLiteralsReadAsTheServerMeansThem) {
    const LiteralCase cases[] = {
        {"doubledQuote", "'it''s'", true, true, "it's"},
        {"escapeStringTab", "E'a\\tb'", true, true, "a\tb"},
        {"backslashPlainWithStandardStrings", "'a\\b'", true, true, "a\\b"},
        {"backslashIsEscapeWithoutStandardStrings", "'a\\b'", false, true, QString("a") + QChar(0x08)},
        {"escapedQuoteAndBackslash", "E'\\'\\\\'", true, true, "'\\"},
        {"unknownEscapeKeepsCharacter", "E'\\q'", true, true, "q"},
        {"leadingWhitespaceSkipped", "  \n'x'", true, true, "x"},
        {"emptyLiteral", "''", true, true, ""},
        {"whitespaceInsideKept", "'  a  '", true, true, "  a  "},
        {"hexEscapeRefused", "E'\\x41'", true, false, {}},
        {"octalEscapeRefused", "E'\\101'", true, false, {}},
        {"unicodeEscapeRefused", "E'\\u0041'", true, false, {}},
        {"unterminated", "'abc", true, false, {}},
        {"backslashAtEnd", "E'abc\\", true, false, {}},
        {"notALiteral", "abc", true, false, {}},
        {"lowercaseEIsNotEscapeString", "e'x'", true, false, {}},
    };
    for (const LiteralCase &c : cases) {
        qsizetype end = -1;
        const auto value = readLiteral(c.text, c.standardConformingStrings, &end);
        EXPECT_EQ(value.has_value(), c.ok) << c.name;
        if (c.ok && value)
            EXPECT_EQ(*value, c.value) << c.name;
        if (!c.ok)
            EXPECT_EQ(end, 0) << c.name << ": a failed scan leaves the position at the start";
    }
}

TEST(Scanner, UnsupportedEscapesAreLogged) {
    LogCapture log;
    readLiteral("E'\\x41'", true);
    readLiteral("E'\\101'", true);
    readLiteral("E'\\U00000041'", true);
    EXPECT_TRUE(log.contains("Hex escapes not implemented yet."));
    EXPECT_TRUE(log.contains("Octal escapes not implemented yet."));
    EXPECT_TRUE(log.contains("Unicode escapes not implemented yet."));
}

TEST(Scanner, ScanningRestoresTheSkipSetAndMatchesExactly) {
    PGScanner scanner(QStringLiteral("  'a b'  ::Text"), true);
    QString value;
    ASSERT_TRUE(scanner.scanQuotedLiteral(&value));
    EXPECT_EQ(value, QStringLiteral("a b"));
    EXPECT_FALSE(scanner.scanBinaryString(QStringLiteral("::text")));
    EXPECT_TRUE(scanner.scanBinaryString(QStringLiteral("::Text"))); // white space skipped again
    EXPECT_TRUE(scanner.isAtEnd());
    PGScanner shortText(QStringLiteral("ab"), true);
    EXPECT_FALSE(shortText.scanBinaryString(QStringLiteral("abc")));
    EXPECT_EQ(shortText.scanLocation(), 0);
}

// quote_literal is the server's own writer of literals; whatever it writes, with
// either setting of standard_conforming_strings, must read back as the value.
TEST(Scanner, ServerQuotedLiteralsReadBack) {
    PGconnPtr conn = adminConnection();
    const QStringList values = {
        "plain", "it's", "back\\slash", "both\\'", "tab\tand\nnewline", "", "ünï©ødé 🐘", "\\\\double", "''",
    };
    for (const char *setting : {"on", "off"}) {
        exec(conn.get(), QStringLiteral("set standard_conforming_strings = %1").arg(setting));
        for (const QString &value : values) {
            // The value travels as a parameter, so no quoting of ours is involved.
            const QByteArray utf8 = value.toUtf8();
            const char *param = utf8.constData();
            PGresultPtr r(PQexecParams(conn.get(), "select quote_literal($1::text)", 1, nullptr, &param, nullptr,
                                       nullptr, 0));
            ASSERT_EQ(PQresultStatus(r.get()), PGRES_TUPLES_OK);
            const QString literal = QString::fromUtf8(PQgetvalue(r.get(), 0, 0));
            const auto read = readLiteral(literal, QString(setting) == "on");
            ASSERT_TRUE(read.has_value()) << literal.toStdString();
            EXPECT_EQ(*read, value) << literal.toStdString() << " with standard_conforming_strings " << setting;
        }
    }
}

TEST(ArrayLiteral, ShapesAndElementKinds) {
    EXPECT_EQ(parse("{1,2,3}"), (QVariantList{"1", "2", "3"}));
    EXPECT_EQ(parse("{{1,2},{3,4}}"), (QVariantList{QVariantList{"1", "2"}, QVariantList{"3", "4"}}));
    EXPECT_EQ(parse("{a,NULL,null,b}"), (QVariantList{"a", kNull, kNull, "b"}));
    EXPECT_EQ(parse("{\"a,b}\",\"say \\\"hi\\\"\",\"\"}"), (QVariantList{"a,b}", "say \"hi\"", ""}));
    EXPECT_EQ(parse("{1;2}", ";"), (QVariantList{"1", "2"}));
}

// An unquoted element that merely begins with "null" is a value, not NULL: key
// column lists such as {id,nullable_col} must keep the column name.
TEST(ArrayLiteral, ElementsBeginningWithNullAreText) {
    EXPECT_EQ(parse("{id,nullable_col}"), (QVariantList{"id", "nullable_col"}));
    EXPECT_EQ(parse("{NULLIF,nullx}"), (QVariantList{"NULLIF", "nullx"}));
    EXPECT_EQ(parse("{Null}"), (QVariantList{kNull}));
    EXPECT_EQ(parse("{NULL ,x}"), (QVariantList{kNull, "x"}));
    EXPECT_EQ(parse("{a;nullable;NULL}", ";"), (QVariantList{"a", "nullable", kNull}));
}

TEST(ArrayLiteral, MalformedTextNamesWhatAndWhere) {
    EXPECT_EQ(parseError("{}"), "Could not parse array from string: {}\nNo value at position 1..");
    EXPECT_EQ(parseError("1,2}"), "Could not parse array from string: 1,2}\nExpected '{' at position 0..");
    EXPECT_TRUE(parseError("{1,").endsWith("Expected '}' at end of string.."));
    EXPECT_TRUE(parseError("{\"abc").endsWith("String ended unexpectedly.."));
    EXPECT_TRUE(parseError("{\"a\"b}").endsWith("Expected delimiter ',' at position 4.."));
    EXPECT_TRUE(parseError("{1,}").endsWith("No value at position 3.."));
}

// The server's arrays have at most 6 dimensions. Deeper text is refused with an
// error, however deep: 100,000 levels once overflowed the stack.
TEST(ArrayLiteral, MoreThanSixDimensionsAreRefusedNotRecursedInto) {
    const auto nested = [](int depth) { return QString(depth, u'{') + "1" + QString(depth, u'}'); };
    QVariant innermost = parse(nested(6)).value(0);
    for (int level = 2; level < 6; ++level)
        innermost = innermost.toList().value(0);
    EXPECT_EQ(innermost.toList(), QVariantList{"1"});
    EXPECT_TRUE(parseError(nested(7)).endsWith("More than 6 dimensions at position 6.."));
    EXPECT_TRUE(parseError(nested(100000)).endsWith("More than 6 dimensions at position 6.."));
    EXPECT_TRUE(parseError("{{{{{{1}}}}},{{{{{{2}}}}}}}").endsWith("More than 6 dimensions at position 18.."));
}

// The server writes arrays; whatever it writes must parse back to the elements.
TEST(ArrayLiteral, ServerWrittenArraysParseBack) {
    PGconnPtr conn = adminConnection();
    const QVariantList elements = {
        "plain", "a,b", "{x}", "nullable_col", "NULL", "null", kNull, "", " spaced ", "q\"uote",
        "back\\slash", "ünï 🐘", "semi;colon",
    };
    QStringList items;
    for (const QVariant &e : elements) {
        if (!e.isValid()) {
            items << "NULL";
            continue;
        }
        QString s = e.toString();
        s.replace("\\", "\\\\").replace("'", "''");
        items << "E'" + s + "'";
    }
    const QString sql = "select array[" + items.join(',') + "]::text[]::text";
    const QString text = QString::fromUtf8(scalar(conn.get(), sql));
    EXPECT_EQ(parse(text), elements) << text.toStdString();

    const QString nested = QString::fromUtf8(scalar(conn.get(), "select array[['a','b'],['c',NULL]]::text"));
    EXPECT_EQ(parse(nested), (QVariantList{QVariantList{"a", "b"}, QVariantList{"c", kNull}}));

    // Boxes are the built-in type whose array delimiter is ';'.
    const QString boxes = QString::fromUtf8(scalar(conn.get(), "select array['(1,1),(0,0)'::box,'(3,3),(2,2)']::text"));
    EXPECT_EQ(parse(boxes, ";"), (QVariantList{"(1,1),(0,0)", "(3,3),(2,2)"}));
}

TEST(SizeText, DecimalUnitsAtEachStep) {
    const std::pair<int64_t, const char *> cases[] = {
        {0, "0 bytes"},          {999, "999 bytes"},        {1000, "1 KB"},
        {2048, "2 KB"},          {999499, "999 KB"},        {1500000, "1.5 MB"},
        {99940000, "99.9 MB"},   {250000000, "250 MB"},     {999000000, "999 MB"},
        {2500000000, "2.5 GB"},  {1234567890123, "1234.6 GB"},
    };
    for (const auto &[bytes, text] : cases)
        EXPECT_EQ(stringFromSize(bytes), QString(text)) << bytes;
}
