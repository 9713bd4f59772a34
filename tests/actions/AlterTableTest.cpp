#include "ActionTestSupport.h"
#include "actions/ZNTAlterTableQuery.h"
#include "model/ZNTConstraint.h"

#include <QRegularExpression>
#include <QSet>

using namespace actiontest;

namespace {

// A structure edit as the structure editor hands it over: definitions of the
// loaded columns before and after (the after ones to be edited), and the
// loaded constraints on each side pointing at that side's definitions, a NOT
// NULL constraint for each NOT NULL column among them.
struct Edit {
    std::shared_ptr<ZNTTable> table;
    ZNTColumnDefinitionList before, after;
    ZNTConstraintList constraintsBefore, constraintsAfter;

    std::shared_ptr<ZNTColumnDefinition> column(const QString &name) const {
        for (const auto &c : after)
            if (c->name() == name)
                return c;
        return nullptr;
    }
    std::shared_ptr<ZNTConstraint> constraint(const QString &name) const {
        for (const auto &c : constraintsAfter)
            if (c->name() == name)
                return c;
        return nullptr;
    }
    std::shared_ptr<ZNTAlterTableQuery> action() const {
        auto alter = std::make_shared<ZNTAlterTableQuery>();
        alter->setTable(table);
        alter->setNameAfter(table->name());
        alter->setSchemaNameAfter(table->schemaName());
        const auto metadata = table->metadata();
        alter->setCommentBefore(metadata->comment());
        alter->setCommentAfter(metadata->comment());
        alter->setColumnsBefore(before);
        alter->setColumnsAfter(after);
        alter->setConstraintsBefore(constraintsBefore);
        alter->setConstraintsAfter(constraintsAfter);
        return alter;
    }
};

ZNTColumnList mapped(const ZNTColumnList &columns, const ZNTColumnDefinitionList &side) {
    ZNTColumnList result;
    for (const auto &c : columns)
        for (const auto &d : side)
            if (d->name() == c->name())
                result << d;
    return result;
}

Edit editOf(const std::shared_ptr<ZNTTable> &table) {
    Edit edit{table, {}, {}, {}, {}};
    const auto metadata = table->metadata();
    for (const auto &c : metadata->columns()) {
        edit.before << std::make_shared<ZNTColumnDefinition>(*c);
        edit.after << std::make_shared<ZNTColumnDefinition>(*c);
    }
    auto add = [&](const ZNTConstraint &loaded) {
        auto p = loaded.copy();
        p->setColumns(mapped(loaded.columns(), edit.before));
        auto a = loaded.copy();
        a->setColumns(mapped(loaded.columns(), edit.after));
        edit.constraintsBefore << p;
        edit.constraintsAfter << a;
    };
    for (const auto &c : metadata->constraints())
        add(*c);
    for (const auto &c : metadata->columns()) {
        if (!c->notNull())
            continue;
        ZNTConstraint notNull;
        notNull.setType(ZNTConstraint::ZNTConstraintTypeNotNull);
        notNull.setColumns({c});
        add(notNull);
    }
    return edit;
}

std::shared_ptr<ZNTConstraint> newConstraint(ZNTConstraint::Type type, const ZNTColumnList &columns,
                                             const QString &name = QString()) {
    auto c = std::make_shared<ZNTConstraint>();
    c->setType(type);
    c->setColumns(columns);
    c->setName(name);
    return c;
}

class AlterTable : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() { makeDatabase("alter_table"); }
    void SetUp() override {
        exec(db->oracle.get(), R"(
            DROP SCHEMA IF EXISTS moved CASCADE;
            DROP TABLE IF EXISTS orders, products, renamed CASCADE;
            DROP SEQUENCE IF EXISTS missing_seq;
            CREATE SCHEMA moved;
            CREATE TABLE products (id int PRIMARY KEY, code text UNIQUE);
            CREATE TABLE orders (
                id int CONSTRAINT orders_pkey PRIMARY KEY,
                qty int NOT NULL CONSTRAINT qty_positive CHECK (qty > 0),
                note text DEFAULT 'none',
                product int CONSTRAINT orders_product_fkey REFERENCES products ON DELETE CASCADE,
                CONSTRAINT note_short CHECK (length(note) < 100)
            );
            COMMENT ON TABLE orders IS 'all orders';
        )");
        db->connection->purgeMetadata();
        ASSERT_NO_FATAL_FAILURE(loadedRelation(*db, "products"));
        ASSERT_NO_FATAL_FAILURE(orders = loadedRelation(*db, "orders"));
    }

