#include "CatalogTestSupport.h"
#include "model/Tablespace.h"
#include "model/ZNTDatabaseDescendantQuery.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTSchema.h"
#include "model/ZNTSchemaDescendantQuery.h"
#include "model/ZNTServerListingQuery.h"
#include "model/ZNTVariousObjectsQuery.h"
#include "platform/UserDefaults.h"

#include <algorithm>

namespace {

const QString kQueryItem = QStringLiteral("%1 SQL Query").arg(int(ZNTObjectKind::QueryObject));
QString schemaItem(const QString &name) {
    return QStringLiteral("%1 %2").arg(int(ZNTObjectKind::Schema)).arg(name);
}

// The databases that accept connections, by name, as "name|oid": one dropped
// and made again under its name is another database.
QStringList serverDatabases() {
    return psql("postgres", "SELECT datname, oid FROM pg_database WHERE datallowconn ORDER BY datname").split('\n');
}

// Other tests make and drop databases meanwhile, some while the listing runs,
// and make them again under the same names: the listing must hold, in the
// server's order, every database there all along (the same one before and
// after it), and of what it holds and is still there, only databases that
// accept connections.
void expectServersDatabases(const QStringList &listed, const QStringList &before) {
    // What is there now, and which of it accepts connections: read at once.
    QStringList existing, after;
    for (const QString &row : psql("postgres", "SELECT datname, oid, datallowconn FROM pg_database").split('\n')) {
        existing << row.section(u'|', 0, 0);
        if (row.section(u'|', 2) == QStringLiteral("t"))
            after << row.section(u'|', 0, 1);
    }
    QStringList stable, listedStable;
    for (const QString &database : before)
        if (after.contains(database))
            stable << database.section(u'|', 0, 0);
    for (const QString &name : listed) {
        if (existing.contains(name)) {
            EXPECT_TRUE(std::any_of(after.begin(), after.end(), [&](const QString &database) {
                return database.section(u'|', 0, 0) == name;
            })) << name.toStdString();
        }
        if (stable.contains(name))
            listedStable << name;
    }
    EXPECT_EQ(listedStable, stable);
}

// Restores the sidebar's system-catalog setting.
class ShowSystemCatalogs {
public:
    explicit ShowSystemCatalogs(bool show) {
        UserDefaults::standard().setObject(show, QStringLiteral("ShowSystemCatalogsInSidebar"));
    }
    ~ShowSystemCatalogs() { UserDefaults::standard().removeObject(QStringLiteral("ShowSystemCatalogsInSidebar")); }
};

} // namespace

TEST(CatalogQuery, SidebarListsQueryItemThenRelationsOnTheSearchPathThenOtherSchemas) {
    ScratchDatabase db;
    db.run(R"(CREATE SCHEMA a; CREATE SCHEMA b; CREATE SCHEMA c; CREATE SCHEMA "O'Brien";
              CREATE TABLE a.kiwi (x int); CREATE TABLE b.apple (x int); CREATE VIEW a.melon AS SELECT 1 AS one;
              CREATE MATERIALIZED VIEW b.cherry AS SELECT 1 AS one;
              CREATE TABLE b.parts (x int) PARTITION BY RANGE (x);
              CREATE TABLE c.hidden (x int); CREATE TABLE public.elsewhere (x int);
              CREATE TABLE a.toasty (t text);)");
    db.run(QStringLiteral("ALTER DATABASE %1 SET search_path = a, b").arg(db.name));
    auto server = connectedServer(db.name);
    auto listing = server->mainDatabase()->descendantQuery();
    listing->setForSidebar(true);
    std::vector<ZNTObjectList> seen;
    EXPECT_GE(runListing(listing, &seen), 1);
    EXPECT_EQ(listing->error(), nullptr);
    EXPECT_EQ(
        describe(listing->objects().value()),
        (QStringList{kQueryItem, "Table b.apple", "Materialized View b.cherry", "Table a.kiwi", "View a.melon",
                     "Table b.parts", "Table a.toasty", schemaItem("O'Brien"), schemaItem("c"), schemaItem("public")}));
    // The first announcement already carries the query item.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(describe(seen.front()).value(0), kQueryItem);

    // Everywhere else: the query item, then every schema, public first and the
    // system schemas last, as the server orders them.
    auto plain = server->mainDatabase()->descendantQuery();
    runListing(plain);
    QStringList expected{kQueryItem};
    for (const QString &name :
         db.run("SELECT nspname FROM pg_namespace ORDER BY nspname='public' DESC, nspname='information_schema', "
                "nspname LIKE 'pg/_%' ESCAPE '/', nspname")
             .split('\n'))
        expected << schemaItem(name);
    EXPECT_EQ(describe(plain->objects().value()), expected);
    EXPECT_EQ(expected.value(1), schemaItem("public"));
    EXPECT_EQ(expected.last(), schemaItem("information_schema"));
    {
        ShowSystemCatalogs show(true); // the sidebar then lists schemas too
        auto sidebar = server->mainDatabase()->descendantQuery();
        sidebar->setForSidebar(true);
        runListing(sidebar);
        EXPECT_EQ(describe(sidebar->objects().value()), expected);
    }
}

