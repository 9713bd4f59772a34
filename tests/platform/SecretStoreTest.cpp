#include "platform/SecretStore.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString uniqueService() {
    return QStringLiteral("SecretStoreTest-") + QUuid::createUuid().toString(QUuid::Id128);
}

class SecretServiceStore : public ::testing::Test {
protected:
    void SetUp() override { requiredEnv("DBUS_SESSION_BUS_ADDRESS"); }
    void TearDown() override {
        for (const auto &[service, account] : m_cleanup)
            m_store.deleteItem(service, account);
    }
    QString service(const QString &account) {
        QString s = uniqueService();
        m_cleanup.push_back({s, account});
        return s;
    }

    LibsecretStore m_store;
    std::vector<std::pair<QString, QString>> m_cleanup;
};

} // namespace

TEST_F(SecretServiceStore, StoredItemIsReadBackAndSeenBySecretTool) {
    const QString s = service("alice");
    const QString password = QStringLiteral("pä$$ wörd ✓ 🔑 \"'\\");
    ASSERT_TRUE(m_store.add(s, "alice", "label of it", password).isDone());
    EXPECT_EQ(secretToolLookup(s, "alice"), password);
    QString read, label;
    ASSERT_TRUE(m_store.read(s, "alice", &read, &label).isDone());
    EXPECT_EQ(read, password);
    EXPECT_EQ(label, "label of it");
    EXPECT_TRUE(m_store.find(s, "alice").isDone());
    EXPECT_TRUE(m_store.find(s, "bob").isAbsent());
    EXPECT_TRUE(m_store.read(s, "bob", &read).isAbsent());
}

TEST_F(SecretServiceStore, AddReplacesTheItemOfTheSamePairInsteadOfDuplicatingIt) {
    const QString s = service("alice");
    ASSERT_TRUE(m_store.add(s, "alice", "first", "one").isDone());
    ASSERT_TRUE(m_store.add(s, "alice", "second", "two").isDone());
    const QString all = secretTool({"search", "--all", "service", s});
    EXPECT_EQ(all.count(QStringLiteral("label = ")), 1) << all.toStdString();
    EXPECT_EQ(secretToolLookup(s, "alice"), "two");
}

TEST_F(SecretServiceStore, ModifyMovesRelabelsAndReplacesTheOneItem) {
    const QString s = service("alice");
    const QString t = service("bob");
    ASSERT_TRUE(m_store.add(s, "alice", "old", "one").isDone());
    ASSERT_TRUE(m_store.modify(s, "alice", t, "bob", "new label", "two").isDone());
    EXPECT_EQ(secretToolLookup(s, "alice"), "");
    EXPECT_EQ(secretToolLookup(t, "bob"), "two");
    const QString all = secretTool({"search", "--all", "service", t});
    EXPECT_TRUE(all.contains("label = new label")) << all.toStdString();
    // A null password or label leaves that part as it is.
    ASSERT_TRUE(m_store.modify(t, "bob", {}, {}, {}, {}).isDone());
    EXPECT_EQ(secretToolLookup(t, "bob"), "two");
    EXPECT_TRUE(secretTool({"search", "--all", "service", t}).contains("label = new label"));
}

TEST_F(SecretServiceStore, ModifyRefusesToMoveOntoATakenPairAndLeavesBothItems) {
    const QString s = service("alice");
    ASSERT_TRUE(m_store.add(s, "alice", "a", "one").isDone());
    ASSERT_TRUE(m_store.add(s, "bob", "b", "two").isDone());
    m_cleanup.push_back({s, "bob"});
    SecretStatus status = m_store.modify(s, "alice", {}, "bob", "x", "three");
    EXPECT_TRUE(status.isFailed());
    EXPECT_EQ(status.code, SecretStore::DuplicateItem);
    EXPECT_EQ(secretToolLookup(s, "alice"), "one");
    EXPECT_EQ(secretToolLookup(s, "bob"), "two");
}

TEST_F(SecretServiceStore, AbsentItemsAndNullNamesAnswerAbsentAndOnlyARealDeleteIsDone) {
    const QString s = service("alice");
    EXPECT_TRUE(m_store.modify(s, "alice", {}, {}, {}, "x").isAbsent());
    EXPECT_TRUE(m_store.deleteItem(s, "alice").isAbsent());
    EXPECT_TRUE(m_store.find(QString(), "alice").isAbsent());
    EXPECT_TRUE(m_store.add(s, QString(), "l", "p").isFailed());
    ASSERT_TRUE(m_store.add(s, "alice", "l", "p").isDone());
    EXPECT_TRUE(m_store.deleteItem(s, "alice").isDone());
    EXPECT_EQ(secretToolLookup(s, "alice"), "");
}

