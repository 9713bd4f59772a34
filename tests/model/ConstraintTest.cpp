#include "CatalogTestSupport.h"
#include "model/ZNTConstraint.h"

namespace {

using C = ZNTConstraint;

ZNTColumnList columns(const QStringList &names) {
    ZNTColumnList list;
    for (const QString &name : names)
        list << std::make_shared<ZNTColumn>(name);
    return list;
}

std::shared_ptr<C> constraint(C::Type type, const QString &name, const QStringList &columnNames) {
    auto c = std::make_shared<C>();
    c->setType(type);
    c->setName(name);
    c->setColumns(columns(columnNames));
    return c;
}

std::shared_ptr<ZNTConnection> quotingConnection() {
    return ZNTConnection::create({});
}

struct Case {
    std::shared_ptr<C> constraint;
    // contype|columns|referenced table|referenced columns|upd|del|deferrable|deferred|check's noinherit|check
    QString expected;
};

// One constraint of each type and deferrability, with what pg_constraint must
// then say of it.
std::vector<Case> serverCases(const std::shared_ptr<ZNTTable> &ref) {
    std::vector<Case> cases;
    cases.push_back({constraint(C::ZNTConstraintTypePrimaryKey, "pk", {"id"}), "p|{id}|||||f|f||"});
    cases.push_back({constraint(C::ZNTConstraintTypeUnique, "uq", {"a", "b c"}), "u|{a,\"b c\"}|||||f|f||"});
    auto deferredUnique = constraint(C::ZNTConstraintTypeUnique, "uq_late", {"a"});
    deferredUnique->setValidation(C::ZNTConstraintValidationDeferred);
    cases.push_back({deferredUnique, "u|{a}|||||t|t||"});
    auto check = constraint(C::ZNTConstraintTypeCheck, "ck", {});
    check->setCheck("(a > 0) OR (\"b c\" <> ')')");
    check->setNoInherit(true);
    cases.push_back({check, "c|{a,\"b c\"}|||||f|f|t|((a > 0) OR (\"b c\" <> ')'::text))"});
    for (auto [validation, deferrable, deferred] : {std::tuple{C::ZNTConstraintValidationNotDeferrable, "f", "f"},
                                                    std::tuple{C::ZNTConstraintValidationDeferrable, "t", "f"},
                                                    std::tuple{C::ZNTConstraintValidationDeferred, "t", "t"}}) {
        auto fk = constraint(C::ZNTConstraintTypeForeignKey, QStringLiteral("fk%1").arg(int(validation)), {"r1", "r2"});
        fk->setForeignTable(ref);
        fk->setForeignAttnums({1, 2});
        fk->setDeleteMode(C::ZNTForeignKeyActionCascade);
        fk->setUpdateMode(C::ZNTForeignKeyActionSetNull);
        fk->setValidation(validation);
        cases.push_back(
            {fk, QStringLiteral("f|{r1,r2}|\"other s\".ref|{k1,\"k 2\"}|n|c|%1|%2||").arg(deferrable, deferred)});
    }
    auto bare = constraint(C::ZNTConstraintTypeForeignKey, "", {"r1", "r2"});
    bare->setForeignTable(ref);
    bare->setForeignAttnums({1, 2});
    cases.push_back({bare, "f|{r1,r2}|\"other s\".ref|{k1,\"k 2\"}|a|a|f|f||"});

    return cases;
}

} // namespace