    // Prepares and runs; the prepared text.
    static QString runs(const std::shared_ptr<ZNTAlterTableQuery> &alter) {
        return preparedAndRun(alter, db->connection);
    }
    static QString constraintDef(const QString &name) {
        return scalar(
            db->oracle.get(),
            QStringLiteral("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = '%1'").arg(name));
    }

    std::shared_ptr<ZNTTable> orders;
};

} // namespace

TEST_F(AlterTable, ARenamedColumnIsRenamedBeforeItsTypeChangesOnTheSameLine) {
    Edit edit = editOf(orders);
    edit.column("qty")->setName("quantity");
    edit.column("quantity")->setTypeName("bigint");
    EXPECT_EQ(runs(edit.action()), "ALTER TABLE \"public\".\"orders\" RENAME COLUMN \"qty\" TO \"quantity\";\n"
                                   "ALTER TABLE \"public\".\"orders\" ALTER COLUMN \"quantity\" SET DATA TYPE bigint;");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT format_type(atttypid, atttypmod) FROM pg_attribute "
                                       "WHERE attrelid = 'orders'::regclass AND attname = 'quantity'"),
              "bigint");
}

TEST_F(AlterTable, ATableRenamedAndMovedIsNamedAnewByEveryLaterStatement) {
    Edit edit = editOf(orders);
    auto alter = edit.action();
    alter->setNameAfter("renamed");
    alter->setSchemaNameAfter("moved");
    alter->setCommentAfter("it's moved");
    edit.column("note")->setComment("free text");
    EXPECT_EQ(runs(alter), "ALTER TABLE \"public\".\"orders\" RENAME TO \"renamed\";\n"
                           "ALTER TABLE \"public\".\"renamed\" SET SCHEMA \"moved\";\n"
                           "COMMENT ON TABLE \"moved\".\"renamed\" IS 'it''s moved';\n"
                           "COMMENT ON COLUMN \"moved\".\"renamed\".\"note\" IS 'free text';\n");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT obj_description('moved.renamed'::regclass, 'pg_class')"), "it's moved");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT col_description('moved.renamed'::regclass, 3)"), "free text");
}

TEST_F(AlterTable, ADroppedColumnTakesItsConstraintsAlong) {
    Edit edit = editOf(orders);
    edit.column("qty")->setMarkedForDeletion(true);
    EXPECT_EQ(runs(edit.action()), "ALTER TABLE \"public\".\"orders\" DROP COLUMN \"qty\";");
    EXPECT_EQ(constraintDef("qty_positive"), "");
    EXPECT_EQ(constraintDef("note_short"), "CHECK ((length(note) < 100))");
}

