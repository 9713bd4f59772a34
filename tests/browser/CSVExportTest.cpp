#include "ExportTestSupport.h"
#include "browser/BrowserPages.h"
#include "window/ZNTSidebarController.h"
#include "window/ZNTSidebarOutlineView.h"
#include "window/ZNTSidebarTreeModel.h"

#include <QFileDialog>
#include <QProgressBar>

using namespace exporttest;

namespace {
class CSVExport : public ::testing::Test {
protected:
    void SetUp() override {
        db.run(kShop);
        window.resize(600, 400);
        window.show();
    }

    QString psqlFile(const QString &sql) {
        const QString path = dir.filePath(QStringLiteral("psql-%1.csv").arg(++psqlFiles));
        psqlCopy(db.name, sql, path);
        return path;
    }

    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server = connectedServer(db.name);
    QTemporaryDir dir;
    QWidget window;
    int psqlFiles = 0;
};

// A query editor's result as the export reads it: its columns shown in reverse.
class ReversedResult : public CSVExportResultSource {
public:
    explicit ReversedResult(std::shared_ptr<ZNTResult> result) : m_result(std::move(result)) {}
    ZNTColumnList columns() const override { return m_result->columns(); }
    std::vector<int> columnIndices() const override {
        std::vector<int> order;
        for (int c = int(m_result->columns().size()) - 1; c >= 0; --c)
            order.push_back(c);
        return order;
    }
    std::shared_ptr<const RowStore> rows() const override { return m_result->rows(); }

private:
    std::shared_ptr<ZNTResult> m_result;
};
} // namespace

TEST_F(CSVExport, RelationsOfOneNameGetNumberedFilesThatMatchPsqlsCopy) {
    auto exporter =
        CSVExportManager::withTables({relation(server, "shop", "orders"), relation(server, "archive", "orders"),
                                      relation(server, "shop", "customers")});
    EXPECT_EQ(exporter->suggestedFileName(), "Exported Tables");
    const QString folder = dir.filePath("Exported Tables");
    exporter->exportToLocation(&window, folder);
    exporter.reset(); // the export keeps itself alive
    ASSERT_TRUE(exportsEnded());
    EXPECT_FALSE(window.findChild<Alert *>());
    ASSERT_EQ(entries(folder), (QStringList{"customers.csv", "orders 2.csv", "orders.csv"}));

    EXPECT_EQ(compareWithPsql(psqlFile("SELECT * FROM shop.orders"), kShopOrdersKinds, folder + "/orders.csv"),
              "bytes-equal\nrows-equal");
    EXPECT_EQ(compareWithPsql(psqlFile("SELECT * FROM archive.orders"), "ns", folder + "/orders 2.csv"),
              "bytes-equal\nrows-equal");
    EXPECT_EQ(compareWithPsql(psqlFile("SELECT * FROM shop.customers"), "nss", folder + "/customers.csv"),
              "bytes-equal\nrows-equal");
    EXPECT_EQ(entries(dir.path()), (QStringList{"Exported Tables", "psql-1.csv", "psql-2.csv", "psql-3.csv"}))
        << "no temporary folder is left";
}

TEST_F(CSVExport, AFetchedResultIsWrittenAsTheServerWouldSendIt) {
    auto query = ZNTQuery::create("SELECT * FROM shop.orders");
    runAndWait(query, server->mainConnection());
    ASSERT_FALSE(query->results().isEmpty());
    const auto result = query->results().first();

    auto exporter = CSVExportManager::withResult(result);
    EXPECT_EQ(exporter->suggestedFileName(), "Query Results.csv");
    exporter->exportToLocation(&window, dir.filePath("result.csv"));
    ASSERT_TRUE(exportsEnded());
    EXPECT_EQ(compareWithPsql(psqlFile("SELECT * FROM shop.orders"), kShopOrdersKinds, dir.filePath("result.csv")),
              "bytes-equal\nrows-equal");

    // A query editor's result in its on-screen order: each row reversed.
    CSVExportManager::withQueryViewResult(std::make_shared<ReversedResult>(result))
        ->exportToLocation(&window, dir.filePath("shown.csv"));
    ASSERT_TRUE(exportsEnded());
    const QByteArray same = runPython("import csv, sys\n"
                                      "a = list(csv.reader(open(sys.argv[1], newline='')))\n"
                                      "b = list(csv.reader(open(sys.argv[2], newline='')))\n"
                                      "print([r[::-1] for r in a] == b and len(b) == 5)\n",
                                      {dir.filePath("result.csv"), dir.filePath("shown.csv")});
    EXPECT_EQ(same.trimmed(), "True");
}

