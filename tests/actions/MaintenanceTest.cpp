#include "ActionTestSupport.h"
#include "actions/ZNTMaintenanceQuery.h"
#include "engine/KesError.h"
#include "model/ZNTSchema.h"
#include "support/Screenshots.h"
#include "uikit/AlertSheet.h"
#include "uikit/ProgressSheet.h"

#include <QCheckBox>
#include <QDir>
#include <QRadioButton>
#include <QTest>

using namespace actiontest;
using namespace std::chrono_literals;

namespace {

class Maintenance : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("maintenance", R"(
            CREATE TABLE counters (id serial PRIMARY KEY, n int);
            CREATE TABLE parent (id int PRIMARY KEY);
            CREATE TABLE child (pid int REFERENCES parent);
            CREATE VIEW counter_view AS SELECT * FROM counters;
            CREATE MATERIALIZED VIEW loose AS SELECT n FROM counters;
            CREATE MATERIALIZED VIEW keyed AS SELECT id FROM counters;
            CREATE UNIQUE INDEX ON keyed (id);
        )");
    }
    void SetUp() override {
        window.resize(600, 400);
        window.show();
    }
    void TearDown() override { closeModals(); }

    static std::shared_ptr<ZNTTable> table(const QString &name) {
        return ZNTTable::create(name, "public", db->database);
    }
    static std::shared_ptr<ZNTTable> view(const QString &name) { return ZNTView::create(name, "public", db->database); }
    static std::shared_ptr<ZNTTable> matview(const QString &name) {
        return ZNTMaterializedView::create(name, "public", db->database);
    }
    static std::shared_ptr<ZNTDatabase> elsewhere() { return std::make_shared<ZNTDatabase>("elsewhere", db->server); }

    // Engages action on the window and answers its confirmation: the check
    // boxes and radio button titled in choices are set, then key (or a click on
    // the default button when key is 0). The sheet that follows: the progress
    // sheet, completed, or the error alert.
    QWidget *engageAndConfirm(const std::shared_ptr<ZNTMaintenanceQuery> &action, const QStringList &choices = {},
                              int key = 0) {
        action->engageWithWindow(&window, [this](bool ok) { answers.push_back(ok); });
        // Held weakly: a later alert may take the address of this one once it is gone.
        QPointer<Alert> alert = waitForModal<Alert>();
        EXPECT_NE(alert, nullptr);
        if (!alert)
            return nullptr;
        for (QAbstractButton *b : alert->findChildren<QAbstractButton *>()) {
            if (choices.contains(b->text()) && (qobject_cast<QCheckBox *>(b) || qobject_cast<QRadioButton *>(b)))
                b->setChecked(true);
        }
        if (key) {
            activate(alert);
            QTest::keyClick(alert, Qt::Key(key));
        } else
            alert->buttons().first()->click();
        QWidget *result = nullptr;
        EXPECT_TRUE(pumpUntil(
            [&] {
                auto *progress = action->progressWindow();
                if (progress && progress->isCompleted())
                    result = progress;
                else if (auto *error = qobject_cast<Alert *>(QApplication::activeModalWidget());
                         error && error != alert)
                    result = error;
                return result != nullptr;
            },
            30s));
        return result;
    }

    // Confirms as engageAndConfirm does; whether the run ended in the done text.
    bool completes(const std::shared_ptr<ZNTMaintenanceQuery> &action, const QStringList &choices = {}, int key = 0) {
        QWidget *end = engageAndConfirm(action, choices, key);
        return end && end == static_cast<QWidget *>(action->progressWindow());
    }
    static QString refusal(const std::shared_ptr<ZNTMaintenanceQuery> &action, const ZNTActionObjects &objects) {
        action->setObjects(objects);
        action->setError(nullptr);
        if (action->canPerform())
            return "ok";
        return action->error() ? action->error()->localizedDescription() : "refused silently";
    }
    static QString prepared(const std::shared_ptr<ZNTMaintenanceQuery> &action, const ZNTActionObjects &objects) {
        action->setObjects(objects);
        ErrorPtr error;
        if (!action->prepareSQLForConnection(*db->connection, &error))
            return error ? error->localizedDescription() : "failed";
        return action->sql();
    }

    QWidget window;
    std::vector<bool> answers;
};

} // namespace

