// The window's pages share one session with the SQL Query page and the
// terminal. A transaction the user left open there is theirs: a row save, a
// structure save, maintenance and a drop wait until it ends and say why, and a
// page that cannot load in the user's failed transaction says so. psql, a
// session of its own, sees what was committed.
#include "StructureTestSupport.h"
#include "actions/ZNTRowDeleteQuery.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTDatabaseTreeModel.h"
#include "browser/ZNTDatabaseViewController.h"
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "engine/PGError.h"
#include "uikit/BarButtons.h"
#include "uikit/ProgressSheet.h"

#include <QTreeView>

using namespace structuretest;
using Command = ZNTDatabaseViewController::Command;

namespace {

const QString kOpen = PGError::userTransactionReason(false);
const QString kFailed = PGError::userTransactionReason(true);

class SharedSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { uikittest::useFixedLook(); }
    void SetUp() override {
        db.run(
            "CREATE TABLE t (id int PRIMARY KEY, n int, note text); INSERT INTO t VALUES (1, 10, 'a'), (2, 20, 'b'); "
            "CREATE TABLE scrap (v int)");
        windowtest::resetWindowDefaults();
        BrowserPages::install();
        StructurePages::install();
        server = connectedServer(db.name);
        window = ZNTWindowController::create(server->mainDatabase());
        window->resize(1100, 700);
        uikittest::activate(window.get());
    }
    void TearDown() override {
        closeSheets();
        window->close();
        window.reset();
        windowtest::flushDeferredDeletes();
        for (ZNTPage kind : {ZNTPage::Table, ZNTPage::Row, ZNTPage::Server, ZNTPage::Database, ZNTPage::Structure})
            ZNTContentControllers::setFactory(kind, nullptr);
        ZNTTableViewController::setRowEditorFactory(nullptr);
    }

    // Runs sql on the database's connection as the SQL Query page runs what the
    // user typed: notices included, never reconnecting. The query's error text.
    QString runAsTheEditor(const QString &sql) {
        auto query = ZNTQuery::create(sql);
        query->setIncludeNotices(true);
        bool done = false;
        ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                          [&](const Notification &) { done = true; });
        query->executeInBackgroundOnConnection(server->mainConnection(), false);
        EXPECT_TRUE(pumpUntil([&] { return done; }, 30s)) << sql.toStdString();
        return query->error() ? query->error()->localizedRecoverySuggestion() : QString();
    }
    QString committed() const { return db.run("SELECT string_agg(id || ':' || n, ',' ORDER BY id) FROM t"); }

    std::shared_ptr<ZNTTable> relation(const QString &name) const {
        return ZNTTable::create(name, QStringLiteral("public"), server->mainDatabase());
    }
    ZNTTableViewController *tablePage() {
        window->navigateToItem(relation("t"));
        auto *page = dynamic_cast<ZNTTableViewController *>(window->mainViewController());
        EXPECT_TRUE(page && pumpUntil([&] { return !page->isLoading(); }, 30s));
        return page;
    }
    ZNTTableSchemaController *structurePage() {
        window->navigateToItem(std::make_shared<ZNTTableSchema>(relation("t")));
        auto *page = dynamic_cast<ZNTTableSchemaController *>(window->mainViewController());
        EXPECT_TRUE(page && StructureWindow::waitLoaded(page));
        return page;
    }
    ZNTDatabaseViewController *databasePage() {
        window->navigateToItem(server->mainDatabase());
        auto *page = dynamic_cast<ZNTDatabaseViewController *>(window->mainViewController());
        EXPECT_TRUE(page && pumpUntil([&] { return page->initialQueryDone(); }, 30s));
        return page;
    }

    // Types into a cell of the table page and commits it, as the user does.
    static void typeInto(ZNTTableViewController *page, int row, const QString &column, const QString &value) {
        const QModelIndex index = page->contentModel()->index(row, page->contentModel()->displayColumnNamed(column));
        page->tableView()->setFocus();
        page->tableView()->setCurrentIndex(index);
        page->tableView()->edit(index);
        auto *line = qobject_cast<QLineEdit *>(page->tableView()->indexWidget(index));
        ASSERT_TRUE(line);
        line->selectAll();
        QTest::keyClicks(line, value);
        QTest::keyClick(line, Qt::Key_Return);
    }
    // Saves the table page; the informative text of the failure's sheet, or ""
    // when the save went through.
    static QString saveRows(ZNTTableViewController *page) {
        page->save();
        Alert *alert = nullptr;
        EXPECT_TRUE(pumpUntil(
            [&] {
                alert = qobject_cast<Alert *>(QApplication::activeModalWidget());
                return alert || (!page->isBusy() && (!page->saveBar() || !page->saveBar()->isVisible()));
            },
            30s));
        if (!alert)
            return QString();
        EXPECT_EQ(alert->messageText(), "Could not save changes");
        const QString text = alert->informativeText();
        alert->buttons().first()->click();
        return text;
    }
    // The message of the sheet a failed structure save, maintenance or drop
    // shows, once it is up; it is answered.
    static QString failureSheet(const QString &shot = QString()) {
        Alert *alert = waitForSheet(30s);
        EXPECT_TRUE(alert);
        if (!alert)
            return QString();
        if (!shot.isEmpty())
            saveShots(alert, shot);
        const QString text = alert->messageText();
        alert->buttons().first()->click();
        pumpUntil([&] { return QApplication::activeModalWidget() != alert; }, 5s);
        return text;
    }
    // Runs a command of the database page on scrap and confirms it.
    static void onScrap(ZNTDatabaseViewController *page, Command command) {
        page->setPresentation(ZNTDatabaseViewController::Presentation::List);
        const QModelIndex section = page->model()->schemaIndex(QStringLiteral("public"));
        for (int r = 0; r < page->model()->rowCount(section); ++r) {
            if (page->model()->index(r, 0, section).data().toString() == QLatin1String("scrap"))
                page->outlineView()->selectionModel()->select(page->model()->index(r, 0, section),
                                                              QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
        }
        ASSERT_TRUE(page->validateCommand(command));
        page->performCommand(command);
        Alert *confirm = waitForSheet();
        ASSERT_TRUE(confirm);
        confirm->buttons().first()->click();
        ASSERT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() != confirm; }, 5s));
    }

    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTWindowController> window;
};

} // namespace

