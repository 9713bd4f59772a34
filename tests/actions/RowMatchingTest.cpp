// Edits and deletes of rows that look alike: the statements must reach the very
// row the user saw, whatever the column types say is "equal", and wherever the
// row lives under a partitioned table or an inheritance parent.
#include "ActionTestSupport.h"
#include "actions/ZNTRowDeleteQuery.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"
#include "model/ZNTIndex.h"

using namespace actiontest;
using RowList = ZNTUpdateInsertDeleteQuery::RowList;

namespace {

// Two values of one type that "=" (or the column's collation) calls equal but
// that show differently, as SQL expressions.
struct LookAlike {
    const char *name;
    const char *type;
    const char *first;
    const char *second;
};

const LookAlike kLookAlikes[] = {
    {"numeric", "numeric", "'1.0'", "'1.00'"},
    {"citext", "citext", "'abc'", "'ABC'"},
    {"float8", "float8", "'0'", "'-0'"},
    {"float4", "real", "'0'", "'-0'"},
    {"nondeterministic", "text COLLATE case_blind", "'abc'", "'ABC'"},
    {"numrange", "numrange", "'[1.0,2)'", "'[1.00,2)'"},
    {"numericArray", "numeric[]", "'{1.0}'", "'{1.00}'"},
    {"nondeterministicArray", "text[] COLLATE case_blind", "'{abc}'", "'{ABC}'"},
    {"intervalDomain", "span", "'30 days'", "'1 mon'"},
    {"intervalDomainOfDomain", "span_of_span", "'30 days'", "'1 mon'"},
    {"numericDomain", "amount", "'1.0'", "'1.00'"},
    {"intervalDomainArray", "span[]", "'{\"30 days\"}'", "'{\"1 mon\"}'"},
    {"compositeOfNulls", "pair", "NULL", "'(,)'"},
    {"box", "box", "'(0,0),(2,2)'", "'(1,1),(3,3)'"},
};

class RowMatching : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("row_matching", R"(
            CREATE EXTENSION citext;
            CREATE COLLATION case_blind (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
            CREATE DOMAIN span AS interval;
            CREATE DOMAIN span_of_span AS span;
            CREATE DOMAIN amount AS numeric;
            CREATE TYPE pair AS (x int, y int);
        )");
        for (const LookAlike &c : kLookAlikes)
            exec(db->oracle.get(), QStringLiteral("CREATE TABLE la_%1 (v %2, n int)").arg(c.name, c.type));
    }

    static std::shared_ptr<ZNTUpdateInsertDeleteQuery> save(const std::shared_ptr<ZNTTable> &table,
                                                            const ZNTColumnList &columns) {
        auto action = std::make_shared<ZNTUpdateInsertDeleteQuery>();
        action->setTable(table);
        action->setColumns(columns);
        return action;
    }
    static void saves(const std::shared_ptr<ZNTUpdateInsertDeleteQuery> &action) {
        ASSERT_TRUE(runToEnd(action, db->connection));
        EXPECT_TRUE(action->success()) << errorText(action->error()) << "\n" << action->sql();
    }
    static void deletes(const std::shared_ptr<ZNTRowDeleteQuery> &rowDelete) {
        ASSERT_TRUE(runToEnd(rowDelete, db->connection));
        EXPECT_TRUE(rowDelete->success()) << errorText(rowDelete->error());
    }
};

} // namespace

