// The table page on the test server: loading, the pager and status text,
// rows per page, going to a page, stale and late replies, and reloads.
#include "TablePageTestSupport.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "platform/Log.h"
#include "uikit/BarButtons.h"
#include "uikit/ZNTPopover.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QToolButton>

using namespace pagetest;

namespace {
QString pagerLabel(ZNTTableViewController *page) {
    return page->pager()->segmentButton(1)->text();
}
} // namespace

TEST_F(TablePageTest, PagerAndStatusFor250RowsCountedAndNot) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, name text); "
           "INSERT INTO t SELECT g, 'row ' || g FROM generate_series(1, 250) g");
    UserDefaults::standard().setObject(100, "TableViewRowsPerPage");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    EXPECT_EQ(page->statusText(), "Rows 1-100 of 250");
    EXPECT_EQ(pagerLabel(page), "Page 1 of 3");
    EXPECT_FALSE(page->pager()->isSegmentEnabled(0));
    EXPECT_TRUE(page->pager()->isSegmentEnabled(2));

    // Next, next: the third page, counted.
    QTest::mouseClick(page->pager()->segmentButton(2), Qt::LeftButton);
    ASSERT_TRUE(loaded());
    page->setCurrentPageIndex(2);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->statusText(), "Rows 201-250 of 250");
    EXPECT_EQ(pagerLabel(page), "Page 3 of 3");
    EXPECT_EQ(page->smallPager()->segmentButton(1)->text(), "Page 3 of 3");
    EXPECT_TRUE(page->pager()->isSegmentEnabled(0));
    EXPECT_FALSE(page->pager()->isSegmentEnabled(2));
    EXPECT_EQ(model()->rowCount(), 50);
    EXPECT_EQ(shownRow(0), QStringList({"201", "row 201"}));
    screenshot("page-third.png");

    // Not counted: no total, next stays enabled.
    UserDefaults::standard().setObject(true, "DontCountRows");
    page->reloadWithStructure(false);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->statusText(), "Rows 201-250");
    EXPECT_EQ(pagerLabel(page), "Page 3");
    EXPECT_TRUE(page->pager()->isSegmentEnabled(2));
}

TEST_F(TablePageTest, AnEmptyTableSaysSoCountedOrNot) {
    db.run("CREATE TABLE e (id int PRIMARY KEY)");
    ASSERT_NO_FATAL_FAILURE(open("e"));
    EXPECT_EQ(page->statusText(), "0 rows");
    EXPECT_EQ(pagerLabel(page), "Page 1 of 1");
    EXPECT_FALSE(page->pager()->isSegmentEnabled(2));
    UserDefaults::standard().setObject(true, "DontCountRows");
    page->reloadWithStructure(false);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->statusText(), "No rows");
}

TEST_F(TablePageTest, FewerRowsPerPageKeepTheFirstRowShownAndApplyAtOnce) {
    db.run("CREATE TABLE t (id int PRIMARY KEY); INSERT INTO t SELECT generate_series(1, 1000)");
    UserDefaults::standard().setObject(100, "TableViewRowsPerPage");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->setCurrentPageIndex(4);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->statusText(), "Rows 401-500 of 1000");
    UserDefaults::standard().setObject(50, "TableViewRowsPerPage");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->rowsPerPage(), 50);
    EXPECT_EQ(page->currentPageIndex(), 8);
    EXPECT_EQ(page->statusText(), "Rows 401-450 of 1000");
    // 0 reads as 1000.
    UserDefaults::standard().setObject(0, "TableViewRowsPerPage");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->rowsPerPage(), 1000);
    EXPECT_EQ(page->currentPageIndex(), 0);
    EXPECT_EQ(page->statusText(), "1000 rows");
}

TEST_F(TablePageTest, TheGoToPageFieldTakesAnyNumberWithoutOverflow) {
    db.run("CREATE TABLE t (id int PRIMARY KEY); INSERT INTO t SELECT generate_series(1, 30)");
    UserDefaults::standard().setObject(10, "TableViewRowsPerPage");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    QTest::mouseClick(page->pager()->segmentButton(1), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return page->pageNumberPopover()->isShown(); }, 5s));
    auto *field = page->pageNumberPopover()->findChild<QLineEdit *>("pageNumberTextField");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), "1");
    screenshot("go-to-page.png");
    field->setText("2");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(loaded());
    EXPECT_FALSE(page->pageNumberPopover()->isShown());
    EXPECT_EQ(page->statusText(), "Rows 11-20 of 30");

    // The last page a signed 64-bit number can name: no overflow, no rows,
    // and the server took the OFFSET.
    page->showPageNumberPopover();
    field->setText("9223372036854775807");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(model()->rowCount(), 0);
    EXPECT_EQ(page->statusText(), "No rows");
    EXPECT_GT(page->currentPageIndex(), qint64(1) << 58);
    EXPECT_FALSE(page->pager()->isSegmentEnabled(2));

    // Page 0, a negative page: the first.
    page->showPageNumberPopover();
    field->setText("-4");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->currentPageIndex(), 0);
    EXPECT_EQ(page->statusText(), "Rows 1-10 of 30");
}

