#include "ExportTestSupport.h"
#include "model/ZNTSchema.h"
#include "support/Screenshots.h"
#include "uikit/Beep.h"

#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <csignal>
#include <sys/resource.h>

using namespace exporttest;

namespace {
class CSVExportFailure : public ::testing::Test {
protected:
    void SetUp() override {
        db.run(kShop);
        db.run(kTrickleView);
        window.resize(600, 400);
        window.show();
        // The destinations a failed export must leave as they were.
        writeFile(dir.filePath("dest.csv"), "precious\n");
        ASSERT_TRUE(QDir().mkdir(dir.filePath("dest folder")));
        writeFile(dir.filePath("dest folder/kept.csv"), "kept\n");
    }

    void expectDestinationsUntouched() {
        EXPECT_EQ(fileBytes(dir.filePath("dest.csv")), "precious\n");
        EXPECT_EQ(entries(dir.filePath("dest folder")), QStringList{"kept.csv"});
        EXPECT_EQ(fileBytes(dir.filePath("dest folder/kept.csv")), "kept\n");
        EXPECT_EQ(entries(dir.path()), (QStringList{"dest folder", "dest.csv"})) << "no temporary folder is left";
    }

    // Ends the alert the failed export showed; its informative text.
    QString failureReason() {
        Alert *alert = shownAlert(window);
        if (!alert) {
            ADD_FAILURE() << "no alert";
            return {};
        }
        EXPECT_EQ(alert->messageText(), "Export failed.");
        EXPECT_EQ(alert->alertStyle(), Alert::Style::Critical);
        const QString reason = alert->informativeText();
        dismiss(alert);
        return reason;
    }

    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server = connectedServer(db.name);
    QTemporaryDir dir;
    QWidget window;
};
} // namespace

// The writer is slowed; the query waits on its connection while four batches
// are unwritten, so the result is never gathered in memory.
TEST_F(CSVExportFailure, ASlowWriterKeepsAtMostFourBatchesUnwritten) {
    SlowWriter slow(std::chrono::milliseconds(120));
    auto exporter = CSVExportManager::withTables({relation(server, "public", "trickle", ZNTTable::ZNTTableTypeView)});
    exporter->exportToLocation(&window, dir.filePath("trickle.csv"));
    ASSERT_TRUE(pumpUntil([&] { return slow.batches >= 2; }));
    saveScreenshot(exporter->progressSheet(), "browser", "export-progress.png");
    ASSERT_TRUE(exportsEnded());
    EXPECT_FALSE(window.findChild<Alert *>());
    EXPECT_GE(slow.batches, 8) << "too few batches to tell";
    EXPECT_LE(exporter->peakUnwrittenBatches(), 4);
    EXPECT_EQ(fileBytes(dir.filePath("trickle.csv")).count('\n'), 601);
}

TEST_F(CSVExportFailure, ACancelMidTransferFailsAndLeavesAFileOrAFolderAsItWas) {
    SlowWriter slow(std::chrono::milliseconds(100));
    for (const QString &destination : {dir.filePath("dest.csv"), dir.filePath("dest folder")}) {
        const int before = slow.batches;
        auto exporter = destination.endsWith(".csv")
                            ? CSVExportManager::withTables({relation(server, "public", "trickle")})
                            : CSVExportManager::withTables(
                                  {relation(server, "shop", "customers"), relation(server, "public", "trickle")});
        exporter->exportToLocation(&window, destination);
        ASSERT_TRUE(pumpUntil([&] { return slow.batches >= before + 2; }));
        ASSERT_TRUE(exporter->progressSheet());
        QPushButton *cancel = exporter->progressSheet()->cancelButton();
        cancel->click();
        EXPECT_FALSE(cancel->isEnabled());
        ASSERT_TRUE(exportsEnded());
        EXPECT_TRUE(failureReason().contains("cancel")) << destination.toStdString();
        expectDestinationsUntouched();
    }
}

