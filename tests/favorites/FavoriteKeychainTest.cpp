// Favorites and their secret-store items: the item names, which favorites share
// an item, and the pass before each save that adds, moves and deletes items.
// secret-tool reads the real Secret Service as a reader of its own.
#include "StoreTestSupport.h"
#include "engine/Keychain.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "platform/SecretStore.h"
#include "platform/SystemInfo.h"

#include <QDir>
#include <QUuid>
#include <atomic>
#include <sqlite3.h>

namespace {
QString uniqueHost() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).left(8) + ".example";
}

// A store that can be made to fail, and says on which thread it was asked.
class FlakyStore : public MemorySecretStore {
public:
    std::atomic<bool> failWrites{false};
    std::atomic<bool> failReads{false};
    std::atomic<bool> askedOnMain{false};

    SecretStatus find(const QString &s, const QString &a) override {
        note();
        return failReads ? unavailable() : MemorySecretStore::find(s, a);
    }
    SecretStatus read(const QString &s, const QString &a, QString *p, QString *l) override {
        note();
        return failReads ? unavailable() : MemorySecretStore::read(s, a, p, l);
    }
    SecretStatus add(const QString &s, const QString &a, const QString &l, const QString &p) override {
        note();
        return failWrites ? unavailable() : MemorySecretStore::add(s, a, l, p);
    }
    SecretStatus modify(const QString &s, const QString &a, const QString &ns, const QString &na, const QString &nl,
                        const QString &np) override {
        note();
        return failWrites ? unavailable() : MemorySecretStore::modify(s, a, ns, na, nl, np);
    }
    SecretStatus deleteItem(const QString &s, const QString &a) override {
        note();
        return failWrites ? unavailable() : MemorySecretStore::deleteItem(s, a);
    }

private:
    static SecretStatus unavailable() { return SecretStatus::failed(Unavailable, QStringLiteral("locked")); }
    void note() { askedOnMain = askedOnMain || Main::isMainThread(); }
};

class SecretStoreScope {
public:
    explicit SecretStoreScope(std::shared_ptr<SecretStore> store) : m_previous(SecretStore::shared()) {
        SecretStore::setShared(std::move(store));
    }
    ~SecretStoreScope() { SecretStore::setShared(m_previous); }

private:
    std::shared_ptr<SecretStore> m_previous;
};
} // namespace

TEST(FavoriteItemNames, PortsAndTunnelsNameTheItemsAsTheDefaultsAllow) {
    ZNTFavoriteValues v;
    EXPECT_EQ(ZNTFavorite::keychainItemName(v), "postgresql://localhost");
    v.port = 5432;
    EXPECT_EQ(ZNTFavorite::keychainItemName(v), "postgresql://localhost");
    v.port = 5433;
    v.host = "db";
    EXPECT_EQ(ZNTFavorite::keychainItemName(v), "postgresql://db:5433");
    EXPECT_EQ(ZNTFavorite::keychainItemAccount(v), SystemInfo::loginName());
    v.user = "ann";
    EXPECT_EQ(ZNTFavorite::keychainItemAccount(v), "ann");
    EXPECT_TRUE(ZNTFavorite::sshKeychainItemName(v).isNull());

    ZNTFavoriteValues ssh;
    ssh.sshEnabled = true;
    ssh.sshHost = "gw";
    ssh.sshPort = 2222;
    ssh.host = "";
    ssh.port = 6543;
    EXPECT_EQ(ZNTFavorite::keychainItemName(ssh), "postgresql+ssh://gw:2222/localhost:6543");
    EXPECT_EQ(ZNTFavorite::sshKeychainItemName(ssh), "ssh://gw:2222");
    EXPECT_EQ(ZNTFavorite::sshKeychainItemAccount(ssh), SystemInfo::loginName());
    ssh.sshPort = 22;
    EXPECT_EQ(ZNTFavorite::keychainItemName(ssh), "postgresql+ssh://gw/localhost:6543");
    EXPECT_EQ(ZNTFavorite::sshKeychainItemName(ssh), "ssh://gw");
    // An SSH host left over while the tunnel is off names no tunnel.
    ssh.sshEnabled = false;
    EXPECT_EQ(ZNTFavorite::keychainItemName(ssh), "postgresql://localhost:6543");
}

TEST(FavoriteNames, DuplicatesCountUpAndNamesFallBackToHostOrSshHost) {
    const std::pair<QString, QString> copies[] = {
        {"Prod", "Prod copy"},
        {"Prod copy", "Prod copy 2"},
        {"Prod copy 2", "Prod copy 3"},
        {"Prod copy 0", "Prod copy 0 copy"},
        {"Prod copy x", "Prod copy x copy"},
        {"a copy b copy  41x", "a copy b copy 42"},
    };
    for (const auto &[name, copy] : copies)
        EXPECT_EQ(ZNTFavorite::nameForDuplicate(name), copy) << name.toStdString();
}

