// Values and their texts, run under a German locale (decimal comma, dot as
// thousands separator): nothing here may follow the user's locale.
#include "engine/RowStore.h"
#include "engine/SizeFormatting.h"
#include "engine/ValueConversion.h"

#include <QLocale>
#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <iostream>
#include <limits>

namespace {
class Values : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char *locale = std::setlocale(LC_ALL, "de_DE.UTF-8");
        if (!locale)
            locale = std::setlocale(LC_ALL, "C.UTF-8");
        std::cout << "C locale for these tests: " << (locale ? locale : "unchanged") << "\n";
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    static void TearDownTestSuite() {
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
    }
};

Value fromServer(unsigned oid, const char *text) { return ValueConversion::valueFromText(oid, text, qsizetype(strlen(text))); }

enum Oid : unsigned { Bool = 16, Bytea = 17, Int8 = 20, Int2 = 21, Int4 = 23, Float4 = 700, Float8 = 701, Numeric = 1700 };
} // namespace

TEST_F(Values, ServerTextsBecomeTheirKinds) {
    EXPECT_EQ(fromServer(Bool, "t"), Value::fromBool(true));
    EXPECT_EQ(fromServer(Bool, "f"), Value::fromBool(false));
    EXPECT_EQ(fromServer(Int8, "9223372036854775807"), Value::fromInt(std::numeric_limits<int64_t>::max()));
    EXPECT_EQ(fromServer(Int8, "-9223372036854775808"), Value::fromInt(std::numeric_limits<int64_t>::min()));
    EXPECT_EQ(fromServer(Int2, "-32768"), Value::fromInt(-32768));
    EXPECT_EQ(fromServer(Int4, "0"), Value::fromInt(0));
    EXPECT_EQ(fromServer(Float4, "1.5"), Value::fromFloat(1.5f));
    EXPECT_EQ(fromServer(Float4, "0.1"), Value::fromFloat(0.1f));
    EXPECT_EQ(fromServer(Float4, "1e-45"), Value::fromFloat(std::numeric_limits<float>::denorm_min()));
    EXPECT_EQ(fromServer(Float8, "-1.7976931348623157e+308"), Value::fromDouble(-std::numeric_limits<double>::max()));
    EXPECT_EQ(fromServer(Float8, "Infinity"), Value::fromDouble(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(fromServer(Float8, "-Infinity"), Value::fromDouble(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(fromServer(Float4, "-Infinity"), Value::fromFloat(-std::numeric_limits<float>::infinity()));
    const Value nan = fromServer(Float8, "NaN");
    EXPECT_EQ(nan.kind(), Value::Kind::Double);
    EXPECT_TRUE(std::isnan(nan.toDouble()));
    EXPECT_EQ(fromServer(Bytea, "\\x00ff00"), Value::fromBytes(QByteArray("\0\xff\0", 3)));
    EXPECT_EQ(fromServer(Bytea, "a\\000b"), Value::fromBytes(QByteArray("a\0b", 3))); // bytea_output = escape
    EXPECT_EQ(fromServer(Numeric, "1.50"), Value::fromString("1.50"));
    EXPECT_EQ(fromServer(25, "Grüße"), Value::fromString("Grüße"));
}

// Texts that do not read whole as their type keep the server's text; in
// particular a decimal comma must not be taken for a number under this locale.
TEST_F(Values, TextsThatDoNotParseStayText) {
    EXPECT_EQ(fromServer(Int8, "9223372036854775808"), Value::fromString("9223372036854775808"));
    EXPECT_EQ(fromServer(Int4, "12a"), Value::fromString("12a"));
    EXPECT_EQ(fromServer(Int4, ""), Value::fromString(""));
    EXPECT_EQ(fromServer(Float8, "1,5"), Value::fromString("1,5"));
    EXPECT_EQ(fromServer(Float8, "1.5x"), Value::fromString("1.5x"));
    EXPECT_EQ(fromServer(Bool, "maybe"), Value::fromString("maybe"));
    EXPECT_EQ(fromServer(Bool, ""), Value::fromString(""));
}

TEST_F(Values, DescriptionsIgnoreTheLocale) {
    EXPECT_EQ(Value::fromDouble(1.5).description(), "1.5");
    EXPECT_EQ(Value::fromDouble(-0.25).description(), "-0.25");
    EXPECT_EQ(Value::fromDouble(1e20).description(), "1e+20");
    EXPECT_EQ(Value::fromFloat(0.1f).description(), "0.1");
    EXPECT_EQ(Value::fromFloat(3.4028235e38f).description(), "3.4028235e+38");
    EXPECT_EQ(Value::fromInt(1234567).description(), "1234567");
    EXPECT_EQ(Value::fromInt(std::numeric_limits<int64_t>::min()).description(), "-9223372036854775808");
    EXPECT_EQ(Value::fromDouble(std::nan("")).description(), "NaN");
    EXPECT_EQ(Value::fromFloat(-std::numeric_limits<float>::infinity()).description(), "-Infinity");
    EXPECT_EQ(Value::fromBool(true).description(), "t");
    EXPECT_EQ(Value::fromBytes(QByteArray("\0\xab", 2)).description(), "\\x00ab");
    EXPECT_EQ(stringFromSize(1500000), "1.5 MB");
    EXPECT_EQ(stringFromSize(2500000000), "2.5 GB");

    RowStore store(2);
    store.addDouble(1234.5);
    store.addFloat(0.1f);
    store.endRow();
    EXPECT_EQ(store.displayText(0, 0), "1234.5");
    EXPECT_EQ(store.displayText(0, 1), "0.1");
}

TEST_F(Values, KindsStayApart) {
    // A boolean is never an integer, a float never a double, NULL never empty text.
    EXPECT_NE(Value::fromBool(true), Value::fromInt(1));
    EXPECT_NE(Value::fromFloat(1.5f), Value::fromDouble(1.5));
    EXPECT_NE(Value::null(), Value::fromString(""));
    EXPECT_NE(Value::fromString("DEFAULT"), Value::defaultMarker());
    EXPECT_EQ(Value::defaultMarker(), Value::defaultMarker());
    EXPECT_NE(Value::defaultMarker(), Value::multipleMarker());
}

// A float is the value it shows: every NaN is the same NaN (the server writes
// them all as "NaN"), -0 is not 0, and each text the server writes reads back
// as a value equal to itself and to a second reading of the same text.
TEST_F(Values, FloatsAreEqualExactlyWhenTheyShowTheSame) {
    const struct {
        unsigned oid;
        const char *text;
    } cases[] = {
        {Float4, "NaN"},
        {Float4, "Infinity"},
        {Float4, "-Infinity"},
        {Float4, "-0"},
        {Float4, "0"},
        {Float4, "0.1"},
        {Float4, "1.1754944e-38"},
        {Float4, "1e-45"},
        {Float4, "3.4028235e+38"},
        {Float8, "NaN"},
        {Float8, "Infinity"},
        {Float8, "-Infinity"},
        {Float8, "-0"},
        {Float8, "0.30000000000000004"},
        {Float8, "5e-324"},
        {Float8, "1e+15"},
        {Float8, "-1.7976931348623157e+308"},
    };
    for (const auto &c : cases) {
        const Value a = fromServer(c.oid, c.text);
        const Value b = fromServer(c.oid, c.text);
        ASSERT_EQ(a.kind(), c.oid == Float4 ? Value::Kind::Float : Value::Kind::Double) << c.text;
        EXPECT_EQ(a, a) << c.text;
        EXPECT_EQ(a, b) << c.text;
        EXPECT_FALSE(a != b) << c.text;
        EXPECT_EQ(a.description(), c.text);
    }
    // NaNs of other bits are the same NaN; signed zeros and the kinds stay apart.
    EXPECT_EQ(Value::fromDouble(std::nan("1")), Value::fromDouble(-std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(Value::fromFloat(std::nanf("7")), Value::fromFloat(std::numeric_limits<float>::signaling_NaN()));
    EXPECT_NE(Value::fromDouble(-0.0), Value::fromDouble(0.0));
    EXPECT_NE(Value::fromFloat(-0.0f), Value::fromFloat(0.0f));
    EXPECT_NE(Value::fromFloat(std::nanf("")), Value::fromDouble(std::nan("")));
    EXPECT_NE(Value::fromDouble(std::nan("")), Value::fromDouble(std::numeric_limits<double>::infinity()));
    EXPECT_NE(Value::fromDouble(std::nan("")), Value::fromString("NaN"));
    EXPECT_NE(Value::fromDouble(0.1), Value::fromDouble(std::nextafter(0.1, 1.0)));
}