TEST(ConstraintClause, EachTypeWritesItsClauseOrRefuses) {
    auto connection = quotingConnection();
    ErrorPtr error;
    auto unique = constraint(C::ZNTConstraintTypeUnique, "", {"a", "b\"c"});
    EXPECT_EQ(unique->constraintCommandForConnection(*connection, &error), "UNIQUE (\"a\", \"b\"\"c\")");

    auto check = constraint(C::ZNTConstraintTypeCheck, "positive", {});
    check->setCheck("(x > 0) OR (y > 0)");
    check->setNoInherit(true);
    check->setValidation(C::ZNTConstraintValidationDeferred);
    EXPECT_EQ(check->constraintCommandForConnection(*connection, &error),
              "CONSTRAINT \"positive\" CHECK ((x > 0) OR (y > 0)) NO INHERIT DEFERRABLE INITIALLY DEFERRED");

    auto primary = constraint(C::ZNTConstraintTypePrimaryKey, "", {"id"});
    primary->setValidation(C::ZNTConstraintValidationDeferrable);
    EXPECT_EQ(primary->constraintCommandForConnection(*connection, &error), "PRIMARY KEY (\"id\") DEFERRABLE");

    for (C::Type type : {C::ZNTConstraintTypeNotNull, C::ZNTConstraintTypeExclusion, C::ZNTConstraintTypeTrigger,
                         C::ZNTConstraintTypeUnknown}) {
        error.reset();
        EXPECT_TRUE(constraint(type, "n", {"a"})->constraintCommandForConnection(*connection, &error).isNull());
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->localizedDescription(), "Constraint type not implemented");
    }
}

TEST(ConstraintClause, ForeignKeyWithoutTheReferencedStructureIsRefused) {
    auto server = ZNTServer::create({});
    auto database = std::make_shared<ZNTDatabase>("d", server);
    auto foreign = constraint(C::ZNTConstraintTypeForeignKey, "fk", {"a"});
    foreign->setForeignTable(ZNTTable::create("t", "s", database));
    foreign->setForeignAttnums({1});
    ErrorPtr error;
    EXPECT_TRUE(foreign->constraintCommandForConnection(*server->mainConnection(), &error).isNull());
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(error->localizedDescription().contains("not loaded")) << error->localizedDescription().toStdString();

    foreign->setForeignTable(nullptr);
    error.reset();
    EXPECT_TRUE(foreign->constraintCommandForConnection(*server->mainConnection(), &error).isNull());
    EXPECT_NE(error, nullptr);
}

TEST(ConstraintValue, EqualityCopiesAndBlankness) {
    auto a = constraint(C::ZNTConstraintTypeCheck, "n", {"x"});
    auto b = a->copy();
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->columns().front(), b->columns().front()) << "a copy shares its column entries";
    b->setCheck("");
    a->setComment(QString());
    b->setComment("");
    EXPECT_TRUE(a->isEqual(*b)) << "null and empty texts are alike";
    EXPECT_EQ(a->hash(), b->hash());
    b->setCheck("x > 1");
    EXPECT_FALSE(a->isEqual(*b));
    b->takeValuesFromConstraint(*a);
    EXPECT_TRUE(b->isEqual(*a));
    b->setMarkedForDeletion(true);
    EXPECT_FALSE(b->isEqual(*a));

    auto fresh = std::make_shared<C>();
    fresh->setType(C::ZNTConstraintTypeForeignKey);
    fresh->setDeleteMode(C::ZNTForeignKeyActionCascade);
    EXPECT_TRUE(fresh->blank()) << "an action alone says nothing yet";
    fresh->setForeignAttnums({1});
    EXPECT_FALSE(fresh->blank());
    EXPECT_TRUE(constraint(C::ZNTConstraintTypeUnique, "named", {})->blank());
    EXPECT_FALSE(constraint(C::ZNTConstraintTypeCheck, "named", {})->blank());
    EXPECT_FALSE(constraint(C::ZNTConstraintTypeExclusion, "", {})->blank());
}

