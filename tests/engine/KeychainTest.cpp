#include "engine/Keychain.h"
#include "platform/Log.h"
#include "platform/SecretStore.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

// The labels secret-tool lists for the items of one service.
QStringList labels(const QString &service) {
    QStringList found;
    for (const QString &line : secretTool({"search", "--all", "service", service}).split('\n'))
        if (line.startsWith("label = "))
            found << line.mid(8);
    return found;
}

// The Keychain functions on the session's real Secret Service; every test uses
// service names of its own so that parallel runs do not meet.
class Keychain : public ::testing::Test {
protected:
    void SetUp() override {
        requiredEnv("DBUS_SESSION_BUS_ADDRESS");
        SecretStore::setShared(std::make_shared<LibsecretStore>());
        const QString id = QUuid::createUuid().toString(QUuid::Id128).left(12);
        s = "KeychainTest-" + id;
        t = "KeychainTest-moved-" + id;
    }
    void TearDown() override {
        for (const QString &service : {s, t})
            for (const QString &account : {"alice", "bob"})
                KeychainDeletePassword(service, account);
        SecretStore::setShared(nullptr);
    }
    QString s, t;
};

} // namespace

TEST_F(Keychain, AddStoresLabelledItemAndKeepsAnExistingPassword) {
    KeychainAddPassword(s, "alice", "first");
    KeychainAddPassword(s, "alice", "second");
    EXPECT_EQ(secretToolLookup(s, "alice"), "first");
    EXPECT_EQ(labels(s), QStringList{s + " (alice)"});
    EXPECT_TRUE(KeychainHasPassword(s, "alice"));
    EXPECT_EQ(KeychainGetPassword(s, "alice"), "first");
}

TEST_F(Keychain, AbsentItemReadsAsEmptyAndNullNamesDoNothing) {
    const QString absent = KeychainGetPassword(s, "alice");
    EXPECT_TRUE(absent.isEmpty());
    EXPECT_FALSE(absent.isNull());
    EXPECT_FALSE(KeychainHasPassword(s, "alice"));

    EXPECT_TRUE(KeychainGetPassword(QString(), "alice").isNull());
    EXPECT_TRUE(KeychainGetPassword(s, QString()).isNull());
    KeychainAddPassword(QString(), "alice", "x");
    KeychainSetPassword(s, QString(), "x");
    EXPECT_FALSE(KeychainHasPassword(QString(), "alice"));
    EXPECT_TRUE(secretTool({"search", "--all", "account", "alice", "service", s}).isEmpty());
}

TEST_F(Keychain, ModifyMovesRelabelsAndReplacesThePassword) {
    KeychainAddPassword(s, "alice", "old");
    KeychainModifyPassword(s, "alice", t, "bob", "new");
    EXPECT_EQ(secretToolLookup(s, "alice"), "");
    EXPECT_EQ(secretToolLookup(t, "bob"), "new");
    EXPECT_EQ(labels(t), QStringList{t + " (bob)"});
    EXPECT_TRUE(labels(s).isEmpty());
}

TEST_F(Keychain, ModifyOfOneNameLabelsTheResultingPair) {
    KeychainAddPassword(s, "alice", "pw");
    KeychainModifyPassword(s, "alice", QString(), "bob", "pw2");
    EXPECT_EQ(secretToolLookup(s, "bob"), "pw2");
    EXPECT_EQ(labels(s), QStringList{s + " (bob)"});
    KeychainModifyPassword(s, "bob", t, QString(), "pw3");
    EXPECT_EQ(secretToolLookup(t, "bob"), "pw3");
    EXPECT_EQ(labels(t), QStringList{t + " (bob)"});
}

TEST_F(Keychain, ModifyOfAnAbsentItemOnlyLogs) {
    LogCapture log;
    KeychainModifyPassword(s, "alice", t, "bob", "new");
    EXPECT_TRUE(log.contains(
        QStringLiteral("Keychain error: Tried to modify non-existing password for name: %1, account: alice").arg(s)));
    EXPECT_EQ(secretToolLookup(t, "bob"), "");
}

