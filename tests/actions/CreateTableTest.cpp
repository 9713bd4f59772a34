#include "ActionTestSupport.h"
#include "actions/ZNTCreateTableQuery.h"
#include "model/ZNTConstraint.h"

using namespace actiontest;

namespace {

class CreateTable : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("create_table", "CREATE TABLE customers (id int PRIMARY KEY, name text)");
    }

    static std::shared_ptr<ZNTCreateTableQuery> create(ZNTTable::Type type, const QString &name) {
        auto action = std::make_shared<ZNTCreateTableQuery>();
        action->setTable(ZNTTable::createOfType(type, QString(), "public", db->database));
        action->setName(name);
        action->setSchemaName("public");
        return action;
    }
    static QString runs(const std::shared_ptr<ZNTCreateTableQuery> &action) {
        return preparedAndRun(action, db->connection);
    }
    static QString tablespaceOf(const QString &relation) {
        return scalar(db->oracle.get(), QStringLiteral("SELECT coalesce(spcname, '-') FROM pg_class LEFT JOIN "
                                                       "pg_tablespace t ON t.oid = reltablespace WHERE relname = '%1'")
                                            .arg(relation));
    }
};

std::shared_ptr<ZNTColumnDefinition> column(const QString &name, const QString &type, const QString &comment = {},
                                            const SQLExpression &defaultExpression = {}) {
    return std::make_shared<ZNTColumnDefinition>(name, type, comment, defaultExpression, false);
}

std::shared_ptr<ZNTConstraint> constraint(ZNTConstraint::Type type, const ZNTColumnList &columns,
                                          const QString &name = {}) {
    auto c = std::make_shared<ZNTConstraint>();
    c->setType(type);
    c->setColumns(columns);
    c->setName(name);
    return c;
}

} // namespace

TEST_F(CreateTable, ATableWithEveryKindOfConstraintCommentsAndTablespace) {
    std::shared_ptr<ZNTTable> customers;
    ASSERT_NO_FATAL_FAILURE(customers = loadedRelation(*db, "customers"));
    auto id = column("id", "integer", "the key");
    auto code = column("code", "character varying(12)", {},
                       SQLExpression::withString("new", SQLExpression::SQLExpressionKindConstant, *db->connection));
    auto customer = column("customer", "integer");
    auto primary = constraint(ZNTConstraint::ZNTConstraintTypePrimaryKey, {id}, "invoices_pkey");
    primary->setComment("one per invoice");
    auto check = constraint(ZNTConstraint::ZNTConstraintTypeCheck, {id});
    check->setCheck("id > 0");
    auto foreign = constraint(ZNTConstraint::ZNTConstraintTypeForeignKey, {customer}, "invoices_customer");
    foreign->setForeignTable(customers);
    foreign->setForeignAttnums({1});
    foreign->setDeleteMode(ZNTConstraint::ZNTForeignKeyActionCascade);
    foreign->setValidation(ZNTConstraint::ZNTConstraintValidationDeferred);
    auto action = create(ZNTTable::ZNTTableTypeTable, "invoices");
    action->setComment("bills");
    action->setTablespace(requiredEnv("TRELLAN_PG_TABLESPACE"));
    action->setColumns({id, code, customer});
    action->setConstraints({primary, constraint(ZNTConstraint::ZNTConstraintTypeNotNull, {code}),
                            constraint(ZNTConstraint::ZNTConstraintTypeUnique, {code, customer}), check, foreign});
    EXPECT_EQ(runs(action),
              "CREATE TABLE \"public\".\"invoices\" (\n"
              "    \"id\" integer,\n"
              "    \"code\" character varying(12) NOT NULL DEFAULT 'new',\n"
              "    \"customer\" integer,\n"
              "    CONSTRAINT \"invoices_pkey\" PRIMARY KEY (\"id\"),\n"
              "    UNIQUE (\"code\", \"customer\"),\n"
              "    CHECK (id > 0),\n"
              "    CONSTRAINT \"invoices_customer\" FOREIGN KEY (\"customer\") REFERENCES "
              "\"public\".\"customers\"(\"id\") ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED\n"
              ") TABLESPACE \"" +
                  requiredEnv("TRELLAN_PG_TABLESPACE") +
                  "\";\n"
                  "COMMENT ON TABLE \"public\".\"invoices\" IS 'bills';\n"
                  "COMMENT ON COLUMN \"public\".\"invoices\".\"id\" IS 'the key';\n"
                  "COMMENT ON CONSTRAINT \"invoices_pkey\" ON \"public\".\"invoices\" IS 'one per invoice';\n");
    EXPECT_EQ(rows(db->oracle.get(), "SELECT contype, pg_get_constraintdef(oid) FROM pg_constraint "
                                     "WHERE conrelid = 'invoices'::regclass ORDER BY contype"),
              (QStringList{"c|CHECK ((id > 0))",
                           "f|FOREIGN KEY (customer) REFERENCES customers(id) ON DELETE CASCADE DEFERRABLE INITIALLY "
                           "DEFERRED",
                           "p|PRIMARY KEY (id)", "u|UNIQUE (code, customer)"}));
    EXPECT_EQ(rows(db->oracle.get(), "SELECT attname, attnotnull, col_description(attrelid, attnum) FROM pg_attribute "
                                     "WHERE attrelid = 'invoices'::regclass AND attnum > 0 ORDER BY attnum"),
              (QStringList{"id|t|the key", "code|t|<null>", "customer|f|<null>"}));
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT obj_description('invoices'::regclass, 'pg_class')"), "bills");
    EXPECT_EQ(tablespaceOf("invoices"), requiredEnv("TRELLAN_PG_TABLESPACE"));
}

