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
    const auto query = run("CREATE TABLE t(id int, name text); INSERT INTO t VALUES (1, 'a'), (2, 'b');"
                           "SELECT * FROM t ORDER BY id; SELECT 1 WHERE false");
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