namespace {
// A filter of the table page: a fixed condition.
class Condition : public ZNTFilterCondition {
public:
    explicit Condition(QString sql) : m_sql(std::move(sql)) {}
    QString sqlForConnection(const ZNTConnection &) const override { return m_sql; }

private:
    QString m_sql;
};
} // namespace

// What the table page hands over: its query for every row, sorted and filtered
// as the page shows them.
TEST_F(CSVExport, ATablePagesQueryIsWrittenInItsOrderWithoutPaging) {
    auto orders = relation(server, "shop", "orders");
    ASSERT_EQ(loadAndWait(orders->metadata()), nullptr);
    auto query = orders->queryWithOffset(0, 0, nullptr, false, {std::make_shared<Condition>("id <> 2")});
    EXPECT_FALSE(query->sql().contains("LIMIT"));
    auto exporter = CSVExportManager::withQuery(query);
    exporter->setConnection(orders->database()->connection());
    exporter->setSuggestedName("orders (filtered)");
    EXPECT_EQ(exporter->suggestedFileName(), "orders (filtered).csv");
    exporter->exportToLocation(&window, dir.filePath("orders (filtered).csv"));
    ASSERT_TRUE(exportsEnded());
    EXPECT_EQ(compareWithPsql(psqlFile(query->sql()), kShopOrdersKinds, dir.filePath("orders (filtered).csv")),
              "bytes-equal\nrows-equal");
    const QList<QByteArray> lines = fileBytes(dir.filePath("orders (filtered).csv")).split('\n');
    EXPECT_TRUE(lines.value(1).startsWith("4,")) << "the page's order: by key, descending";
}

TEST_F(CSVExport, SlashesInNamesStayInsideTheExportFolder) {
    db.run(R"(CREATE SCHEMA odd; CREATE TABLE odd."a/b" (x int); CREATE TABLE odd."../../x" (y int);
              INSERT INTO odd."../../x" VALUES (7))");
    const QString folder = dir.filePath("out");
    CSVExportManager::withTables({relation(server, "odd", "a/b"), relation(server, "odd", "../../x")})
        ->exportToLocation(&window, folder);
    ASSERT_TRUE(exportsEnded());
    EXPECT_EQ(entries(folder), (QStringList{"..-..-x.csv", "a-b.csv"}));
    EXPECT_EQ(fileBytes(folder + "/..-..-x.csv"), "\"y\"\n7\n");
    EXPECT_EQ(entries(dir.path()), QStringList{"out"});
    EXPECT_EQ(entries(dir.filePath("..")).filter("x.csv"), QStringList());
}

// -1 (never analysed) counts as no rows: were it taken as a huge unsigned
// count, the bar would stand still near its start.
TEST_F(CSVExport, ARelationNeverAnalysedStillMovesTheBarByItsShare) {
    db.run("CREATE TABLE fresh (n int) WITH (autovacuum_enabled = off);"
           "INSERT INTO fresh SELECT generate_series(1, 2000);"
           "CREATE TABLE known (n int); INSERT INTO known SELECT generate_series(1, 10); ANALYZE known;");
    ASSERT_EQ(db.run("SELECT reltuples FROM pg_class WHERE relname = 'fresh'"), "-1");
    auto fresh = relation(server, "public", "fresh");
    auto known = relation(server, "public", "known");
    auto exporter = CSVExportManager::withTables({fresh, known});
    exporter->exportToLocation(&window, dir.filePath("two"));
    ASSERT_TRUE(exporter->progressSheet());
    std::vector<int> values;
    QObject::connect(exporter->progressSheet()->progressBar(), &QProgressBar::valueChanged,
                     [&](int value) { values.push_back(value); });
    ASSERT_TRUE(exportsEnded());
    EXPECT_EQ(fresh->approxNumRows(), 0);
    EXPECT_EQ(known->approxNumRows(), 10);
    EXPECT_EQ(exporter->progress().rowsWritten, 2010);
    // After the first: 50 of 50 + 50 + 10 units, times 0.95, plus 0.05 for rows written.
    const int afterFirst = int((50.0 / 110.0 * 0.95 + 0.05) * 1000);
    EXPECT_NE(std::find(values.begin(), values.end(), afterFirst), values.end()) << ::testing::PrintToString(values);
}