TEST_F(TablePageTest, RowsAddedWhileASlowViewLoadsTakeEachResultRowOnce) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, v text); INSERT INTO t SELECT g, 'v' || g FROM generate_series(1, 8) g;"
           "CREATE VIEW slow AS SELECT id, v, pg_sleep(0.15) IS NULL AS s FROM t");
    ASSERT_NO_FATAL_FAILURE(open("slow", false));
    // Rows trickle in; the user adds two rows meanwhile.
    ASSERT_TRUE(pumpUntil([&] { return model()->rowCount() >= 2; }, 20s));
    page->newRow();
    grid()->abortEditing();
    ASSERT_TRUE(pumpUntil([&] { return model()->rowCount() >= 5; }, 20s));
    page->newRow();
    grid()->abortEditing();
    ASSERT_TRUE(loaded());
    QStringList ids;
    int newRows = 0;
    for (int row = 0; row < model()->rowCount(); ++row) {
        if (edits().isNew(row))
            ++newRows;
        else
            ids << edits().loadedValue(row, 0).description();
    }
    EXPECT_EQ(newRows, 2);
    EXPECT_EQ(ids, QStringList({"1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(page->statusText(), "8 rows");
}

TEST_F(TablePageTest, DiscardAndUndoWhileRowsArriveKeepTheRowsThatCameBetween) {
    // Each row takes 0.12 s and its notice makes the server send the rows
    // before it, so they come to the page in several batches; the sixth waits
    // for an advisory lock this test holds, so the page is surely still
    // loading when the user discards.
    db.run("CREATE TABLE t (id int PRIMARY KEY); INSERT INTO t SELECT generate_series(1, 8);"
           "CREATE FUNCTION gate(n int) RETURNS int LANGUAGE plpgsql AS $$ BEGIN RAISE NOTICE 'row %', n; "
           "PERFORM pg_sleep(0.12); "
           "IF n = 6 THEN PERFORM pg_advisory_lock_shared(4711); PERFORM pg_advisory_unlock_shared(4711); END IF; "
           "RETURN n; END $$; CREATE VIEW gated AS SELECT gate(id) AS id FROM t");
    PGconnPtr holder = adminConnection(db.name);
    exec(holder.get(), "SELECT pg_advisory_lock(4711)");
    open("gated", false);
    ASSERT_TRUE(pumpUntil([&] { return model()->rowCount() >= 1; }, 20s));
    const int before = model()->rowCount(); // at most 5
    page->newRow();
    grid()->abortEditing();
    ASSERT_TRUE(page->discardChanges());
    exec(holder.get(), "SELECT pg_advisory_unlock(4711)");
    ASSERT_TRUE(loaded());
    ASSERT_EQ(model()->rowCount(), 8);
    typeInto(5, "id", "60"); // a row that came after the discard

    page->undoStack()->undo();
    page->undoStack()->undo(); // the new row comes back; the rows that came since stay
    QStringList ids, expected;
    for (int row = 0; row < model()->rowCount(); ++row)
        ids << (edits().isNew(row) ? QStringLiteral("new") : edits().loadedValue(row, 0).description());
    for (int id = 1; id <= 8; ++id)
        expected << QString::number(id);
    expected.insert(before, QStringLiteral("new"));
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(page->saveBar()->statusText(), "1 new row");
    page->undoStack()->redo();
    page->undoStack()->redo(); // the edit finds its row again
    EXPECT_EQ(shownColumn("id"), QStringList({"1", "2", "3", "4", "5", "60", "7", "8"}));
    EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
    EXPECT_EQ(page->statusText(), "8 rows");
}

TEST_F(TablePageTest, AReloadWhileRowsArriveShowsNoRowOfTheOlderLoad) {
    db.run("CREATE TABLE t (id int PRIMARY KEY); INSERT INTO t SELECT generate_series(1, 6);"
           "CREATE VIEW slow AS SELECT id, pg_sleep(0.2) IS NULL AS s FROM t");
    ASSERT_NO_FATAL_FAILURE(open("slow", false));
    ASSERT_TRUE(pumpUntil([&] { return model()->rowCount() >= 1; }, 20s));
    db.run("DELETE FROM t WHERE id > 2");
    page->reloadWithStructure(false);
    ASSERT_TRUE(loaded());
    pumpFor(500ms); // anything the older load still had in flight
    EXPECT_EQ(shownColumn("id"), QStringList({"1", "2"}));
    EXPECT_EQ(page->statusText(), "2 rows");
}

TEST_F(TablePageTest, AFailingPageQueryShowsTheServersWordsAndKeepsItsRows) {
    db.run("CREATE VIEW breaks AS SELECT n, 10 / (n - 3) AS q FROM generate_series(1, 5) n");
    LogCapture log;
    ASSERT_NO_FATAL_FAILURE(open("breaks"));
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Could not load table rows.");
    EXPECT_EQ(alert->informativeText(), "The server said: division by zero");
    press(alert, "OK");
    EXPECT_LE(model()->rowCount(), 2); // what came before the error stays
    EXPECT_FALSE(log.contains("Unexpected")) << "the failure is one the page expects";
}

// The session ended on the server: the page says libpq's reason, not only that
// a query failed, and that Reload reconnects; a refused reconnect says why.
TEST_F(TablePageTest, ALostConnectionSaysWhyAndThatReloadReconnects) {
    const QString user = requiredEnv("TRELLAN_PG_SCRAM_USER"), password = requiredEnv("TRELLAN_PG_SCRAM_PASSWORD");
    db.run("CREATE TABLE t (id int); INSERT INTO t VALUES (7); GRANT SELECT ON t TO " + user);
    // Each connect reads the password from the keyring.
    SecretStore::shared()->add("lost", user, "", password);
    QVariantMap params = testServerParams(db.name, user);
    params[ZNTConnection::PasswordKeychainServiceKey] = "lost";
    params[ZNTConnection::PasswordKeychainAccountKey] = user;
    server = ZNTServer::create(params);
    ASSERT_NO_FATAL_FAILURE(open("t"));
    psql("postgres", "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + db.name + "'");
    for (const char *why : {"^The server said: terminating connection due to administrator command\n",
                            "password authentication failed"}) {
        page->performReload();
        Alert *alert = sheet(30s);
        const QString told = alert ? alert->informativeText() : QString();
        EXPECT_TRUE(told.contains(QRegularExpression(why)) &&
                    told.endsWith("\n\nThe connection was lost. Choose Reload to reconnect."))
            << told.toStdString();
        press(alert, "OK");
        ASSERT_TRUE(loaded());
        SecretStore::shared()->modify("lost", user, "lost", user, "", "wrong");
    }
    SecretStore::shared()->modify("lost", user, "lost", user, "", password);
    page->performReload();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownRow(0), QStringList({"7"}));
}

TEST_F(TablePageTest, ATableDroppedAndCreatedAgainLoadsOnReload) {
    db.run("CREATE TABLE t (id int PRIMARY KEY); INSERT INTO t VALUES (1)");
    auto relation = table("t");
    db.run("DROP TABLE t");
    ASSERT_NO_FATAL_FAILURE(open(relation, false));
    Alert *alert = sheet(30s);
    ASSERT_NE(alert, nullptr); // the structure could not be read
    press(alert, "OK");
    EXPECT_EQ(page->statusText(), "");
    db.run("CREATE TABLE t (id int PRIMARY KEY, added text); INSERT INTO t VALUES (7, 'back')");
    page->performReload();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownRow(0), QStringList({"7", "back"}));
    EXPECT_EQ(page->statusText(), "1 row");
}

TEST_F(TablePageTest, ThePageInBothPalettes) {
    db.run("CREATE TABLE customers (id serial PRIMARY KEY, name text, email varchar(80), vip boolean, "
           "joined date, balance numeric(10,2), photo bytea, note text); "
           "INSERT INTO customers (name, email, vip, joined, balance, photo, note) VALUES "
           "('Ada Lovelace', 'ada@example.org', true, '2021-03-04', 1234.50, '\\x89504e47', NULL), "
           "('Grace Hopper', 'grace@example.org', false, '2020-12-09', -12.00, NULL, 'a note that is long enough "
           "to be cut at the edge of its column'), "
           "('Edsger Dijkstra', NULL, NULL, NULL, 0, NULL, '')");
    ASSERT_NO_FATAL_FAILURE(open("customers"));
    page->newRow();
    grid()->abortEditing();
    typeInto(1, "name", "Grace B. Hopper");
    selectRows({0});
    screenshot("page-light.png");
    darkScreenshot("page-dark.png");
    EXPECT_EQ(page->saveBar()->statusText(), "1 new row, 1 edited row");
}