TEST_F(AlterTable, ChangedConstraintsAreDroppedAndAddedInOneStatement) {
    Edit edit = editOf(orders);
    edit.constraint("qty_positive")->setCheck("qty > 1");
    edit.constraint("orders_product_fkey")->setDeleteMode(ZNTConstraint::ZNTForeignKeyActionRestrict);
    edit.constraint("orders_pkey")->setColumns({edit.column("id"), edit.column("qty")});
    // One statement, every drop before every add (the loaded constraints come
    // in the catalog's order).
    QStringList lines = runs(edit.action()).split('\n');
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines.takeFirst(), "ALTER TABLE \"public\".\"orders\"");
    EXPECT_TRUE(lines.last().endsWith(';'));
    lines.last().chop(1);
    for (QString &line : lines)
        line.remove(QRegularExpression(",$"));
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.begin() + 3),
              (QSet<QString>{"  DROP CONSTRAINT \"orders_pkey\"", "  DROP CONSTRAINT \"qty_positive\"",
                             "  DROP CONSTRAINT \"orders_product_fkey\""}));
    EXPECT_EQ(QSet<QString>(lines.begin() + 3, lines.end()),
              (QSet<QString>{"  ADD CONSTRAINT \"orders_pkey\" PRIMARY KEY (\"id\", \"qty\")",
                             "  ADD CONSTRAINT \"qty_positive\" CHECK (qty > 1)",
                             "  ADD CONSTRAINT \"orders_product_fkey\" FOREIGN KEY (\"product\") REFERENCES "
                             "\"public\".\"products\"(\"id\") ON DELETE RESTRICT ON UPDATE NO ACTION"}));
    EXPECT_EQ(constraintDef("qty_positive"), "CHECK ((qty > 1))");
    EXPECT_EQ(constraintDef("orders_pkey"), "PRIMARY KEY (id, qty)");
    EXPECT_EQ(constraintDef("orders_product_fkey"), "FOREIGN KEY (product) REFERENCES products(id) ON DELETE RESTRICT");
}

TEST_F(AlterTable, RenamedAndCommentedConstraintsStayInPlace) {
    Edit edit = editOf(orders);
    edit.constraint("note_short")->setName("note_brief");
    edit.constraint("note_brief")->setComment("keeps notes short");
    EXPECT_EQ(runs(edit.action()),
              "ALTER TABLE \"public\".\"orders\" RENAME CONSTRAINT \"note_short\" TO \"note_brief\";\n"
              "COMMENT ON CONSTRAINT \"note_brief\" ON \"public\".\"orders\" IS 'keeps notes short';\n");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT obj_description(oid, 'pg_constraint') FROM pg_constraint "
                                       "WHERE conname = 'note_brief'"),
              "keeps notes short");
}

TEST_F(AlterTable, NotNullDefaultsAndNewColumnsEachFindTheirPlace) {
    Edit edit = editOf(orders);
    edit.column("note")->setDefaultExpression(SQLExpression());
    auto added = std::make_shared<ZNTColumnDefinition>(
        "added", "text", "", SQLExpression::withString("x", SQLExpression::SQLExpressionKindConstant, *db->connection),
        false);
    edit.after << added;
    edit.constraintsAfter << newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull, {edit.column("note")})
                          << newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull, {added})
                          << newConstraint(ZNTConstraint::ZNTConstraintTypeUnique, {added}, "added_unique");
    auto alter = edit.action();
    alter->setTablespaceBefore("pg_default");
    alter->setTablespaceAfter(requiredEnv("TRELLAN_PG_TABLESPACE"));
    EXPECT_EQ(runs(alter), "ALTER TABLE \"public\".\"orders\"\n"
                           "  ALTER COLUMN \"note\" DROP DEFAULT,\n"
                           "  ADD COLUMN \"added\" text NOT NULL DEFAULT 'x',\n"
                           "  ALTER COLUMN \"note\" SET NOT NULL,\n"
                           "  ADD CONSTRAINT \"added_unique\" UNIQUE (\"added\"),\n"
                           "  SET TABLESPACE \"" +
                               requiredEnv("TRELLAN_PG_TABLESPACE") + "\";");
    EXPECT_EQ(rows(db->oracle.get(), "SELECT attname, attnotnull, pg_get_expr(adbin, adrelid) FROM pg_attribute "
                                     "LEFT JOIN pg_attrdef ON adrelid = attrelid AND adnum = attnum "
                                     "WHERE attrelid = 'orders'::regclass AND attname IN ('note', 'added') ORDER BY 1"),
              (QStringList{"added|t|'x'::text", "note|t|<null>"}));
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT spcname FROM pg_class JOIN pg_tablespace t ON t.oid = reltablespace "
                                       "WHERE relname = 'orders'"),
              requiredEnv("TRELLAN_PG_TABLESPACE"));
}