class FavoriteKeychain : public StoreFixture {
protected:
    std::shared_ptr<ZNTFavorite> savedFavorite(const std::shared_ptr<ZNTFavoritesStore> &store, const QString &host,
                                               const QString &password) {
        auto favorite = store->insertFavorite();
        favorite->setHost(host);
        favorite->setUser("kc");
        favorite->setSavePassword(true);
        favorite->setPassword(password);
        return favorite;
    }
    void saveAndSettle(const std::shared_ptr<ZNTFavoritesStore> &store) {
        saveOrFail(store);
        settle(store);
    }
};

TEST_F(FavoriteKeychain, DerivedNamesAndTheKeyPathFollowTheFields) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    EXPECT_EQ(favorite->displayName(), "localhost");
    favorite->setSshHost("gw");
    EXPECT_EQ(favorite->displayName(), "gw");
    favorite->setHost("db");
    EXPECT_EQ(favorite->displayName(), "db");
    favorite->setNickname("");
    EXPECT_EQ(favorite->displayName(), "");
    EXPECT_EQ(favorite->effectiveDatabase(), SystemInfo::loginName());
    favorite->setUser("ann");
    EXPECT_EQ(favorite->effectiveDatabase(), "ann");

    const QString home = QDir::homePath();
    favorite->setSshPrivateKeyBookmark((home + "/.ssh/id_ed25519").toUtf8());
    EXPECT_EQ(favorite->sshPrivateKeyPath(), "~/.ssh/id_ed25519");
    favorite->setSshPrivateKeyBookmark((home + "x/key").toUtf8());
    EXPECT_EQ(favorite->sshPrivateKeyPath(), home + "x/key");
    EXPECT_FALSE(favorite->color().isValid());
    favorite->setColorIndex(6);
    EXPECT_TRUE(favorite->color().isValid());
    favorite->setColorIndex(8);
    EXPECT_FALSE(favorite->color().isValid());
}

TEST_F(FavoriteKeychain, AHostChangeAddsAnItemWhenSharedAndMovesItWhenNot) {
    auto store = openStore();
    const QString host = uniqueHost(), moved = uniqueHost();
    auto a = savedFavorite(store, host, "shared-pw");
    auto b = store->insertFavorite();
    b->setHost(host);
    b->setUser("kc");
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "shared-pw");

    a->setHost(moved);
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "shared-pw"); // b still uses it
    EXPECT_EQ(secretToolLookup("postgresql://" + moved, "kc"), "shared-pw");

    // Alone now: the next change moves the item instead of leaving one behind.
    const QString again = uniqueHost();
    a->setHost(again);
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + moved, "kc"), "");
    EXPECT_EQ(secretToolLookup("postgresql://" + again, "kc"), "shared-pw");
    EXPECT_EQ(a->rememberedKeychainItem(false), (KeychainItemMemory{"postgresql://" + again, "kc", "shared-pw"}));
    KeychainDeletePassword("postgresql://" + host, "kc");
    KeychainDeletePassword("postgresql://" + again, "kc");
}

// Favorites that name one item share it, whatever else differs: a stray SSH host
// with the tunnel off, or an empty user beside the login name.
TEST_F(FavoriteKeychain, DeletingOrEditingOneFavoriteNeverTakesAnItemAnotherStillUses) {
    auto store = openStore();
    const QString host = uniqueHost();
    auto stray = savedFavorite(store, host, "pw");
    stray->setSshHost("leftover-gw");
    auto plain = savedFavorite(store, host, "pw");
    saveAndSettle(store);
    ASSERT_EQ(secretToolLookup("postgresql://" + host, "kc"), "pw");
    store->deleteFavorite(stray);
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "pw");

    const QString other = uniqueHost();
    auto login = savedFavorite(store, other, "pw2");
    login->setUser(SystemInfo::loginName());
    auto blank = savedFavorite(store, other, "pw2");
    blank->setUser("");
    saveAndSettle(store);
    blank->setHost(uniqueHost());
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + other, SystemInfo::loginName()), "pw2");
    KeychainDeletePassword("postgresql://" + host, "kc");
    KeychainDeletePassword("postgresql://" + other, SystemInfo::loginName());
    KeychainDeletePassword("postgresql://" + blank->host(), SystemInfo::loginName());
}

TEST_F(FavoriteKeychain, SwitchingSavePasswordOffStaysOffAcrossSaves) {
    const QString host = uniqueHost();
    {
        auto store = openStore();
        savedFavorite(store, host, "to-forget");
        saveAndSettle(store);
        ASSERT_EQ(secretToolLookup("postgresql://" + host, "kc"), "to-forget");
    }
    // A later run: nothing of the item is in memory when the user switches it off.
    auto store = openStore();
    auto favorite = store->favorites().front();
    favorite->setSavePassword(false);
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "");
    favorite->setNickname("touched");
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "");
    EXPECT_FALSE(favorite->savePassword());
    EXPECT_TRUE(favorite->password().isNull());
}

