// Runs of the query editor against the test server: every result of a text,
// notices in their place, errors after rows, cancelling, a newer run
// replacing an older one, a connection lost meanwhile, COPY statements, and a
// result that may not be sorted while it grows.
#include "QueryTestSupport.h"
#include "engine/ZNTConnection.h"
#include "query/QueryCopyDelegate.h"
#include "uikit/AlertSheet.h"

#include <QSignalSpy>
#include <QStandardItemModel>

using namespace querytest;

namespace {
Alert *openAlert() {
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *alert = qobject_cast<Alert *>(widget); alert && alert->isVisible())
            return alert;
    return nullptr;
}

class QueryEditorRun : public QueryPageFixture {};
} // namespace

TEST_F(QueryEditorRun, EveryStatementGivesAResultAndRowResultsAreListedByTheirIndex) {
    database->run("CREATE TABLE t (x int); INSERT INTO t VALUES (1), (2)");
    run(QStringLiteral("UPDATE t SET x = x; SELECT x FROM t ORDER BY x; SELECT 'b' AS b, 3 AS c"));
    EXPECT_EQ(selectorTitles(), QStringList({"Query Status", "-", "Result 1", "Result 2"}));
    EXPECT_EQ(selectorTags(), QList<int>({-1, 1, 2}));
    // The first row result shows at once.
    EXPECT_FALSE(page->isShowingStatus());
    EXPECT_EQ(gridRows(), QStringList({"1", "2"}));
    EXPECT_EQ(page->queryResultRowCountLabel()->text(), QStringLiteral("2 rows"));
    EXPECT_EQ(page->queryResultSelectorPopUpButton()->currentText(), QStringLiteral("Result 1"));

    page->selectQueryResult(2);
    EXPECT_EQ(gridRows(), QStringList({"b|3"}));
    EXPECT_EQ(page->resultModel()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("c"));
    page->selectQueryResult(-1);
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_EQ(statusText(), QStringLiteral("UPDATE 2\nSELECT 2\nSELECT 1\n"));
    EXPECT_EQ(page->queryResultRowCountLabel()->text(), QString());
    EXPECT_FALSE(page->queryResultExportButton()->isEnabled());
    shot(QStringLiteral("status.png"));
}

TEST_F(QueryEditorRun, ANoticeBetweenTwoSelectsIsAResultOfItsOwnInItsPlace) {
    run(QStringLiteral("SELECT 1 AS one; DO $$ BEGIN RAISE NOTICE 'between <b>x</b>'; END $$; SELECT 2 AS two"));
    QStringList messages;
    for (const auto &result : page->currentQueryResults())
        messages << result->result()->string();
    EXPECT_EQ(messages, QStringList({"SELECT 1", "NOTICE:  between <b>x</b>", "DO", "SELECT 1"}));
    EXPECT_EQ(selectorTags(), QList<int>({-1, 0, 3}));
    page->selectQueryResult(-1);
    // The server's text is shown as it is, never as markup.
    EXPECT_TRUE(statusText().contains(QStringLiteral("NOTICE:  between <b>x</b>\n")));
}

TEST_F(QueryEditorRun, AStatementWithoutRowsShowsItsTagAndNoResults) {
    run(QStringLiteral("CREATE TABLE created (a int)"));
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_EQ(statusText(), QStringLiteral("CREATE TABLE\n"));
    EXPECT_EQ(selectorTitles(), QStringList({"Query Status", "-", "No Query Results"}));
    auto *items = qobject_cast<QStandardItemModel *>(page->queryResultSelectorPopUpButton()->model());
    ASSERT_TRUE(items);
    EXPECT_FALSE(items->item(2)->isEnabled());
    EXPECT_TRUE(page->queryResultSelectorPopUpButton()->isEnabled());
    // A SELECT that finds nothing is a result all the same.
    run(QStringLiteral("SELECT 1 AS a WHERE false"));
    EXPECT_FALSE(page->isShowingStatus());
    EXPECT_EQ(page->queryResultRowCountLabel()->text(), QStringLiteral("0 rows"));
    EXPECT_TRUE(page->queryResultExportButton()->isEnabled());
    // An empty text runs too, and the engine says what it made of it.
    run(QString());
    EXPECT_EQ(statusText(), QStringLiteral("The query was empty.\n"));
}

TEST_F(QueryEditorRun, AnErrorAfterRowsShowsTheErrorAndKeepsTheRowsReceived) {
    // Each notice sends the rows before it: four rows reach the client first.
    database->run("CREATE FUNCTION noisy(i int) RETURNS int LANGUAGE plpgsql AS "
                  "$$ BEGIN RAISE NOTICE 'row %', i; RETURN 100 / (5 - i); END $$");
    run(QStringLiteral("SELECT noisy(g) AS q FROM generate_series(1, 10) g"));
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_TRUE(statusText().contains(QStringLiteral("ERROR:  division by zero"))) << statusText().toStdString();
    ASSERT_TRUE(selectorTitles().contains(QStringLiteral("Result 1")));
    page->selectQueryResult(selectorTags().at(1));
    EXPECT_EQ(gridRows(), QStringList({"25", "33", "50", "100"}));
}

