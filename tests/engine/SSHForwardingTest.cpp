// Bytes through an established tunnel: large transfers in both directions,
// several local connections at once, several tunnels at once, listening and
// tearing down while data flows, and libpq's own use of it.
#include "SSHTestSupport.h"

#include "engine/SSHTunnel.h"
#include "platform/NotificationCenter.h"

#include <cstring>
#include <future>
#include <libpq-fe.h>
#include <netinet/tcp.h>

using namespace sshtest;
using namespace std::chrono_literals;

namespace {

class SSHForwardingTest : public ::testing::Test {
protected:
    std::shared_ptr<SSHTunnel> connectedTunnel(int targetPort) {
        auto tunnel = makeTunnel(server, targetPort);
        EXPECT_TRUE(tunnel->connect()) << describe(tunnel->error());
        return tunnel;
    }

    SSHServer server;
    FarServer far;
    TemporaryHome home;
};

// Owns a client socket for the length of a test.
struct Client {
    explicit Client(int port) : fd(connectLocal(port)) {}
    ~Client() {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
};

bool echoes(int port, const QByteArray &text) {
    Client client(port);
    if (client.fd < 0)
        return false;
    QByteArray request = 'E' + text;
    return writeAll(client.fd, request.constData(), size_t(request.size())) &&
           readExactly(client.fd, size_t(text.size()), 5s) == text;
}

} // namespace

TEST_F(SSHForwardingTest, SeveralMegabytesFromTheServerArriveWholeAndInOrder) {
    auto tunnel = connectedTunnel(far.port());
    const quint64 size = 24ull << 20;
    Client client(tunnel->localPort());
    ASSERT_GE(client.fd, 0);
    QByteArray command = sendCommand(size);
    ASSERT_TRUE(writeAll(client.fd, command.constData(), size_t(command.size())));
    QByteArray received = readUntilClosed(client.fd);
    EXPECT_EQ(quint64(received.size()), size);
    EXPECT_EQ(firstPatternMismatch(received), -1);
}

// Uploading while the echo comes back fills both directions at once, which is
// where a lost partial write or a stalled window would show.
TEST_F(SSHForwardingTest, LargeUploadEchoedBackWhileStillSendingIsIntact) {
    auto tunnel = connectedTunnel(far.port());
    Client client(tunnel->localPort());
    ASSERT_GE(client.fd, 0);
    const size_t size = 12u << 20;
    QByteArray payload(qsizetype(size), Qt::Uninitialized);
    for (size_t i = 0; i < size; ++i)
        payload[qsizetype(i)] = patternByte(i * 31 + 7);
    auto writer = std::async(std::launch::async, [&] {
        return writeAll(client.fd, "E", 1) && writeAll(client.fd, payload.constData(), size);
    });
    QByteArray echoed = readExactly(client.fd, size, 60s);
    EXPECT_TRUE(writer.get());
    ASSERT_EQ(size_t(echoed.size()), size);
    EXPECT_TRUE(echoed == payload);
}

// Channels share one SSH connection: bytes of one must never reach another,
// however their packets interleave.
TEST_F(SSHForwardingTest, SeveralBusyConnectionsAtOnceKeepTheirBytesApart) {
    auto tunnel = connectedTunnel(far.port());
    const size_t size = 4u << 20;
    std::vector<std::future<bool>> clients;
    for (int k = 0; k < 4; ++k) {
        clients.push_back(std::async(std::launch::async, [port = tunnel->localPort(), size, k] {
            Client client(port);
            if (client.fd < 0)
                return false;
            QByteArray payload(qsizetype(size), Qt::Uninitialized);
            for (size_t i = 0; i < size; ++i)
                payload[qsizetype(i)] = patternByte(i + quint64(k) * 1000003);
            auto writer = std::async(std::launch::async, [&] {
                return writeAll(client.fd, "E", 1) && writeAll(client.fd, payload.constData(), size);
            });
            QByteArray echoed = readExactly(client.fd, size, 60s);
            return writer.get() && echoed == payload;
        }));
    }
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(clients[size_t(k)].get()) << "connection " << k;
}

// The kernel drops a SYN when the listener's queue is full, and the client only
// retries a second later: connections that arrive together must all fit, which
// shows as connections that never had to send their SYN twice.
TEST_F(SSHForwardingTest, LocalConnectionsArrivingTogetherAreNotHeldBack) {
    auto tunnel = connectedTunnel(far.port());
    std::vector<std::future<unsigned>> connects;
    std::vector<int> fds(6, -1);
    for (size_t k = 0; k < fds.size(); ++k) {
        connects.push_back(std::async(std::launch::async, [&, k] {
            fds[k] = connectLocal(tunnel->localPort());
            tcp_info info{};
            socklen_t length = sizeof info;
            ::getsockopt(fds[k], IPPROTO_TCP, TCP_INFO, &info, &length);
            return unsigned(info.tcpi_total_retrans);
        }));
    }
    for (size_t k = 0; k < fds.size(); ++k) {
        EXPECT_EQ(connects[k].get(), 0u) << "connection " << k << " had to repeat its SYN";
        ASSERT_GE(fds[k], 0);
        ASSERT_TRUE(writeAll(fds[k], "Ex", 2));
        EXPECT_EQ(readExactly(fds[k], 1), QByteArray("x"));
        ::close(fds[k]);
    }
}

// A cancel request arrives on a second connection while the first one is in the
// middle of a large result that its reader does not take yet.
TEST_F(SSHForwardingTest, SecondLocalConnectionIsServedWhileTheFirstIsBusy) {
    auto tunnel = connectedTunnel(far.port());
    Client busy(tunnel->localPort());
    ASSERT_GE(busy.fd, 0);
    const quint64 size = 32ull << 20;
    QByteArray command = sendCommand(size);
    ASSERT_TRUE(writeAll(busy.fd, command.constData(), size_t(command.size())));
    QByteArray head = readExactly(busy.fd, 1000);
    ASSERT_EQ(head.size(), 1000);

    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(echoes(tunnel->localPort(), "cancel request"));
    EXPECT_TRUE(echoes(tunnel->localPort(), "and another"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);

    // Nothing of the held-back stream was lost or doubled meanwhile.
    QByteArray rest = readUntilClosed(busy.fd);
    EXPECT_EQ(quint64(head.size() + rest.size()), size);
    EXPECT_EQ(firstPatternMismatch(head + rest), -1);
    EXPECT_EQ(far.connectionsSeen(), 3);
}

// When the database stops taking connections, a further local connection fails
// alone: it is closed and the error kept, while the one already open goes on.
TEST_F(SSHForwardingTest, ChannelThatCannotOpenFailsOnlyItsOwnConnection) {
    const int target = listenOnLoopback();
    ASSERT_GE(target, 0);
    auto tunnel = connectedTunnel(boundPort(target)); // sshd connects here for the first channel
    int database = ::accept(target, nullptr, nullptr);
    ASSERT_GE(database, 0);
    ::close(target);

    Client first(tunnel->localPort());
    Client second(tunnel->localPort());
    ASSERT_GE(second.fd, 0);
    EXPECT_TRUE(readUntilClosed(second.fd, 10s).isEmpty());
    ASSERT_TRUE(tunnel->error());
    EXPECT_TRUE(tunnel->error()->localizedDescription().startsWith(QStringLiteral(
        "Connecting to the SSH server succeeded, but opening a tunnel to the PostgreSQL server failed.")))
        << describe(tunnel->error());

    ASSERT_TRUE(writeAll(first.fd, "still there", 11));
    EXPECT_EQ(readExactly(database, 11), QByteArray("still there"));
    ASSERT_TRUE(writeAll(database, "yes", 3));
    EXPECT_EQ(readExactly(first.fd, 3), QByteArray("yes"));
    ::close(database);
}

TEST_F(SSHForwardingTest, TwoTunnelsRunAtOnceOnDifferentPorts) {
    // While we hold the usual port, the tunnels find others. Someone else
    // holding it might let go in the middle: this test must hold it itself.
    const int holder = listenOnLoopback(SSHTunnel::DefaultLocalPort, 1);
    ASSERT_GE(holder, 0) << "someone outside this test holds the port: " << std::strerror(errno);

    auto first = connectedTunnel(far.port());
    auto second = connectedTunnel(far.port());
    EXPECT_NE(first->localPort(), SSHTunnel::DefaultLocalPort);
    EXPECT_NE(second->localPort(), SSHTunnel::DefaultLocalPort);
    EXPECT_NE(first->localPort(), second->localPort());
    EXPECT_TRUE(echoes(first->localPort(), "first"));
    EXPECT_TRUE(echoes(second->localPort(), "second"));
    ::close(holder);
}

TEST_F(SSHForwardingTest, StopListeningRefusesNewConnectionsButKeepsOpenOnes) {
    auto tunnel = connectedTunnel(far.port());
    Client open(tunnel->localPort());
    ASSERT_GE(open.fd, 0);
    ASSERT_TRUE(writeAll(open.fd, "Eone", 4));
    ASSERT_EQ(readExactly(open.fd, 3), QByteArray("one"));

    tunnel->stopListening();
    // The forwarding thread closes the listener when it next wakes; until then a
    // connect may still land in its backlog.
    EXPECT_TRUE(pumpUntil(
        [&] {
            Client probe(tunnel->localPort());
            return probe.fd < 0;
        },
        10s));
    ASSERT_TRUE(writeAll(open.fd, "two", 3));
    EXPECT_EQ(readExactly(open.fd, 3), QByteArray("two"));
}

TEST_F(SSHForwardingTest, DestroyingTheTunnelWhileDataFlowsEndsPromptly) {
    auto tunnel = connectedTunnel(far.port());
    Client client(tunnel->localPort());
    ASSERT_GE(client.fd, 0);
    QByteArray command = sendCommand(1ull << 34);
    ASSERT_TRUE(writeAll(client.fd, command.constData(), size_t(command.size())));
    ASSERT_EQ(readExactly(client.fd, 100000).size(), 100000);

    auto started = std::chrono::steady_clock::now();
    tunnel.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    // The client sees its connection end rather than hang.
    readUntilClosed(client.fd, 10s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

// The forwarding thread holds the tunnel for a moment while it reports a status;
// when the owner lets go just then, the tunnel ends on that thread itself, which
// must neither wait for itself nor free what it still runs on.
TEST_F(SSHForwardingTest, LastReferenceDroppedOnTheForwardingThreadEndsCleanly) {
    auto tunnel = connectedTunnel(far.port());
    const int port = tunnel->localPort();
    std::weak_ptr<SSHTunnel> weak = tunnel;
    std::promise<void> released;
    std::shared_future<void> releasedSignal = released.get_future().share();
    std::atomic<bool> reporting{false};
    ObserverToken token = NotificationCenter::defaultCenter().observe(SSHTunnel::StatusNotification, tunnel.get(),
                                                                      [&](const Notification &) {
                                                                          reporting = true;
                                                                          releasedSignal.wait_for(5s);
                                                                      });
    Client first(port); // takes the channel that connect() opened
    ASSERT_TRUE(writeAll(first.fd, "Ea", 2));
    ASSERT_EQ(readExactly(first.fd, 1), QByteArray("a"));
    Client second(port); // needs a channel of its own, announced from the forwarding thread
    ASSERT_TRUE(pumpUntil([&] { return reporting.load(); }, 5s));
    tunnel.reset();
    released.set_value();
    EXPECT_TRUE(pumpUntil([&] { return weak.expired(); }, 5s));
    auto started = std::chrono::steady_clock::now();
    readUntilClosed(first.fd, 5s);
    readUntilClosed(second.fd, 5s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
}

TEST_F(SSHForwardingTest, NobodyConnectingWithinFiveSecondsEndsListening) {
    auto tunnel = connectedTunnel(far.port());
    ASSERT_TRUE(pumpUntil([&] { return tunnel->error() != nullptr; }, 8s));
    EXPECT_EQ(tunnel->error()->localizedDescription(),
              QStringLiteral("Establishing local side of SSH tunnel failed.\nselect() returned 0; errno 0"));
    EXPECT_LT(connectLocal(tunnel->localPort()), 0);
}

// libpq through the tunnel: a result of several megabytes, then a cancel
// request (a second local connection) while a query runs.
TEST_F(SSHForwardingTest, PostgresResultAndCancelRequestThroughTheTunnel) {
    const QString pgPort = requiredEnv("TRELLAN_PG_PLAIN_PORT");
    const QString pgUser = requiredEnv("TRELLAN_PG_ADMIN_USER");
    auto tunnel = connectedTunnel(pgPort.toInt());
    QByteArray conninfo = QStringLiteral("host=127.0.0.1 port=%1 user=%2 dbname=postgres sslmode=disable "
                                         "gssencmode=disable connect_timeout=10")
                              .arg(tunnel->localPort())
                              .arg(pgUser)
                              .toUtf8();
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.constData()), &PQfinish);
    ASSERT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());

    std::unique_ptr<PGresult, decltype(&PQclear)> big(PQexec(conn.get(), "select repeat('x', 5000000)"), &PQclear);
    ASSERT_EQ(PQresultStatus(big.get()), PGRES_TUPLES_OK) << PQerrorMessage(conn.get());
    EXPECT_EQ(PQgetlength(big.get(), 0, 0), 5000000);

    // Worded for this test alone: other test programs sleep on the same server.
    ASSERT_EQ(PQsendQuery(conn.get(), "select pg_sleep(60), 'cancelled through the tunnel'"), 1);
    // A cancel that reached the server before the statement would be lost.
    std::unique_ptr<PGconn, decltype(&PQfinish)> watcher(PQconnectdb(conninfo.constData()), &PQfinish);
    ASSERT_TRUE(pumpUntil(
        [&] {
            std::unique_ptr<PGresult, decltype(&PQclear)> active(
                PQexec(watcher.get(), "select count(*) from pg_stat_activity where query = "
                                      "'select pg_sleep(60), ''cancelled through the tunnel''' and state = 'active'"),
                &PQclear);
            return QByteArray(PQgetvalue(active.get(), 0, 0)) == "1";
        },
        20s));
    std::unique_ptr<PGcancel, decltype(&PQfreeCancel)> cancel(PQgetCancel(conn.get()), &PQfreeCancel);
    char message[256] = {};
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(PQcancel(cancel.get(), message, sizeof message), 1) << message;
    std::unique_ptr<PGresult, decltype(&PQclear)> cancelled(PQgetResult(conn.get()), &PQclear);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_STREQ(PQresultErrorField(cancelled.get(), PG_DIAG_SQLSTATE), "57014");
    while (PGresult *rest = PQgetResult(conn.get()))
        PQclear(rest);
    std::unique_ptr<PGresult, decltype(&PQclear)> after(PQexec(conn.get(), "select 1"), &PQclear);
    EXPECT_EQ(PQresultStatus(after.get()), PGRES_TUPLES_OK);
}
