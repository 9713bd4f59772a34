#include "QueryTestSupport.h"
#include "engine/SQLExpression.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTResult.h"

#include <gtest/gtest.h>
#include <thread>

namespace {
using Kind = SQLExpression::Kind;
const QHash<QString, QString> kStandard{{"standard_conforming_strings", "on"}};
const QHash<QString, QString> kOldStrings{{"standard_conforming_strings", "off"}};

struct DefaultCase {
    const char *name;
    QString src;
    QString typeName;
    Kind kind;
    QString string;
};
} // namespace

TEST(SQLExpression, DefaultsAreClassifiedBySequenceConstantOrExpression) {
    const DefaultCase cases[] = {
        {"sequence", "nextval('items_id_seq'::regclass)", "integer", Kind::SQLExpressionKindSequence, "items_id_seq"},
        {"qualifiedSequence", "nextval('\"My Schema\".s'::regclass)", "bigint", Kind::SQLExpressionKindSequence,
         "\"My Schema\".s"},
        {"sequencePlusOne", "nextval('items_id_seq'::regclass) + 1", "integer", Kind::SQLExpressionKindExpression,
         "nextval('items_id_seq'::regclass) + 1"},
        {"castToColumnType", "'abc'::text", "text", Kind::SQLExpressionKindConstant, "abc"},
        {"castNotRepeatingTypeName", "'abc'::character varying", "character varying(20)",
         Kind::SQLExpressionKindExpression, "'abc'::character varying"},
        {"bareLiteral", "'it''s'", "text", Kind::SQLExpressionKindConstant, "it's"},
        {"number", "0", "integer", Kind::SQLExpressionKindExpression, "0"},
        {"function", "now()", "timestamp with time zone", Kind::SQLExpressionKindExpression, "now()"},
        {"boolean", "true", "boolean", Kind::SQLExpressionKindExpression, "true"},
        {"literalThenMore", "'a'::text || 'b'", "text", Kind::SQLExpressionKindExpression, "'a'::text || 'b'"},
    };
    for (const DefaultCase &c : cases) {
        const SQLExpression e = SQLExpression::withSrc(c.src, c.typeName, kStandard);
        EXPECT_EQ(e.kind(), c.kind) << c.name;
        EXPECT_EQ(e.string(), c.string) << c.name;
        EXPECT_EQ(e.src(), c.src) << c.name;
    }
    EXPECT_EQ(SQLExpression::withSrc("", "text", kStandard).kind(), Kind::SQLExpressionKindNoDefault);
    // With standard_conforming_strings off a doubled backslash stands for one.
    const SQLExpression old = SQLExpression::withSrc("'a\\\\b'::text", "text", kOldStrings);
    EXPECT_EQ(old.kind(), Kind::SQLExpressionKindConstant);
    EXPECT_EQ(old.string(), "a\\b");
}

TEST(SQLExpression, EqualityComparesKindAndShownValueOnly) {
    const SQLExpression expression = SQLExpression::withSrc("now()", "timestamp", kStandard);
    const SQLExpression constant = SQLExpression::withSrc("'now()'", "timestamp", kStandard);
    EXPECT_EQ(expression.string(), constant.string());
    EXPECT_FALSE(expression == constant);
    EXPECT_TRUE(SQLExpression() == SQLExpression::withSrc(QString(), "text", kStandard));
    EXPECT_TRUE(SQLExpression::withSrc("'x'::text", "text", kStandard) ==
                SQLExpression::withSrc("'x'", "text", kStandard)); // src differs, the value does not
}

// The server writes column defaults (pg_get_expr) with its own quoting, which
// follows its standard_conforming_strings; read with the same setting they
// classify as the user meant them.
TEST(SQLExpression, ServerWrittenDefaultsClassifyWithTheServersSetting) {
    PGconnPtr conn = adminConnection();
    exec(conn.get(), R"(create temp table d(
        id serial,
        t text default 'it''s',
        v varchar(20) default 'abc',
        b text default E'back\\slash',
        n int default 0,
        ts timestamptz default now()))");
    for (const char *setting : {"on", "off"}) {
        exec(conn.get(), QStringLiteral("set standard_conforming_strings = %1").arg(setting));
        PGresultPtr r(PQexec(conn.get(), R"(select a.attname, pg_get_expr(d.adbin, d.adrelid),
                format_type(a.atttypid, a.atttypmod)
            from pg_attrdef d join pg_attribute a on a.attrelid = d.adrelid and a.attnum = d.adnum
            where d.adrelid = 'd'::regclass order by a.attnum)"));
        ASSERT_EQ(PQntuples(r.get()), 6);
        const QHash<QString, QString> parameters{{"standard_conforming_strings", setting}};
        QHash<QString, SQLExpression> byColumn;
        for (int i = 0; i < 6; ++i)
            byColumn.insert(PQgetvalue(r.get(), i, 0), SQLExpression::withSrc(QString::fromUtf8(PQgetvalue(r.get(), i, 1)),
                                                                              PQgetvalue(r.get(), i, 2), parameters));
        EXPECT_EQ(byColumn["id"].kind(), Kind::SQLExpressionKindSequence) << setting;
        EXPECT_EQ(byColumn["id"].string(), "d_id_seq") << setting;
        EXPECT_EQ(byColumn["t"].kind(), Kind::SQLExpressionKindConstant) << setting;
        EXPECT_EQ(byColumn["t"].string(), "it's") << setting;
        EXPECT_EQ(byColumn["v"].kind(), Kind::SQLExpressionKindExpression) << setting;
        EXPECT_EQ(byColumn["b"].kind(), Kind::SQLExpressionKindConstant) << setting;
        EXPECT_EQ(byColumn["b"].string(), "back\\slash") << setting;
        EXPECT_EQ(byColumn["n"].kind(), Kind::SQLExpressionKindExpression) << setting;
        EXPECT_EQ(byColumn["ts"].kind(), Kind::SQLExpressionKindExpression) << setting;
    }
}