TEST_F(Maintenance, EachCommandAcceptsWhatItCanActOnAndSaysWhyNot) {
    const auto t = table("counters"), v = view("counter_view"), mv = matview("loose");
    const auto other = ZNTTable::create("counters", "public", elsewhere());
    const auto otherView = ZNTMaterializedView::create("loose", "public", elsewhere());
    const auto schema = std::make_shared<ZNTSchema>("public", db->database);
    const QString dbName = db->name;
    for (const char *verb : {"analyze", "vacuum", "reindex"}) {
        SCOPED_TRACE(verb);
        auto make = [&]() -> std::shared_ptr<ZNTMaintenanceQuery> {
            if (QLatin1String(verb) == "analyze")
                return std::make_shared<ZNTAnalyzeQuery>();
            if (QLatin1String(verb) == "vacuum")
                return std::make_shared<ZNTVacuumQuery>();
            return std::make_shared<ZNTReindexQuery>();
        };
        const QString noun = QLatin1String(verb) == "reindex" ? "items" : "tables";
        EXPECT_EQ(refusal(make(), {t}), "ok");
        EXPECT_EQ(refusal(make(), {mv}), "ok");
        EXPECT_EQ(refusal(make(), {db->database, t}), "ok");
        EXPECT_EQ(refusal(make(), {t, v}), QStringLiteral("Can't %1 views.").arg(verb));
        EXPECT_EQ(refusal(make(), {t, other}), QStringLiteral("Can't %1 %2 from different databases.").arg(verb, noun));
        EXPECT_EQ(refusal(make(), {}), "refused silently") << "an empty selection disables the entry";
        EXPECT_TRUE(refusal(make(), {schema}).startsWith(QStringLiteral("Can't %1 public").arg(verb)));
    }
    auto truncate = std::make_shared<ZNTTruncateTableQuery>();
    EXPECT_EQ(refusal(truncate, {t}), "ok");
    EXPECT_EQ(refusal(truncate, {mv}), "Can't truncate loose");
    EXPECT_EQ(refusal(truncate, {t, v}), "Can't truncate 2 items");
    EXPECT_EQ(refusal(truncate, {db->database}), "Can't truncate " + dbName);
    EXPECT_EQ(refusal(truncate, {t, other}), "Can't truncate tables from different databases.");
    auto refresh = std::make_shared<ZNTRefreshMaterializedViewQuery>();
    EXPECT_EQ(refusal(refresh, {mv}), "ok");
    EXPECT_EQ(refusal(refresh, {t}), "Can't refresh counters");
    EXPECT_EQ(refusal(refresh, {mv, otherView}), "Can't refresh views from different databases.");
}

TEST_F(Maintenance, StatementsFollowTheSelectionAndItsOptions) {
    const QString quotedDb = db->connection->quoteIdentifier(db->name);
    EXPECT_EQ(prepared(std::make_shared<ZNTAnalyzeQuery>(), {db->database, table("counters")}),
              "ANALYZE;\nANALYZE \"public\".\"counters\";\n");
    auto vacuum = std::make_shared<ZNTVacuumQuery>();
    vacuum->setVacuumFull(true);
    vacuum->setAnalyze(true);
    EXPECT_EQ(prepared(vacuum, {db->database}), "VACUUM FULL ANALYZE;\n");
    // The old option syntax takes FULL before FREEZE only.
    vacuum->setVacuumFreeze(true);
    EXPECT_EQ(prepared(vacuum, {table("counters")}), "VACUUM FULL FREEZE ANALYZE \"public\".\"counters\";\n");
    EXPECT_EQ(prepared(std::make_shared<ZNTReindexQuery>(), {db->database}),
              QStringLiteral("REINDEX DATABASE %1;\n").arg(quotedDb));
    auto truncate = std::make_shared<ZNTTruncateTableQuery>();
    EXPECT_EQ(prepared(truncate, {table("parent"), table("child")}),
              "TRUNCATE \"public\".\"parent\", \"public\".\"child\";\n");
    truncate->setTruncateRestartIdentity(true);
    truncate->setTruncateCascade(true);
    EXPECT_EQ(prepared(truncate, {table("parent"), table("child")}),
              "TRUNCATE \"public\".\"parent\", \"public\".\"child\" RESTART IDENTITY CASCADE;\n");
    EXPECT_EQ(prepared(truncate, {}), "No table provided.");
    auto refresh = std::make_shared<ZNTRefreshMaterializedViewQuery>();
    refresh->setRefreshConcurrently(true);
    EXPECT_EQ(prepared(refresh, {matview("loose"), matview("keyed")}),
              "REFRESH MATERIALIZED VIEW CONCURRENTLY \"public\".\"loose\";\n"
              "REFRESH MATERIALIZED VIEW CONCURRENTLY \"public\".\"keyed\";\n");
    EXPECT_EQ(refresh->statusMessage(), "Refreshing 2 items…");
    // A selection the menus would have refused names the first object it
    // cannot write a statement for.
    const auto schema = std::make_shared<ZNTSchema>("public", db->database);
    EXPECT_EQ(prepared(std::make_shared<ZNTAnalyzeQuery>(), {table("counters"), schema}), "Can't analyze public.");
    EXPECT_EQ(prepared(refresh, {db->database}), "Can't refresh " + db->name + ".");
    EXPECT_EQ(prepared(std::make_shared<ZNTReindexQuery>(), {nullptr}), "Can't reindex item.");
}