TEST_F(AlterTable, AMissingSequenceIsNamedAndCreatedOnTheNextRun) {
    Edit edit = editOf(orders);
    edit.column("qty")->setDefaultExpression(
        SQLExpression::withString("missing_seq", SQLExpression::SQLExpressionKindSequence, *db->connection));
    auto alter = edit.action();
    ASSERT_TRUE(runToEnd(alter, db->connection));
    EXPECT_FALSE(alter->success());
    EXPECT_EQ(alter->missingSequenceName(), "missing_seq");

    alter->setCreateSequences({alter->missingSequenceName()});
    runs(alter);
    EXPECT_TRUE(alter->sql().startsWith("CREATE SEQUENCE missing_seq;\n")) << alter->sql();
    EXPECT_TRUE(alter->missingSequenceName().isNull());
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT pg_get_expr(adbin, adrelid) FROM pg_attrdef "
                                       "WHERE adrelid = 'orders'::regclass AND adnum = 2"),
              "nextval('missing_seq'::regclass)");
}

TEST_F(AlterTable, NothingChangedIsNoStatementAndNoFailure) {
    auto alter = editOf(orders).action();
    EXPECT_EQ(runs(alter), "");
}

TEST_F(AlterTable, ACommentOnAnUnnamedNewConstraintIsRefusedBeforeAnythingIsSent) {
    Edit edit = editOf(orders);
    auto check = newConstraint(ZNTConstraint::ZNTConstraintTypeCheck, {});
    check->setCheck("id > 0");
    check->setComment("why");
    edit.constraintsAfter << check;
    auto alter = edit.action();
    ErrorPtr error;
    EXPECT_FALSE(alter->prepareSQLForConnection(*db->connection, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Can't set a comment on unnamed constraint.");
    EXPECT_TRUE(alter->sql().isEmpty());
}

TEST_F(AlterTable, AViewGetsItsNewDefinitionWithoutTheEditorsTrailingSemicolon) {
    exec(db->oracle.get(), "DROP VIEW IF EXISTS big_orders; CREATE VIEW big_orders AS SELECT id FROM orders");
    std::shared_ptr<ZNTView> view;
    ASSERT_NO_FATAL_FAILURE(view = loadedRelation<ZNTView>(*db, "big_orders"));
    Edit edit = editOf(view);
    auto alter = edit.action();
    alter->setViewDefBefore(view->metadata()->viewDef());
    alter->setViewDefAfter("\n SELECT id, qty FROM orders WHERE qty > 10;\n\n");
    alter->setCommentAfter("big ones");
    EXPECT_EQ(runs(alter),
              "COMMENT ON VIEW \"public\".\"big_orders\" IS 'big ones';\n"
              "CREATE OR REPLACE VIEW \"public\".\"big_orders\" AS SELECT id, qty FROM orders WHERE qty > 10;\n");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM pg_attribute WHERE attrelid = 'big_orders'::regclass "
                                       "AND attnum > 0"),
              "2");
}