TEST_F(Keychain, SetReplacesADifferentPasswordAndDeleteRemovesIt) {
    KeychainAddPassword(s, "alice", "old");
    KeychainSetPassword(s, "alice", "new");
    EXPECT_EQ(secretToolLookup(s, "alice"), "new");
    EXPECT_EQ(labels(s).size(), 1);
    KeychainSetPassword(s, "bob", "fresh");
    EXPECT_EQ(secretToolLookup(s, "bob"), "fresh");
    KeychainDeletePassword(s, "alice");
    EXPECT_EQ(secretToolLookup(s, "alice"), "");
    EXPECT_FALSE(KeychainHasPassword(s, "alice"));
    EXPECT_TRUE(KeychainHasPassword(s, "bob"));
}

TEST_F(Keychain, UnicodePasswordsAndNamesRoundTrip) {
    const QString password = QStringLiteral("Grüße, 密码, 🔐 and a \"quote\"");
    const QString account = QStringLiteral("alice");
    KeychainSetPassword(s, account, password);
    EXPECT_EQ(secretToolLookup(s, account), password);
    EXPECT_EQ(KeychainGetPassword(s, account), password);
    const QString path = QStringLiteral("/home/ünï/.ssh/id_ed25519");
    KeychainAddPassword(t, path, password);
    EXPECT_EQ(secretToolLookup(t, path), password);
    KeychainDeletePassword(t, path);
    EXPECT_EQ(secretToolLookup(t, path), "");
}

// MARK: the logic, on a store in memory

namespace {
class MemoryKeychain : public ::testing::Test {
protected:
    void SetUp() override { SecretStore::setShared(store); }
    void TearDown() override { SecretStore::setShared(nullptr); }
    MemorySecretStore::Item item(const QString &service, const QString &account) {
        return store->items().at({service, account});
    }
    std::shared_ptr<MemorySecretStore> store = std::make_shared<MemorySecretStore>();
};

// A store whose every change fails, as a locked or broken keyring would.
class RefusingStore : public MemorySecretStore {
public:
    SecretStatus read(const QString &, const QString &, QString *, QString *) override {
        return SecretStatus::failed(SecretStore::Locked, "locked");
    }
    SecretStatus add(const QString &, const QString &, const QString &, const QString &) override {
        return SecretStatus::failed(7, "refused");
    }
    SecretStatus deleteItem(const QString &, const QString &) override { return SecretStatus::failed(9, "refused"); }
};
} // namespace

TEST_F(MemoryKeychain, SetOfTheSamePasswordLeavesTheItemAlone) {
    store->add("s", "a", "a label of its own", "pw");
    KeychainSetPassword("s", "a", "pw");
    EXPECT_EQ(item("s", "a").label, "a label of its own");
    KeychainSetPassword("s", "a", "other");
    EXPECT_EQ(item("s", "a").label, "s (a)");
    EXPECT_EQ(item("s", "a").password, "other");
}

TEST_F(MemoryKeychain, ModifyWithoutNewNamesKeepsTheLabel) {
    store->add("s", "a", "kept", "pw");
    KeychainModifyPassword("s", "a", QString(), QString(), "new");
    EXPECT_EQ(item("s", "a").label, "kept");
    EXPECT_EQ(item("s", "a").password, "new");
}

TEST_F(MemoryKeychain, ModifyOntoATakenPairLogsAndChangesNothing) {
    KeychainAddPassword("s", "a", "one");
    KeychainAddPassword("s", "b", "two");
    LogCapture log;
    KeychainModifyPassword("s", "a", QString(), "b", "three");
    EXPECT_TRUE(log.contains("Keychain Error (-2) while trying to modify password for name: s account: a"));
    EXPECT_EQ(item("s", "a").password, "one");
    EXPECT_EQ(item("s", "b").password, "two");
}