TEST_F(CreateTable, ATableWithoutColumnsIsStillAStatement) {
    EXPECT_EQ(runs(create(ZNTTable::ZNTTableTypeTable, "empty")), "CREATE TABLE \"public\".\"empty\" (\n);\n");
}

TEST_F(CreateTable, AViewTakesItsDefinitionAsEnteredAndNoTablespace) {
    auto action = create(ZNTTable::ZNTTableTypeView, "customer_names");
    action->setViewDef("SELECT name FROM customers\n");
    action->setTablespace(requiredEnv("TRELLAN_PG_TABLESPACE"));
    action->setComment("names only");
    EXPECT_EQ(runs(action), "CREATE VIEW \"public\".\"customer_names\" AS SELECT name FROM customers\n;\n"
                            "COMMENT ON VIEW \"public\".\"customer_names\" IS 'names only';\n");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT relkind FROM pg_class WHERE relname = 'customer_names'"), "v");
}

TEST_F(CreateTable, AMaterializedViewNamesItsTablespaceBeforeItsQuery) {
    auto action = create(ZNTTable::ZNTTableTypeMaterializedView, "customer_count");
    action->setViewDef("SELECT count(*) FROM customers");
    action->setTablespace(requiredEnv("TRELLAN_PG_TABLESPACE"));
    EXPECT_EQ(runs(action), "CREATE MATERIALIZED VIEW \"public\".\"customer_count\" TABLESPACE \"" +
                                requiredEnv("TRELLAN_PG_TABLESPACE") + "\" AS SELECT count(*) FROM customers;\n");
    EXPECT_EQ(tablespaceOf("customer_count"), requiredEnv("TRELLAN_PG_TABLESPACE"));
}

TEST_F(CreateTable, AMissingSequenceIsNamedAndCreatedOnTheNextRun) {
    auto action = create(ZNTTable::ZNTTableTypeTable, "numbered");
    action->setColumns({column(
        "n", "bigint", {},
        SQLExpression::withString("numbered_n_seq", SQLExpression::SQLExpressionKindSequence, *db->connection))});
    ASSERT_TRUE(runToEnd(action, db->connection));
    EXPECT_FALSE(action->success());
    EXPECT_EQ(action->missingSequenceName(), "numbered_n_seq");
    action->setCreateSequences({"numbered_n_seq"});
    EXPECT_EQ(runs(action), "CREATE SEQUENCE numbered_n_seq;\n"
                            "CREATE TABLE \"public\".\"numbered\" (\n"
                            "    \"n\" bigint DEFAULT nextval('numbered_n_seq'::regclass)\n"
                            ");\n");
    EXPECT_TRUE(action->missingSequenceName().isNull());
}