// What the editor builds from typed text must read back as the same default.
TEST(SQLExpression, BuiltDefaultsReadBackAsTheSameDefault) {
    auto connection = ZNTConnection::create(serverParams());
    const SQLExpression constant =
        SQLExpression::withString("it's a \\ test", Kind::SQLExpressionKindConstant, *connection);
    EXPECT_EQ(constant.kind(), Kind::SQLExpressionKindConstant);
    EXPECT_EQ(SQLExpression::withSrc(constant.src(), "text", kStandard), constant);
    const SQLExpression sequence = SQLExpression::withString("public.items_id_seq", Kind::SQLExpressionKindSequence, *connection);
    EXPECT_EQ(sequence.src(), "nextval('public.items_id_seq'::regclass)");
    EXPECT_EQ(SQLExpression::withSrc(sequence.src(), "integer", kStandard), sequence);
    const SQLExpression expression = SQLExpression::withString("now()", Kind::SQLExpressionKindExpression, *connection);
    EXPECT_EQ(expression.src(), "now()");
    const SQLExpression none = SQLExpression::withString("ignored", Kind::SQLExpressionKindNoDefault, *connection);
    EXPECT_TRUE(none.src().isNull());

    // The server agrees with the constant's quoting.
    PGconnPtr conn = adminConnection();
    EXPECT_EQ(scalar(conn.get(), "select " + constant.src()), QByteArray("it's a \\ test"));
}

TEST(Columns, EqualByNameOnlyAndCopiesDropTheSource) {
    ZNTColumn a("id"), b("id"), unnamed, empty("");
    a.setTypeOid(20);
    b.setTypeOid(25);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(unnamed, empty);
    EXPECT_EQ(qHash(unnamed), qHash(empty));
    EXPECT_FALSE(a == unnamed);

    a.setSourceTableOid(16384);
    a.setSourceTableAttnum(3);
    a.setComment("key");
    a.setNotNull(true);
    a.setDefaultExpression(SQLExpression::withSrc("0", "bigint", kStandard));
    const auto copy = a.copy();
    EXPECT_EQ(copy->sourceTableOid(), 0);
    EXPECT_EQ(copy->sourceTableAttnum(), 0);
    EXPECT_EQ(copy->typeOid(), 20);
    EXPECT_EQ(copy->comment(), "key");
    EXPECT_TRUE(copy->notNull());
    EXPECT_EQ(copy->defaultExpression().string(), "0");
}

TEST(Columns, NumericMeansCategoryNOrABinaryNumberType) {
    ZNTColumn c;
    for (int oid : {20, 21, 23, 26, 700, 701}) {
        c.setTypeOid(oid);
        EXPECT_TRUE(c.isNumeric()) << oid;
    }
    c.setTypeOid(1700);
    EXPECT_FALSE(c.isNumeric());
    c.setTypeCategory('N');
    EXPECT_TRUE(c.isNumeric());
    c.setTypeOid(20);
    c.setTypeCategory('S');
    EXPECT_FALSE(c.isNumeric());
    c.setTypeOid(17);
    EXPECT_TRUE(c.isBytea());
}

TEST(Results, MessagesAreTrimmedAndColumnLookupFindsTheFirst) {
    auto result = ZNTResult::create();
    result->setString("  ERROR:  boom\n\n");
    EXPECT_EQ(result->string(), "ERROR:  boom");
    result->setColumns({std::make_shared<ZNTColumn>("a"), std::make_shared<ZNTColumn>("b"),
                        std::make_shared<ZNTColumn>("a")});
    EXPECT_EQ(result->columnNumberForName("a"), 0);
    EXPECT_EQ(result->columnNumberForName("b"), 1);
    EXPECT_EQ(result->columnNumberForName("zz"), ZNTResult::NotFound);
    EXPECT_EQ(result->columnNumberForName("zz"), ZNTResult::NotFound);
    EXPECT_EQ(ZNTResult::commandOkResult()->resultType(), "success");
    EXPECT_EQ(ZNTResult::noticeResult()->string(), "A notice occurred.");
    EXPECT_EQ(ZNTResult::invalidResult()->string(), "Invalid result returned.");
    EXPECT_EQ(ZNTResult::fatalErrorResult()->resultType(), "error");
    EXPECT_TRUE(result->description().endsWith("message=ERROR:  boom numRows=0>"));
}