TEST_F(CSVExport, TheSidebarExportsItsClickedRelationsThroughTheSaveDialog) {
    db.run("CREATE TABLE public.notes (id int, body text); INSERT INTO public.notes VALUES (1, 'hello')");
    BrowserPages::install();
    ZNTSidebarController sidebar(&window);
    sidebar.setRootItem(server->mainDatabase());
    ASSERT_TRUE(pumpUntil([&] { return sidebar.model()->runningLoads() == 0 && sidebar.model()->rowCount() > 1; }));
    QModelIndex notes, shop;
    for (int r = 0; r < sidebar.model()->rowCount(); ++r) {
        const QModelIndex index = sidebar.model()->index(r, 0);
        if (index.data().toString() == "notes")
            notes = index;
        if (index.data().toString() == "shop")
            shop = index;
    }
    ASSERT_TRUE(notes.isValid() && shop.isValid());

    // A schema among the clicked rows: nothing to export.
    auto *selection = sidebar.outlineView()->selectionModel();
    selection->select(notes, QItemSelectionModel::Select);
    selection->select(shop, QItemSelectionModel::Select);
    sidebar.setClickedRow(notes);
    EXPECT_FALSE(sidebar.validateMenuItem(ZNTSidebarController::Command::ExportSidebarItem));
    selection->clearSelection();
    sidebar.setClickedRow(notes);
    ASSERT_TRUE(sidebar.validateMenuItem(ZNTSidebarController::Command::ExportSidebarItem));

    sidebar.performMenuAction(ZNTSidebarController::Command::ExportSidebarItem);
    QFileDialog *panel = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (panel = window.findChild<QFileDialog *>()) && panel->isVisible(); }));
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "notes.csv");
    panel->selectFile(dir.filePath("chosen.csv"));
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(exportsEnded());
    EXPECT_EQ(fileBytes(dir.filePath("chosen.csv")), "\"id\",\"body\"\n1,\"hello\"\n");
}

TEST(CSVExportNames, TheSuggestedNameSaysWhetherOneFileOrAFolderIsMade) {
    auto database = std::make_shared<ZNTDatabase>("d", nullptr);
    auto table = ZNTTable::create("orders", "shop", database);
    EXPECT_EQ(CSVExportManager::withTables({table})->suggestedFileName(), "orders.csv");
    EXPECT_EQ(CSVExportManager::withTables({table, table})->suggestedFileName(), "Exported Tables");
    auto filtered = CSVExportManager::withQuery(ZNTQuery::create("SELECT 1"));
    filtered->setSuggestedName("orders (filtered)");
    EXPECT_EQ(filtered->suggestedFileName(), "orders (filtered).csv");
    auto named = CSVExportManager::withTables({table, table});
    named->setSuggestedName("Backup");
    EXPECT_EQ(named->suggestedFileName(), "Backup");
}

TEST(CSVExportProgress, TheBarIsBusyWithoutEstimatesAndCountsEachTableAsFiftyUnits) {
    CSVExportProgress progress;
    EXPECT_FALSE(progress.fraction()) << "a query has no estimate";
    progress.rowsWritten = 5;
    EXPECT_FALSE(progress.fraction());
    EXPECT_EQ(progress.text(), "5 rows written\u2026");
    progress.tablesInExport = 2;
    progress.estimatedAll = 100;
    progress.currentEstimate = 100;
    progress.currentWritten = 5000000000ull; // more than the estimate, and than 32 bits
    EXPECT_DOUBLE_EQ(*progress.fraction(), 100.0 / 200.0 * 0.95 + 0.05);
    EXPECT_EQ(CSVExportProgress::estimateFromReltuples(-1), 0u);
    EXPECT_EQ(CSVExportProgress::estimateFromReltuples(1e10), 10000000000ull);
}
