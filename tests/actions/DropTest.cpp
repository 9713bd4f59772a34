#include "ActionTestSupport.h"
#include "actions/ZNTObjectDeleteQuery.h"
#include "support/Screenshots.h"
#include "uikit/AlertSheet.h"

#include <QCheckBox>
#include <QDir>
#include <QPointer>
#include <QTest>

using namespace actiontest;
using namespace std::chrono_literals;

namespace {

class Drop : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() { makeDatabase("drop"); }
    void SetUp() override {
        exec(db->oracle.get(), R"(
            DROP SCHEMA IF EXISTS "we""ird" CASCADE;
            DROP TABLE IF EXISTS base CASCADE;
            CREATE TABLE base (id int);
            CREATE VIEW dependent AS SELECT id FROM base;
            CREATE SCHEMA "we""ird";
            CREATE TABLE "we""ird"."odd""name" (id int);
        )");
        window.resize(600, 400);
        window.show();
    }
    void TearDown() override { closeModals(); }

    static int relations(const QString &names) {
        return scalar(db->oracle.get(),
                      QStringLiteral("SELECT count(*) FROM pg_class WHERE relname IN (%1)").arg(names))
            .toInt();
    }

    // Engages drop and waits for its confirmation sheet.
    Alert *engage(const std::shared_ptr<ZNTObjectDeleteQuery> &drop) {
        drop->engageWithWindow(&window, [this](bool ok) { answers.push_back(ok); });
        Alert *alert = waitForModal<Alert>();
        EXPECT_NE(alert, nullptr);
        return alert;
    }

    // Refusals are plain sheets; the handler hears nothing of them.
    QString refusal(const ZNTActionObjects &objects) {
        Alert *alert = engage(std::make_shared<ZNTObjectDeleteQuery>(objects));
        if (!alert)
            return {};
        const QString text = alert->messageText() + " / " + alert->informativeText();
        alert->buttons().first()->click();
        pumpFor(20ms);
        EXPECT_TRUE(answers.empty());
        return text;
    }

    QWidget window;
    std::vector<bool> answers;
};

} // namespace

TEST_F(Drop, OnlyTablesAndViewsOfOneDatabaseCanBeDropped) {
    const auto base = ZNTTable::create("base", "public", db->database);
    EXPECT_EQ(refusal({}), "Can't delete / No items are selected.");
    EXPECT_EQ(refusal({base, db->database}), "Can't delete object / Only tables and views can be deleted.");
    EXPECT_EQ(refusal({base, ZNTTable::create("base", "public", std::make_shared<ZNTDatabase>("other", db->server))}),
              "Can't delete objects from different databases. / Please select only objects from a single database.");
}

TEST_F(Drop, ADependentViewStopsTheDropUnlessCascadeIsChosen) {
    const auto base = ZNTTable::create("base", "public", db->database);
    QPointer<Alert> alert = engage(std::make_shared<ZNTObjectDeleteQuery>(ZNTActionObjects{base}));
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "Do you want to delete base?");
    EXPECT_EQ(alert->informativeText(), "This can not be undone.");
    activate(alert);
    QTest::keyClick(alert, Qt::Key_Return);
    pumpFor(100ms);
    ASSERT_TRUE(alert && alert->isVisible()) << "Return must not drop anything";
    QTest::keyClick(alert, Qt::Key_Backspace, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty(); }, 30s));
    EXPECT_EQ(answers, std::vector<bool>{false});
    auto *error = waitForModal<Alert>();
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(error->informativeText().contains("depend")) << error->informativeText();
    error->buttons().first()->click();
    EXPECT_EQ(relations("'base', 'dependent'"), 2);

    // Both selected, with Cascade: the second DROP finds its view gone and
    // still succeeds.
    answers.clear();
    auto both = std::make_shared<ZNTObjectDeleteQuery>(
        ZNTActionObjects{base, ZNTView::create("dependent", "public", db->database)});
    alert = engage(both);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "Do you want to delete 2 items?");
    QDir().mkpath(QApplication::applicationDirPath() + "/actions-shots");
    saveScreenshot(alert, "actions", "drop.png");
    alert->findChild<QCheckBox *>()->setChecked(true);
    alert->buttons().first()->click();
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty(); }, 30s));
    EXPECT_EQ(answers, std::vector<bool>{true});
    EXPECT_TRUE(both->dropCascade());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "success needs no sheet";
    EXPECT_EQ(relations("'base', 'dependent'"), 0);
}

TEST_F(Drop, StatementsQuoteEveryNameAndSayWhatTheyDrop) {
    auto drop = std::make_shared<ZNTObjectDeleteQuery>(ZNTActionObjects{
        ZNTTable::create("odd\"name", "we\"ird", db->database),
        ZNTMaterializedView::create("m", "public", db->database), ZNTView::create("v", "public", db->database)});
    EXPECT_EQ(drop->sqlForConnection(*db->connection, nullptr), "DROP TABLE \"we\"\"ird\".\"odd\"\"name\";\n"
                                                                "DROP MATERIALIZED VIEW \"public\".\"m\";\n"
                                                                "DROP VIEW \"public\".\"v\";\n");
    drop->setDropCascade(true);
    EXPECT_TRUE(drop->sqlForConnection(*db->connection, nullptr)
                    .startsWith("DROP TABLE IF EXISTS \"we\"\"ird\".\"odd\"\"name\" CASCADE;\n"));

    auto odd = std::make_shared<ZNTObjectDeleteQuery>(
        ZNTActionObjects{ZNTTable::create("odd\"name", "we\"ird", db->database)});
    DoneWaiter done(odd.get());
    odd->executeInBackgroundOnConnection(db->connection);
    ASSERT_TRUE(odd->sqlQuery());
    EXPECT_EQ(odd->sqlQuery()->statusMessage(), "Deleting odd\"name…");
    ASSERT_TRUE(done.wait());
    EXPECT_TRUE(odd->success()) << errorText(odd->error());
    EXPECT_EQ(relations("'odd\"name'"), 0);
}

TEST_F(Drop, CancelDropsNothing) {
    const auto base = ZNTTable::create("base", "public", db->database);
    auto drop = std::make_shared<ZNTObjectDeleteQuery>(ZNTActionObjects{base});
    Alert *alert = engage(drop);
    ASSERT_NE(alert, nullptr);
    buttonTitled(alert, "Cancel")->click();
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty(); }));
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_EQ(drop->sqlQuery(), nullptr);
    EXPECT_EQ(relations("'base'"), 1);
}
