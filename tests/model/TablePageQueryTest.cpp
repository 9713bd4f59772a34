#include "CatalogTestSupport.h"
#include "platform/ProgramError.h"

namespace {

// A filter as the table browser makes one: a fixed condition.
class Condition : public ZNTFilterCondition {
public:
    explicit Condition(QString sql) : m_sql(std::move(sql)) {}
    QString sqlForConnection(const ZNTConnection &) const override { return m_sql; }

private:
    QString m_sql;
};

QList<std::shared_ptr<ZNTFilterCondition>> filters(const QStringList &conditions) {
    QList<std::shared_ptr<ZNTFilterCondition>> list;
    for (const QString &condition : conditions)
        list << std::make_shared<Condition>(condition);
    return list;
}

struct Loaded {
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTTable> table;
};

// A failed load is fatal: call it inside ASSERT_NO_FATAL_FAILURE.
Loaded loadedTable(const ScratchDatabase &db, const QString &name, const QString &schema = "public") {
    Loaded loaded{connectedServer(db.name), nullptr};
    loaded.table = ZNTTable::create(name, schema, loaded.server->mainDatabase());
    assertLoaded(loaded.table->metadata());
    return loaded;
}

QStringList run(const Loaded &loaded, const std::shared_ptr<ZNTQuery> &query) {
    runAndWait(query, loaded.server->mainConnection());
    EXPECT_EQ(query->error(), nullptr) << query->sql().toStdString();
    return rowTexts(query);
}

} // namespace

TEST(TablePageQuery, PagingWithoutPrimaryKeyShowsEveryRowOnce) {
    ScratchDatabase db;
    // Several transactions, so rows share their xmin in groups.
    db.run("CREATE TABLE loose (n int, t text)");
    for (int part = 0; part < 5; ++part)
        db.run(QStringLiteral("INSERT INTO loose SELECT g % 7, 'row ' || g FROM generate_series(%1, %2) g")
                   .arg(part * 500 + 1)
                   .arg(part * 500 + 500));
    db.run("UPDATE loose SET t = t || ' moved' WHERE n = 3"); // rows whose place is no longer their order
    Loaded loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadedTable(db, "loose"));
    QStringList seen;
    for (quint64 offset = 0;; offset += 1000) {
        auto page = loaded.table->queryWithOffset(offset, 1000, nullptr, true, {});
        EXPECT_FALSE(page->sql().contains("xmin"));
        EXPECT_TRUE(page->sql().contains("ORDER BY \"tableoid\" ASC, \"ctid\" ASC")) << page->sql().toStdString();
        EXPECT_EQ(page->statusMessage(), "Loading loose…");
        const QStringList rows = run(loaded, page);
        seen << rows;
        if (rows.size() < 1000)
            break;
    }
    QStringList expected = db.run("SELECT n, t FROM loose").split('\n');
    EXPECT_EQ(seen.size(), 2500);
    seen.sort();
    expected.sort();
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(QSet<QString>(seen.begin(), seen.end()).size(), seen.size()) << "a row showed twice";
}

// Every partition and every child numbers its rows from (0,1), so ctid alone
// orders nothing across them; with the table first, pages of one row each
// show every row once.
TEST(TablePageQuery, PagesOfAPartitionedTableOrAnInheritanceParentShowEveryRowOnce) {
    ScratchDatabase db;
    db.run(R"(CREATE TABLE parted (a int, t text) PARTITION BY LIST (a);
              CREATE TABLE parted_1 PARTITION OF parted FOR VALUES IN (1);
              CREATE TABLE parted_2 PARTITION OF parted FOR VALUES IN (2);
              CREATE TABLE parted_3 PARTITION OF parted FOR VALUES IN (3);
              INSERT INTO parted SELECT g % 3 + 1, 'row ' || g FROM generate_series(1, 12) g;
              CREATE TABLE parent (a int, t text);
              CREATE TABLE child () INHERITS (parent);
              INSERT INTO parent SELECT g % 2, 'row ' || g FROM generate_series(1, 4) g;
              INSERT INTO child SELECT g % 2, 'row ' || g FROM generate_series(5, 8) g;)");
    for (const QString &name : {QStringLiteral("parted"), QStringLiteral("parent")}) {
        SCOPED_TRACE(name.toStdString());
        Loaded loaded;
        ASSERT_NO_FATAL_FAILURE(loaded = loadedTable(db, name));
        QStringList seen;
        for (quint64 offset = 0; offset < 20; ++offset) {
            auto page = loaded.table->queryWithOffset(offset, 1, nullptr, false, {});
            EXPECT_TRUE(page->sql().contains("ORDER BY \"tableoid\" DESC, \"ctid\" DESC")) << page->sql().toStdString();
            seen << run(loaded, page);
        }
        EXPECT_EQ(seen.join('\n'),
                  db.run(QStringLiteral("SELECT a, t FROM %1 ORDER BY tableoid DESC, ctid DESC").arg(name)));
        EXPECT_EQ(QSet<QString>(seen.begin(), seen.end()).size(), seen.size()) << "a row showed twice";
    }
}