TEST(KeychainFailures, AFailingStoreIsNeverTakenForAMissingItem) {
    SecretStore::setShared(std::make_shared<RefusingStore>());
    LogCapture log;
    const SecretStatus added = KeychainAddPassword("svc", "acc", "pw");
    const SecretStatus set = KeychainSetPassword("svc", "acc", "pw");
    const SecretStatus deleted = KeychainDeletePassword("svc", "acc");
    SecretStatus readStatus;
    const QString read = KeychainGetPassword("svc", "acc", &readStatus);
    SecretStore::setShared(nullptr);

    EXPECT_TRUE(added.isFailed());
    EXPECT_TRUE(set.isFailed());
    EXPECT_TRUE(deleted.isFailed()) << "nothing was deleted";
    EXPECT_TRUE(readStatus.isFailed());
    EXPECT_TRUE(read.isNull()) << "a failed read is no empty password";
    const QStringList lines = log.lines();
    EXPECT_EQ(lines.filter("Error (7) while trying to add password for name: svc account: acc").size(), 2);
    EXPECT_EQ(lines.filter("Error (9) while trying to delete password for name: svc account: acc").size(), 1);
    EXPECT_EQ(lines.filter("Error (-4) while trying to read password for name: svc account: acc").size(), 1);
}

TEST_F(MemoryKeychain, AbsentItemsAnswerAbsentAndNullNamesStoreNothing) {
    SecretStatus status = SecretStatus::failed(0, {});
    EXPECT_EQ(KeychainGetPassword("s", "a", &status), "");
    EXPECT_TRUE(status.isAbsent());
    EXPECT_FALSE(KeychainHasPassword("s", "a", &status));
    EXPECT_TRUE(status.isAbsent());
    EXPECT_TRUE(KeychainDeletePassword("s", "a").isAbsent());
    EXPECT_TRUE(KeychainModifyPassword("s", "a", "t", {}, "x").isAbsent());
    EXPECT_TRUE(KeychainAddPassword("s", "a", "pw").isDone());
    EXPECT_TRUE(KeychainAddPassword("s", "a", "other").isDone()) << "the existing item is kept";
    EXPECT_TRUE(KeychainDeletePassword("s", "a").isDone());
    EXPECT_TRUE(KeychainSetPassword(QString(), "a", "pw").isFailed());
    EXPECT_TRUE(KeychainAddPassword("s", QString(), "pw").isFailed());
    EXPECT_TRUE(store->items().empty());
}

// The real libsecret path with no Secret Service on the bus, in a child process
// whose session bus does not exist.
TEST(KeychainWithoutService, EveryCallFailsAndNoneReadsAsMissingOrDeleted) {
    if (!isChildRun())
        return runCurrentTestInChild(
            {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/trellan-no-bus"}, {"DISPLAY", QString()}});
    SecretStore::setShared(std::make_shared<LibsecretStore>());
    LogCapture log;
    SecretStatus has, get;
    EXPECT_FALSE(KeychainHasPassword("svc", "acc", &has));
    EXPECT_TRUE(has.isFailed());
    EXPECT_TRUE(KeychainGetPassword("svc", "acc", &get).isNull());
    EXPECT_TRUE(get.isFailed());
    EXPECT_TRUE(KeychainAddPassword("svc", "acc", "pw").isFailed());
    EXPECT_TRUE(KeychainSetPassword("svc", "acc", "pw").isFailed());
    EXPECT_TRUE(KeychainModifyPassword("svc", "acc", "new", {}, "pw").isFailed());
    EXPECT_TRUE(KeychainDeletePassword("svc", "acc").isFailed());
    SecretStore::setShared(nullptr);
    EXPECT_TRUE(log.lines().filter("non-existing").isEmpty()) << log.lines().join('\n').toStdString();
    EXPECT_EQ(log.lines().filter("Keychain Error (-1) while trying to modify").size(), 1);
}