// Each look-alike pair is edited and deleted three ways, always picking the row
// the table stores second: a loose match would take the first one it meets.
TEST_F(RowMatching, LookAlikeValuesAreMatchedAsTheyWereShown) {
    for (const LookAlike &c : kLookAlikes) {
        SCOPED_TRACE(c.name);
        const QString name = QStringLiteral("la_%1").arg(c.name).toLower();
        auto reset = [&] {
            exec(db->oracle.get(),
                 QStringLiteral("TRUNCATE %1; INSERT INTO %1 VALUES (%2, 1), (%3, 1)").arg(name, c.first, c.second));
        };
        reset();
        const QStringList shown = rows(db->oracle.get(), QStringLiteral("SELECT v, n FROM %1 ORDER BY ctid").arg(name));
        ASSERT_EQ(shown.size(), 2);
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, name));
        Page p;
        ASSERT_NO_FATAL_FAILURE(
            p = page(db->connection, QStringLiteral("SELECT v, n FROM %1 ORDER BY ctid").arg(name)));
        ASSERT_EQ(p.rows.size(), 2);
        const QString readBack = QStringLiteral("SELECT v, n FROM %1 ORDER BY n, ctid").arg(name);

        auto edit = save(table, p.columns);
        edit->setUpdateRowsBefore({p.rows[1]});
        edit->setUpdateRowsAfter({{p.rows[1][0], Value::fromInt(2)}});
        saves(edit);
        EXPECT_EQ(rows(db->oracle.get(), readBack), (QStringList{shown[0], QString(shown[1]).replace("|1", "|2")}));

        reset();
        auto remove = save(table, p.columns);
        remove->setDeleteRows({p.rows[1]});
        saves(remove);
        EXPECT_EQ(rows(db->oracle.get(), readBack), QStringList{shown[0]});

        reset();
        deletes(std::make_shared<ZNTRowDeleteQuery>(QList<ZNTRowValues>{p.rows[1]}, table));
        EXPECT_EQ(rows(db->oracle.get(), readBack), QStringList{shown[0]});
    }
}

// Where a key's own equality is used (a primary key, or a table without one on
// a server that cannot compare exactly), a domain compares as its base type.
TEST_F(RowMatching, ADomainOverIntervalComparesAsItsBaseType) {
    std::shared_ptr<ZNTTable> table;
    ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, "la_intervaldomainofdomain"));
    const auto column = table->metadata()->columns().first();
    EXPECT_EQ(ZNTRowMatching::term(*db->connection, *column, Value::fromString("1 mon")), "\"v\"::TEXT='1 mon'");
    EXPECT_EQ(ZNTRowMatching::term(*db->connection, *table->metadata()->columns().last(), Value::fromInt(1)),
              "\"n\"='1'");
}

// Casts with a text form of their own (inet adds its netmask, boolean says
// "true", char drops its padding) must still find the row they came from.
TEST_F(RowMatching, ValuesWhoseCastToTextDiffersFromTheirOutputStillFindTheirRow) {
    exec(db->oracle.get(), "CREATE TABLE own_text (i inet, b boolean, c char(4), j json, t timestamptz, x bytea);"
                           "INSERT INTO own_text VALUES ('10.0.0.1', true, 'ab', '{\"a\": [1, 2]}', "
                           "'2024-02-29 12:34:56.789+01', '\\x00ff');"
                           "INSERT INTO own_text SELECT * FROM own_text");
    std::shared_ptr<ZNTTable> table;
    ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, "own_text"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT i, b, c, j, t, x FROM own_text"));
    ASSERT_EQ(p.rows.size(), 2);
    auto edit = save(table, p.columns);
    QList<Value> after = p.rows[0];
    after[2] = Value::fromString("cd");
    edit->setUpdateRowsBefore({p.rows[0]});
    edit->setUpdateRowsAfter({after});
    saves(edit);
    EXPECT_EQ(rows(db->oracle.get(), "SELECT c, count(*) FROM own_text GROUP BY c ORDER BY c"),
              (QStringList{"ab  |1", "cd  |1"}));
    deletes(std::make_shared<ZNTRowDeleteQuery>(QList<ZNTRowValues>{p.rows[0]}, table));
    EXPECT_EQ(rows(db->oracle.get(), "SELECT c FROM own_text"), QStringList{"cd  "});
}

