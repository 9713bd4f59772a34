// The database page's tree apart from its widgets: the order of schemas and
// relations, the column texts, how batches change the model, and which
// commands apply to what.
#include "TestSupport.h"
#include "browser/ZNTDatabaseOverview.h"
#include "browser/ZNTDatabaseTreeModel.h"
#include "engine/SizeFormatting.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTSchema.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "uikit/IconView.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace ZNTDatabaseOverview;

namespace {

class DatabaseOverviewTest : public ::testing::Test {
protected:
    std::shared_ptr<ZNTServer> server = ZNTServer::create({{"host", "127.0.0.1"}, {"dbname", "shop"}});
    std::shared_ptr<ZNTDatabase> database = std::make_shared<ZNTDatabase>("shop", server);

    std::shared_ptr<ZNTTable> table(const QString &schema, const QString &name, qint64 rows = 0, qint64 pages = 0,
                                    qint64 indexPages = 0) {
        auto made = ZNTTable::create(name, schema, database);
        made->setApproxNumRows(rows);
        made->setApproxPages(pages);
        made->setApproxIndexPages(indexPages);
        return made;
    }

    // "schema: name name ..." per top-level row, as the model shows it.
    static QStringList tree(const QAbstractItemModel &model) {
        QStringList rows;
        for (int r = 0; r < model.rowCount(); ++r) {
            const QModelIndex top = model.index(r, 0);
            QStringList names;
            for (int c = 0; c < model.rowCount(top); ++c)
                names << model.index(c, 0, top).data().toString();
            rows << (names.isEmpty() ? top.data().toString()
                                     : top.data().toString() + QStringLiteral(": ") + names.join(u' '));
        }
        return rows;
    }
};

} // namespace

TEST(NaturalOrder, LettersWithoutCaseAndDigitRunsByValue) {
    EXPECT_LT(naturalCompare("T9", "t10"), 0);
    EXPECT_GT(naturalCompare("t10", "T9"), 0);
    EXPECT_LT(naturalCompare("Sales2", "sales10"), 0);
    EXPECT_EQ(naturalCompare("Orders", "orders"), 0);
    EXPECT_EQ(naturalCompare("t007", "t7"), 0);
    EXPECT_LT(naturalCompare("t2b", "t10a"), 0);
    EXPECT_LT(naturalCompare("t", "t1"), 0);
    EXPECT_LT(naturalCompare("log_2023_9", "log_2023_10"), 0);
    EXPECT_LT(naturalCompare("a99999999999999999999", "a100000000000000000000"), 0); // beyond 64 bits
    EXPECT_EQ(naturalCompare("", ""), 0);
}

TEST(NaturalOrder, SchemasPublicFirstThenByNameThenTheCatalogs) {
    QStringList names = {"information_schema", "sales10", "pg_catalog", "Sales2", "public", "archive", "Sales"};
    std::sort(names.begin(), names.end(), schemaComesFirst);
    EXPECT_EQ(names,
              QStringList({"public", "archive", "Sales", "Sales2", "sales10", "pg_catalog", "information_schema"}));
    EXPECT_TRUE(schemaComesFirst("Sales", "sales")); // two schemas that differ only in case still have an order
    EXPECT_FALSE(schemaComesFirst("sales", "Sales"));
}

TEST_F(DatabaseOverviewTest, GroupsBySchemaAndKeepsTheListingsOrderForEqualNames) {
    auto lower = table("public", "orders"), upper = table("public", "Orders");
    const ZNTObjectList objects = {table("sales10", "b"),
                                   table("Sales2", "t10"),
                                   table("Sales2", "T9"),
                                   lower,
                                   table("public", "a"),
                                   upper,
                                   ZNTView::create("v", "Sales2", database)};
    const auto groups = group(objects, database);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].schema->name(), "public");
    ASSERT_EQ(groups[0].relations.size(), 3u);
    EXPECT_EQ(groups[0].relations[0]->name(), "a");
    EXPECT_EQ(groups[0].relations[1], lower); // "orders" came first
    EXPECT_EQ(groups[0].relations[2], upper);
    EXPECT_EQ(groups[1].schema->name(), "Sales2");
    EXPECT_EQ(groups[1].relations[0]->name(), "T9");
    EXPECT_EQ(groups[1].relations[1]->name(), "t10");
    EXPECT_EQ(groups[1].relations[2]->name(), "v");
    EXPECT_TRUE(groups[1].schema->isEqual(ZNTSchema("Sales2", database)));
}

