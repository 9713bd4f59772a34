// The terminal page's runs against the test server: queries joining the
// transcript with their results, running one again in its place, busy
// queries, clearing, a lost connection and the question to reconnect.
#include "TerminalTestSupport.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "model/ZNTDatabase.h"
#include "query/QueryPageLogic.h"
#include "uikit/AlertSheet.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace terminaltest;

namespace {
class TerminalRun : public TerminalPageFixture {};

Alert *openAlert() {
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *alert = qobject_cast<Alert *>(widget); alert && alert->isVisible())
            return alert;
    return nullptr;
}
} // namespace

TEST_F(TerminalRun, AQueryJoinsTheTranscriptWithItsResultsAndTheEditorKeepsItsText) {
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("CREATE TABLE t(id int, name text); INSERT INTO t VALUES (1, 'a'), (2, 'b');"
                                        "SELECT * FROM t ORDER BY id; SELECT 1 WHERE false"));
    ASSERT_TRUE(query);
    EXPECT_EQ(page->queries().size(), 2u);
    EXPECT_TRUE(query->wasExecuted);
    EXPECT_FALSE(query->isBusy);
    EXPECT_EQ(resultsShown(query), QStringList({"CREATE TABLE", "INSERT 0 2", "grid:2", "grid:0"}));
    EXPECT_EQ(editor()->toPlainText(), query->string); // the editable query keeps its text
    EXPECT_TRUE(query->queryState.startsWith("4 result(s) with 2 total row(s) retrieved in "));
    EXPECT_TRUE(query->statusText.startsWith("Elapsed Time: "));
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    EXPECT_EQ(gridRows(grid), QStringList({"1|a", "2|b"}));
    EXPECT_EQ(grid->rowCountField()->text(), "2 rows");
    // Every run goes into the favorite's history.
    ASSERT_TRUE(favorite->lastQueryHistoryElement());
    EXPECT_EQ(favorite->lastQueryHistoryElement()->text(), query->string);
    shot("terminal-results.png");
    shot("terminal-results-dark.png", true);
}

TEST_F(TerminalRun, AQueryRunAgainLosesItsOldResultsFirstAndKeepsItsPlace) {
    std::shared_ptr<ZNTTerminalQuery> first;
    ASSERT_NO_FATAL_FAILURE(first = run("SELECT 1 AS a; SELECT 'x' AS b"));
    std::shared_ptr<ZNTTerminalQuery> second;
    ASSERT_NO_FATAL_FAILURE(second = run("SELECT 2 AS c"));
    ZNTTerminalOutlineView *outline = page->terminalOutlineView();
    const int firstRow = outline->rowForKey(first.get());
    std::weak_ptr<ZNTTerminalResult> oldResult = first->cachedResultAtIndex(0);
    std::weak_ptr<ZNTResult> oldRows = first->cachedResultAtIndex(0)->result();
    ASSERT_EQ(resultsShown(first), QStringList({"grid:1", "grid:1"}));

    page->executeQuery(page->cellForQuery(first.get()));
    EXPECT_TRUE(first->isBusy);
    EXPECT_EQ(resultsShown(first), QStringList()); // gone before the new ones arrive
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(outline->rowForKey(first.get()), firstRow);
    EXPECT_EQ(page->queries().size(), 3u); // no new query
    EXPECT_EQ(resultsShown(first), QStringList({"grid:1", "grid:1"}));
    EXPECT_NE(first->cachedResultAtIndex(0), oldResult.lock());
    // The rows of the run before are let go (the engine's last batch timer holds
    // the query a moment).
    EXPECT_TRUE(pumpUntil([&] { return oldRows.expired(); }));
    EXPECT_EQ(resultsShown(second), QStringList({"grid:1"}));
    EXPECT_EQ(gridRows(firstGrid(second)), QStringList({"2"}));
}