// Every partition and every child numbers its rows from (0,1): a row's place is
// its table and its ctid together.
TEST_F(RowMatching, RowsUnderPartitionedTablesAndInheritanceParentsAreFoundInTheirOwnTable) {
    exec(db->oracle.get(), R"(
        CREATE TABLE parted (a int, b text) PARTITION BY LIST (a);
        CREATE TABLE parted_1 PARTITION OF parted FOR VALUES IN (1);
        CREATE TABLE parted_2 PARTITION OF parted FOR VALUES IN (2);
        CREATE TABLE parent (a int, b text);
        CREATE TABLE child () INHERITS (parent);
        CREATE TABLE parted_keyed (a int PRIMARY KEY, b text) PARTITION BY LIST (a);
        CREATE TABLE parted_keyed_1 PARTITION OF parted_keyed FOR VALUES IN (1);
        CREATE TABLE parted_keyed_2 PARTITION OF parted_keyed FOR VALUES IN (2);
        CREATE TABLE parent_keyed (a int PRIMARY KEY, b text);
        CREATE TABLE child_keyed (PRIMARY KEY (a)) INHERITS (parent_keyed);
    )");
    const QStringList tables{"parted", "parent", "parted_keyed", "parent_keyed"};
    for (const QString &name : tables) {
        SCOPED_TRACE(name.toStdString());
        const bool inherited = name.startsWith("parent");
        const QString second = inherited ? name.mid(6).prepend("child") : name + "_2";
        auto reset = [&] {
            exec(db->oracle.get(), QStringLiteral("TRUNCATE %1; INSERT INTO %1 VALUES (1, 'x'); "
                                                  "INSERT INTO %2 VALUES (2, 'x')")
                                       .arg(name, inherited ? second : name));
        };
        reset();
        const QString readBack = QStringLiteral("SELECT tableoid::regclass, a, b FROM %1 ORDER BY a").arg(name);
        const QStringList before = rows(db->oracle.get(), readBack);
        ASSERT_EQ(before.size(), 2);
        EXPECT_TRUE(before[1].startsWith(second + "|")) << before[1];
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, name));
        Page p;
        ASSERT_NO_FATAL_FAILURE(p = page(db->connection, QStringLiteral("SELECT a, b FROM %1 ORDER BY a").arg(name)));

        auto edit = save(table, p.columns);
        edit->setUpdateRowsBefore({p.rows[1]});
        edit->setUpdateRowsAfter({{p.rows[1][0], Value::fromString("y")}});
        saves(edit);
        EXPECT_EQ(rows(db->oracle.get(), readBack), (QStringList{before[0], QString(before[1]).replace("|x", "|y")}));

        reset();
        auto remove = save(table, p.columns);
        remove->setDeleteRows({p.rows[1]});
        saves(remove);
        EXPECT_EQ(rows(db->oracle.get(), readBack), QStringList{before[0]});

        reset();
        deletes(std::make_shared<ZNTRowDeleteQuery>(QList<ZNTRowValues>{p.rows[1]}, table));
        EXPECT_EQ(rows(db->oracle.get(), readBack), QStringList{before[0]});
    }
}

// Names that need every kind of quoting, in a schema whose name holds a quote.
TEST_F(RowMatching, QuotedNamesInEveryStatementOfASaveAndARowDelete) {
    exec(db->oracle.get(), R"(
        CREATE SCHEMA "O'Brien";
        CREATE TABLE "O'Brien"."Mixed ""Case"" Rows" ("Col A" int PRIMARY KEY, "it's ""x""" text);
        CREATE TABLE "O'Brien"."No Key Here" ("Col A" int, "it's ""x""" text);
    )");
    for (const QString &name : {QStringLiteral("Mixed \"Case\" Rows"), QStringLiteral("No Key Here")}) {
        SCOPED_TRACE(name.toStdString());
        const QString qualified = QStringLiteral("\"O'Brien\".\"%1\"").arg(QString(name).replace("\"", "\"\""));
        exec(db->oracle.get(),
             QStringLiteral("INSERT INTO %1 VALUES (1, 'one'), (2, 'two'), (3, 'three')").arg(qualified));
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, name, "O'Brien"));
        Page p;
        ASSERT_NO_FATAL_FAILURE(p = page(db->connection, QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(qualified)));
        ASSERT_EQ(p.rows.size(), 3);
        auto action = save(table, p.columns);
        action->setDeleteRows({p.rows[0]});
        action->setUpdateRowsBefore({p.rows[1]});
        action->setUpdateRowsAfter({{p.rows[1][0], Value::fromString("zwei")}});
        action->setInsertRows({{Value::fromInt(4), Value::fromString("it's four")}});
        saves(action);
        const QString readBack = QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(qualified);
        EXPECT_EQ(rows(db->oracle.get(), readBack), (QStringList{"2|zwei", "3|three", "4|it's four"}));
        deletes(std::make_shared<ZNTRowDeleteQuery>(QList<ZNTRowValues>{p.rows[2]}, table));
        EXPECT_EQ(rows(db->oracle.get(), readBack), (QStringList{"2|zwei", "4|it's four"}));
    }
}