TEST_F(CreateTable, ConstraintsWithoutAClauseOrWithANamelessCommentSendNothing) {
    auto id = column("id", "integer");
    auto exclusion = create(ZNTTable::ZNTTableTypeTable, "never_a");
    exclusion->setColumns({id});
    exclusion->setConstraints({constraint(ZNTConstraint::ZNTConstraintTypeExclusion, {id})});
    ASSERT_TRUE(runToEnd(exclusion, db->connection));
    ASSERT_TRUE(exclusion->error());
    EXPECT_EQ(exclusion->error()->localizedDescription(), "Constraint type not implemented");

    auto unnamed = create(ZNTTable::ZNTTableTypeTable, "never_b");
    auto commented = constraint(ZNTConstraint::ZNTConstraintTypeUnique, {id});
    commented->setComment("why");
    unnamed->setColumns({id});
    unnamed->setConstraints({commented});
    ASSERT_TRUE(runToEnd(unnamed, db->connection));
    ASSERT_TRUE(unnamed->error());
    EXPECT_EQ(unnamed->error()->localizedDescription(), "Can't set a comment on unnamed constraint.");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM pg_class WHERE relname LIKE 'never_%'"), "0");
}

// Names that need every kind of quoting, in a schema whose name holds a quote,
// and a key naming a table there.
TEST_F(CreateTable, QuotedNamesInASchemaWithAQuoteArriveAsTyped) {
    exec(db->oracle.get(), R"(CREATE SCHEMA "O'Brien";
                              CREATE TABLE "O'Brien"."Parent ""P""" ("Key Col" int PRIMARY KEY))");
    std::shared_ptr<ZNTTable> parent;
    ASSERT_NO_FATAL_FAILURE(parent = loadedRelation(*db, "Parent \"P\"", "O'Brien"));
    auto key = column("Key Col", "integer", "it's the key");
    auto label = column("it's \"x\"", "text");
    auto foreign = constraint(ZNTConstraint::ZNTConstraintTypeForeignKey, {key}, "to \"P\"");
    foreign->setForeignTable(parent);
    foreign->setForeignAttnums({1});
    foreign->setComment("O'Brien's");
    auto action = create(ZNTTable::ZNTTableTypeTable, "Mixed \"Case\" Child");
    action->setSchemaName("O'Brien");
    action->setComment("a 'quoted' table");
    action->setColumns({key, label});
    action->setConstraints({constraint(ZNTConstraint::ZNTConstraintTypePrimaryKey, {key, label}), foreign});
    runs(action);
    EXPECT_EQ(rows(db->oracle.get(), R"(SELECT attname, format_type(atttypid, atttypmod),
                                               col_description(attrelid, attnum) FROM pg_attribute
                                        WHERE attrelid = '"O''Brien"."Mixed ""Case"" Child"'::regclass AND attnum > 0
                                        ORDER BY attnum)"),
              (QStringList{"Key Col|integer|it's the key", "it's \"x\"|text|<null>"}));
    EXPECT_EQ(rows(db->oracle.get(), R"(SELECT conname, pg_get_constraintdef(oid), obj_description(oid, 'pg_constraint')
                                        FROM pg_constraint
                                        WHERE conrelid = '"O''Brien"."Mixed ""Case"" Child"'::regclass
                                        ORDER BY contype)"),
              (QStringList{"to \"P\"|FOREIGN KEY (\"Key Col\") REFERENCES \"O'Brien\".\"Parent \"\"P\"\"\"(\"Key Col\")"
                           "|O'Brien's",
                           "Mixed \"Case\" Child_pkey|PRIMARY KEY (\"Key Col\", \"it's \"\"x\"\"\")|<null>"}));
    EXPECT_EQ(scalar(db->oracle.get(),
                     R"(SELECT obj_description('"O''Brien"."Mixed ""Case"" Child"'::regclass, 'pg_class'))"),
              "a 'quoted' table");
}
