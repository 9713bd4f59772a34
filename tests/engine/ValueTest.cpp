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