TEST_F(SharedSession, WritesForTheUserWaitUntilTheTransactionLeftOpenInTheEditorEnds) {
    ZNTDatabaseViewController *overview = databasePage();
    ASSERT_TRUE(overview);
    ZNTTableViewController *rows = tablePage();
    ASSERT_TRUE(rows);
    typeInto(rows, 1, "n", "21");
    ZNTTableSchemaController *structure = structurePage();
    ASSERT_TRUE(structure);
    structuretest::typeInto(rowNamed(structure, "note")->titleField(), "remark");
    ASSERT_TRUE(structure->hasChanges());

    EXPECT_EQ(runAsTheEditor("BEGIN; UPDATE t SET n = n + 100 WHERE id = 1"), "");
    const QString uncommitted = "1:10,2:20";
    ASSERT_EQ(committed(), uncommitted);

    // A row save: its sheet says why, the edit stays.
    ASSERT_EQ(tablePage(), rows);
    EXPECT_EQ(saveRows(rows), kOpen);
    EXPECT_EQ(rows->saveBar()->statusText(), "1 edited row");
    EXPECT_EQ(committed(), uncommitted);
    // A structure save.
    ASSERT_EQ(structurePage(), structure);
    ASSERT_TRUE(StructureWindow::save(structure));
    EXPECT_EQ(failureSheet(), kOpen);
    EXPECT_TRUE(structure->hasChanges());
    EXPECT_EQ(db.run("SELECT string_agg(attname, ',' ORDER BY attnum) FROM pg_attribute WHERE attrelid = 't'::regclass "
                     "AND attnum > 0"),
              "id,n,note");
    // Maintenance: VACUUM would fail inside the transaction, and fail it.
    ASSERT_EQ(databasePage(), overview);
    onScrap(overview, Command::Vacuum);
    EXPECT_EQ(failureSheet("vacuum-in-users-transaction"), kOpen);
    // A drop would join it.
    onScrap(overview, Command::Drop);
    EXPECT_EQ(failureSheet(), kOpen);
    // A row delete query, which no page makes.
    auto scrap = relation("scrap");
    ASSERT_FALSE(loadAndWait(scrap->metadata()));
    auto deletion = std::make_shared<ZNTRowDeleteQuery>(ZNTRowDeleteQuery::RowList{{Value::fromInt(1)}}, scrap);
    bool deleted = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, deletion.get(),
                                                                      [&](const Notification &) { deleted = true; });
    deletion->executeInBackgroundOnConnection(server->mainConnection());
    ASSERT_TRUE(pumpUntil([&] { return deleted; }, 30s));
    EXPECT_FALSE(deletion->success());
    EXPECT_TRUE(deletion->error() && deletion->error()->localizedDescription() == kOpen);
    EXPECT_EQ(committed(), uncommitted);
    EXPECT_EQ(db.run("SELECT count(*) FROM pg_class WHERE relname = 'scrap'"), "1");

    // The user's COMMIT commits what they ran, and the same saves go through.
    EXPECT_EQ(runAsTheEditor("COMMIT"), "");
    EXPECT_EQ(committed(), "1:110,2:20");
    ASSERT_EQ(tablePage(), rows);
    EXPECT_EQ(saveRows(rows), "");
    EXPECT_EQ(committed(), "1:110,2:21");
    ASSERT_EQ(structurePage(), structure);
    ASSERT_TRUE(StructureWindow::save(structure));
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_EQ(db.run("SELECT string_agg(attname, ',' ORDER BY attnum) FROM pg_attribute WHERE attrelid = 't'::regclass "
                     "AND attnum > 0"),
              "id,n,remark");
}