TEST_F(DatabaseOverviewTest, TheTreeHeadsWithSQLQueryAndEndsWithTheCatalogs) {
    ZNTDatabaseTreeModel model(database);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(tree(model), QStringList({"SQL Query"}));
    model.replaceObjects({table("information_schema", "sql_features"), table("pg_catalog", "pg_class"),
                          table("zoo", "z"), table("public", "p"), table("alpha", "a")});
    EXPECT_EQ(tree(model), QStringList({"SQL Query", "public: p", "alpha: a", "zoo: z", "pg_catalog: pg_class",
                                        "information_schema: sql_features"}));
    EXPECT_EQ(model.itemForIndex(model.index(0, 0))->objectKind(), ZNTObjectKind::QueryObject);
    EXPECT_FALSE(model.hasChildren(model.index(0, 0)));
    EXPECT_EQ(model.indexForItem(*table("zoo", "z")), model.index(0, 0, model.schemaIndex("zoo")));
    EXPECT_EQ(model.indexForItem(ZNTSchema("alpha", database)), model.index(2, 0));
    EXPECT_EQ(model.indexForItem(*database->queryObject()), model.index(0, 0));
    EXPECT_FALSE(model.indexForItem(*table("zoo", "missing")).isValid());
}

TEST_F(DatabaseOverviewTest, ColumnsSayDashesWhereThereIsNothingToSay) {
    using M = ZNTDatabaseTreeModel;
    auto full = table("public", "orders", 1200, 30, 4);
    EXPECT_EQ(M::columnText(*full, M::Schema), "public");
    EXPECT_EQ(M::columnText(*full, M::Kind), "Table");
    EXPECT_EQ(M::columnText(*full, M::Rows), "1200");
    EXPECT_EQ(M::columnText(*full, M::Size), stringFromSize(30 * 8192));
    EXPECT_EQ(M::columnText(*full, M::IndexSize), stringFromSize(4 * 8192));
    auto neverAnalysed = table("public", "fresh", -1, 0, 0);
    EXPECT_EQ(M::columnText(*neverAnalysed, M::Rows), "--");
    EXPECT_EQ(M::columnText(*neverAnalysed, M::Size), "0 bytes");
    EXPECT_EQ(M::columnText(*neverAnalysed, M::IndexSize), "--");
    auto partitioned = table("public", "measurements", -1, -1, 0); // its pages live in its partitions
    EXPECT_EQ(M::columnText(*partitioned, M::Size), "--");
    auto view = ZNTView::create("recent", "public", database);
    view->setApproxNumRows(5);
    view->setApproxPages(5);
    view->setApproxIndexPages(5);
    for (int column : {M::Rows, M::Size, M::IndexSize})
        EXPECT_EQ(M::columnText(*view, column), "--") << column;
    EXPECT_EQ(M::columnText(*view, M::Kind), "View");
    auto materialized = ZNTMaterializedView::create("totals", "public", database);
    materialized->setApproxNumRows(7);
    EXPECT_EQ(M::columnText(*materialized, M::Rows), "7");
    EXPECT_EQ(M::columnText(*materialized, M::Kind), "Materialized View");
    for (int column : {M::Schema, M::Kind, M::Rows, M::Size, M::IndexSize}) {
        EXPECT_EQ(M::columnText(ZNTSchema("public", database), column), "--");
        EXPECT_EQ(M::columnText(*database->queryObject(), column), "--");
    }
}

// Batches arrive in any split: whatever the split, the tree ends as the
// grouping of everything, and no step resets the model.
TEST_F(DatabaseOverviewTest, BatchesInsertRowsInPlaceWithoutAReset) {
    ZNTObjectList all;
    for (const char *schema : {"public", "sales", "Sales2", "archive"}) {
        for (int i = 0; i < 40; ++i)
            all << table(schema, QStringLiteral("%1t%2").arg(i % 3 ? "" : "T").arg(i * 7 % 41));
    }
    QStringList expected;
    {
        ZNTDatabaseTreeModel whole(database);
        whole.replaceObjects(all);
        expected = tree(whole);
    }
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < 20; ++round) {
        ZNTDatabaseTreeModel model(database);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        int resets = 0;
        QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
        ZNTObjectList order = all;
        std::shuffle(order.begin(), order.end(), *random);
        qsizetype at = random->bounded(1, 30);
        model.replaceObjects(order.mid(0, at));
        while (at < order.size()) {
            const qsizetype n = random->bounded(1, 40);
            model.appendObjects(order.mid(at, n));
            at += n;
        }
        EXPECT_EQ(resets, 0);
        ASSERT_EQ(tree(model), expected) << "round " << round;
    }
}