// A file-size limit stands in for a full disk.
TEST(CSVExportWriteFailure, AFailedWriteFailsAndLeavesAFileOrAFolderAsItWas) {
    if (!isChildRun()) {
        runCurrentTestInChild({});
        return;
    }
    ScratchDatabase db;
    db.run("CREATE TABLE big AS SELECT g, repeat('y', 100) AS pad FROM generate_series(1, 20000) g");
    auto server = connectedServer(db.name);
    QTemporaryDir dir;
    writeFile(dir.filePath("dest.csv"), "precious\n");
    ASSERT_TRUE(QDir().mkdir(dir.filePath("dest folder")));
    writeFile(dir.filePath("dest folder/kept.csv"), "kept\n");
    QWidget window;
    window.show();
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{200000, 200000};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    for (const QString &destination : {dir.filePath("dest.csv"), dir.filePath("dest folder")}) {
        auto big = relation(server, "public", "big");
        auto exporter = destination.endsWith(".csv") ? CSVExportManager::withTables({big})
                                                     : CSVExportManager::withTables({big, big});
        exporter->exportToLocation(&window, destination);
        ASSERT_TRUE(exportsEnded());
        Alert *alert = shownAlert(window);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->messageText(), "Export failed.");
        EXPECT_EQ(alert->informativeText(), "Reason: Failed to write data because: File too large");
        dismiss(alert);
        EXPECT_EQ(fileBytes(dir.filePath("dest.csv")), "precious\n");
        EXPECT_EQ(entries(dir.filePath("dest folder")), QStringList{"kept.csv"});
        EXPECT_EQ(entries(dir.path()), (QStringList{"dest folder", "dest.csv"}));
    }
    // The connection serves the next query: the cancelled export left it idle.
    auto query = ZNTQuery::create("SELECT 1");
    runAndWait(query, server->mainConnection());
    EXPECT_FALSE(query->error());
}

TEST_F(CSVExportFailure, WhatCannotBeExportedIsRefusedBeforeAnyQueryOrFile) {
    // Two server objects of one database: two connections, neither connected yet.
    auto first = ZNTServer::create(testServerParams(db.name));
    auto second = ZNTServer::create(testServerParams(db.name));
    auto exporter =
        CSVExportManager::withTables({relation(first, "shop", "orders"), relation(second, "shop", "orders")});
    exporter->beginModalForWindow(&window);
    EXPECT_EQ(failureReason(), "Reason: Exporting objects from different connections is not possible.");
    EXPECT_EQ(first->mainConnection()->state(), ZNTConnection::ZNTConnectionStateNotConnected);
    EXPECT_EQ(second->mainConnection()->state(), ZNTConnection::ZNTConnectionStateNotConnected);

    auto schema = std::make_shared<ZNTSchema>("shop", server->mainDatabase());
    CSVExportManager::withTables({relation(server, "shop", "orders"), schema})->beginModalForWindow(&window);
    EXPECT_EQ(failureReason(), "Reason: Exporting ZNTSchema is not supported.");

    int beeps = 0;
    setBeepHook([&] { ++beeps; });
    CSVExportManager::withTables({})->beginModalForWindow(&window);
    CSVExportManager::withResult(ZNTResult::commandOkResult())->beginModalForWindow(&window);
    CSVExportManager::withResult(nullptr)->exportToLocation(&window, dir.filePath("dest.csv"));
    setBeepHook({});
    EXPECT_EQ(beeps, 3);
    EXPECT_FALSE(window.findChild<QFileDialog *>());
    EXPECT_EQ(CSVExportManager::runningCount(), 0u);
    expectDestinationsUntouched();
}

TEST_F(CSVExportFailure, AServerErrorIsShownInTheServersWordsAndALostConnectionInLibpqs) {
    const QString role = db.name.left(56) + "_r";
    db.run("CREATE TABLE secret (x int); REVOKE ALL ON secret FROM PUBLIC;"
           "DROP ROLE IF EXISTS " +
           role + "; CREATE ROLE " + role + " LOGIN;");
    auto limited = connectedServer(db.name, role);
    CSVExportManager::withTables({relation(limited, "public", "secret")})
        ->exportToLocation(&window, dir.filePath("dest.csv"));
    ASSERT_TRUE(exportsEnded());
    EXPECT_EQ(failureReason(), "Reason: permission denied for table secret");
    expectDestinationsUntouched();

    // The session ended on the server: libpq says why; exporting again reconnects.
    psql("postgres", "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + db.name + "'");
    for (const bool again : {false, true}) {
        CSVExportManager::withTables({relation(server, "shop", "customers")})
            ->exportToLocation(&window, dir.filePath("customers.csv"));
        ASSERT_TRUE(exportsEnded());
        EXPECT_TRUE(again || failureReason().contains(QRegularExpression("closed|terminat")));
    }
    EXPECT_TRUE(QFile::exists(dir.filePath("customers.csv")));
    limited.reset();
    psql("postgres", "DROP DATABASE IF EXISTS " + db.name + " WITH (FORCE)");
    psql("postgres", "DROP ROLE IF EXISTS " + role);
}