TEST_F(FavoriteKeychain, ANewPasswordReplacesTheOneStoredInAnEarlierRun) {
    const QString host = uniqueHost();
    {
        auto store = openStore();
        savedFavorite(store, host, "old");
        saveAndSettle(store);
    }
    auto store = openStore();
    store->favorites().front()->setPassword("typed-anew");
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "typed-anew");
    KeychainDeletePassword("postgresql://" + host, "kc");
}

// A write the keyring refuses is a failure told once, never a success: the
// favorite's "save" flag goes off (so the next save does not try again behind
// the user's back) and the favorite says why; saving it again is the user's
// choice.
TEST_F(FavoriteKeychain, AWriteThatFailsIsToldOnceAndSavingGoesOffUntilTheUserAsksAgain) {
    auto keyring = std::make_shared<FlakyStore>();
    SecretStoreScope scope(keyring);
    auto store = openStore();
    auto favorite = savedFavorite(store, "retry.example", "keep-me");
    favorite->setSaveSshPassword(true);
    favorite->setSshHost("gw.example");
    favorite->setSshPassword("ssh-secret");
    int told = 0;
    ObserverToken telling = NotificationCenter::defaultCenter().observe(
        ZNTFavorite::PasswordNotSavedNotification, favorite.get(), [&](const Notification &) { ++told; });
    keyring->failWrites = true;
    saveAndSettle(store);
    EXPECT_TRUE(keyring->items().empty());
    EXPECT_FALSE(favorite->rememberedKeychainItem(false));
    EXPECT_FALSE(favorite->savePassword());
    EXPECT_FALSE(favorite->saveSshPassword());
    EXPECT_EQ(told, 2);
    EXPECT_TRUE(favorite->keychainFailureString.contains("(locked)")) << favorite->keychainFailureString.toStdString();
    EXPECT_TRUE(favorite->rowShowsError());

    keyring->failWrites = false;
    favorite->setNickname("any change saves");
    saveAndSettle(store);
    saveAndSettle(store);
    EXPECT_TRUE(keyring->items().empty());
    EXPECT_EQ(told, 2);

    favorite->setSavePassword(true);
    saveAndSettle(store);
    ASSERT_EQ(keyring->items().size(), 1u);
    EXPECT_EQ(keyring->items().begin()->second.password, "keep-me");
    EXPECT_TRUE(favorite->savePassword());
    EXPECT_EQ(told, 2);
    EXPECT_FALSE(keyring->askedOnMain.load());
}

TEST_F(FavoriteKeychain, PasswordsAreReadOffTheMainThreadAndAFailedReadIsNoPassword) {
    auto keyring = std::make_shared<FlakyStore>();
    SecretStoreScope scope(keyring);
    keyring->MemorySecretStore::add("postgresql://read.example", "kc", "label", "stored");
    keyring->MemorySecretStore::add("ssh://gw.example", "tunnel", "label", "ssh-stored");
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setHost("read.example");
    favorite->setUser("kc");
    favorite->setSshHost("gw.example");
    favorite->setSshUser("tunnel");

    keyring->failReads = true;
    std::optional<ErrorPtr> outcome;
    favorite->loadPasswords([&](ErrorPtr error) { outcome = error; });
    ASSERT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
    ASSERT_NE(*outcome, nullptr);
    EXPECT_TRUE((*outcome)->localizedDescription().contains("could not be read"));
    EXPECT_TRUE(favorite->password().isNull());
    EXPECT_FALSE(favorite->savePassword());

    keyring->failReads = false;
    outcome.reset();
    favorite->loadPasswords([&](ErrorPtr error) { outcome = error; });
    ASSERT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, nullptr);
    EXPECT_EQ(favorite->password(), "stored");
    EXPECT_EQ(favorite->sshPassword(), "ssh-stored");
    EXPECT_TRUE(favorite->savePassword());
    EXPECT_TRUE(favorite->saveSshPassword());
    EXPECT_FALSE(keyring->askedOnMain.load());
}