TEST_F(DatabaseOverviewTest, ANewListingKeepsTheRowsOfWhatStaysAndTakesItsEstimates) {
    ZNTDatabaseTreeModel model(database);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.replaceObjects({table("public", "a", 1), table("public", "b", 1), table("public", "c", 1), table("gone", "x"),
                          table("sales", "s")});
    const QPersistentModelIndex b = model.indexForItem(*table("public", "b"));
    const QPersistentModelIndex sales = model.schemaIndex("sales");
    int changes = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++changes; });
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    model.replaceObjects({table("public", "a0"), table("public", "b", 99), table("public", "d"), table("sales", "s"),
                          table("new", "n")});
    EXPECT_EQ(tree(model), QStringList({"SQL Query", "public: a0 b d", "new: n", "sales: s"}));
    EXPECT_EQ(resets, 0);
    ASSERT_TRUE(b.isValid());
    EXPECT_EQ(b.row(), 1);
    EXPECT_EQ(b.sibling(b.row(), ZNTDatabaseTreeModel::Rows).data().toString(), "99");
    EXPECT_GT(changes, 0);
    EXPECT_TRUE(sales.isValid());
    EXPECT_EQ(sales.data().toString(), "sales");
    model.replaceObjects({});
    EXPECT_EQ(tree(model), QStringList({"SQL Query"}));
}

TEST_F(DatabaseOverviewTest, TheGridRolesComeFromColumnZero) {
    ZNTDatabaseTreeModel model(database);
    model.replaceObjects({table("public", "orders")});
    const QModelIndex orders = model.index(0, 0, model.schemaIndex("public"));
    EXPECT_FALSE(orders.data(IconView::BigImageRole).value<QIcon>().isNull());
    EXPECT_FALSE(orders.data(Qt::DecorationRole).value<QIcon>().isNull());
    // Identity by equality: a fresh item of the same relation is the same identity.
    EXPECT_EQ(orders.data(IconView::IdentityRole), ZNTDatabaseTreeModel::identity(table("public", "orders")));
    EXPECT_NE(orders.data(IconView::IdentityRole), ZNTDatabaseTreeModel::identity(table("public", "other")));
    EXPECT_EQ(model.schemaIndex("public").data(IconView::IdentityRole),
              ZNTDatabaseTreeModel::identity(std::make_shared<ZNTSchema>("public", database)));
}

TEST_F(DatabaseOverviewTest, CommandsFollowTheClickedItems) {
    const auto orders = table("public", "orders");
    const auto report = ZNTView::create("report", "sales", database);
    const auto totals = ZNTMaterializedView::create("totals", "sales", database);
    const auto schema = std::make_shared<ZNTSchema>("sales", database);
    const auto query = database->queryObject();
    const ZNTObjectList none;
    EXPECT_TRUE(isEnabled(Command::Open, {query}));
    EXPECT_FALSE(isEnabled(Command::Open, {schema}));
    EXPECT_FALSE(isEnabled(Command::Open, {orders, report}));
    EXPECT_FALSE(isEnabled(Command::OpenInNewWindow, none));
    EXPECT_TRUE(isEnabled(Command::OpenStructure, {orders, report}));
    EXPECT_FALSE(isEnabled(Command::OpenStructure, {orders, schema}));
    EXPECT_TRUE(isEnabled(Command::Drop, {report, totals}));
    EXPECT_FALSE(isEnabled(Command::Drop, {query}));
    EXPECT_TRUE(isEnabled(Command::Export, {orders, report, totals}));
    EXPECT_FALSE(isEnabled(Command::Export, {orders, query}));
    EXPECT_TRUE(isEnabled(Command::Analyze, {orders, totals}));
    EXPECT_FALSE(isEnabled(Command::Analyze, {report}));
    EXPECT_TRUE(isEnabled(Command::Truncate, {orders}));
    EXPECT_FALSE(isEnabled(Command::Truncate, {totals}));
    EXPECT_TRUE(isEnabled(Command::RefreshMaterializedView, {totals}));
    EXPECT_TRUE(isEnabled(Command::Cluster, {schema}));
    EXPECT_TRUE(isEnabled(Command::NewView, none));

    EXPECT_EQ(schemaForNewRelation({report}), "sales");
    EXPECT_EQ(schemaForNewRelation({schema}), "sales");
    EXPECT_EQ(schemaForNewRelation({query}), "public");
    EXPECT_EQ(schemaForNewRelation(none), "public");

    EXPECT_EQ(itemToOpen(query, true), query); // Alt does not change the SQL Query item
    auto structure = std::dynamic_pointer_cast<ZNTTableSchema>(itemToOpen(totals, true));
    ASSERT_TRUE(structure);
    EXPECT_EQ(structure->table(), totals);
    EXPECT_EQ(itemToOpen(totals, false), totals);
    EXPECT_EQ(itemToOpen(schema, false), nullptr);
}