TEST_F(SecretServiceStore, ItemsOfOtherProgramsWithTheSameAttributesAreNotOurs) {
    const QString s = service("alice");
    QProcess tool;
    tool.start("secret-tool", {"store", "--label=foreign", "service", s, "account", "alice"});
    tool.write("foreign secret");
    tool.closeWriteChannel();
    ASSERT_TRUE(tool.waitForFinished(10000));
    EXPECT_TRUE(m_store.find(s, "alice").isAbsent());
    ASSERT_TRUE(m_store.add(s, "alice", "ours", "mine").isDone());
    QString read;
    ASSERT_TRUE(m_store.read(s, "alice", &read).isDone());
    EXPECT_EQ(read, "mine");
    secretTool({"clear", "service", s, "account", "alice"});
}

// MARK: no Secret Service

namespace {
// What the child process checks, on a session bus that is dead or silent: every
// call fails, none passes for "no such item", and one wait covers them all.
void failEveryCallWithoutService() {
    LogCapture log;
    // A probe of 2 s: five calls that each waited for it would take 10 s.
    LibsecretStore store(std::chrono::seconds(2), std::chrono::seconds(2));
    QElapsedTimer timer;
    timer.start();
    QString password = "untouched";
    const SecretStatus answers[] = {
        store.find("s", "a"),       store.read("s", "a", &password), store.modify("s", "a", "t", {}, "l", "p"),
        store.deleteItem("s", "a"), store.add("s", "a", "l", "p"),
    };
    for (const SecretStatus &status : answers) {
        EXPECT_TRUE(status.isFailed()) << status.kind;
        EXPECT_EQ(status.code, SecretStore::Unavailable);
    }
    EXPECT_EQ(password, "untouched");
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(log.lines().filter("Secret Service not available").size(), 1) << log.lines().join('\n').toStdString();
}

// Runs this test again in a fresh process whose session bus is busAddress, so
// that no connection of this process to the real bus is reused.
void runWithBus(const QString &busAddress) {
    QElapsedTimer timer;
    timer.start();
    // No DISPLAY: no autolaunch of a bus of the child's own.
    runCurrentTestInChild({{"DBUS_SESSION_BUS_ADDRESS", busAddress}, {"DISPLAY", QString()}}, std::chrono::seconds(30));
    EXPECT_LT(timer.elapsed(), 20000);
}
} // namespace

TEST(SecretStoreWithoutService, DeadBusFailsEveryCallAtOnceAndLogsOnce) {
    if (isChildRun())
        return failEveryCallWithoutService();
    runWithBus(QStringLiteral("unix:path=/nonexistent/trellan-no-bus"));
}

TEST(SecretStoreWithoutService, SilentBusFailsEveryCallWithinTheBound) {
    if (isChildRun())
        return failEveryCallWithoutService();
    // A socket that accepts connections and never says a word.
    QTemporaryDir dir;
    const QByteArray path = (dir.path() + "/bus").toUtf8();
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 16), 0);
    runWithBus(QStringLiteral("unix:path=") + QString::fromUtf8(path));
    ::close(fd);
}

// MARK: memory store

TEST(MemorySecretStore, ModifyKeepsWhatIsNotGivenAndRefusesTakenPairs) {
    MemorySecretStore store;
    store.add("s", "a", "label", "pw");
    store.add("s", "b", "other", "pw2");
    EXPECT_EQ(store.modify("s", "a", {}, "b", "x", "y").code, SecretStore::DuplicateItem);
    ASSERT_TRUE(store.modify("s", "a", "t", {}, {}, "new").isDone());
    auto items = store.items();
    const std::pair<QString, QString> moved{"t", "a"};
    ASSERT_EQ(items.count(moved), 1u);
    EXPECT_EQ(items[moved].label, "label");
    EXPECT_EQ(items[moved].password, "new");
    EXPECT_EQ(items.count({"s", "a"}), 0u);
    EXPECT_TRUE(store.modify("s", "a", {}, {}, {}, "z").isAbsent());
}