TEST_F(QueryEditorRun, CancellingARunningStatementShowsTheServersMessage) {
    page->textView()->setPlainText(QStringLiteral("SELECT pg_sleep(10)"));
    page->executeQuery();
    const auto connection = server->mainDatabase()->connection();
    ASSERT_TRUE(pumpUntil([&] { return page->currentQuery()->elapsedTime() > 0.2; }));
    EXPECT_TRUE(page->cancelButton()->isEnabled());
    page->cancelQuery();
    ASSERT_TRUE(pumpUntil([&] { return !page->isRunning(); }));
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_EQ(statusText(), QStringLiteral("ERROR:  canceling statement due to user request\n"));
    EXPECT_FALSE(page->cancelButton()->isEnabled());
    EXPECT_TRUE(page->queryElapsedTimeLabel()->text().endsWith(QStringLiteral("\u00a0ms")) ||
                page->queryElapsedTimeLabel()->text().endsWith(QStringLiteral("\u00a0s")));
}

TEST_F(QueryEditorRun, ANewRunReplacesTheOldOneWhoseLateNotificationsAreIgnored) {
    QSignalSpy finished(page, &QueryViewController::queryFinished);
    page->textView()->setPlainText(QStringLiteral("SELECT 1 AS first, pg_sleep(5)"));
    page->executeQuery();
    const auto first = page->currentQuery();
    ASSERT_TRUE(pumpUntil([&] { return first->elapsedTime() > 0.2; }));
    page->textView()->setPlainText(QStringLiteral("SELECT 42 AS answer"));
    page->executeQuery();
    ASSERT_TRUE(pumpUntil([&] { return !page->isRunning(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(pumpUntil([&] { return first->done(); }));
    pumpFor(std::chrono::milliseconds(200)); // the first run's notifications, if any were still to come
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(page->isShowingStatus());
    EXPECT_EQ(page->resultModel()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("answer"));
    EXPECT_EQ(gridRows(), QStringList({"42"}));
    EXPECT_EQ(page->currentQueryResults().size(), 1u);
}

TEST_F(QueryEditorRun, ALostConnectionFailsTheRunUntilSomethingElseReconnects) {
    // Without TLS, libpq wraps its own words over lines indented by a tab.
    QVariantMap params = testServerParams();
    params["port"] = requiredEnv("TRELLAN_PG_PLAIN_PORT").toInt();
    server = ZNTServer::create(params);
    server->setFavorite(favorite);
    queryObject = server->mainDatabase()->queryObject();
    makePage();
    run(QStringLiteral("SELECT pg_terminate_backend(pg_backend_pid())"));
    EXPECT_TRUE(page->isShowingStatus());
    const QString found = statusText();
    const auto saysWhy = [](const QString &text) {
        return text.contains("terminating connection due to administrator command\n") && !text.contains(u'\t');
    };
    EXPECT_TRUE(saysWhy(found) && found.endsWith("\n\nThe connection was lost. Choose Reload to reconnect.\n"))
        << found.toStdString();
    // The editor never reconnects on its own; it says why the connection went.
    run(QStringLiteral("SELECT 1"));
    const QString refused = statusText();
    EXPECT_TRUE(refused.startsWith("The connection was lost.\n") && saysWhy(refused) &&
                refused.endsWith("\n\nChoose Reload to reconnect.\n"))
        << refused.toStdString();
    // A reload of the window reconnects; then the editor runs again.
    const auto connection = server->mainDatabase()->connection();
    page->performReload();
    ASSERT_TRUE(pumpUntil([&] { return connection->state() == ZNTConnection::ZNTConnectionStateConnected; }));
    EXPECT_EQ(statusText(), refused); // what the last run said stays
    run(QStringLiteral("SELECT 7 AS seven"));
    EXPECT_EQ(gridRows(), QStringList({"7"}));
}

TEST_F(QueryEditorRun, CopyStatementsFailWithAReasonAndTheSessionSurvives) {
    run(QStringLiteral("CREATE TEMP TABLE kept AS SELECT g AS a FROM generate_series(1, 3) g"));
    ASSERT_EQ(statusText(), QStringLiteral("SELECT 3\n"));

    run(QStringLiteral("COPY kept FROM STDIN"));
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_TRUE(statusText().contains(QueryCopyDelegate::CopyInMessage)) << statusText().toStdString();
    EXPECT_TRUE(page->currentQuery()->error());

    run(QStringLiteral("COPY kept TO STDOUT"));
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_TRUE(statusText().contains(QueryCopyDelegate::CopyOutMessage)) << statusText().toStdString();
    EXPECT_TRUE(page->currentQuery()->error());

    // Far more than the socket holds: read to its end and dropped.
    run(QStringLiteral("COPY (SELECT g, repeat('x', 200) FROM generate_series(1, 300000) g) TO STDOUT"));
    EXPECT_TRUE(statusText().contains(QueryCopyDelegate::CopyOutMessage)) << statusText().toStdString();

    EXPECT_NE(server->mainDatabase()->connection()->state(), ZNTConnection::ZNTConnectionStateLost);
    run(QStringLiteral("SELECT count(*) FROM kept"));
    EXPECT_EQ(gridRows(), QStringList({"3"}));
}

TEST_F(QueryEditorRun, ARefusedCopyIsTheFailedResultInItsOwnPlaceInBothDirections) {
    run(QStringLiteral("CREATE TEMP TABLE kept (a int)"));
    const auto messages = [&] {
        QStringList shown;
        for (const auto &result : page->currentQueryResults())
            shown << result->result()->string();
        return shown;
    };

    // COPY TO STDOUT: its data read and dropped, its result the refusal. The
    // server has run what follows, whose results come after it.
    run(QStringLiteral("SELECT 'before' AS b; COPY (SELECT 1) TO STDOUT; SELECT 'after' AS a"));
    EXPECT_EQ(messages(), QStringList({"SELECT 1", QueryCopyDelegate::CopyOutMessage, "SELECT 1"}));
    ASSERT_EQ(page->currentQueryResults().size(), 3u);
    EXPECT_EQ(page->currentQueryResults()[1]->result()->resultType(), QStringLiteral("error"));
    EXPECT_TRUE(page->currentQuery()->error());
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_EQ(statusText(), QStringLiteral("SELECT 1\n%1\nSELECT 1\n").arg(QueryCopyDelegate::CopyOutMessage));
    EXPECT_EQ(selectorTags(), QList<int>({-1, 0, 2}));
    shot(QStringLiteral("refused-copy.png"));
    page->selectQueryResult(2);
    EXPECT_EQ(gridRows(), QStringList({"after"}));

    // COPY FROM STDIN: ended with the refusal, the server fails it and skips what follows.
    run(QStringLiteral("SELECT 'before' AS b; COPY kept FROM STDIN; SELECT 'after' AS a"));
    const QStringList inMessages = messages();
    ASSERT_EQ(inMessages.size(), 2) << inMessages.join(u'|').toStdString();
    EXPECT_EQ(inMessages[0], QStringLiteral("SELECT 1"));
    EXPECT_TRUE(inMessages[1].contains(QueryCopyDelegate::CopyInMessage)) << inMessages[1].toStdString();
    EXPECT_TRUE(page->isShowingStatus());
    EXPECT_EQ(selectorTags(), QList<int>({-1, 0}));

    run(QStringLiteral("SELECT count(*) FROM kept"));
    EXPECT_EQ(gridRows(), QStringList({"0"}));
}

TEST_F(QueryEditorRun, AGrowingResultIsNotSortedUntilItIsComplete) {
    // A notice per row makes the row result not the last result while it grows.
    database->run("CREATE FUNCTION slow(i int) RETURNS int LANGUAGE plpgsql AS "
                  "$$ BEGIN RAISE NOTICE 'row %', i; PERFORM pg_sleep(0.05); RETURN i; END $$");
    page->textView()->setPlainText(QStringLiteral("SELECT slow(g) AS n FROM generate_series(1, 60) g"));
    page->executeQuery();
    ASSERT_TRUE(pumpUntil([&] { return page->resultModel()->rowCount() >= 3; }, std::chrono::seconds(20)));
    ASSERT_TRUE(pumpUntil([&] { return page->currentQueryResults().back() != page->currentResult(); }));
    const QStringList before = gridRows();
    page->tableViewDidClickTableColumn(0);
    Alert *alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), QStringLiteral("Please wait until the query result has been loaded"));
    alert->reject();
    EXPECT_EQ(page->currentResult()->sortColumnIndex(), -1);
    EXPECT_EQ(gridRows().mid(0, before.size()), before);

    ASSERT_TRUE(pumpUntil([&] { return !page->isRunning(); }, std::chrono::seconds(30)));
    EXPECT_EQ(page->resultModel()->rowCount(), 60);
    sortBy(0);
    sortBy(0); // descending
    EXPECT_EQ(gridRows().first(), QStringLiteral("60"));
    EXPECT_FALSE(openAlert());
}

TEST_F(QueryEditorRun, ClosingThePageCancelsItsRun) {
    page->textView()->setPlainText(QStringLiteral("SELECT pg_sleep(30)"));
    page->executeQuery();
    const auto query = page->currentQuery();
    ASSERT_TRUE(pumpUntil([&] { return query->elapsedTime() > 0.2; }));
    delete window; // the page goes with it
    window = nullptr;
    EXPECT_TRUE(query->isCancelled());
    EXPECT_TRUE(pumpUntil([&] { return query->done(); }, std::chrono::seconds(10)));
    EXPECT_NE(server->mainDatabase()->connection()->state(), ZNTConnection::ZNTConnectionStateLost);
}
