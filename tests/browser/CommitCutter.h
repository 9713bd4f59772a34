// A relay between the table page and the test server that cuts its sessions
// where a test says: what a network or a server that goes away does to a
// save's COMMIT and to the questions and loads after it.
#pragma once

#include "TestSupport.h"
#include "engine/LoopbackSockets.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pagetest {

// Relays the page's sessions to the test server from a loopback port of its
// own, turning TLS down (the server allows that on loopback) so that it sees
// what the client sends. Once armed, it cuts a session where each cut falls in
// turn: once its pattern came from the client (the statement reaches the
// server, its answer never reaches the client), or from the server (the client
// gets the answer up to the pattern's end). With serverFinishes the client is
// cut only once the server ended the session; with silenceNext the next session
// is accepted and never answered; with delayNext it is answered only after that
// pause. A stall is no cut: the session stays open and relays nothing more, as
// over a link that died. It counts the questions about a transaction.
class CommitCutter {
public:
    struct Cut {
        QByteArray pattern;
        bool fromServer = false;
        bool serverFinishes = false;
        bool silenceNext = false;
        bool stall = false;
        std::chrono::milliseconds delayNext{0};
    };
    CommitCutter() : m_listen(listenOnLoopback()) {
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~CommitCutter() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            for (int fd : m_sockets)
                shutdown(fd, SHUT_RDWR);
        }
        shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        for (std::thread &session : m_sessions)
            session.join();
        for (int fd : m_sockets)
            close(fd);
        close(m_listen);
    }
    int port() const { return boundPort(m_listen); }
    void arm(const QList<Cut> &cuts) {
        std::lock_guard lock(m_mutex);
        m_armed = cuts;
    }
    int cuts() const { return m_cuts; }
    int statusQuestions() const { return m_statusQuestions; }

private:
    void acceptLoop() {
        for (int client; (client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            if (m_silenceNext.exchange(false)) {
                std::lock_guard lock(m_mutex);
                m_sockets << client;
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayNextMs.exchange(0)));
            const int server = connectLocal(requiredEnv("TRELLAN_PG_PORT").toInt());
            std::lock_guard lock(m_mutex);
            m_sockets << client << server;
            if (m_stopping || server < 0)
                shutdown(client, SHUT_RDWR);
            else
                m_sessions.emplace_back([this, client, server] { relay(client, server); });
        }
    }
    void relay(int client, int server) {
        char buffer[16384];
        // Requests for TLS or GSS encryption are 8 bytes long, the startup packet is longer.
        while (recv(client, buffer, 8, MSG_WAITALL) == 8 && qFromBigEndian<quint32>(buffer) == 8)
            send(client, "N", 1, MSG_NOSIGNAL);
        send(server, buffer, 8, MSG_NOSIGNAL);
        QByteArray seen[2]; // the ends of what came from the client, and from the server
        for (;;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                break;
            const int from = fds[1].revents ? 1 : 0;
            ssize_t got = recv(fds[from].fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            seen[from] = seen[from].right(64) + QByteArray(buffer, got);
            if (from == 0)
                m_statusQuestions +=
                    int(seen[0].mid(std::max<qsizetype>(0, seen[0].size() - got - 11)).count("txid_status("));
            const std::optional<Cut> next = nextCut(seen[from], from == 1, got);
            if (send(fds[1 - from].fd, buffer, size_t(got), MSG_NOSIGNAL) != got)
                break;
            if (next)
                return next->stall ? stall(client, server) : cut(client, server, *next);
        }
        shutdown(client, SHUT_RDWR);
        shutdown(server, SHUT_RDWR);
    }
    // The next cut when its pattern ends in the last got bytes of seen; got
    // becomes the bytes up to that end.
    std::optional<Cut> nextCut(const QByteArray &seen, bool fromServer, ssize_t &got) {
        std::lock_guard lock(m_mutex);
        if (m_armed.isEmpty() || m_armed.first().fromServer != fromServer)
            return std::nullopt;
        const QByteArray &pattern = m_armed.first().pattern;
        const qsizetype at = seen.indexOf(pattern, std::max<qsizetype>(0, seen.size() - got - pattern.size() + 1));
        if (at < 0)
            return std::nullopt;
        got -= seen.size() - at - pattern.size();
        return m_armed.takeFirst();
    }
    void cut(int client, int server, const Cut &how) {
        shutdown(server, SHUT_WR);
        char buffer[256];
        while (how.serverFinishes && recv(server, buffer, sizeof buffer, 0) > 0) {
        }
        ++m_cuts;
        m_silenceNext = how.silenceNext;
        m_delayNextMs = int(how.delayNext.count());
        shutdown(client, SHUT_RDWR);
    }
    // Until the client gives the session up.
    void stall(int client, int server) {
        char buffer[256];
        while (recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        shutdown(client, SHUT_RDWR);
        shutdown(server, SHUT_RDWR);
    }

    const int m_listen;
    std::atomic<int> m_cuts{0};
    std::atomic<int> m_statusQuestions{0};
    std::atomic<bool> m_silenceNext{false};
    std::atomic<int> m_delayNextMs{0};
    std::mutex m_mutex;
    QList<Cut> m_armed;
    bool m_stopping = false;
    QList<int> m_sockets; // closed once every session ended
    std::vector<std::thread> m_sessions;
    std::thread m_acceptor;
};

// COMMIT in the simple protocol's message, its NUL included, and the server's
// answer that it committed.
const QByteArray kCommit("Q\0\0\0\013COMMIT", 12);
const QByteArray kCommitted("C\0\0\0\013COMMIT", 12);

} // namespace pagetest