TEST_F(Maintenance, TruncateWithRestartIdentityStartsTheSerialAgainAndReturnDoesNotConfirm) {
    exec(db->oracle.get(), "INSERT INTO counters (n) VALUES (1), (2), (3)");
    auto truncate = std::make_shared<ZNTTruncateTableQuery>();
    truncate->setObjects({table("counters")});
    truncate->engageWithWindow(&window, [this](bool ok) { answers.push_back(ok); });
    Alert *alert = waitForModal<Alert>();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Do you want to truncate counters?");
    EXPECT_EQ(alert->defaultButton(), nullptr) << "Return must not empty a table";
    activate(alert);
    QTest::keyClick(alert, Qt::Key_Return);
    pumpFor(100ms);
    EXPECT_EQ(QApplication::activeModalWidget(), alert);
    QTest::mouseClick(buttonTitled(alert, "Cancel"), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty(); }));
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_EQ(truncate->sqlQuery(), nullptr);
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM counters"), "3");

    answers.clear();
    auto again = std::make_shared<ZNTTruncateTableQuery>();
    again->setObjects({table("counters")});
    QWidget *end = engageAndConfirm(again, {"Restart Identity"}, Qt::Key_T);
    ASSERT_EQ(end, again->progressWindow());
    EXPECT_EQ(again->progressWindow()->status(), "Truncated counters.");
    EXPECT_EQ(answers, std::vector<bool>{true});
    QTest::mouseClick(again->progressWindow()->okButton(), Qt::LeftButton);
    exec(db->oracle.get(), "INSERT INTO counters (n) VALUES (4)");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT id FROM counters"), "1");
}

TEST_F(Maintenance, TruncateOfAReferencedTableNeedsCascadeAndThenEmptiesBoth) {
    exec(db->oracle.get(), "INSERT INTO parent VALUES (1); INSERT INTO child VALUES (1)");
    auto plain = std::make_shared<ZNTTruncateTableQuery>();
    plain->setObjects({table("parent")});
    auto *error = qobject_cast<Alert *>(engageAndConfirm(plain, {}, Qt::Key_T));
    ASSERT_NE(error, nullptr) << "the server's refusal is shown";
    EXPECT_TRUE(error->informativeText().contains("foreign key")) << error->informativeText();
    EXPECT_EQ(plain->progressWindow(), nullptr) << "the progress sheet is gone";
    error->buttons().first()->click();
    EXPECT_EQ(answers, std::vector<bool>{false});

    answers.clear();
    auto cascade = std::make_shared<ZNTTruncateTableQuery>();
    cascade->setObjects({table("parent")});
    ASSERT_TRUE(completes(cascade, {"Cascade"}, Qt::Key_T));
    EXPECT_EQ(answers, std::vector<bool>{true});
    cascade->endProgressSheet();
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM child"), "0");
}

TEST_F(Maintenance, RefreshConcurrentlyWithoutAUniqueIndexShowsTheServersHint) {
    auto refresh = std::make_shared<ZNTRefreshMaterializedViewQuery>();
    refresh->setObjects({matview("loose")});
    auto *error = qobject_cast<Alert *>(engageAndConfirm(refresh, {"Refresh Concurrently"}));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(error->informativeText().contains("Hint: Create a unique index")) << error->informativeText();
    error->buttons().first()->click();

    auto keyed = std::make_shared<ZNTRefreshMaterializedViewQuery>();
    keyed->setObjects({matview("keyed")});
    ASSERT_TRUE(completes(keyed, {"Refresh Concurrently"}));
    EXPECT_TRUE(keyed->refreshConcurrently());
    keyed->endProgressSheet();
}

TEST_F(Maintenance, AnalyzeRecordsItsRunAndSaysSo) {
    auto analyze = std::make_shared<ZNTAnalyzeQuery>();
    analyze->setObjects({table("counters")});
    QWidget *end = engageAndConfirm(analyze);
    ASSERT_EQ(end, analyze->progressWindow());
    EXPECT_EQ(analyze->progressWindow()->status(), "Analyzed counters.");
    EXPECT_TRUE(analyze->progressWindow()->okButton()->isVisible());
    EXPECT_FALSE(analyze->progressWindow()->cancelButton()->isVisible());
    QTest::mouseClick(analyze->progressWindow()->okButton(), Qt::LeftButton);
    // Statistics reach other sessions once the analyzing one has reported them.
    EXPECT_TRUE(pumpUntil(
        [&] {
            return scalar(db->oracle.get(), "SELECT pg_stat_clear_snapshot(); SELECT last_analyze IS NOT NULL FROM "
                                            "pg_stat_user_tables WHERE relname = 'counters'") == "t";
        },
        20s));
}

