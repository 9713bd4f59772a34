// Connect sequences that stall after libpq's handshake: a server that logs the
// client in and then never answers one of the statements the sequence sends
// itself. A cancel must still end the connect like it ends a stalled handshake.
#include "ConnectionTestSupport.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <libpq-fe.h>
#include <poll.h>
#include <thread>

namespace {

QByteArray int16(int v) {
    char b[2];
    qToBigEndian<quint16>(quint16(v), b);
    return QByteArray(b, 2);
}

QByteArray int32(int v) {
    char b[4];
    qToBigEndian<quint32>(quint32(v), b);
    return QByteArray(b, 4);
}

// One text column named "version" holding text.
QByteArray oneRowResult(const QByteArray &text) {
    QByteArray description =
        int16(1) + QByteArray("version", 8) + int32(0) + int16(0) + int32(25) + int16(-1) + int32(-1) + int16(0);
    QByteArray row = int16(1) + int32(int(text.size())) + text;
    return pgMessage('T', description) + pgMessage('D', row) + pgMessage('C', QByteArray("SELECT 1", 9)) +
           pgMessage('Z', "I");
}

// Speaks just enough of the protocol: refuses TLS, accepts the login without a
// password, answers the first answeredQueries statements with a version row and
// then reads on without answering, until the client goes away.
class StallingServer {
public:
    explicit StallingServer(int answeredQueries) : m_answered(answeredQueries) {
        m_fd = listenOnLoopback();
        EXPECT_GE(m_fd, 0);
        m_port = boundPort(m_fd);
        m_thread = std::thread([this] { serve(); });
    }
    ~StallingServer() {
        m_stop = true;
        m_thread.join();
        close(m_fd);
    }
    int port() const { return m_port; }
    int queriesSeen() const { return m_queries.load(); }

private:
    // A whole message of the client, or nothing when it went away or we stop.
    bool readExactly(int client, char *into, size_t size) {
        size_t got = 0;
        while (got < size && !m_stop) {
            pollfd entry{client, POLLIN, 0};
            if (::poll(&entry, 1, 50) != 1)
                continue;
            const ssize_t n = recv(client, into + got, size - got, 0);
            if (n <= 0)
                return false;
            got += size_t(n);
        }
        return got == size;
    }

    void serve() {
        pollfd entry{m_fd, POLLIN, 0};
        while (!m_stop && ::poll(&entry, 1, 50) != 1) {
        }
        if (m_stop)
            return;
        const int client = accept(m_fd, nullptr, nullptr);
        char header[8];
        // The startup packet, after an SSLRequest that is refused.
        while (readExactly(client, header, 8)) {
            const quint32 length = qFromBigEndian<quint32>(header);
            if (length == 8 && qFromBigEndian<quint32>(header + 4) == 80877103) {
                send(client, "N", 1, MSG_NOSIGNAL);
                continue;
            }
            QByteArray rest(int(length) - 8, '\0');
            if (!readExactly(client, rest.data(), size_t(rest.size())))
                break;
            const QByteArray welcome =
                pgMessage('R', int32(0)) + pgMessage('K', int32(4242) + int32(1)) + pgMessage('Z', "I");
            send(client, welcome.constData(), size_t(welcome.size()), MSG_NOSIGNAL);
            serveQueries(client);
            break;
        }
        close(client);
    }

    void serveQueries(int client) {
        char header[5];
        while (readExactly(client, header, 5)) {
            QByteArray body(int(qFromBigEndian<quint32>(header + 1)) - 4, '\0');
            if (!readExactly(client, body.data(), size_t(body.size())))
                return;
            if (header[0] != 'Q')
                continue;
            if (++m_queries <= m_answered) {
                const QByteArray answer = oneRowResult("PostgreSQL 15.4 on x86_64-pc-linux-gnu");
                send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
            }
        }
    }

    int m_fd = -1;
    int m_port = 0;
    const int m_answered;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_queries{0};
    std::thread m_thread;
};

QString errorText(const std::shared_ptr<ZNTConnection> &connection) {
    return connection->error() ? connection->error()->localizedDescription() : QString();
}

} // namespace

// The version query and the settings query each wait for a server that may never
// answer; cancel ends either wait within a slice or two, and the connection is
// not left half-open behind a failed state.
TEST(ConnectionCancel, CancelWhileTheServerNeverAnswersTheSequencesOwnQueries) {
    struct Case {
        int answered;
        const char *stalledAt;
    };
    const Case cases[] = {{0, "1 Getting server version…"}, {1, "1 Getting configuration parameters…"}};
    for (const Case &c : cases) {
        StallingServer server(c.answered);
        QVariantMap params = serverParams();
        params.insert("port", server.port());
        params.insert("gssencmode", "disable");
        auto connection = ZNTConnection::create(params);
        StateRecorder recorder(connection);
        connection->connectInBackground();
        ASSERT_TRUE(pumpUntil([&] { return recorder.descriptions().contains(c.stalledAt); })) << c.stalledAt;
        ASSERT_TRUE(pumpUntil([&] { return server.queriesSeen() == c.answered + 1; })) << c.stalledAt;
        pumpFor(std::chrono::milliseconds(200));
        ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnecting) << c.stalledAt;

        // The server never answers: only the cancel can end the wait.
        connection->cancel();
        ASSERT_TRUE(pumpUntil([&] { return recorder.states.back().state == 2; }))
            << c.stalledAt << ": " << recorder.descriptions().join(" | ").toStdString();
        EXPECT_EQ(errorText(connection), "Connection to PostgreSQL server cancelled.") << c.stalledAt;
        EXPECT_EQ(recorder.states.back().error, connection->error()) << c.stalledAt;
        EXPECT_EQ(recorder.descriptions().count("3 Connected."), 1) << c.stalledAt;
        EXPECT_EQ(onQueue(connection, [&] { return connection->conn(); }), nullptr) << c.stalledAt;
    }
}