// The server fills generated and identity columns: a new row leaves them to
// it and gets its values back, and a keyless row with them is still found.
TEST_F(RowMatching, GeneratedAndIdentityColumnsAreLeftToTheServer) {
    exec(db->oracle.get(), R"(
        CREATE TABLE made (id int GENERATED ALWAYS AS IDENTITY PRIMARY KEY, n int,
                           twice int GENERATED ALWAYS AS (n * 2) STORED);
        CREATE TABLE made_keyless (id int GENERATED BY DEFAULT AS IDENTITY, n int,
                                   twice int GENERATED ALWAYS AS (n * 2) STORED);
    )");
    for (const QString &name : {QStringLiteral("made"), QStringLiteral("made_keyless")}) {
        SCOPED_TRACE(name.toStdString());
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, name));
        const ZNTColumnList columns = page(db->connection, QStringLiteral("SELECT * FROM %1").arg(name)).columns;
        auto insert = save(table, columns);
        const Value dflt = Value::defaultMarker();
        insert->setInsertRows({{dflt, Value::fromInt(3), dflt}, {dflt, Value::fromInt(5), dflt}});
        saves(insert);
        EXPECT_EQ(insert->completedInsertRows(), (RowList{{Value::fromInt(1), Value::fromInt(3), Value::fromInt(6)},
                                                          {Value::fromInt(2), Value::fromInt(5), Value::fromInt(10)}}));

        Page p;
        ASSERT_NO_FATAL_FAILURE(p = page(db->connection, QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(name)));
        auto edit = save(table, p.columns);
        edit->setUpdateRowsBefore({p.rows[1]});
        edit->setUpdateRowsAfter({{p.rows[1][0], Value::fromInt(7), p.rows[1][2]}});
        saves(edit);
        // What the server computed again comes back with the save.
        EXPECT_EQ(edit->completedUpdateRows(), (RowList{{Value::fromInt(2), Value::fromInt(7), Value::fromInt(14)}}));
        auto remove = save(table, p.columns);
        remove->setDeleteRows({p.rows[0]});
        saves(remove);
        EXPECT_EQ(rows(db->oracle.get(), QStringLiteral("SELECT * FROM %1").arg(name)), QStringList{"2|7|14"});
    }
}

// A UNIQUE index, even over a NOT NULL column, is no primary key: a table with
// one and no primary key is keyless, matched by every column in its rows'
// places, and a table with both keeps its real key. The structure is the
// server's.
TEST_F(RowMatching, AUniqueIndexIsNoPrimaryKey) {
    exec(db->oracle.get(), R"(
        CREATE TABLE unique_only (u int NOT NULL UNIQUE, n int);
        CREATE UNIQUE INDEX unique_only_n ON unique_only (n);
        CREATE TABLE unique_and_key (u int UNIQUE, k int PRIMARY KEY, n int);
    )");
    std::shared_ptr<ZNTTable> keyless;
    ASSERT_NO_FATAL_FAILURE(keyless = loadedRelation(*db, "unique_only"));
    const auto uniqueOnly = keyless->metadata();
    EXPECT_EQ(uniqueOnly->primaryKeyIndex(), nullptr);
    ASSERT_EQ(uniqueOnly->indexes().size(), 2);
    for (const auto &index : uniqueOnly->indexes())
        EXPECT_EQ(index->type(), ZNTIndex::ZNTIndexTypeUnique) << index->name().toStdString();
    ZNTRowMatching::RowKey key;
    ErrorPtr error;
    ASSERT_TRUE(
        ZNTRowMatching::keyOfRelation(*keyless, *uniqueOnly, *db->connection, uniqueOnly->columns(), &key, &error));
    EXPECT_EQ(key.columns.size(), 2);
    EXPECT_TRUE(key.byLocation);

    std::shared_ptr<ZNTTable> keyed;
    ASSERT_NO_FATAL_FAILURE(keyed = loadedRelation(*db, "unique_and_key"));
    const auto both = keyed->metadata();
    ASSERT_NE(both->primaryKeyIndex(), nullptr);
    EXPECT_EQ(both->primaryKeyIndex()->name(), "unique_and_key_pkey");
    ASSERT_TRUE(ZNTRowMatching::keyOfRelation(*keyed, *both, *db->connection, both->columns(), &key, &error));
    ASSERT_EQ(key.columns.size(), 1);
    EXPECT_EQ(key.columns.first()->name(), "k");
    EXPECT_FALSE(key.byLocation);
}
