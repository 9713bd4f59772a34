#pragma once

#include "platform/ConditionLock.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <mutex>

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
// keyboard-interactive login, and a forwarding thread of its own.
class SSHTunnel : public std::enable_shared_from_this<SSHTunnel> {
public:
    static inline const QString ErrorDomain = QStringLiteral("norvane.SSHTunnel");
    enum ErrorCode { ErrorHostKeyNotVerified = 417, ErrorPrivateKeyEncrypted = 418, ErrorPassphraseIncorrect = 419 };
    static inline const QString HostKeyDictionaryKey = QStringLiteral("norvane.SSHTunnelHostKeyDictionaryKey");
    static inline const QString FingerprintDictionaryKey = QStringLiteral("norvane.SSHTunnelFingerprintDictionaryKey");
    static inline const QString StatusNotification = QStringLiteral("SSHTunnelStatusNotification");
    static constexpr quint16 DefaultLocalPort = 48756;

    static std::shared_ptr<SSHTunnel> create();
    ~SSHTunnel();

    // The host key the user accepted for this SSH host and port ("KnownHostKeys").
    static void addKey(const QByteArray &key, const QString &host, unsigned port);
    static QByteArray keyForHost(const QString &host, unsigned port);

    // Caller's thread (the connection queue); blocks until the tunnel listens or fails.
    bool connect();
    // any thread
    void cancel();
    void stopListening();

    void setHost(const QString &v);
    void setUser(const QString &v);
    void setPassword(const QString &v);
    void setPort(int v);
    void setPrivateKeyPath(const QString &v); // empty: no public-key login
    void setPrivateKeyPassphrase(const QString &v);
    void setTargetHost(const QString &v);
    void setTargetPort(int v);
    void setLocalPort(int v); // the port tried first
    void setExpectedKey(const QByteArray &v);
    void setDelegate(std::weak_ptr<SSHTunnelDelegate> delegate);

    QString host() const;
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
    // Posts StatusNotification synchronously on the calling thread.
    void setStatusString(const QString &v);
    ErrorPtr error() const;

private:
    SSHTunnel();
    struct Impl;
    std::unique_ptr<Impl> d;
};
