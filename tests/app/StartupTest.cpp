#include "app/ZNTApplicationDelegate.h"
#include "engine/ZNTConnection.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoriteFile.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesTable.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerController.h"
#include "platform/SecretStore.h"
#include "support/TestSupport.h"
#include "uikit/AlertSheet.h"
#include "window/ZNTWindowController.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class Startup : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::shared_ptr<ZNTFavoritesStore> store;
    std::unique_ptr<ZNTApplicationDelegate> app;

    void SetUp() override {
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
        app = std::make_unique<ZNTApplicationDelegate>();
        app->applicationWillFinishLaunching(store);
    }
    void TearDown() override {
        for (const auto &server : ZNTServerController::sharedController()->servers())
            server->mainConnection()->cancel();
        ZNTServerController::sharedController()->discardAllServers();
        app.reset();
        pumpFor(std::chrono::milliseconds(20));
    }
    ZNTFavoritesWindowController *favorites() const { return app->favoritesWindowController(); }
    QWidget *favoritesWindow() const { return favorites()->window(); }
    static Alert *openAlert() {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *alert = qobject_cast<Alert *>(widget); alert && alert->isVisible())
                return alert;
        return nullptr;
    }
    static QWidget *visibleMainWindow(QWidget *except) {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget != except && qobject_cast<ZNTWindowController *>(widget) &&
                widget->windowTitle().endsWith(QStringLiteral(" \u2013 postgres")))
                return widget;
        return nullptr;
    }
    static QString demoURL() {
        return QStringLiteral("postgresql://%1@%2:%3/postgres")
            .arg(requiredEnv("TRELLAN_PG_TRUST_USER"), requiredEnv("TRELLAN_PG_HOST"), requiredEnv("TRELLAN_PG_PORT"));
    }
};

} // namespace

TEST_F(Startup, AURLConnectsAtOnceALaterStartReusesItsFavoriteAndADoubleClickReconnects) {
    app->applicationDidFinishLaunching({demoURL()});
    ASSERT_EQ(favorites()->favorites().size(), 1u);
    auto favorite = favorites()->favorites()[0];
    ASSERT_TRUE(pumpUntil([&] { return favorite->connectionStateConnected; }, std::chrono::seconds(30)))
        << favorite->connectionErrorString.toStdString();
    QWidget *main = visibleMainWindow(favoritesWindow());
    ASSERT_TRUE(main) << "no main window after connecting";
    EXPECT_FALSE(favoritesWindow()->isVisible());

    app->openArguments({demoURL()});
    EXPECT_EQ(favorites()->favorites().size(), 1u) << "a second start added the favorite again";

    main->close();
    ASSERT_TRUE(pumpUntil([&] { return favoritesWindow()->isVisible() && !favorite->connectionStateConnected; }));
    EXPECT_TRUE(ZNTServerController::sharedController()->servers().empty());

    ZNTFavoritesTable *table = favorites()->table();
    const QRect row = table->visualRect(table->model()->index(1, 0));
    // A double click is a press and release, then a second press that doubles it.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(pumpUntil([&] { return favorite->connectionStateConnected; }, std::chrono::seconds(30)))
        << favorite->connectionErrorString.toStdString();
}

TEST_F(Startup, TextThatIsNoConnectionURLSaysSo) {
    app->applicationDidFinishLaunching({});
    app->getUrl("hello world");
    Alert *alert = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (alert = openAlert()) != nullptr; }));
    EXPECT_EQ(alert->messageText(), "Can't open URL");
    EXPECT_EQ(alert->informativeText(), "The URL ‘hello world’ is malformed.");
    alert->reject();
}