TEST(CatalogQuery, SchemaWithAQuoteInItsNameListsItsRelationsByName) {
    ScratchDatabase db;
    db.run(R"(CREATE SCHEMA "O'Brien"; CREATE TABLE "O'Brien".zeta (x int); CREATE VIEW "O'Brien".alpha AS SELECT 1;
              CREATE MATERIALIZED VIEW "O'Brien".mu AS SELECT 1; CREATE TABLE public.zeta (x int);)");
    auto server = connectedServer(db.name);
    auto schema = std::make_shared<ZNTSchema>("O'Brien", server->mainDatabase());
    auto listing = schema->descendantQuery();
    EXPECT_FALSE(listing->objects().has_value());
    runListing(listing);
    EXPECT_EQ(listing->error(), nullptr);
    EXPECT_EQ(describe(listing->objects().value()),
              (QStringList{"View O'Brien.alpha", "Materialized View O'Brien.mu", "Table O'Brien.zeta"}));
    const auto sql = std::static_pointer_cast<ZNTSchemaDescendantQuery>(listing)->sqlForServerVersion(
        *server->mainConnection(), 90200);
    EXPECT_FALSE(sql.contains("pg_matviews")) << "servers before 9.3 have no materialized views";
}

TEST(CatalogQuery, DatabaseWithNothingInItListsOnlyTheQueryItem) {
    ScratchDatabase db;
    db.run("DROP SCHEMA public");
    auto server = connectedServer(db.name);
    auto listing = server->mainDatabase()->descendantQuery();
    listing->setForSidebar(true);
    EXPECT_EQ(listing->objects(), ZNTObjectList());
    EXPECT_GE(runListing(listing), 1);
    EXPECT_EQ(listing->error(), nullptr);
    EXPECT_EQ(describe(listing->objects().value()), QStringList{kQueryItem});
}

TEST(CatalogQuery, DatabaseWithoutConnectPrivilegeIsListedAndItsListingEndsWithTheServersError) {
    ScratchDatabase db;
    db.run(QStringLiteral("REVOKE CONNECT ON DATABASE %1 FROM PUBLIC").arg(db.name));
    auto server = connectedServer("postgres", requiredEnv("TRELLAN_PG_TRUST_USER"));
    auto databases = server->descendantQuery();
    const QStringList before = serverDatabases();
    runListing(databases);
    ASSERT_EQ(databases->error(), nullptr);
    std::shared_ptr<ZNTDatabase> locked;
    QStringList names;
    for (const ZNTObjectList objects = databases->objects().value(); const auto &object : objects) {
        names << object->name();
        if (object->name() == db.name)
            locked = std::dynamic_pointer_cast<ZNTDatabase>(object);
    }
    expectServersDatabases(names, before);
    ASSERT_NE(locked, nullptr);
    EXPECT_EQ(locked->server(), server);

    auto listing = locked->descendantQuery();
    listing->setForSidebar(true);
    runListing(listing);
    ASSERT_NE(listing->error(), nullptr);
    EXPECT_TRUE(listing->error()->localizedDescription().contains("permission denied") ||
                listing->error()->localizedRecoverySuggestion().contains("permission denied"))
        << listing->error()->localizedDescription().toStdString();
    EXPECT_EQ(listing->objects(), ZNTObjectList());
}