TEST_F(TerminalRun, ABusyQueryRunAgainBeepsAndClearingItLetsItFinishWithNothingLandingUnderAnotherRow) {
    BeepCounter beeps;
    // A lock held here keeps the statement waiting until the test lets it go.
    PGconnPtr holder = adminConnection(database->name);
    exec(holder.get(), "SELECT pg_advisory_lock(7)");
    // The server sends a statement's rows before the next one runs only when
    // they fill its buffer: a result of many rows arrives during the wait.
    const auto waiting = start("SELECT g AS before FROM generate_series(1, 20000) g;"
                               " SELECT pg_advisory_xact_lock(7); SELECT 3 AS after");
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(pumpUntil([&] { return resultsShown(waiting).size() == 1; }));
    auto *cell = page->cellForQuery(waiting.get());
    ASSERT_TRUE(cell);
    page->executeQuery(cell);
    EXPECT_EQ(beeps.count, 1);
    EXPECT_EQ(page->numRunningQueries(), 1);

    const std::shared_ptr<ZNTQuery> cleared = waiting->query;
    page->clearQuery(cell->clearAction());
    EXPECT_EQ(page->queries().size(), 1u);
    EXPECT_EQ(page->numRunningQueries(), 0);
    // Clearing cancels nothing: the statement goes on, and the next run waits for it.
    const auto next = start("SELECT 4 AS next");
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(cleared->isCancelled());
    EXPECT_FALSE(cleared->done());
    exec(holder.get(), "SELECT pg_advisory_unlock(7)");
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(cleared->done());
    EXPECT_FALSE(cleared->error());
    EXPECT_EQ(cleared->results().size(), 3); // its late results went nowhere on the page
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(resultsShown(next), QStringList({"grid:1"}));
    EXPECT_EQ(gridRows(firstGrid(next)), QStringList({"4"}));
    EXPECT_EQ(page->terminalOutlineView()->rowCount(), 4); // next, its grid, the editable query, the placeholder
}

TEST_F(TerminalRun, ClearingTheDisplayLetsEveryRunFinishShowsNothingOfItAndLeavesTheQueryBeingWritten) {
    ASSERT_NO_FATAL_FAILURE(run("CREATE TABLE written(n int)"));
    PGconnPtr holder = adminConnection(database->name);
    exec(holder.get(), "SELECT pg_advisory_lock(8)");
    // A write, then a wait: the write is what the user meant to run.
    const auto busy = start("INSERT INTO written VALUES (1); SELECT pg_advisory_xact_lock(8) AS late");
    ASSERT_TRUE(busy);
    ASSERT_TRUE(pumpUntil([&] {
        return database->run("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted") == "1";
    }));
    const std::shared_ptr<ZNTQuery> cleared = busy->query;
    type("SELECT 'kept'");
    page->clearDisplay();
    EXPECT_EQ(page->queries().size(), 1u);
    EXPECT_EQ(page->terminalOutlineView()->rowCount(), 2);
    EXPECT_EQ(page->numRunningQueries(), 0);
    EXPECT_TRUE(editor()->hasFocus());
    EXPECT_EQ(editor()->textCursor().selectedText(), "SELECT 'kept'");
    pumpFor(std::chrono::milliseconds(300)); // a cancel, were one sent, lands meanwhile
    EXPECT_FALSE(cleared->done());
    exec(holder.get(), "SELECT pg_advisory_unlock(8)");
    ASSERT_TRUE(pumpUntil([&] { return cleared->done(); }, std::chrono::seconds(10)));
    pumpFor(std::chrono::milliseconds(200)); // its last notifications
    EXPECT_FALSE(cleared->isCancelled());
    EXPECT_FALSE(cleared->error());
    EXPECT_EQ(page->terminalOutlineView()->rowCount(), 2);
    EXPECT_EQ(database->run("SELECT count(*) FROM written"), "1");
}

