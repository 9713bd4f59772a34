#pragma once

#include "platform/ConditionLock.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

class SSHTunnel;

class SSHTunnelDelegate {
public:
    virtual ~SSHTunnelDelegate() = default;
    // main thread. request: "name", "instruction", "prompts" (list of maps with
    // "text" and "echo"). Fill responses in prompt order, then unlock lock with
    // condition 1 — or cancel the tunnel.
    virtual void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request,
                                                                const std::shared_ptr<SSHTunnel> &tunnel,
                                                                std::shared_ptr<ConditionLock> lock,
                                                                std::shared_ptr<QStringList> responses) = 0;
};

// Forwards a local TCP port on 127.0.0.1 to a database server through an SSH
// server (libssh2, non-blocking), with host-key checks, public-key, password and
// keyboard-interactive login, and a forwarding thread of its own. One tunnel per
// connect attempt; it listens until stopListening(), cancel() or destruction, so
// that a cancel request of the connection reaches the server through it too.
class SSHTunnel : public std::enable_shared_from_this<SSHTunnel> {
public:
    static inline const QString ErrorDomain = QStringLiteral("norvane.SSHTunnel");
    enum ErrorCode {
        ErrorHostKeyNotVerified = 417,
        ErrorPrivateKeyEncrypted = 418,
        ErrorPassphraseIncorrect = 419,
        // The server's key is not the one the user accepted for it earlier: 417's
        // user info plus the fingerprint of the key accepted then.
        ErrorHostKeyChanged = 420,
    };
    static inline const QString HostKeyDictionaryKey = QStringLiteral("norvane.SSHTunnelHostKeyDictionaryKey");
    static inline const QString FingerprintDictionaryKey = QStringLiteral("norvane.SSHTunnelFingerprintDictionaryKey");
    static inline const QString PreviousFingerprintDictionaryKey =
        QStringLiteral("norvane.SSHTunnelPreviousFingerprintDictionaryKey");
    static inline const QString StatusNotification = QStringLiteral("SSHTunnelStatusNotification");
    // The user default that holds the host keys the user accepted.
    static inline const QString KnownHostKeysDefaultsKey = QStringLiteral("KnownHostKeys");
    static constexpr quint16 DefaultLocalPort = 48756;

    static std::shared_ptr<SSHTunnel> create();
    // Stops the forwarding thread and waits for it (or, on that thread itself,
    // lets it finish alone and the reaper join it), then closes the session and
    // every socket.
    ~SSHTunnel();

    // The host key the user accepted for this SSH host and port ("KnownHostKeys",
    // entry "host:port", port 0 meaning 22). any thread
    static void addKey(const QByteArray &key, const QString &host, unsigned port);
    static QByteArray keyForHost(const QString &host, unsigned port);

    // Caller's thread (the connection queue); blocks until the tunnel listens or
    // fails, with error() set; a deadline, when given, ends every wait by then.
    // Called once per tunnel.
    bool connect(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
    // any thread: final; every wait of connect() fails from now on, a pending
    // keyboard-interactive question is released, and nothing new is accepted.
    void cancel();
    // any thread: accept no further local connection; those already accepted go on.
    void stopListening();
    // any thread, after connect(): how long data for the SSH server may stay
    // unacknowledged before the kernel ends the connection (see
    // TcpTimeouts::setUnacknowledgedTimeout). Through a tunnel this is the link
    // that can die: libpq's own socket reaches only the local forwarder.
    bool setUnacknowledgedTimeout(std::chrono::milliseconds timeout);
    // The SSH server's socket, for tests that read its options; -1 before connect().
    int sshSocketForTesting() const;

    // Properties, any thread; set them before connect().
    void setHost(const QString &v); // the SSH server, best as the numeric address already resolved
    // The SSH server's name as the user typed it. known_hosts is looked up under
    // it first (as OpenSSH writes it: "[name]:port" unless the port is 22, hashed
    // or not); the address counts only when the name has no entry.
    void setHostName(const QString &v);
    void setUser(const QString &v);
    // Also the answer to a lone "Password: " prompt; a null string means none.
    void setPassword(const QString &v);
    void setPort(int v);                      // below 1: 22
    void setPrivateKeyPath(const QString &v); // empty: no public-key login
    void setPrivateKeyPassphrase(const QString &v);
    void setTargetHost(const QString &v);
    void setTargetPort(int v);
    void setLocalPort(int v); // the port tried first; when it is taken, a free one
    void setExpectedKey(const QByteArray &v);
    void setDelegate(std::weak_ptr<SSHTunnelDelegate> delegate);

    QString host() const;
    QString hostName() const;
    QString user() const;
    QString password() const;
    int port() const;
    QString privateKeyPath() const;
    QString privateKeyPassphrase() const;
    QString targetHost() const;
    int targetPort() const;
    // After connect(): the port actually listened on (the one asked for, or a
    // free one when that was taken).
    int localPort() const;
    QByteArray expectedKey() const;
    QString statusString() const;
    // Posts StatusNotification synchronously on the calling thread, the tunnel as
    // object: the connection queue during connect(), the forwarding thread when it
    // opens a channel for a further local connection.
    void setStatusString(const QString &v);
    // The failure of connect(), or the last one of the forwarding thread.
    ErrorPtr error() const;

private:
    SSHTunnel();
    struct Impl;
    std::unique_ptr<Impl> d;
};