TEST(TablePageQuery, SortAndKeyTermsShareTheDirectionAndMatchTheServersOrder) {
    ScratchDatabase db;
    db.run(R"(CREATE TABLE "Ord""ers" (region text, n int, amount int, PRIMARY KEY (region, n));
              INSERT INTO "Ord""ers" SELECT chr(65 + g % 3), g, g % 5 FROM generate_series(1, 40) g;)");
    Loaded loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadedTable(db, "Ord\"ers"));
    const auto amount = loaded.table->metadata()->columns().at(2);
    const auto region = loaded.table->metadata()->columns().at(0);

    auto descending = loaded.table->queryWithOffset(5, 20, amount, false, {});
    EXPECT_EQ(descending->sql(), "SELECT \"region\", \"n\", \"amount\" FROM \"public\".\"Ord\"\"ers\"  ORDER BY "
                                 "\"amount\" DESC, \"region\" DESC, \"n\" DESC  LIMIT 20 OFFSET 5");
    EXPECT_EQ(run(loaded, descending).join('\n'),
              db.run(R"(SELECT * FROM "Ord""ers" ORDER BY amount DESC, region DESC, n DESC LIMIT 20 OFFSET 5)"));

    // Sorting by a key column names it again as a key term.
    auto byKey = loaded.table->queryWithOffset(0, 1000, region, true, {});
    EXPECT_TRUE(byKey->sql().contains("ORDER BY \"region\" ASC, \"region\" ASC, \"n\" ASC  LIMIT 1000"))
        << byKey->sql().toStdString();
    EXPECT_FALSE(byKey->sql().contains("OFFSET"));
    EXPECT_EQ(run(loaded, byKey).join('\n'), db.run(R"(SELECT * FROM "Ord""ers" ORDER BY region, n)"));

    // The whole table for an export: no LIMIT, no OFFSET.
    auto all = loaded.table->queryWithOffset(0, 0, nullptr, true, filters({"amount = 4", "region <> 'B'"}));
    EXPECT_FALSE(all->sql().contains("LIMIT"));
    EXPECT_FALSE(all->sql().contains("OFFSET"));
    EXPECT_EQ(run(loaded, all).join('\n'),
              db.run(R"(SELECT * FROM "Ord""ers" WHERE amount = 4 AND region <> 'B' ORDER BY region, n)"));
}

TEST(TablePageQuery, CountWithTwoFiltersMatchesTheServer) {
    ScratchDatabase db;
    db.run("CREATE SCHEMA \"s.1\"; CREATE TABLE \"s.1\".t (a int, b text); "
           "INSERT INTO \"s.1\".t SELECT g, md5(g::text) FROM generate_series(1, 3000) g");
    auto server = connectedServer(db.name);
    auto table = ZNTTable::create("t", "s.1", server->mainDatabase()); // no structure needed
    auto count = table->countQueryWithFilters(filters({"a > 100 OR a < 0", "b ILIKE '%a%'"}));
    EXPECT_EQ(count->sql(), "SELECT COUNT(1) FROM \"s.1\".\"t\" WHERE (a > 100 OR a < 0) AND (b ILIKE '%a%')");
    EXPECT_EQ(count->statusMessage(), "Fetching row count t…");
    runAndWait(count, server->mainConnection());
    EXPECT_EQ(rowTexts(count),
              QStringList{db.run("SELECT count(*) FROM \"s.1\".t WHERE (a > 100 OR a < 0) AND (b ILIKE '%a%')")});
    EXPECT_EQ(table->countQueryWithFilters({})->sql(), "SELECT COUNT(1) FROM \"s.1\".\"t\" ");
}

TEST(TablePageQuery, ViewsWithoutKeyAndUnloadedStructures) {
    ScratchDatabase db;
    db.run("CREATE TABLE t (x int); INSERT INTO t VALUES (2), (1); CREATE VIEW v AS SELECT x FROM t");
    Loaded loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadedTable(db, "v"));
    // A view has neither key nor ctid: no key term, and no ORDER BY at all.
    auto page = loaded.table->queryWithOffset(0, 10, nullptr, true, {});
    EXPECT_FALSE(page->sql().contains("ORDER BY"));
    EXPECT_EQ(run(loaded, page).size(), 2);

    auto unloaded = ZNTTable::create("t", "public", loaded.server->mainDatabase());
    try {
        unloaded->queryWithOffset(0, 10, nullptr, true, {});
        ADD_FAILURE() << "a page of a relation whose structure is not loaded";
    } catch (const ProgramError &e) {
        EXPECT_EQ(e.name(), "IncorrectUsage");
    }
    try {
        ZNTTable::create("", "public", loaded.server->mainDatabase())->queryWithOffset(0, 10, nullptr, true, {});
        ADD_FAILURE() << "a page of a relation without a name";
    } catch (const ProgramError &e) {
        EXPECT_EQ(e.name(), "IncorrectUsage");
    }
}

TEST(TablePageQuery, AFilterCannotAppendAStatementToPageOrCount) {
    ScratchDatabase db;
    db.run("CREATE TABLE x (n int); INSERT INTO x VALUES (1), (2)");
    Loaded loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadedTable(db, "x"));
    const auto evil = filters({"true); DROP TABLE x; SELECT (1"});
    for (const auto &query :
         {loaded.table->queryWithOffset(0, 100, nullptr, true, evil), loaded.table->countQueryWithFilters(evil)}) {
        EXPECT_TRUE(query->extendedProtocol());
        runAndWait(query, loaded.server->mainConnection());
        ASSERT_NE(query->error(), nullptr) << query->sql().toStdString();
        EXPECT_EQ(query->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "42601");
    }
    EXPECT_EQ(db.run("SELECT count(*) FROM x"), "2");
}
