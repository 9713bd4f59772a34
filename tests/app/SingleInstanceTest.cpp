#include "app/SingleInstance.h"
#include "app/InstanceMessage.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An owner-only directory, as the runtime directory is.
std::unique_ptr<QTemporaryDir> privateDir() {
    auto dir = std::make_unique<QTemporaryDir>();
    ::chmod(QFile::encodeName(dir->path()).constData(), 0700);
    return dir;
}

// A later start runs in a process of its own; a thread of its own stands in for
// it, since the first one answers from this thread's event loop.
std::future<std::pair<SingleInstance::Role, QString>> startElsewhere(const QString &dir, const QStringList &args) {
    return std::async(std::launch::async, [dir, args] {
        SingleInstance later(dir);
        SingleInstance::Role role = later.start(args);
        return std::make_pair(role, later.error());
    });
}

// The first half of a start's message: the rest never comes.
QByteArray encodeSlowly() {
    return InstanceMessage::encode({"postgresql://h/db"}).left(10);
}

template <class T> T waitFor(std::future<T> &future) {
    pumpUntil([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return future.get();
}

} // namespace

TEST(SingleInstance, ALaterStartHandsItsArgumentsToTheFirstInOrder) {
    auto dir = privateDir();
    SingleInstance first(dir->path());
    std::vector<QStringList> received;
    QObject::connect(&first, &SingleInstance::argumentsReceived, [&](const QStringList &a) { received.push_back(a); });
    ASSERT_EQ(first.start({}), SingleInstance::Role::Primary) << first.error().toStdString();

    auto withUrl = startElsewhere(dir->path(), {"postgresql://u:p%40ss@h/db", "/tmp/Prod.tqbfav"});
    auto [role, error] = waitFor(withUrl);
    EXPECT_EQ(role, SingleInstance::Role::Forwarded) << error.toStdString();
    auto bare = startElsewhere(dir->path(), {});
    EXPECT_EQ(waitFor(bare).first, SingleInstance::Role::Forwarded);

    ASSERT_TRUE(pumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0], (QStringList{"postgresql://u:p%40ss@h/db", "/tmp/Prod.tqbfav"}));
    EXPECT_EQ(received[1], QStringList{});
}

TEST(SingleInstance, OnlyTheUserCanReachTheSocket) {
    auto dir = privateDir();
    SingleInstance first(dir->path());
    ASSERT_EQ(first.start({}), SingleInstance::Role::Primary);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(first.socketPath()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;
    EXPECT_EQ(st.st_uid, ::geteuid());

    if (::geteuid() == 0) {
        // Root passes every file mode: open the directory to all and let user
        // nobody try the socket itself.
        ::chmod(QFile::encodeName(dir->path()).constData(), 0711);
        QProcess other;
        other.start("runuser", {"-u", "nobody", "--", "/usr/bin/python3", "-c",
                                "import socket,sys\n"
                                "s=socket.socket(socket.AF_UNIX)\n"
                                "try:\n s.connect(sys.argv[1]); print('connected')\n"
                                "except OSError as e: print('refused', e.errno)\n",
                                first.socketPath()});
        ASSERT_TRUE(other.waitForFinished(30000));
        EXPECT_TRUE(other.readAllStandardOutput().startsWith("refused"));
    }
}

TEST(SingleInstance, ADirectoryOthersCanEnterIsRefused) {
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    SingleInstance instance(dir.path());
    EXPECT_EQ(instance.start({}), SingleInstance::Role::Failed);
    EXPECT_TRUE(instance.error().contains("other users")) << instance.error().toStdString();
    EXPECT_FALSE(QFileInfo::exists(instance.socketPath()));
}

TEST(SingleInstance, ASocketLeftByACrashedStartIsTakenOver) {
    auto dir = privateDir();
    {
        SingleInstance crashed(dir->path());
        ASSERT_EQ(crashed.start({}), SingleInstance::Role::Primary);
        // A crash leaves the socket file behind with nobody listening on it.
        ::unlink(QFile::encodeName(crashed.socketPath()).constData());
    }
    QFile stale(dir->path() + "/Trellan.socket");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    SingleInstance next(dir->path());
    EXPECT_EQ(next.start({}), SingleInstance::Role::Primary) << next.error().toStdString();
}

// A peer may send only one frame of at most 64 KB, within 5 seconds: a flood is
// refused as soon as its header says so, a silent peer is dropped, and the next
// start still gets through.
TEST(SingleInstance, PeersThatFloodOrStaySilentAreDroppedAndTheNextStartGetsThrough) {
    auto dir = privateDir();
    SingleInstance first(dir->path());
    std::vector<QStringList> received;
    QObject::connect(&first, &SingleInstance::argumentsReceived, [&](const QStringList &a) { received.push_back(a); });
    ASSERT_EQ(first.start({}), SingleInstance::Role::Primary) << first.error().toStdString();

    auto connectPeer = [&] {
        auto peer = std::make_unique<QLocalSocket>();
        peer->connectToServer(first.socketPath());
        EXPECT_TRUE(peer->waitForConnected(2000));
        return peer;
    };
    auto dropped = [](QLocalSocket &peer, std::chrono::milliseconds within) {
        return pumpUntil([&] { return peer.state() == QLocalSocket::UnconnectedState; }, within);
    };

    auto flood = connectPeer();
    QByteArray junk = QByteArray("TRL2") + QByteArray::fromHex("02000000");
    junk += QByteArray(32 * 1024 * 1024, 'x');
    flood->write(junk);
    EXPECT_TRUE(dropped(*flood, std::chrono::seconds(3))) << "a 32 MB message was read";

    auto silent = connectPeer();
    auto dripping = connectPeer();
    dripping->write(encodeSlowly());
    EXPECT_TRUE(dropped(*silent, std::chrono::seconds(8)));
    EXPECT_TRUE(dropped(*dripping, std::chrono::seconds(2))) << "a half message held its socket";

    // A message in two pieces is one message; the answer comes after the last.
    auto pieces = connectPeer();
    const QByteArray frame = InstanceMessage::encode({"postgresql://h/db"});
    pieces->write(frame.left(5));
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_TRUE(received.empty());
    pieces->write(frame.mid(5));
    ASSERT_TRUE(pumpUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0], QStringList{"postgresql://h/db"});

    auto later = startElsewhere(dir->path(), {"/tmp/After.tqbfav"});
    EXPECT_EQ(waitFor(later).first, SingleInstance::Role::Forwarded);
    ASSERT_TRUE(pumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1], QStringList{"/tmp/After.tqbfav"});
    EXPECT_TRUE(received.size() == 2) << "a refused peer's bytes became arguments";
}

TEST(SingleInstance, ArgumentsTooLongToHandOverAreNotCutButSaidSo) {
    auto dir = privateDir();
    SingleInstance first(dir->path());
    bool any = false;
    QObject::connect(&first, &SingleInstance::argumentsReceived, [&](const QStringList &) { any = true; });
    ASSERT_EQ(first.start({}), SingleInstance::Role::Primary);
    auto later = startElsewhere(dir->path(), {QString(70000, 'a')});
    const auto [role, error] = waitFor(later);
    EXPECT_EQ(role, SingleInstance::Role::Failed);
    EXPECT_TRUE(error.contains("longer than")) << error.toStdString();
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(any);
}
