#include "ServerTestSupport.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "engine/ZNTResult.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServerController.h"
#include "platform/ProgramError.h"
#include "platform/SystemInfo.h"
#include "support/PostgresSupport.h"

namespace {
// The first value of the first row, as text; null when the query failed.
QString firstValue(const std::shared_ptr<ZNTConnection> &connection, const QString &sql) {
    auto query = ZNTQuery::create(sql);
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                      [&](const Notification &) { done = true; });
    query->executeInBackgroundOnConnection(connection, true);
    EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(30))) << sql.toStdString();
    for (const auto &result : query->results()) {
        if (result->rows() && result->rows()->rowCount() > 0)
            return result->rows()->displayText(0, 0);
    }
    return QString();
}
} // namespace

TEST(ServerParameters, EncodingAndProgramNameAreAddedAndTheMainDatabaseFollowsDbnameUserLogin) {
    auto server = ZNTServer::create({{"dbname", "sales"}, {"user", "ann"}, {"host", "db.example"}});
    EXPECT_EQ(server->params().value("client_encoding"), "UNICODE");
    EXPECT_EQ(server->params().value("application_name"), "Trellan " + SystemInfo::shortVersionString());
    EXPECT_EQ(server->params().value("dbname"), "sales");
    EXPECT_EQ(server->mainDatabase()->name(), "sales");
    EXPECT_EQ(server->name(), "db.example");
    server->setName("Nick");
    EXPECT_EQ(server->name(), "Nick");

    EXPECT_EQ(ZNTServer::create({{"user", "ann"}})->mainDatabase()->name(), "ann");
    // libpq reads an empty database name as the user's own, and so do we.
    EXPECT_EQ(ZNTServer::create({{"dbname", ""}, {"user", "ann"}})->mainDatabase()->name(), "ann");
    auto bare = ZNTServer::create({});
    EXPECT_EQ(bare->mainDatabase()->name(), SystemInfo::loginName());
    EXPECT_EQ(bare->name(), "localhost");
    EXPECT_FALSE(bare->isLocalHost());
    for (const char *host : {"127.0.0.1", "localhost", "::1"})
        EXPECT_TRUE(ZNTServer::create({{"host", host}})->isLocalHost()) << host;
}

TEST(ServerConnections, EqualDatabasesShareOneConnectionAndOthersGetTheirOwn) {
    auto server = ZNTServer::create(testServerParams());
    auto main = server->mainConnection();
    EXPECT_EQ(server->connectionForDatabase(*server->mainDatabase()->copy()), main);
    EXPECT_EQ(server->connectionForDatabase(ZNTDatabase("postgres", server)), main);
    EXPECT_EQ(server->mainDatabase()->connection(), main);

    auto other = server->connectionForDatabase(ZNTDatabase("template1", server));
    ASSERT_NE(other, main);
    EXPECT_EQ(other->params().value("dbname"), "template1");
    EXPECT_EQ(other->params().value("host"), main->params().value("host"));
    EXPECT_NE(&other->connectionQueue(), &main->connectionQueue());
    EXPECT_EQ(other->server().get(), server.get());
    EXPECT_EQ(server->connections().size(), 2u);

    auto stranger = ZNTServer::create(testServerParams());
    EXPECT_THROW(server->connectionForDatabase(*stranger->mainDatabase()), ProgramError);
}

TEST(ServerConnections, ConcurrentRequestsForOneDatabaseMakeOneConnection) {
    auto server = ZNTServer::create(testServerParams());
    std::vector<std::shared_ptr<ZNTConnection>> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = server->connectionForDatabase(ZNTDatabase("shared", server)); });
    for (auto &thread : threads)
        thread.join();
    for (const auto &connection : seen)
        EXPECT_EQ(connection, seen.front());
}