TEST(ConstraintValue, EnclosingParenthesesGoButInnerOnesStay) {
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("((price > 0))"), "price > 0");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("((a > 0) OR (b > 0))"), "(a > 0) OR (b > 0)");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(a > 0) OR (b > 0)"), "(a > 0) OR (b > 0)");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(t <> ')')"), "t <> ')'");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(t <> '(') AND (u <> ')')"), "(t <> '(') AND (u <> ')')");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(\"we)ird\" > 0)"), "\"we)ird\" > 0");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(t <> E'\\')')"), "t <> E'\\')'");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(t <> 'it''s)')"), "t <> 'it''s)'");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses("(unterminated <> ')"), "(unterminated <> ')");
    // However deep the server nests it: each level once cost a pass over the
    // whole text, so that a hundred thousand levels took minutes.
    const QString deep = QString(100000, u'(') + "x" + QString(100000, u')');
    EXPECT_EQ(C::checkWithoutEnclosingParentheses(deep), "x");
    EXPECT_EQ(C::checkWithoutEnclosingParentheses(deep + " OR (y)"), deep + " OR (y)");
}

// Every clause is run on the server, which must then hold exactly the
// constraint that was asked for; then each loaded constraint's clause, run on
// an empty twin table in another schema, must give the server's same definition again.
TEST(ConstraintClause, ClausesRunOnTheServerMakeTheConstraintsAsked) {
    ScratchDatabase db;
    db.run(R"(CREATE SCHEMA "other s"; CREATE TABLE "other s".ref (k1 int, "k 2" text, UNIQUE (k1, "k 2"));
              CREATE TABLE t (id int, a int, "b c" text, r1 int, r2 text);
              CREATE SCHEMA twin; CREATE TABLE twin.t (id int, a int, "b c" text, r1 int, r2 text);)");
    auto server = connectedServer(db.name);
    auto ref = ZNTTable::create("ref", "other s", server->mainDatabase());
    ASSERT_EQ(loadAndWait(ref->metadata()), nullptr);
    auto connection = server->mainConnection();
    const std::vector<Case> cases = serverCases(ref);

    for (const Case &c : cases) {
        ErrorPtr error;
        const QString clause = c.constraint->constraintCommandForConnection(*connection, &error);
        ASSERT_FALSE(clause.isNull()) << (error ? error->localizedDescription().toStdString() : "");
        db.run("ALTER TABLE t ADD " + clause);
        const QString got = db.run(R"(
            SELECT format('%s|%s|%s|%s|%s|%s|%s|%s|%s|%s', contype,
                (SELECT array_agg(attname ORDER BY k.i) FROM unnest(conkey) WITH ORDINALITY k(n, i)
                 JOIN pg_attribute ON attrelid = conrelid AND attnum = k.n),
                CASE WHEN confrelid <> 0 THEN confrelid::regclass::text END,
                (SELECT array_agg(attname ORDER BY k.i) FROM unnest(confkey) WITH ORDINALITY k(n, i)
                 JOIN pg_attribute ON attrelid = confrelid AND attnum = k.n),
                trim(confupdtype::text), trim(confdeltype::text), condeferrable, condeferred,
                CASE WHEN contype = 'c' THEN connoinherit END,
                pg_get_expr(conbin, conrelid))
            FROM pg_constraint WHERE conrelid = 't'::regclass ORDER BY oid DESC LIMIT 1)");
        EXPECT_EQ(got, c.expected) << clause.toStdString();
    }

    auto loaded = ZNTTable::create("t", "public", server->mainDatabase());
    ASSERT_EQ(loadAndWait(loaded->metadata()), nullptr);
    ASSERT_EQ(loaded->metadata()->constraints().size(), qsizetype(cases.size()));
    for (const auto &constraint : loaded->metadata()->constraints()) {
        ErrorPtr error;
        const QString clause = constraint->constraintCommandForConnection(*connection, &error);
        ASSERT_FALSE(clause.isNull()) << constraint->name().toStdString();
        db.run("ALTER TABLE twin.t ADD " + clause);
    }
    const char *definitions = "SELECT string_agg(conname || ' ' || pg_get_constraintdef(oid), E'\\n' ORDER BY conname) "
                              "FROM pg_constraint WHERE conrelid = '%1'::regclass";
    EXPECT_EQ(db.run(QString::fromLatin1(definitions).arg("twin.t")),
              db.run(QString::fromLatin1(definitions).arg("t")));
}
