// The inside of SSHTunnel, shared by SSHTunnel.cpp (connection, host key,
// listening, forwarding) and SSHTunnelLogin.cpp (authentication).
#pragma once

#include "SSHForwarder.h"
#include "SSHSession.h"
#include "SSHTunnel.h"
#include "TcpTimeouts.h"

#include <libssh2.h>
#include <optional>
#include <thread>

struct SSHTunnel::Impl {
    explicit Impl(SSHTunnel *owner) : q(owner) {}
    ~Impl();

    SSHTunnel *q;

    // Properties and what other threads read or set while connect() runs.
    mutable std::mutex mutex;
    QString host;
    QString hostName;
    QString user;
    QString password;
    QString privateKeyPath;
    QString privateKeyPassphrase;
    QString targetHost;
    QString statusString;
    int port = 0;
    int targetPort = 0;
    int localPort = DefaultLocalPort;
    QByteArray expectedKey;
    ErrorPtr error;
    std::weak_ptr<SSHTunnelDelegate> delegate;
    std::shared_ptr<ConditionLock> keyboardInteractiveLock;
    bool listeningStopped = false;
    bool connectCalled = false;
    std::shared_ptr<SSHForwarder> forwarder;
    std::thread forwardingThread;
    // The SSH server's socket: it stays open as long as this object, whoever
    // holds the session.
    int sshSocket = -1;
    // Its own probes while a bound on unacknowledged data holds.
    std::optional<TcpTimeouts::Probes> regularProbes;

    std::atomic<bool> shouldCancel{false};

    // The connecting thread's: the time by which connect() must be done.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    bool pastDeadline() const { return deadline && std::chrono::steady_clock::now() >= *deadline; }

    // The connecting thread's until they are handed to the forwarder.
    std::unique_ptr<SSHSession> session;
    LIBSSH2_CHANNEL *channel = nullptr;
    int listenSocket = -1;

    // Every step returns false with error set.
    bool connectTCP();
    bool connectSSH();
    bool handshake();
    bool checkHostKey();
    int checkKnownHosts(const QByteArray &key, int keyType);
    bool failForUnverifiedKey(const QByteArray &key);
    bool openChannel();
    bool listenForLocalConnections();
    void startForwarding();

    // SSHTunnelLogin.cpp
    bool authenticate();
    std::optional<int> loginWithKey(const QString &user);
    bool failForKeyFile(const QString &path, const QString &passphrase);
    void answerPrompts(const char *name, int nameLength, const char *instruction, int instructionLength, int count,
                       const LIBSSH2_USERAUTH_KBDINT_PROMPT *prompts, LIBSSH2_USERAUTH_KBDINT_RESPONSE *responses);
    QStringList askDelegate(const QVariantMap &request);
    // libssh2's prompt callback; the session's abstract pointer is this Impl.
    static LIBSSH2_USERAUTH_KBDINT_RESPONSE_FUNC(keyboardInteractiveResponder);

    // Repeats call while libssh2 answers "would block", waiting for the socket in
    // between; nothing when a wait failed (error set).
    template <class Call> std::optional<int> untilDone(Call call) {
        for (;;) {
            int rc = call();
            if (rc != LIBSSH2_ERROR_EAGAIN)
                return rc;
            if (!waitForConnection())
                return std::nullopt;
        }
    }
    bool waitForConnection();
    bool waitForDirection(int directions);
    QString lastSSHErrorMessage() const;
    LIBSSH2_SESSION *ssh() const { return session->get(); }

    void setError(const ErrorPtr &e);
    bool fail(const ErrorPtr &e);
    bool fail(const QString &description);
};
