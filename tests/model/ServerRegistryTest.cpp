#include "ServerTestSupport.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServerController.h"
#include "platform/SystemInfo.h"

TEST(ServerRegistry, OneServerPerFavoriteUntilItIsRemoved) {
    auto registry = std::make_shared<ZNTServerController>();
    auto favorite = std::make_shared<FakeFavorite>();
    favorite->nick = "Prod";
    favorite->fields.host = "db.example";
    auto twin = std::make_shared<FakeFavorite>(*favorite); // equal fields, another object

    auto server = registry->serverForFavorite(favorite);
    EXPECT_EQ(registry->serverForFavorite(favorite), server);
    EXPECT_EQ(server->name(), "Prod");
    EXPECT_EQ(server->favorite(), favorite);
    auto twinServer = registry->serverForFavorite(twin);
    EXPECT_NE(twinServer, server);
    EXPECT_EQ(registry->servers(), (std::vector<std::shared_ptr<ZNTServer>>{server, twinServer}));

    PostCounter removed(ZNTServerController::DidRemoveServerNotification, registry.get());
    auto connection = server->mainConnection();
    registry->removeServer(server);
    EXPECT_EQ(removed.count, 1);
    auto fresh = registry->serverForFavorite(favorite);
    EXPECT_NE(fresh, server);
    EXPECT_NE(fresh->mainConnection(), connection);
    // Removing what is not registered still announces it.
    registry->removeServer(server);
    EXPECT_EQ(removed.count, 2);
    EXPECT_EQ(registry->servers().size(), 2u);
}

TEST(ServerRegistry, AnEmptyFavoriteGivesAnEmptyDictionaryAndTheLoginNameDatabase) {
    auto registry = std::make_shared<ZNTServerController>();
    auto server = registry->serverForFavorite(std::make_shared<FakeFavorite>());
    QVariantMap params = server->params();
    EXPECT_EQ(params.take("client_encoding"), "UNICODE");
    EXPECT_TRUE(params.take("application_name").toString().startsWith("Trellan "));
    EXPECT_TRUE(params.isEmpty()) << QStringList(params.keys()).join(",").toStdString();
    EXPECT_EQ(server->mainDatabase()->name(), SystemInfo::loginName());
    EXPECT_EQ(server->name(), "localhost");
}

TEST(ServerRegistry, EachKeyIsSetOnlyWhenItsFieldHasAValue) {
    ZNTFavoriteConnectionFields f;
    f.host = "h";
    f.port = 6543;
    f.database = "";
    f.user = "u";
    f.password = "";
    f.sshEnabled = false;
    f.sshPort = 0;
    f.sshPrivateKeyURL = QUrl::fromLocalFile("/home/u/.ssh/id_ed25519");
    const QVariantMap params = ZNTServerController::connectionParameters(f);
    EXPECT_EQ(params, (QVariantMap{{"host", "h"},
                                   {"port", 6543},
                                   {"dbname", ""},
                                   {"user", "u"},
                                   {"password", ""},
                                   {"sshEnabled", false},
                                   {"sshPort", 0},
                                   {"sshPrivateKeyURL", QUrl::fromLocalFile("/home/u/.ssh/id_ed25519")}}));

    ZNTFavoriteConnectionFields flags;
    flags.allowPlainTextConnection = true;
    flags.sshPrivateKeyPassphrase = "pp";
    flags.sshPrivateKeyPassphraseSaveInKeychain = true;
    EXPECT_EQ(ZNTServerController::connectionParameters(flags),
              (QVariantMap{{"allowPlainTextConnection", true},
                           {"sshPrivateKeyPassphrase", "pp"},
                           {"sshPrivateKeyPassphraseSaveInKeychain", true}}));
}

TEST(ServerRegistry, APasswordNotInMemoryGoesAsTheItemToReadItFrom) {
    ZNTFavoriteConnectionFields f;
    f.passwordKeychainService = "postgresql://h";
    f.passwordKeychainAccount = "u";
    f.sshPassword = "typed";
    f.sshPasswordKeychainService = "ssh://gw";
    f.sshPasswordKeychainAccount = "u";
    EXPECT_EQ(ZNTServerController::connectionParameters(f), (QVariantMap{{"passwordKeychainService", "postgresql://h"},
                                                                         {"passwordKeychainAccount", "u"},
                                                                         {"sshPassword", "typed"}}));
}

TEST(ServerRegistry, DiscardingAtQuitForgetsServersAndWindowsSilently) {
    StandInWindows windows;
    auto registry = std::make_shared<ZNTServerController>();
    auto favorite = std::make_shared<FakeFavorite>();
    favorite->allDatabases = true;
    std::weak_ptr<ZNTServer> weakServer = registry->serverForFavorite(favorite);
    weakServer.lock()->showMainWindow();
    PostCounter removed(ZNTServerController::DidRemoveServerNotification, registry.get());
    PostCounter closed(ZNTServer::AllWindowsClosedNotification, nullptr);

    registry->discardAllServers();
    EXPECT_TRUE(registry->servers().empty());
    EXPECT_TRUE(weakServer.expired());
    EXPECT_TRUE(windows.made.at(0).expired());
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(removed.count, 0);
    EXPECT_EQ(closed.count, 0);
}