// The server keeps a materialized view's query as it was made: a changed one
// is refused before anything is sent, while renames and comments go through.
TEST_F(AlterTable, AMaterializedViewIsRenamedAndCommentedButItsQueryIsNeverReplaced) {
    exec(db->oracle.get(), "CREATE MATERIALIZED VIEW order_totals AS SELECT id, qty FROM orders");
    std::shared_ptr<ZNTMaterializedView> view;
    ASSERT_NO_FATAL_FAILURE(view = loadedRelation<ZNTMaterializedView>(*db, "order_totals"));
    const QString definition = view->metadata()->viewDef();
    Edit edit = editOf(view);
    edit.column("qty")->setName("Quantity");
    edit.column("Quantity")->setComment("how many");
    auto alter = edit.action();
    alter->setViewDefBefore(definition);
    alter->setViewDefAfter(definition);
    alter->setNameAfter("Order Totals");
    alter->setCommentAfter("totals");
    EXPECT_EQ(runs(alter), "ALTER TABLE \"public\".\"order_totals\" RENAME TO \"Order Totals\";\n"
                           "COMMENT ON MATERIALIZED VIEW \"public\".\"Order Totals\" IS 'totals';\n"
                           "ALTER TABLE \"public\".\"Order Totals\" RENAME COLUMN \"qty\" TO \"Quantity\";\n"
                           "COMMENT ON COLUMN \"public\".\"Order Totals\".\"Quantity\" IS 'how many';\n");
    EXPECT_EQ(rows(db->oracle.get(), R"(SELECT obj_description(c.oid, 'pg_class'), a.attname,
                                               col_description(c.oid, a.attnum)
                                        FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = 2
                                        WHERE relname = 'Order Totals' AND relkind = 'm')"),
              QStringList{"totals|Quantity|how many"});

    std::shared_ptr<ZNTMaterializedView> renamed;
    ASSERT_NO_FATAL_FAILURE(renamed = loadedRelation<ZNTMaterializedView>(*db, "Order Totals"));
    auto requery = editOf(renamed).action();
    requery->setViewDefBefore(definition);
    requery->setViewDefAfter("SELECT id FROM orders");
    requery->setCommentAfter("changed too");
    requery->setSql("unchanged");
    ErrorPtr error;
    EXPECT_FALSE(requery->prepareSQLForConnection(*db->connection, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Can't change the query of materialized view “Order Totals”.");
    EXPECT_EQ(requery->sql(), "unchanged");
    ASSERT_TRUE(runToEnd(requery, db->connection));
    EXPECT_FALSE(requery->success());
    EXPECT_EQ(errorText(requery->error()), errorText(error));
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT obj_description('\"Order Totals\"'::regclass, 'pg_class')"), "totals")
        << "nothing of the refused change was sent";
}

// Names that need every kind of quoting, in schemas whose names hold quotes.
TEST_F(AlterTable, QuotedNamesInASchemaWithAQuoteInEveryAlterStatement) {
    exec(db->oracle.get(), R"(
        DROP SCHEMA IF EXISTS "O'Brien", "Other's" CASCADE;
        CREATE SCHEMA "O'Brien";
        CREATE SCHEMA "Other's";
        CREATE TABLE "O'Brien"."Mixed ""Case"" T" (
            "Col A" int CONSTRAINT "it's ""c""" CHECK ("Col A" > 0),
            "x y" text);
    )");
    std::shared_ptr<ZNTTable> table;
    ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, "Mixed \"Case\" T", "O'Brien"));
    Edit edit = editOf(table);
    edit.column("x y")->setName("it's \"z\"");
    edit.column("it's \"z\"")->setTypeName("character varying(20)");
    edit.column("it's \"z\"")->setComment("O'Brien's");
    edit.constraint("it's \"c\"")->setName("Positive \"A\"");
    edit.constraintsAfter << newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull, {edit.column("Col A")});
    auto alter = edit.action();
    alter->setNameAfter("New \"Name\"");
    alter->setSchemaNameAfter("Other's");
    runs(alter);
    const QString relation = R"('"Other''s"."New ""Name"""'::regclass)";
    EXPECT_EQ(rows(db->oracle.get(), QStringLiteral("SELECT attname, format_type(atttypid, atttypmod), attnotnull, "
                                                    "col_description(attrelid, attnum) FROM pg_attribute "
                                                    "WHERE attrelid = %1 AND attnum > 0 ORDER BY attnum")
                                         .arg(relation)),
              (QStringList{"Col A|integer|t|<null>", "it's \"z\"|character varying(20)|f|O'Brien's"}));
    EXPECT_EQ(
        scalar(db->oracle.get(), QStringLiteral("SELECT conname FROM pg_constraint WHERE conrelid = %1").arg(relation)),
        "Positive \"A\"");
}