TEST_F(FavoriteKeychain, ADuplicateTakesTheStoredPasswordsButNotTheSaveFlagsOrColour) {
    auto keyring = std::make_shared<FlakyStore>();
    SecretStoreScope scope(keyring);
    keyring->MemorySecretStore::add("postgresql://dup.example", "kc", "label", "dup-pw");
    auto store = openStore();
    auto source = store->insertFavorite();
    source->setNickname("Prod");
    source->setHost("dup.example");
    source->setUser("kc");
    source->setColorIndex(3);
    source->setSavePassword(true); // the item is its own, from an earlier run
    store->insertFavorite()->setNickname("after");
    saveOrFail(store);

    std::shared_ptr<ZNTFavorite> copy;
    bool done = false;
    source->duplicateFavorite([&](std::shared_ptr<ZNTFavorite> twin, ErrorPtr error) {
        EXPECT_EQ(error, nullptr);
        copy = twin;
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->nickname(), "Prod copy");
    EXPECT_EQ(copy->host(), "dup.example");
    EXPECT_EQ(copy->password(), "dup-pw");
    EXPECT_EQ(copy->colorIndex(), 0);
    EXPECT_FALSE(copy->savePassword());
    EXPECT_EQ(copy->order(), 3);
    EXPECT_EQ(source->password(), "dup-pw");
}

TEST_F(FavoriteKeychain, AnItemRemovedBehindOurBackIsStoredAgainWithTheNewPassword) {
    auto keyring = std::make_shared<FlakyStore>();
    SecretStoreScope scope(keyring);
    auto store = openStore();
    auto favorite = savedFavorite(store, "gone.example", "first");
    saveAndSettle(store);
    keyring->MemorySecretStore::deleteItem("postgresql://gone.example", "kc");
    favorite->setPassword("second");
    saveAndSettle(store);
    ASSERT_EQ(keyring->items().size(), 1u);
    EXPECT_EQ(keyring->items().begin()->second.password, "second");
}

TEST_F(FavoriteKeychain, AChoiceMadeWhileAPasswordIsBeingReadIsNotOverturnedByTheRead) {
    auto keyring = std::make_shared<FlakyStore>();
    SecretStoreScope scope(keyring);
    keyring->MemorySecretStore::add("postgresql://choice.example", "kc", "label", "stored");
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setHost("choice.example");
    favorite->setUser("kc");
    bool done = false;
    favorite->loadPasswords([&](ErrorPtr) { done = true; });
    favorite->setSavePassword(false); // before the answer arrives
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(favorite->password(), "stored");
    EXPECT_FALSE(favorite->savePassword());
}

// The keyring follows the file: a save that does not reach the file leaves the
// passwords of the favorites still in it, and the next save that does catches up.
TEST_F(FavoriteKeychain, ASaveThatFailsLeavesTheKeyringAsItWas) {
    auto store = openStore();
    const QString host = uniqueHost();
    auto favorite = savedFavorite(store, host, "keep-me");
    saveAndSettle(store);
    ASSERT_EQ(secretToolLookup("postgresql://" + host, "kc"), "keep-me");

    sqlite3_exec(store->handle(), "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    store->deleteFavorite(favorite);
    ErrorPtr error;
    EXPECT_FALSE(store->save(&error));
    settle(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM favorite"), "1");
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "keep-me")
        << "the password went while its favorite stayed in the file";

    sqlite3_exec(store->handle(), "PRAGMA query_only = 0", nullptr, nullptr, nullptr);
    saveAndSettle(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM favorite"), "0");
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "");
}

// A favorite that keeps no password never takes the one another keeps, whether
// it names that item by what it saved or by what is being typed into it: a
// second favorite for another database of the same server, filled in field by
// field, or a saved favorite moved onto the other's server.
TEST_F(FavoriteKeychain, AFavoriteThatKeepsNoPasswordNeverDeletesOneAnotherKeeps) {
    auto store = openStore();
    const QString host = uniqueHost();
    savedFavorite(store, host, "first-pw");
    saveAndSettle(store);
    ASSERT_EQ(secretToolLookup("postgresql://" + host, "kc"), "first-pw");

    auto second = store->insertFavorite();
    saveAndSettle(store); // an empty favorite: localhost, the login name
    second->setHost(host);
    saveAndSettle(store);
    second->setUser("kc");
    second->setDatabase("other");
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "first-pw") << "the new favorite took it";
    second->setNickname("Other database");
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "first-pw");

    auto moved = store->insertFavorite();
    moved->setHost(uniqueHost());
    moved->setUser("kc");
    saveAndSettle(store);
    moved->setHost(host);
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + host, "kc"), "first-pw") << "the moved favorite took it";
    KeychainDeletePassword("postgresql://" + host, "kc");

    // The other way round, both within one save: one that keeps its password
    // moves onto the server that a new one, keeping none, is typed in for. The
    // password moves with it, and stays.
    const QString target = uniqueHost();
    auto keeper = savedFavorite(store, uniqueHost(), "keeper-pw");
    saveAndSettle(store);
    keeper->setHost(target);
    auto plain = store->insertFavorite();
    plain->setHost(target);
    plain->setUser("kc");
    saveAndSettle(store);
    EXPECT_EQ(secretToolLookup("postgresql://" + target, "kc"), "keeper-pw") << "the moved password was taken";
    KeychainDeletePassword("postgresql://" + target, "kc");
}
