// Helpers of the connection tests: parameters for the test servers, a recorder
// of state notifications, running code on a connection's queue, and fake servers
// for what a real one cannot do (never answer; show a bad certificate).
#pragma once

#include "LoopbackSockets.h"
#include "engine/ZNTConnection.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "support/PostgresSupport.h"

#include <QVariantMap>
#include <arpa/inet.h>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

inline QVariantMap serverParams(const char *userVariable = "TRELLAN_PG_ADMIN_USER",
                                const char *portVariable = "TRELLAN_PG_PORT") {
    QVariantMap params = testServerParams(QStringLiteral("postgres"), requiredEnv(userVariable));
    params.insert("port", requiredEnv(portVariable).toInt());
    params.insert("client_encoding", "UNICODE");
    params.insert("application_name", "Trellan tests");
    return params;
}

struct RecordedState {
    unsigned state = 0;
    QString description;
    bool hasDescription = false;
    ErrorPtr error;
    bool needsPassword = false;
    bool needsPlainTextConnection = false;
};

// Every state notification of one connection, as the main thread sees it, with
// the flags an observer would read at that moment.
class StateRecorder {
public:
    explicit StateRecorder(const std::shared_ptr<ZNTConnection> &connection) {
        ZNTConnection *raw = connection.get();
        m_token = NotificationCenter::defaultCenter().observe(
            ZNTConnection::StatusChangedNotification, raw, [this, raw](const Notification &n) {
                RecordedState s;
                s.state = n.value<unsigned>(ZNTConnection::StateKey).value_or(99);
                s.hasDescription = n.has(ZNTConnection::StateDescriptionKey);
                s.description = n.value<QString>(ZNTConnection::StateDescriptionKey).value_or(QString());
                s.error = n.value<ErrorPtr>(ZNTConnection::ErrorObjectKey).value_or(nullptr);
                s.needsPassword = raw->needsPassword();
                s.needsPlainTextConnection = raw->needsPlainTextConnection();
                states.push_back(s);
            });
    }
    std::vector<RecordedState> states;

    QStringList descriptions() const {
        QStringList texts;
        for (const RecordedState &s : states)
            texts.append(QStringLiteral("%1 %2").arg(s.state).arg(s.description));
        return texts;
    }
    const RecordedState *firstWithState(unsigned state) const {
        for (const RecordedState &s : states)
            if (s.state == state)
                return &s;
        return nullptr;
    }

private:
    ObserverToken m_token;
};

// Pumps the main thread until everything queued on the connection so far has
// run and every notification it posted has been delivered.
inline bool settle(const std::shared_ptr<ZNTConnection> &connection,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    auto settled = std::make_shared<std::atomic<bool>>(false);
    // Posted from the queue after the earlier jobs, so it arrives after their notifications.
    connection->connectionQueue().async([settled] { Main::post([settled] { settled->store(true); }); });
    return pumpUntil([settled] { return settled->load(); }, timeout);
}

// Runs the connect sequence in the background and settles.
inline bool connectAndSettle(const std::shared_ptr<ZNTConnection> &connection,
                             std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    connection->connectInBackground();
    return settle(connection, timeout);
}

// Runs fn on the connection's queue and waits for its answer.
template <class F> auto onQueue(const std::shared_ptr<ZNTConnection> &connection, F fn) -> decltype(fn()) {
    std::packaged_task<decltype(fn())()> task(std::move(fn));
    auto answer = task.get_future();
    connection->connectionQueue().async([&task] { task(); });
    return answer.get();
}

// What a socket's options promise about a link that dies, read from the
// socket: whether keepalive probes are on, after how many idle seconds they
// end a session whose link died, the longest outage they let it survive (one
// that spans every probe but the last), TCP_USER_TIMEOUT in milliseconds, and
// when the probes go out: after so many idle seconds, then so many apart.
struct LinkWatch {
    bool probes = false;
    int deadAfterSeconds = 0;
    int outageSurvivedSeconds = 0;
    unsigned unacknowledgedMs = 0;
    std::pair<int, int> probeSeconds;
};
inline LinkWatch linkWatchOf(int fd) {
    const auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0) << name;
        return value;
    };
    const int idle = option(IPPROTO_TCP, TCP_KEEPIDLE), interval = option(IPPROTO_TCP, TCP_KEEPINTVL),
              count = option(IPPROTO_TCP, TCP_KEEPCNT);
    return {option(SOL_SOCKET, SO_KEEPALIVE) == 1,
            idle + count * interval,
            (count - 1) * interval,
            unsigned(option(IPPROTO_TCP, TCP_USER_TIMEOUT)),
            {idle, interval}};
}

// A TCP socket on 127.0.0.1 that listens but never accepts: the kernel completes
// the handshake and then nothing ever answers. Port 0: any free one; a given
// port that is already taken is left to whoever holds it.
class SilentListener {
public:
    explicit SilentListener(quint16 port = 0) {
        m_fd = listenOnLoopback(port);
        EXPECT_TRUE(m_fd >= 0 || port != 0);
        m_port = m_fd >= 0 ? boundPort(m_fd) : 0;
    }
    ~SilentListener() {
        if (m_fd >= 0)
            close(m_fd);
    }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Relays TCP connections made to a port of its own (on 127.0.0.1, or where the
// listening socket it is given listens) to 127.0.0.1:targetPort, a thread per
// connection, and can cut every connection it carries: a server that goes away
// mid-handshake without being a fake one.
class TcpRelay {
public:
    explicit TcpRelay(int targetPort, int listening = -1) : m_target(targetPort) {
        m_listen = listening >= 0 ? listening : listenOnLoopback();
        EXPECT_GE(m_listen, 0);
        m_port = boundPort(m_listen);
        EXPECT_EQ(pipe(m_stop), 0);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~TcpRelay() {
        write(m_stop[1], "x", 1);
        m_acceptor.join();
        cutAll();
        for (std::thread &pump : m_pumps)
            pump.join();
        for (int fd : m_sockets)
            close(fd);
        close(m_listen);
        close(m_stop[0]);
        close(m_stop[1]);
    }
    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }
    // Closes both sides of every connection relayed so far, as a server that gives
    // up on a client does.
    void cutAll() {
        std::lock_guard lock(m_mutex);
        for (int fd : m_sockets)
            shutdown(fd, SHUT_RDWR);
    }

private:
    void acceptLoop() {
        for (;;) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents)
                return;
            const int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int server = connectLocal(m_target);
            if (server < 0) {
                close(client);
                continue;
            }
            ++m_accepted;
            std::lock_guard lock(m_mutex);
            m_sockets.push_back(client);
            m_sockets.push_back(server);
            m_pumps.emplace_back([client, server] { pump(client, server); });
        }
    }
    static void pump(int a, int b) {
        char buffer[16384];
        for (;;) {
            pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                break;
            bool closed = false;
            for (int i = 0; i < 2 && !closed; ++i) {
                if (!fds[i].revents)
                    continue;
                const ssize_t got = recv(fds[i].fd, buffer, sizeof buffer, 0);
                closed = got <= 0 || send(fds[1 - i].fd, buffer, size_t(got), MSG_NOSIGNAL) != got;
            }
            if (closed)
                break;
        }
        shutdown(a, SHUT_RDWR);
        shutdown(b, SHUT_RDWR);
    }

    int m_target;
    int m_listen = -1;
    int m_port = 0;
    int m_stop[2] = {-1, -1};
    std::atomic<int> m_accepted{0};
    std::mutex m_mutex;
    std::vector<int> m_sockets; // closed by the destructor, after the pumps ended
    std::vector<std::thread> m_pumps;
    std::thread m_acceptor;
};