TEST_F(SharedSession, AFailedTransactionInTheEditorIsNamedWhereAPageFails) {
    ZNTDatabaseViewController *overview = databasePage();
    ASSERT_TRUE(overview);
    ZNTTableViewController *rows = tablePage();
    ASSERT_TRUE(rows);
    typeInto(rows, 0, "n", "11");
    EXPECT_TRUE(runAsTheEditor("BEGIN; SELECT 1/0").contains("division by zero"));

    EXPECT_EQ(saveRows(rows), kFailed);
    EXPECT_EQ(rows->saveBar()->statusText(), "1 edited row");

    // The page's listing fails in the user's transaction: the sheet has the
    // server's words and whose transaction it is.
    ASSERT_EQ(databasePage(), overview);
    overview->performReload();
    Alert *failure = waitForSheet(30s);
    ASSERT_TRUE(failure);
    const QString said = failure->informativeText();
    EXPECT_TRUE(said.startsWith("PostgreSQL said: current transaction is aborted")) << said.toStdString();
    EXPECT_TRUE(said.endsWith("\n\n" + kFailed)) << said.toStdString();
    failure->buttons().first()->click();
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() != failure; }, 5s));
    // So does a table page that opens now.
    window->navigateToItem(relation("scrap"));
    failure = waitForSheet(30s);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->informativeText().startsWith("The server said: current transaction is aborted"));
    EXPECT_TRUE(failure->informativeText().endsWith("\n\n" + kFailed)) << failure->informativeText().toStdString();
    failure->buttons().first()->click();
    // Without rows there is no page to step from: previous, go-to-page and
    // next wait for a load that succeeds, whether the structure or the rows failed.
    auto *scrap = dynamic_cast<ZNTTableViewController *>(window->mainViewController());
    ASSERT_TRUE(scrap);
    auto pagers = [scrap] {
        QString enabled;
        for (ZNTTerminalSegmentedControl *pager : {scrap->pager(), scrap->smallPager()})
            for (int segment : {0, 1, 2})
                enabled += pager->isSegmentEnabled(segment) ? u'1' : u'0';
        return enabled;
    };
    EXPECT_EQ(pagers(), "000000");
    EXPECT_EQ(runAsTheEditor("ROLLBACK"), "");
    scrap->performReload();
    ASSERT_TRUE(pumpUntil([&] { return !scrap->isLoading(); }, 30s));
    EXPECT_EQ(pagers(), "010010") << "page 1 of none";
    EXPECT_TRUE(runAsTheEditor("BEGIN; SELECT 1/0").contains("division by zero"));
    scrap->setCurrentPageIndex(1);
    ASSERT_TRUE(failure = waitForSheet(30s));
    EXPECT_EQ(failure->messageText(), "Could not load table rows.");
    failure->buttons().first()->click();
    EXPECT_EQ(pagers(), "000000");
    scrap->showPageNumberPopover();
    EXPECT_FALSE(scrap->pageNumberPopover()->isShown());

    EXPECT_EQ(runAsTheEditor("ROLLBACK"), "");
    scrap->performReload();
    ASSERT_TRUE(pumpUntil([&] { return !scrap->isLoading(); }, 30s));
    EXPECT_EQ(pagers(), "110110") << "page 2 of none";
    ASSERT_EQ(tablePage(), rows);
    EXPECT_EQ(saveRows(rows), "");
    EXPECT_EQ(committed(), "1:11,2:20");
}
