#include "ActionTestSupport.h"
#include "actions/ZNTRowDeleteQuery.h"

using namespace actiontest;

namespace {

class RowDelete : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("row_delete", R"(
            CREATE TABLE keyed (id int PRIMARY KEY, name text);
            CREATE TABLE shapes (n int, b box);
            CREATE VIEW shape_view AS SELECT n, b FROM shapes;
        )");
    }
    void SetUp() override { exec(db->oracle.get(), "TRUNCATE keyed, shapes"); }

    static std::shared_ptr<ZNTRowDeleteQuery> deleting(const QList<QList<Value>> &rows,
                                                       const std::shared_ptr<ZNTTable> &table) {
        return std::make_shared<ZNTRowDeleteQuery>(rows, table);
    }
};

} // namespace

TEST_F(RowDelete, KeyedRowsAreNamedByTheirKeyOnce) {
    exec(db->oracle.get(), "INSERT INTO keyed VALUES (1, 'a'), (2, 'b'), (3, 'c')");
    std::shared_ptr<ZNTTable> keyed;
    ASSERT_NO_FATAL_FAILURE(keyed = loadedRelation(*db, "keyed"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM keyed ORDER BY id"));
    auto rowDelete = deleting({p.rows[0], p.rows[2], p.rows[0]}, keyed);
    EXPECT_EQ(rowDelete->whereClauseOnConnection(*db->connection, nullptr), "\"id\"='1' OR \"id\"='3'");
    ASSERT_TRUE(runToEnd(rowDelete, db->connection));
    EXPECT_TRUE(rowDelete->success()) << errorText(rowDelete->error());
    EXPECT_EQ(rows(db->oracle.get(), "SELECT id FROM keyed"), QStringList{"2"});
}

// Without a key, n picked rows delete n of their look-alikes; boxes of one
// area are no look-alikes.
TEST_F(RowDelete, RowsWithoutAKeyDeleteAsManyAsWerePicked) {
    exec(db->oracle.get(), "INSERT INTO shapes VALUES (1, '(0,0),(2,2)'), (1, '(0,0),(2,2)'), (1, '(0,0),(2,2)'), "
                           "(1, '(1,1),(3,3)'), (NULL, NULL)");
    std::shared_ptr<ZNTTable> shapes;
    ASSERT_NO_FATAL_FAILURE(shapes = loadedRelation(*db, "shapes"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT n, b FROM shapes ORDER BY ctid"));
    auto rowDelete = deleting({p.rows[0], p.rows[1], p.rows[4]}, shapes);
    EXPECT_EQ(
        rowDelete->whereClauseOnConnection(*db->connection, nullptr),
        "(tableoid, ctid) IN (SELECT tableoid, ctid FROM \"public\".\"shapes\" WHERE "
        "\"n\"::text COLLATE \"C\" = ('1'::integer)::text AND \"b\"::text COLLATE \"C\" = ('(2,2),(0,0)'::box)::text "
        "LIMIT 2) OR "
        "(tableoid, ctid) IN (SELECT tableoid, ctid FROM \"public\".\"shapes\" WHERE \"n\"::text IS NULL AND "
        "\"b\"::text IS NULL LIMIT 1)");
    ASSERT_TRUE(runToEnd(rowDelete, db->connection));
    EXPECT_TRUE(rowDelete->success()) << errorText(rowDelete->error());
    EXPECT_EQ(rows(db->oracle.get(), "SELECT n, b FROM shapes ORDER BY b::text"),
              (QStringList{"1|(2,2),(0,0)", "1|(3,3),(1,1)"}));
}

TEST_F(RowDelete, AViewIsNeverAskedForCtids) {
    exec(db->oracle.get(), "INSERT INTO shapes VALUES (1, '(0,0),(2,2)'), (1, '(1,1),(3,3)')");
    std::shared_ptr<ZNTView> view;
    ASSERT_NO_FATAL_FAILURE(view = loadedRelation<ZNTView>(*db, "shape_view"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT n, b FROM shape_view ORDER BY b::text"));
    auto rowDelete = deleting({p.rows[1]}, view);
    EXPECT_EQ(rowDelete->whereClauseOnConnection(*db->connection, nullptr),
              "\"n\"::text COLLATE \"C\" = ('1'::integer)::text AND "
              "\"b\"::text COLLATE \"C\" = ('(3,3),(1,1)'::box)::text");
    ASSERT_TRUE(runToEnd(rowDelete, db->connection));
    EXPECT_TRUE(rowDelete->success()) << errorText(rowDelete->error());
    EXPECT_EQ(rows(db->oracle.get(), "SELECT b FROM shapes"), QStringList{"(2,2),(0,0)"});
}

TEST_F(RowDelete, FailuresAreReportedNotSwallowed) {
    std::shared_ptr<ZNTTable> keyed;
    ASSERT_NO_FATAL_FAILURE(keyed = loadedRelation(*db, "keyed"));
    exec(db->oracle.get(), "CREATE TABLE IF NOT EXISTS guarded (id int PRIMARY KEY REFERENCES keyed)");
    exec(db->oracle.get(), "INSERT INTO keyed VALUES (1, 'a'); INSERT INTO guarded VALUES (1)");
    auto rowDelete = deleting({{Value::fromInt(1), Value::fromString("a")}}, keyed);
    ASSERT_TRUE(runToEnd(rowDelete, db->connection));
    EXPECT_FALSE(rowDelete->success());
    ASSERT_TRUE(rowDelete->error());
    EXPECT_EQ(rowDelete->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "23503");
    exec(db->oracle.get(), "DROP TABLE guarded");
}
