#include "ServerTestSupport.h"
#include "model/Tablespace.h"
#include "model/ZNTAnyColumn.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTObjectKey.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "model/ZNTTerminal.h"

#include <QHash>
#include <unordered_map>

namespace {

struct Items {
    std::shared_ptr<ZNTServer> server = ZNTServer::create({});
    std::shared_ptr<ZNTServer> otherServer = ZNTServer::create({});
    std::shared_ptr<ZNTDatabase> d = std::make_shared<ZNTDatabase>("d", server);
    std::shared_ptr<ZNTDatabase> d2 = std::make_shared<ZNTDatabase>("d", server);
    std::shared_ptr<ZNTDatabase> e = std::make_shared<ZNTDatabase>("e", server);
    std::shared_ptr<ZNTDatabase> dElsewhere = std::make_shared<ZNTDatabase>("d", otherServer);
};

// Every item kind, with equal twins made separately, and near misses.
ZNTObjectList everyKind(const Items &i) {
    return {
        i.d,
        i.d2,
        i.e,
        i.dElsewhere,
        std::make_shared<ZNTSchema>("s", i.d),
        std::make_shared<ZNTSchema>("s", i.d2),
        std::make_shared<ZNTSchema>("s", i.e),
        std::make_shared<ZNTSchema>("t", i.d),
        ZNTTable::create("t", "s", i.d),
        ZNTView::create("t", "s", i.d2),
        ZNTMaterializedView::create("t", "s", i.d),
        ZNTTable::create("t", "public", i.d),
        ZNTTable::create("t", "s", i.e),
        ZNTTable::create("t", "s", i.dElsewhere),
        ZNTTable::create("", "s", i.d),
        ZNTView::create("", "s", i.d),
        std::make_shared<ZNTTableSchema>(ZNTTable::create("t", "s", i.d)),
        std::make_shared<ZNTTableSchema>(ZNTView::create("t", "s", i.d2)),
        std::make_shared<ZNTTableSchema>(ZNTTable::create("u", "s", i.d)),
        std::make_shared<ZNTQueryObject>(i.d),
        std::make_shared<ZNTQueryObject>(i.d2),
        std::make_shared<ZNTQueryObject>(i.e),
        Tablespace::create("pg_default"),
        Tablespace::create("pg_default"),
        i.server,
        std::make_shared<ZNTTerminal>(i.d),
        std::make_shared<ZNTTerminal>(i.d2),
        std::make_shared<ZNTTerminal>(i.e),
    };
}

} // namespace

TEST(ItemIdentity, EqualityIsSymmetricAndEqualItemsHashAlike) {
    Items items;
    const ZNTObjectList all = everyKind(items);
    std::static_pointer_cast<ZNTQueryObject>(all[20])->setName("renamed");
    for (const auto &a : all) {
        EXPECT_TRUE(a->isEqual(*a)) << a->name().toStdString();
        for (const auto &b : all) {
            EXPECT_EQ(a->isEqual(*b), b->isEqual(*a)) << a->name().toStdString() << " / " << b->name().toStdString();
            if (a->isEqual(*b)) {
                EXPECT_EQ(a->hash(), b->hash()) << a->name().toStdString() << " / " << b->name().toStdString();
            }
        }
    }
}

TEST(ItemIdentity, EachKindIsEqualByNameAndOwnerOnly) {
    Items i;
    const ZNTObjectList all = everyKind(i);
    const auto equal = [&](int a, int b) { return all[a]->isEqual(*all[b]); };
    EXPECT_TRUE(equal(0, 1));    // databases: name and server
    EXPECT_FALSE(equal(0, 2));   // another name
    EXPECT_FALSE(equal(0, 3));   // the same name on another server
    EXPECT_TRUE(equal(4, 5));    // schemas of equal databases
    EXPECT_FALSE(equal(4, 6));   // another database
    EXPECT_FALSE(equal(4, 7));   // another name
    EXPECT_TRUE(equal(8, 9));    // a view equals a table of the same name, schema and database
    EXPECT_TRUE(equal(8, 10));   // and so does a materialized view
    EXPECT_FALSE(equal(8, 11));  // another schema
    EXPECT_FALSE(equal(8, 12));  // another database
    EXPECT_FALSE(equal(8, 13));  // another server
    EXPECT_FALSE(equal(14, 15)); // nameless relations equal nothing but themselves
    EXPECT_FALSE(equal(8, 16));  // a relation is not its structure item
    EXPECT_NE(all[8]->hash(), all[16]->hash());
    EXPECT_TRUE(equal(16, 17)); // structure items of equal relations
    EXPECT_FALSE(equal(16, 18));
    EXPECT_TRUE(equal(19, 20)); // any two "SQL Query" items of one database
    EXPECT_FALSE(equal(19, 21));
    EXPECT_FALSE(equal(22, 23)); // tablespaces are values compared by identity
    EXPECT_FALSE(equal(0, 4));   // no kind equals another
    EXPECT_FALSE(equal(19, 0));
    EXPECT_TRUE(equal(25, 26)); // terminals of equal databases
    EXPECT_FALSE(equal(25, 27));
    EXPECT_FALSE(equal(25, 19)); // a terminal is not the database's "SQL Query" item
    EXPECT_EQ(all[25]->hash(), all[0]->hash() ^ 0x5445524D);
    EXPECT_EQ(all[25]->name(), QStringLiteral("SQL Terminal"));
    EXPECT_TRUE(sameItem(all[25]->parent(), all[1]));
}

