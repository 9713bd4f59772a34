#include "ActionTestSupport.h"
#include "actions/ZNTActionQuery.h"
#include "engine/KesError.h"
#include "uikit/AlertSheet.h"
#include "uikit/ProgressSheet.h"

#include <QLabel>
#include <QTest>

using namespace actiontest;
using namespace std::chrono_literals;

namespace {

// An action whose text is given: the frame's run and judgement, nothing else.
class FixedAction : public ZNTActionQuery {
public:
    QString text;
    QStringList separately;
    ErrorPtr refusal;
    int hookCalls = 0;
    bool successAtHook = false;

    bool prepareSQLForConnection(const ZNTConnection &, ErrorPtr *error) override {
        if (refusal) {
            if (error)
                *error = refusal;
            return false;
        }
        setSql(text);
        setSeparateStatements(separately);
        return true;
    }

protected:
    void didFinish() override {
        ++hookCalls;
        successAtHook = success();
    }
};

class ActionFrame : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() { makeDatabase("action_frame"); }

    // Runs action to its end; the number of done notifications it posted.
    static int run(const std::shared_ptr<ZNTActionQuery> &action) {
        DoneWaiter done(action.get());
        action->executeInBackgroundOnConnection(db->connection);
        EXPECT_TRUE(done.wait());
        pumpFor(100ms); // a second notification would arrive meanwhile
        return done.count;
    }
};

std::shared_ptr<FixedAction> fixed(const QString &text, const QStringList &separately = {}) {
    auto action = std::make_shared<FixedAction>();
    action->text = separately.isEmpty() ? text : separately.join(QString());
    action->separately = separately;
    return action;
}

} // namespace

TEST_F(ActionFrame, ItemDescriptionNamesTheOneObjectAndCountsAnyOther) {
    auto action = std::make_shared<ZNTClusterQuery>();
    EXPECT_EQ(action->itemDescription(), "0 items");
    action->setObjects({db->database});
    EXPECT_EQ(action->itemDescription(), db->name);
    action->setObjects({std::make_shared<ZNTDatabase>(QString(), db->server)});
    EXPECT_EQ(action->itemDescription(), "item");
    action->setObjects({db->database, db->database, db->database});
    EXPECT_EQ(action->itemDescription(), "3 items");
}

TEST_F(ActionFrame, ClusterIsOfferedButSaysNotImplementedAndSendsNothing) {
    QWidget window;
    window.show();
    auto cluster = std::make_shared<ZNTClusterQuery>();
    cluster->setObjects({db->database});
    EXPECT_TRUE(cluster->canPerform());
    std::vector<bool> answers;
    cluster->engageWithWindow(&window, [&](bool ok) { answers.push_back(ok); });
    Alert *alert = waitForModal<Alert>();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Not implemented.");
    EXPECT_EQ(alert->parentWidget(), &window);
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_EQ(cluster->sqlQuery(), nullptr);
    alert->buttons().first()->click();

    ErrorPtr error;
    EXPECT_FALSE(cluster->prepareSQLForConnection(*db->connection, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Not implemented.");
}

TEST_F(ActionFrame, OutcomeFollowsTheResultsAndIsAnnouncedOnce) {
    auto good = fixed("CREATE TABLE judged (a int); INSERT INTO judged VALUES (1); SELECT * FROM judged;");
    EXPECT_EQ(run(good), 1);
    EXPECT_TRUE(good->success());
    EXPECT_FALSE(good->error());
    EXPECT_EQ(good->hookCalls, 1);
    EXPECT_TRUE(good->successAtHook) << "the hook sees the settled outcome";
    EXPECT_EQ(good->sqlQuery(), nullptr) << "the query is let go once it has ended";

    auto bad = fixed("SELECT 1; SELECT 1/0; SELECT 2;");
    EXPECT_EQ(run(bad), 1);
    EXPECT_FALSE(bad->success());
    ASSERT_TRUE(bad->error());
    EXPECT_EQ(bad->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "22012");
    EXPECT_EQ(bad->hookCalls, 1);
}

TEST_F(ActionFrame, APreparationThatFailsSendsNothingAndEndsOnTheNextTurn) {
    auto refused = fixed("DROP TABLE never_sent");
    refused->refusal = KesError::errorWithFormat("Constraint type not implemented");
    DoneWaiter done(refused.get());
    refused->executeInBackgroundOnConnection(db->connection);
    EXPECT_EQ(done.count, 0) << "an observer registered right after the start must still hear the end";
    ASSERT_TRUE(done.wait());
    pumpFor(100ms);
    EXPECT_EQ(done.count, 1);
    EXPECT_EQ(refused->error(), refused->refusal);
    EXPECT_FALSE(refused->success());
    EXPECT_EQ(refused->hookCalls, 0);
}

TEST_F(ActionFrame, AnEditWithNothingToSendSucceedsWithoutAQuery) {
    auto empty = fixed(QString());
    EXPECT_EQ(run(empty), 1);
    EXPECT_TRUE(empty->success());
    EXPECT_FALSE(empty->error());
}

TEST_F(ActionFrame, AnActionNobodyHoldsStillFinishesAndThenGoes) {
    auto action = fixed("SELECT pg_sleep(0.2)");
    std::weak_ptr<FixedAction> weak = action;
    DoneWaiter done(action.get());
    bool success = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTQuery::DoneNotification, action.get(),
        [&](const Notification &n) { success = n.objectAs<ZNTActionQuery>()->success(); });
    action->executeInBackgroundOnConnection(db->connection);
    action.reset();
    EXPECT_FALSE(weak.expired()) << "the running query keeps its action";
    ASSERT_TRUE(done.wait());
    EXPECT_TRUE(success);
    EXPECT_TRUE(pumpUntil([&] { return weak.expired(); }, 5s)) << "and lets it go at the end";
}

TEST_F(ActionFrame, StatementsSentOneAtATimeStopAtTheFirstFailure) {
    auto action =
        fixed({}, {"CREATE TABLE sent_first (a int);\n", "SELECT 1/0;\n", "CREATE TABLE never_made (a int);\n"});
    EXPECT_EQ(run(action), 1);
    EXPECT_FALSE(action->success());
    ASSERT_TRUE(action->error());
    EXPECT_EQ(action->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "22012");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM pg_class WHERE relname = 'sent_first'"), "1")
        << "each statement stands on its own";
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM pg_class WHERE relname = 'never_made'"), "0");

    // VACUUM, which a text of several statements cannot hold, runs this way.
    auto vacuums = fixed({}, {"VACUUM sent_first;\n", "VACUUM ANALYZE sent_first;\n"});
    EXPECT_EQ(run(vacuums), 1);
    EXPECT_TRUE(vacuums->success()) << (vacuums->error() ? vacuums->error()->localizedRecoverySuggestion() : "");
}

TEST_F(ActionFrame, CancelOnTheProgressSheetStopsTheQueryAndTheRunEndsAsAFailure) {
    QWidget window;
    window.show();
    auto action = fixed("SELECT pg_sleep(30)");
    action->showStatus("Sleeping…", &window);
    ProgressSheet *sheet = action->progressWindow();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->status(), "Sleeping…");
    DoneWaiter done(action.get());
    action->executeInBackgroundOnConnection(db->connection);
    ASSERT_TRUE(pumpUntil([&] { return db->connection->currentQuery() != nullptr; }, 10s));
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(done.wait(1, 10s)) << "a cancelled statement must not run its 30 seconds";
    EXPECT_FALSE(action->success());
    ASSERT_TRUE(action->error());
    EXPECT_EQ(action->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "57014");
    action->endProgressSheet();
}