TEST(CatalogQuery, DatabasePageListsEveryRelationWithItsEstimates) {
    ScratchDatabase db;
    db.run(
        R"(CREATE TABLE big (id int PRIMARY KEY, t text); INSERT INTO big SELECT g, repeat('x', 3000) FROM generate_series(1, 2000) g;
              CREATE TABLE bare (x int); CREATE TABLE fresh (x int);
              CREATE TABLE parts (x int) PARTITION BY RANGE (x);
              CREATE TABLE parts_1 PARTITION OF parts FOR VALUES FROM (0) TO (10);
              CREATE VIEW v AS SELECT * FROM big; CREATE MATERIALIZED VIEW m AS SELECT id FROM big;
              INSERT INTO bare SELECT generate_series(1, 500);
              ANALYZE big; ANALYZE bare; ANALYZE m;)");
    auto server = connectedServer(db.name);
    auto listing = std::make_shared<ZNTVariousObjectsQuery>(server->mainDatabase());
    EXPECT_EQ(listing->objects(), ZNTObjectList());
    runListing(listing);
    ASSERT_EQ(listing->error(), nullptr);

    QStringList got;
    for (const ZNTObjectList objects = listing->objects().value(); const auto &object : objects) {
        auto table = std::static_pointer_cast<ZNTTable>(object);
        if (table->schemaName() != "public")
            continue;
        got << QStringLiteral("%1 %2|%3|%4|%5")
                   .arg(table->kind(), table->name())
                   .arg(table->approxNumRows())
                   .arg(table->approxPages())
                   .arg(table->approxIndexPages());
    }
    // The server's own figures; a view has none, and a table without indexes
    // has no index pages; a table never analysed keeps -1 rows.
    const QString expected = db.run(R"(
        SELECT CASE c.relkind WHEN 'v' THEN 'View' WHEN 'm' THEN 'Materialized View' ELSE 'Table' END || ' ' || c.relname || '|' ||
               CASE WHEN c.relkind = 'v' THEN '0|0|0' ELSE
               c.reltuples::bigint || '|' || (c.relpages + coalesce(t.relpages, 0)) || '|' ||
               coalesce((SELECT sum(i.relpages) FROM pg_index JOIN pg_class i ON i.oid = indexrelid WHERE indrelid = c.oid), 0) END
        FROM pg_class c LEFT JOIN pg_class t ON t.oid = c.reltoastrelid
        WHERE c.relnamespace = 'public'::regnamespace AND c.relkind IN ('r','v','m','p') ORDER BY c.relname)");
    EXPECT_EQ(got.join('\n'), expected);
    EXPECT_TRUE(got.contains("Table parts|-1|0|0")) << "partitioned tables are tables on the database page";
    EXPECT_TRUE(got.contains("Table fresh|-1|0|0")) << got.join(", ").toStdString();
    EXPECT_TRUE(got.contains("Table bare|500|3|0")) << got.join(", ").toStdString();
}

TEST(CatalogQuery, DatabaseNotYetConnectedListsItsMaterializedViewsByTheServersVersion) {
    ScratchDatabase db;
    db.run("CREATE MATERIALIZED VIEW mv AS SELECT 1 AS one; CREATE TABLE t (x int)");
    auto server = connectedServer("postgres");
    auto database = std::make_shared<ZNTDatabase>(db.name, server);
    ASSERT_EQ(database->connection()->serverVersion(), 0u) << "only the main connection has connected";
    EXPECT_GE(database->serverVersion(), 150000u);
    auto listing = database->descendantQuery();
    listing->setForSidebar(true);
    runListing(listing);
    ASSERT_EQ(listing->error(), nullptr);
    EXPECT_EQ(describe(listing->objects().value()),
              (QStringList{kQueryItem, "Materialized View public.mv", "Table public.t"}));
    auto old = std::make_shared<ZNTDatabaseDescendantQuery>(database);
    old->setForSidebar(true);
    EXPECT_FALSE(old->sqlForServerVersion(90299).contains("pg_matviews"));
    EXPECT_TRUE(old->sqlForServerVersion(90300).contains("pg_matviews"));
}

TEST(CatalogQuery, ServerListsItsDatabasesAndTablespaces) {
    auto server = connectedServer("postgres");
    auto databases = std::make_shared<ZNTDatabaseQuery>(server);
    EXPECT_FALSE(databases->objects().has_value());
    const QStringList before = serverDatabases();
    runListing(databases);
    QStringList names;
    for (const ZNTObjectList objects = databases->objects().value(); const auto &object : objects) {
        EXPECT_EQ(object->objectKind(), ZNTObjectKind::Database);
        names << object->name();
    }
    expectServersDatabases(names, before);
    EXPECT_TRUE(names.contains("postgres"));

    auto tablespaces = std::make_shared<ZNTTablespaceQuery>(server);
    runListing(tablespaces);
    QStringList spaces;
    for (const ZNTObjectList objects = tablespaces->objects().value(); const auto &object : objects)
        spaces << object->name();
    EXPECT_EQ(spaces.join('\n'), psql("postgres", "SELECT spcname FROM pg_tablespace ORDER BY 1"));
    EXPECT_TRUE(spaces.contains(requiredEnv("TRELLAN_PG_TABLESPACE")));
}

TEST(CatalogQuery, ListingOfAServerThatCannotBeReachedEndsWithItsErrorAndWhatItHad) {
    QVariantMap params = testServerParams("postgres");
    params["port"] = 1; // nothing listens there: refused at once
    auto server = ZNTServer::create(params);
    auto databases = server->descendantQuery();
    auto page = std::make_shared<ZNTVariousObjectsQuery>(server->mainDatabase());
    runListing(databases);
    runListing(page);
    EXPECT_NE(databases->error(), nullptr);
    EXPECT_FALSE(databases->objects().has_value());
    EXPECT_NE(page->error(), nullptr);
    EXPECT_EQ(page->objects(), ZNTObjectList());
}