TEST_F(TerminalRun, TheSelectionRunsAloneAndTheExecuteButtonSaysSo) {
    type("SELECT 'all'; SELECT 'part' AS p");
    EXPECT_EQ(page->queryView()->executeButton()->text(), "Execute Query");
    QTextCursor cursor = editor()->textCursor();
    cursor.setPosition(14);
    cursor.setPosition(int(editor()->toPlainText().size()), QTextCursor::KeepAnchor);
    editor()->setTextCursor(cursor);
    EXPECT_EQ(page->queryView()->executeButton()->text(), "Execute Selection");
    page->executeQuery(page->queryView()->executeButton());
    ASSERT_TRUE(waitIdle());
    const auto query = page->queries().front();
    EXPECT_EQ(query->string, "SELECT 'part' AS p");
    EXPECT_EQ(gridRows(firstGrid(query)), QStringList({"part"}));
}

TEST_F(TerminalRun, AfterTheSessionIsEndedTheNextRunFailsAndTheOneAfterAsksToReconnectAndRunsOnce) {
    BeepCounter beeps;
    ASSERT_NO_FATAL_FAILURE(run("CREATE TABLE once(n int)"));
    std::shared_ptr<ZNTTerminalQuery> pid;
    ASSERT_NO_FATAL_FAILURE(pid = run("SELECT pg_backend_pid()"));
    const QString backend = gridRows(firstGrid(pid)).value(0);
    ASSERT_FALSE(backend.isEmpty());
    database->run(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(backend));

    std::shared_ptr<ZNTTerminalQuery> failed;
    ASSERT_NO_FATAL_FAILURE(failed = run("SELECT 1"));
    const QStringList shown = resultsShown(failed);
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(shown.join(' ').contains("terminat") || shown.join(' ').contains("closed the connection"))
        << shown.join(" | ").toStdString();
    const auto connection = server->mainDatabase()->connection();
    ASSERT_TRUE(pumpUntil([&] { return connection->state() == ZNTConnection::ZNTConnectionStateLost; }));

    // Cancel leaves everything as it was.
    const size_t queries = page->queries().size();
    type("INSERT INTO once VALUES (1)");
    page->executeQuery(page->queryView());
    Alert *alert = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (alert = openAlert()) != nullptr; }));
    EXPECT_EQ(alert->messageText(), "The connection was lost. Do you want to reconnect?");
    alert->reject();
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(page->queries().size(), queries);

    page->executeQuery(page->queryView());
    ASSERT_TRUE(pumpUntil([&] { return (alert = openAlert()) != nullptr; }));
    QPushButton *reconnect = nullptr;
    for (QPushButton *button : alert->buttons())
        if (button->text() == "Reconnect")
            reconnect = button;
    ASSERT_TRUE(reconnect);
    reconnect->click();
    ASSERT_TRUE(pumpUntil([&] { return page->queries().size() == queries + 1; }));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(resultsShown(page->queries()[queries - 1]), QStringList({"INSERT 0 1"}));
    EXPECT_EQ(database->run("SELECT count(*) FROM once"), "1");
    EXPECT_EQ(beeps.count, 0);
}

TEST_F(TerminalRun, TheTranscriptScrollsAlongWithTheRunsUntilTheUserScrolls) {
    window->resize(700, 420);
    pumpFor(std::chrono::milliseconds(30));
    ZNTTerminalOutlineView *outline = page->terminalOutlineView();
    auto editableInSight = [&] {
        const QRect row = outline->rectOfRow(outline->rowForKey(page->editableQuery().get()));
        return row.intersects(outline->visibleRect());
    };
    for (int i = 0; i < 6; ++i) {
        ASSERT_NO_FATAL_FAILURE(run(QStringLiteral("SELECT g FROM generate_series(1, %1) g").arg(3 + i)));
        pumpFor(std::chrono::milliseconds(250));
        EXPECT_TRUE(editableInSight()) << i;
    }
    EXPECT_GT(outline->visibleTop(), 0);
    // Scrolled to the top while a run goes on: the transcript stays there.
    start("SELECT pg_sleep(0.6); SELECT g FROM generate_series(1, 30) g");
    outline->scrollToTop(0);
    ASSERT_TRUE(waitIdle());
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(outline->visibleTop(), 0);
    EXPECT_FALSE(page->isAutoscrolling());
}
