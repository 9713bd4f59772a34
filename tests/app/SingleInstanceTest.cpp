#include "app/SingleInstance.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
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