TEST(DatabaseIdentity, EqualByNameAndServerAndStillEqualToItselfOnceTheServerIsGone) {
    auto server = ZNTServer::create({});
    auto other = ZNTServer::create({});
    ZNTDatabase a("d", server), b("d", server), c("e", server), elsewhere("d", other);
    EXPECT_TRUE(a.isEqual(b));
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_FALSE(a.isEqual(c));
    EXPECT_FALSE(a.isEqual(elsewhere));
    EXPECT_EQ(a.parent().get(), server.get());

    auto copy = a.copy();
    server.reset();
    EXPECT_EQ(a.parent(), nullptr);
    EXPECT_EQ(a.connection(), nullptr);
    EXPECT_TRUE(a.isEqual(a));
    EXPECT_TRUE(a.isEqual(*copy));
    EXPECT_TRUE(a.isEqual(b));
    // A server made later never inherits the identity of one that is gone.
    auto later = ZNTServer::create({});
    EXPECT_FALSE(a.isEqual(ZNTDatabase("d", later)));
}

TEST(ServerStatus, MainConnectionStatesArePostedAgainWithTheServerAndTheirUserInfo) {
    auto server = ZNTServer::create(testServerParams());
    std::vector<unsigned> states;
    std::vector<QString> descriptions;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTServer::StatusChangedNotification, server.get(), [&](const Notification &n) {
            EXPECT_EQ(n.object.get(), static_cast<void *>(server.get()));
            states.push_back(n.value<unsigned>(ZNTConnection::StateKey).value_or(99));
            descriptions.push_back(n.value<QString>(ZNTConnection::StateDescriptionKey).value_or("?"));
        });
    server->connect();
    // "Connected." comes twice: after the handshake, and after version and settings.
    ASSERT_TRUE(pumpUntil([&] { return std::count(states.begin(), states.end(), 3u) == 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(descriptions.back(), "Connected.");
    EXPECT_EQ(std::count(states.begin(), states.end(), 2u), 0);

    // Another database's connection connects on its own and is not reposted.
    const size_t before = states.size();
    auto other = server->connectionForDatabase(ZNTDatabase("template1", server));
    EXPECT_EQ(firstValue(other, "select current_database()"), "template1");
    EXPECT_EQ(states.size(), before);
}

TEST(ServerStatus, TheServerSeesTheProgramNameAndUnicodeEncoding) {
    auto server = ZNTServer::create(testServerParams());
    auto connection = server->mainConnection();
    const QString pid = firstValue(connection, "select pg_backend_pid()");
    ASSERT_FALSE(pid.isEmpty());
    // Asked on a second session, so the answer is what the server recorded.
    auto observer = ZNTConnection::create(testServerParams());
    EXPECT_EQ(firstValue(observer, "select application_name from pg_stat_activity where pid = " + pid),
              "Trellan " + SystemInfo::shortVersionString());
    // "UNICODE" is the server's alias of UTF8.
    EXPECT_EQ(firstValue(connection, "select pg_encoding_to_char(pg_char_to_encoding(current_setting("
                                     "'client_encoding')))"),
              "UTF8");
}

TEST(ServerWindows, ShowMainWindowOpensOneWindowOnTheMainDatabaseOrTheServer) {
    StandInWindows windows;
    auto favorite = std::make_shared<FakeFavorite>();
    auto server = ZNTServer::create({{"dbname", "d"}});
    server->setFavorite(favorite);
    server->showMainWindow();
    server->showMainWindow();
    ASSERT_EQ(server->windowControllers().size(), 1u);
    EXPECT_EQ(windows.at(0)->shown, 2);
    auto database = std::dynamic_pointer_cast<ZNTDatabase>(windows.at(0)->item);
    ASSERT_NE(database, nullptr);
    EXPECT_TRUE(database->isEqual(*server->mainDatabase()));

    server->openNewWindowForItem(server->mainDatabase());
    EXPECT_EQ(server->windowControllers().size(), 2u);
    EXPECT_EQ(windows.at(1)->shown, 1);

    favorite->allDatabases = true;
    auto whole = ZNTServer::create({});
    whole->setFavorite(favorite);
    whole->showMainWindow();
    EXPECT_EQ(windows.at(2)->item.get(), static_cast<ZNTObject *>(whole.get()));
    windows.at(2)->close();
    pumpFor(std::chrono::milliseconds(20));
}

TEST(ServerWindows, ClosingTheLastOfThreeWindowsPostsOnceAfterTheLoopTurns) {
    StandInWindows windows;
    auto server = ZNTServer::create({});
    server->setFavorite(std::make_shared<FakeFavorite>());
    server->showMainWindow();
    server->openNewWindowForItem(server);
    server->openNewWindowForItem(server->mainDatabase());
    PostCounter closed(ZNTServer::AllWindowsClosedNotification, server.get());

    windows.at(0)->close();
    windows.at(2)->close();
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(closed.count, 0);
    EXPECT_EQ(server->windowControllers().size(), 1u);

    windows.at(1)->close();
    // Still inside the close: the window is listed and nothing is announced yet.
    EXPECT_EQ(closed.count, 0);
    EXPECT_EQ(server->windowControllers().size(), 1u);
    ASSERT_TRUE(pumpUntil([&] { return closed.count > 0; }));
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(closed.count, 1);
    EXPECT_TRUE(server->windowControllers().empty());
}

TEST(ServerWindows, AClosedWindowAndItsServerDoNotKeepEachOtherAlive) {
    StandInWindows windows;
    std::weak_ptr<ZNTServer> weakServer;
    {
        auto server = ZNTServer::create({});
        auto favorite = std::make_shared<FakeFavorite>();
        favorite->allDatabases = true; // the window holds the server itself
        server->setFavorite(favorite);
        server->showMainWindow();
        weakServer = server;
    }
    ASSERT_FALSE(weakServer.expired()); // the open window keeps it
    windows.at(0)->close();
    ASSERT_TRUE(pumpUntil([&] { return weakServer.expired(); }));
    EXPECT_TRUE(windows.made.at(0).expired());
}

TEST(ServerWindows, TryCloseAllAsksEveryWindowAndARefusalKeepsItOpen) {
    StandInWindows windows;
    auto server = ZNTServer::create({});
    server->setFavorite(std::make_shared<FakeFavorite>());
    server->showMainWindow();
    server->openNewWindowForItem(server->mainDatabase());
    windows.at(1)->refuseClose = true;
    PostCounter closed(ZNTServer::AllWindowsClosedNotification, server.get());
    server->tryCloseAllWindows();
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(server->windowControllers().size(), 1u);
    EXPECT_EQ(closed.count, 0);
    windows.at(1)->refuseClose = false;
    server->tryCloseAllWindows();
    EXPECT_TRUE(pumpUntil([&] { return closed.count == 1; }));
}

TEST(ServerWindows, WithoutAWindowFactoryShowingAWindowIsMisuse) {
    auto server = ZNTServer::create({});
    EXPECT_THROW(server->showMainWindow(), ProgramError);
}

namespace {
class RecordingDelegate : public ZNTServerAuthenticationDelegate {
public:
    std::weak_ptr<ZNTServer> askedFor; // the server holds its delegate
    QVariantMap request;
    void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &r, const std::shared_ptr<ZNTServer> &server,
                                                        std::shared_ptr<ConditionLock> lock,
                                                        std::shared_ptr<QStringList> responses) override {
        askedFor = server;
        request = r;
        responses->append("answer");
        lock->unlockWithCondition(1);
    }
};
} // namespace

TEST(ServerAuthentication, KeyboardInteractiveRequestsGoToTheDelegateOrAreRefusedWithoutOne) {
    auto server = ZNTServer::create({});
    auto lock = std::make_shared<ConditionLock>();
    auto responses = std::make_shared<QStringList>();
    EXPECT_FALSE(server->forwardKeyboardInteractiveRequest({}, lock, responses));

    auto delegate = std::make_shared<RecordingDelegate>();
    server->setAuthDelegate(delegate);
    EXPECT_TRUE(server->forwardKeyboardInteractiveRequest({{"name", "otp"}}, lock, responses));
    EXPECT_EQ(delegate->askedFor.lock(), server);
    EXPECT_EQ(delegate->request.value("name"), "otp");
    EXPECT_EQ(*responses, QStringList{"answer"});
    EXPECT_EQ(lock->condition(), 1);
}