TEST_F(Startup, FavoriteFilesOfAnyCaseAreImportedOthersIgnored) {
    app->applicationDidFinishLaunching({});
    ZNTFavoriteFile::Contents contents;
    contents.nickname = "From file";
    contents.host = "db.example";
    ErrorPtr error;
    const auto data = ZNTFavoriteFile::dataWithOptions(contents, 0, std::nullopt, &error);
    ASSERT_TRUE(data);
    QFile file(dir.filePath("Shop.TQBFAV"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(*data);
    file.close();

    // An empty list starts a new favorite first.
    ASSERT_TRUE(pumpUntil([&] { return favorites()->favorites().size() == 1; }));
    EXPECT_FALSE(app->openFiles({dir.filePath("notes.txt")}));
    const std::size_t before = favorites()->favorites().size();
    EXPECT_TRUE(app->openFiles({dir.filePath("notes.txt"), file.fileName()}));
    ASSERT_TRUE(pumpUntil([&] { return favorites()->favorites().size() == before + 1; }));
    EXPECT_EQ(favorites()->favorites().back()->displayName(), "From file");
}

TEST_F(Startup, TheFavoritesWindowReturnsWhenTheLastServerIsGone) {
    app->applicationDidFinishLaunching({});
    auto a = store->insertFavorite(), b = store->insertFavorite();
    auto registry = ZNTServerController::sharedController();
    auto serverA = registry->serverForFavorite(a), serverB = registry->serverForFavorite(b);
    favoritesWindow()->hide();
    registry->removeServer(serverA);
    EXPECT_FALSE(favoritesWindow()->isVisible());
    registry->removeServer(serverB);
    EXPECT_TRUE(favoritesWindow()->isVisible());
}

TEST(StartupProcess, ALaterStartHandsItsURLToTheRunningProgram) {
    QTemporaryDir home;
    QDir().mkpath(home.filePath("run"));
    QFile::setPermissions(home.filePath("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", home.filePath("run"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString program = QCoreApplication::applicationDirPath() + "/../trellan";

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(program, {});
    ASSERT_TRUE(pumpUntil([&] { return QFile::exists(home.filePath("run/Trellan.socket")); }));

    QProcess second;
    second.setProcessEnvironment(env);
    // On this computer: a link elsewhere would wait for the user's consent.
    second.start(program, {"postgresql://bob@127.0.0.1:1/shop"});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // The running program made the favorite: its store says so.
    const QString storePath = home.filePath("data/Trellan/ConnectionFavorites.db");
    auto hostsInStore = [&] {
        QProcess python;
        python.start("python3", {"-c",
                                 "import sqlite3,sys\n"
                                 "print(','.join(r[0] or '' for r in sqlite3.connect(sys.argv[1]).execute("
                                 "'select host from favorite order by 1')))",
                                 storePath});
        python.waitForFinished(10000);
        return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
    };
    EXPECT_TRUE(pumpUntil([&] { return hostsInStore().contains("127.0.0.1"); }, std::chrono::seconds(20)))
        << hostsInStore().toStdString();

    QProcess version;
    version.setProcessEnvironment(env);
    version.start(program, {"--version"});
    ASSERT_TRUE(version.waitForFinished(20000));
    EXPECT_TRUE(version.readAllStandardOutput().startsWith("Trellan "));

    first.terminate();
    if (!first.waitForFinished(5000))
        first.kill();
    first.waitForFinished();
}

namespace {

// A main window holding unsaved changes until its sheet is answered.
class UnsavedWindow : public ZNTWindowControllerHandle, public std::enable_shared_from_this<UnsavedWindow> {
public:
    std::function<void(bool)> answer;
    bool closed = false;
    void showWindow() override {}
    void performClose() override {}
    bool hasPendingChanges() const override { return !closed; }
    void resignWithDelegate(std::function<void(bool)> a) override { answer = std::move(a); }
    void close() override { closed = true; }
};

} // namespace

TEST_F(Startup, QuitWaitsForEveryWindowWithUnsavedChanges) {
    app->applicationDidFinishLaunching({});
    QSignalSpy quit(app.get(), &ZNTApplicationDelegate::readyToQuit);
    app->terminate();
    EXPECT_TRUE(pumpUntil([&] { return quit.count() == 1; })) << "nothing unsaved: the program ends";

    std::vector<std::shared_ptr<UnsavedWindow>> windows;
    ZNTServer::setWindowControllerFactory([&](std::shared_ptr<ZNTObject>) {
        windows.push_back(std::make_shared<UnsavedWindow>());
        return windows.back();
    });
    auto registry = ZNTServerController::sharedController();
    registry->serverForFavorite(store->insertFavorite())->showMainWindow();
    registry->serverForFavorite(store->insertFavorite())->showMainWindow();
    ASSERT_EQ(windows.size(), 2u);
    app->terminate();
    ASSERT_TRUE(windows[0]->answer && windows[1]->answer) << "every window is asked";
    windows[0]->answer(true);
    EXPECT_TRUE(windows[0]->closed);
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(quit.count(), 1);
    windows[1]->answer(true);
    EXPECT_TRUE(pumpUntil([&] { return quit.count() == 2; }));
}
