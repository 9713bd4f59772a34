// A favorite's stored password reaches the server through its secret-store item:
// the connection reads it on its own queue, and a failed read is a failed
// connect, never an empty password.
#include "ServerTestSupport.h"
#include "engine/Keychain.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTServerController.h"
#include "platform/Main.h"
#include "platform/SecretStore.h"

#include <atomic>

namespace {
// Each test names an item of its own: the suite's test processes run side by
// side against one keyring.
ZNTFavoriteConnectionFields scramFields(const QString &item) {
    ZNTFavoriteConnectionFields f;
    f.host = requiredEnv("TRELLAN_PG_HOST");
    f.port = requiredEnv("TRELLAN_PG_PORT").toInt();
    f.database = "postgres";
    f.user = requiredEnv("TRELLAN_PG_SCRAM_USER");
    f.passwordKeychainService = "postgresql://trellan-server-password-test/" + item;
    f.passwordKeychainAccount = f.user;
    return f;
}

struct Outcome {
    int state = -1;
    ErrorPtr error;
    bool needsPassword = false;
};

Outcome connectFavorite(const ZNTFavoriteConnectionFields &fields) {
    auto favorite = std::make_shared<FakeFavorite>();
    favorite->fields = fields;
    auto registry = std::make_shared<ZNTServerController>();
    auto server = registry->serverForFavorite(favorite);
    Outcome outcome;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTServer::StatusChangedNotification, server.get(), [&](const Notification &n) {
            const unsigned state = n.value<unsigned>(ZNTConnection::StateKey).value_or(0);
            if (outcome.state < 0 && (state == 2 || state == 3)) {
                outcome.state = int(state);
                outcome.error = n.value<ErrorPtr>(ZNTConnection::ErrorObjectKey).value_or(nullptr);
                outcome.needsPassword = server->mainConnection()->needsPassword();
            }
        });
    server->connect();
    EXPECT_TRUE(pumpUntil([&] { return outcome.state >= 0; }, std::chrono::seconds(30)));
    return outcome;
}

// A keyring that cannot answer, and says on which thread it was asked.
class UnreachableStore : public MemorySecretStore {
public:
    std::atomic<bool> askedOnMain{false};
    std::atomic<int> reads{0};
    SecretStatus read(const QString &, const QString &, QString *, QString *) override {
        askedOnMain = askedOnMain || Main::isMainThread();
        ++reads;
        return SecretStatus::failed(Unavailable, QStringLiteral("no secret service"));
    }
};

class SharedStoreScope {
public:
    explicit SharedStoreScope(std::shared_ptr<SecretStore> store) : m_previous(SecretStore::shared()) {
        SecretStore::setShared(std::move(store));
    }
    ~SharedStoreScope() { SecretStore::setShared(m_previous); }

private:
    std::shared_ptr<SecretStore> m_previous;
};
} // namespace

TEST(ServerPasswords, AStoredPasswordIsReadFromTheKeyringAndLogsIn) {
    const ZNTFavoriteConnectionFields fields = scramFields("stored");
    ASSERT_TRUE(KeychainSetPassword(fields.passwordKeychainService, fields.passwordKeychainAccount,
                                    requiredEnv("TRELLAN_PG_SCRAM_PASSWORD"))
                    .isDone());
    const Outcome outcome = connectFavorite(fields);
    EXPECT_EQ(outcome.state, 3) << (outcome.error ? outcome.error->localizedDescription().toStdString() : "");
    KeychainDeletePassword(fields.passwordKeychainService, fields.passwordKeychainAccount);
}

TEST(ServerPasswords, APasswordInMemoryWinsOverTheStoredOne) {
    ZNTFavoriteConnectionFields fields = scramFields("in-memory");
    ASSERT_TRUE(
        KeychainSetPassword(fields.passwordKeychainService, fields.passwordKeychainAccount, "stale password").isDone());
    fields.password = requiredEnv("TRELLAN_PG_SCRAM_PASSWORD");
    // The registry leaves the item out when the password is at hand.
    EXPECT_FALSE(ZNTServerController::connectionParameters(fields).contains(ZNTConnection::PasswordKeychainServiceKey));
    EXPECT_EQ(connectFavorite(fields).state, 3);
    KeychainDeletePassword(fields.passwordKeychainService, fields.passwordKeychainAccount);
}

TEST(ServerPasswords, NoStoredItemAsksForAPassword) {
    ZNTFavoriteConnectionFields fields = scramFields("none");
    fields.passwordKeychainService = "postgresql://trellan-no-such-item";
    const Outcome outcome = connectFavorite(fields);
    EXPECT_EQ(outcome.state, 2);
    EXPECT_TRUE(outcome.needsPassword);
}

TEST(ServerPasswords, AKeyringThatCannotAnswerFailsTheConnectInsteadOfSendingNoPassword) {
    auto store = std::make_shared<UnreachableStore>();
    SharedStoreScope scope(store);
    const Outcome outcome = connectFavorite(scramFields("unreachable"));
    EXPECT_EQ(outcome.state, 2);
    EXPECT_FALSE(outcome.needsPassword);
    ASSERT_NE(outcome.error, nullptr);
    EXPECT_TRUE(outcome.error->localizedDescription().contains("could not be read from the keyring"))
        << outcome.error->localizedDescription().toStdString();
    EXPECT_EQ(store->reads.load(), 1);
    EXPECT_FALSE(store->askedOnMain.load());
}