// VACUUM and REINDEX DATABASE refuse to run in the transaction a text of
// several statements makes; each statement goes alone.
TEST_F(Maintenance, VacuumOfSeveralTablesAndReindexOfADatabaseWithTablesRun) {
    auto vacuum = std::make_shared<ZNTVacuumQuery>();
    vacuum->setObjects({table("counters"), table("parent"), matview("loose")});
    ASSERT_TRUE(completes(vacuum, {"Vacuum Full", "Analyze"})) << errorText(vacuum->error());
    EXPECT_TRUE(vacuum->vacuumFull() && vacuum->analyze() && !vacuum->vacuumFreeze());
    EXPECT_EQ(vacuum->progressWindow()->status(), "Vacuumed 3 items.");
    vacuum->endProgressSheet();

    auto reindex = std::make_shared<ZNTReindexQuery>();
    reindex->setObjects({table("counters"), db->database});
    ASSERT_TRUE(completes(reindex)) << errorText(reindex->error());
    reindex->endProgressSheet();
    EXPECT_EQ(answers, (std::vector<bool>{true, true}));
}

TEST_F(Maintenance, ARefusedSelectionShowsWhyAndNeverCallsTheHandler) {
    auto analyze = std::make_shared<ZNTAnalyzeQuery>();
    analyze->setObjects({view("counter_view")});
    analyze->engageWithWindow(&window, [this](bool ok) { answers.push_back(ok); });
    Alert *alert = waitForModal<Alert>();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Can't analyze views.");
    alert->buttons().first()->click();
    pumpFor(50ms);
    EXPECT_TRUE(answers.empty());
}

// Screenshots for a reviewer: the confirmations with their options, in the
// light and the dark palette, and a finished progress sheet.
TEST_F(Maintenance, SheetsAreDrawnFromThePalette) {
    const QPalette original = QApplication::palette();
    for (bool dark : {false, true}) {
        if (dark)
            QApplication::setPalette(darkPalette());
        const std::pair<const char *, std::shared_ptr<ZNTMaintenanceQuery>> actions[] = {
            {"vacuum", std::make_shared<ZNTVacuumQuery>()},
            {"truncate", std::make_shared<ZNTTruncateTableQuery>()},
            {"refresh", std::make_shared<ZNTRefreshMaterializedViewQuery>()},
            {"reindex", std::make_shared<ZNTReindexQuery>()},
        };
        for (const auto &[name, action] : actions) {
            action->setObjects({QLatin1String(name) == "refresh" ? matview("keyed") : table("counters")});
            action->engageWithWindow(&window, nullptr);
            Alert *alert = waitForModal<Alert>();
            ASSERT_NE(alert, nullptr) << name;
            pumpFor(50ms);
            const QImage shot = alert->grab().toImage();
            EXPECT_GT(shot.width(), 350) << name;
            saveScreenshot(shot, "actions", QStringLiteral("%1-%2.png").arg(name, dark ? "dark" : "light"));
            buttonTitled(alert, "Cancel")->click();
            pumpFor(20ms);
        }
    }
    QApplication::setPalette(original);
    auto analyze = std::make_shared<ZNTAnalyzeQuery>();
    analyze->setObjects({table("counters")});
    ASSERT_TRUE(completes(analyze));
    saveScreenshot(analyze->progressWindow(), "actions", "analyze-done.png");
    analyze->endProgressSheet();
}

namespace {
// A run whose query succeeded in every result yet reported an error (the
// frame keeps the two apart).
class AnalyzeWithLateError : public ZNTAnalyzeQuery {
protected:
    void didFinish() override { setError(KesError::errorWithFormat("Something went wrong after all.")); }
};
} // namespace

TEST_F(Maintenance, AnErrorBesideSuccessfulResultsReachesTheHandlerAsAFailure) {
    auto analyze = std::make_shared<AnalyzeWithLateError>();
    analyze->setObjects({table("counters")});
    auto *error = qobject_cast<Alert *>(engageAndConfirm(analyze));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->messageText(), "Something went wrong after all.");
    EXPECT_TRUE(analyze->success()) << "every result was a success";
    EXPECT_EQ(answers, std::vector<bool>{false});
}