// Two favorites may reach one server: their items of a relation are not equal,
// but are the same relation there. One of the same name in another schema is
// not, nor is one through the same SSH host on another SSH port.
TEST(ItemIdentity, ARelationIsTheSameOnlyOnTheSameHostPortAndTunnel) {
    std::vector<std::shared_ptr<ZNTServer>> servers;
    auto relation = [&](const QVariantMap &params, const QString &schema = "s") {
        servers.push_back(ZNTServer::create(params));
        return ZNTTable::create("t", schema, std::make_shared<ZNTDatabase>("d", servers.back()));
    };
    const QVariantMap ann{{"host", "db"}, {"port", 5433}, {"user", "ann"}}, bob{{"host", "db"}, {"port", 5433}},
        port{{"host", "db"}, {"port", 5434}},
        gate{{"host", "db"}, {"port", 5433}, {"sshEnabled", true}, {"sshHost", "g"}, {"sshPort", 22}},
        gate2{{"host", "db"}, {"port", 5433}, {"sshEnabled", true}, {"sshHost", "g2"}, {"sshPort", 22}},
        gatePort{{"host", "db"}, {"port", 5433}, {"sshEnabled", true}, {"sshHost", "g"}, {"sshPort", 2222}};
    EXPECT_TRUE(relation(ann)->isSameRelationAs(*relation(bob)));
    EXPECT_FALSE(relation(ann)->isEqual(*relation(bob)));
    EXPECT_FALSE(relation(ann)->isSameRelationAs(*relation(bob, "public")));
    EXPECT_FALSE(relation(ann)->isSameRelationAs(*relation(port)));
    EXPECT_FALSE(relation(ann)->isSameRelationAs(*relation(gate)));
    EXPECT_TRUE(relation(gate)->isSameRelationAs(*relation(gate)));
    EXPECT_FALSE(relation(gate)->isSameRelationAs(*relation(gate2)));
    EXPECT_FALSE(relation(gate)->isSameRelationAs(*relation(gatePort)));
}

TEST(ItemIdentity, ContainersFindAnItemThroughAnEqualItemOfAnotherClass) {
    Items i;
    QHash<ZNTObjectKey, QString> controllers;
    controllers.insert(ZNTTable::create("orders", "public", i.d), "table page");
    auto query = std::make_shared<ZNTQueryObject>(i.d);
    controllers.insert(query, "query page");
    controllers.insert(std::make_shared<ZNTTableSchema>(ZNTTable::create("orders", "public", i.d)), "structure page");

    EXPECT_EQ(controllers.value(ZNTView::create("orders", "public", i.d2)), "table page");
    EXPECT_EQ(
        controllers.value(std::make_shared<ZNTTableSchema>(ZNTMaterializedView::create("orders", "public", i.d2))),
        "structure page");
    // The query item keeps its entry while its name changes.
    query->setName("SELECT 1");
    EXPECT_EQ(controllers.value(std::make_shared<ZNTQueryObject>(i.d2)), "query page");
    EXPECT_EQ(controllers.size(), 3);
    EXPECT_FALSE(controllers.contains(ZNTTable::create("orders", "sales", i.d)));

    std::unordered_map<ZNTObjectKey, int> counts;
    ++counts[ZNTTable::create("t", "s", i.d)];
    ++counts[ZNTView::create("t", "s", i.d2)];
    ++counts[std::make_shared<ZNTSchema>("s", i.d)];
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[ZNTMaterializedView::create("t", "s", i.d)], 2);
}

