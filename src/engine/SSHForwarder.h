#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <libssh2.h>
#include <memory>
#include <vector>

class SSHSession;

// The tunnel's forwarding thread: accepts local connections on the listening
// socket and pumps each one to and from a direct-tcpip channel of its own, all on
// one thread with poll() and libssh2's non-blocking calls, so that a second
// connection (a cancel request) is served while the first one is busy. From
// run() on, that thread is the only one that touches the SSH session.
class SSHForwarder {
public:
    struct Target {
        QByteArray host;
        int port = 0;
    };
    struct Hooks {
        std::function<void(const ErrorPtr &)> error; // forwarding thread
        std::function<void(const QString &)> status; // forwarding thread
    };

    // Takes the session, the listening socket and the channel already opened for
    // the first local connection (may be null).
    SSHForwarder(std::unique_ptr<SSHSession> session, int listenSocket, LIBSSH2_CHANNEL *firstChannel, Target target,
                 Hooks hooks);
    // Closes what is left and frees the session on the destroying thread, which
    // must be the forwarding thread or one that joined it.
    ~SSHForwarder();
    SSHForwarder(const SSHForwarder &) = delete;
    SSHForwarder &operator=(const SSHForwarder &) = delete;

    // forwarding thread. Returns once nothing is listened to or forwarded any
    // more, the session failed, or stop() was called.
    void run();
    // any thread: accept nothing new; connections already accepted go on.
    void stopListening();
    // any thread: run() returns soon and leaves its connections to the destructor.
    void stop();

private:
    struct Connection;
    enum class Op { Open, Write, Read, Free };
    struct Stall {
        Connection *connection = nullptr;
        Op op = Op::Open;
    };

    bool servicePass();
    bool serviceConnection(Connection &c);
    bool runOp(Connection &c, Op op);
    bool stepOpen(Connection &c);
    bool stepWrite(Connection &c);
    bool stepRead(Connection &c);
    bool stepFree(Connection &c);
    bool pumpOpen(Connection &c);
    bool receiveLocal(Connection &c);
    bool sendLocal(Connection &c);
    void startNextOpening();
    void noteBlocked(Connection &c, Op op);
    void beginClosing(Connection &c);
    void failConnection(Connection &c, const ErrorPtr &error, int sshError = 0);
    void acceptConnections();
    bool isOwnUsersConnection(int fd);
    void waitForEvents(std::chrono::milliseconds timeout);
    bool wantsSessionInput() const;
    void removeFinished();
    void closeLocalSockets();
    void closeListeningSocket();
    void report(const ErrorPtr &error);
    void wake();

    std::unique_ptr<SSHSession> m_session;
    LIBSSH2_SESSION *m_ssh;
    int m_listenSocket;
    int m_wakeFd;
    LIBSSH2_CHANNEL *m_firstChannel;
    Target m_target;
    Hooks m_hooks;
    std::atomic<bool> m_stopListening{false};
    std::atomic<bool> m_stop{false};

    // forwarding thread only
    std::vector<std::unique_ptr<Connection>> m_connections;
    Stall m_stall;
    Connection *m_opening = nullptr;
    bool m_sessionFailed = false;
    bool m_acceptedAny = false;
    bool m_reportedStranger = false;
};