TEST(ItemIdentity, ItemsStayEqualToThemselvesAndTheirCopiesOnceTheServerIsGone) {
    auto server = ZNTServer::create({});
    auto database = std::make_shared<ZNTDatabase>("d", server);
    auto table = ZNTTable::create("t", "s", database);
    QSet<ZNTObjectKey> keys{table, std::make_shared<ZNTSchema>("s", database)};
    server.reset();
    EXPECT_TRUE(table->isEqual(*table->copy()));
    EXPECT_TRUE(keys.contains(ZNTView::create("t", "s", database->copy())));
    EXPECT_TRUE(keys.contains(std::make_shared<ZNTSchema>("s", database)));
    // Without a server there is no connection, so no structure either.
    EXPECT_EQ(table->metadata(), nullptr);
    table->purgeMetadata();
}

TEST(ItemIdentity, CopiesKeepClassAndIdentityButNotEstimates) {
    Items i;
    auto view = ZNTView::create("v", "s", i.d);
    view->setApproxNumRows(10);
    view->setApproxPages(3);
    view->setApproxIndexPages(2);
    auto copy = view->copy();
    EXPECT_NE(copy, view);
    EXPECT_EQ(copy->type(), ZNTTable::ZNTTableTypeView);
    EXPECT_EQ(copy->kind(), "View");
    EXPECT_TRUE(copy->isEqual(*view));
    EXPECT_EQ(copy->approxNumRows() + copy->approxPages() + copy->approxIndexPages(), 0);
    EXPECT_EQ(ZNTMaterializedView::create("m", "s", i.d)->copy()->kind(), "Materialized View");

    auto nameless = ZNTTable::create("", "s", i.d);
    EXPECT_EQ(nameless->copy(), nameless);
    EXPECT_EQ(nameless->metadata(), nullptr);
    EXPECT_EQ(nameless->prefContainerCreateIfNotExists(true), nullptr);

    auto query = std::make_shared<ZNTQueryObject>(i.d);
    query->setName("mine");
    query->setSql("select 1");
    EXPECT_EQ(query->copy()->name(), "SQL Query");
    EXPECT_TRUE(query->copy()->sql().isNull());
    auto tablespace = Tablespace::create("x");
    EXPECT_EQ(tablespace->copy(), tablespace);
}

TEST(ItemIdentity, ParentsLeadUpToTheServer) {
    Items i;
    auto table = ZNTTable::create("t", "s", i.d);
    EXPECT_EQ(table->parent(), i.d); // the database, never the schema
    EXPECT_EQ(std::make_shared<ZNTTableSchema>(table)->parent(), i.d);
    EXPECT_EQ(std::make_shared<ZNTTableSchema>(table)->name(), "t");
    EXPECT_EQ(std::make_shared<ZNTSchema>("s", i.d)->parent(), i.d);
    EXPECT_EQ(i.d->queryObject()->parent(), i.d);
    EXPECT_EQ(i.d->parent(), i.server);
    EXPECT_EQ(i.server->parent(), nullptr);
}

TEST(ItemIdentity, AnyColumnIsKnownThroughAColumnPointerAndCopiesWithItsTable) {
    Items i;
    auto table = ZNTTable::create("t", "s", i.d);
    std::shared_ptr<ZNTColumn> column = std::make_shared<ZNTAnyColumn>(table);
    column->setTypeName("text");
    const auto copy = column->copy();
    const auto any = std::dynamic_pointer_cast<ZNTAnyColumn>(copy);
    ASSERT_NE(any, nullptr) << "a filter recognises the any-column behind a plain column pointer";
    EXPECT_EQ(any->table(), table);
    EXPECT_TRUE(copy->typeName().isEmpty()) << "a copy carries the table and nothing else";
    EXPECT_EQ(column->hash(), table->hash());
    EXPECT_EQ(qHash(*column), qHash(*std::make_shared<ZNTAnyColumn>(ZNTView::create("t", "s", i.d2))));
    EXPECT_TRUE(column->isEqual(ZNTColumn(""))) << "its name is empty, and columns are equal by name";
    EXPECT_FALSE(column->isEqual(ZNTColumn("t")));
}
