#pragma once

#include "SSHTunnel.h"
#include "Value.h"
#include "ZNTServerHandle.h"
#include "platform/Error.h"
#include "platform/SerialQueue.h"

#include <QHash>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
class DNSResolver;
class PGScanner;
class ZNTQuery;

// One libpq connection to one database, with its own serial queue on which the
// connect sequence and every query run. Whatever the main thread reads of it
// (state, texts, version, settings) is a snapshot published under a mutex; the
// PGconn itself is touched on the queue only.
class ZNTConnection : public SSHTunnelDelegate, public std::enable_shared_from_this<ZNTConnection> {
public:
    enum State : int {
        ZNTConnectionStateNotConnected = 0,
        ZNTConnectionStateConnecting = 1,
        ZNTConnectionStateFailed = 2,
        ZNTConnectionStateConnected = 3,
        ZNTConnectionStateLost = 4,
        ZNTConnectionStateBusy = 5,
    };

    static inline const QString StatusChangedNotification =
        QStringLiteral("norvane.ZNTConnectionStatusChangedNotification");
    static inline const QString StateKey = QStringLiteral("norvane.ZNTConnectionStateKey"); // unsigned
    static inline const QString StateDescriptionKey =
        QStringLiteral("norvane.ZNTConnectionStateDescriptionKey");                                     // QString
    static inline const QString ErrorObjectKey = QStringLiteral("norvane.ZNTConnectionErrorObjectKey"); // ErrorPtr
    static inline const QString QueueLabel = QStringLiteral("norvane.Trellan.connectionQueue");
    // Parameters naming the secret-store item of a password that is not among
    // the parameters ("password", "sshPassword"): the connect sequence reads it on
    // the connection queue, and a failed read fails the connect.
    static inline const QString PasswordKeychainServiceKey = QStringLiteral("passwordKeychainService");
    static inline const QString PasswordKeychainAccountKey = QStringLiteral("passwordKeychainAccount");
    static inline const QString SSHPasswordKeychainServiceKey = QStringLiteral("sshPasswordKeychainService");
    static inline const QString SSHPasswordKeychainAccountKey = QStringLiteral("sshPasswordKeychainAccount");

    static std::shared_ptr<ZNTConnection> create(const QVariantMap &params, std::weak_ptr<ZNTServerHandle> server = {});
    // The libpq handle, the tunnel and the queue's thread are handed to the
    // reaper: none of them is finished or joined on the thread that drops the
    // last reference.
    ~ZNTConnection() override;

    // The time by which a connect must have succeeded; none: no limit.
    using ConnectDeadline = std::optional<std::chrono::steady_clock::time_point>;

    // any thread: queues the connect sequence and returns.
    void connectInBackground();
    // connection queue (or any thread but the main one): runs the connect
    // sequence and waits; true when libpq reports CONNECTION_OK afterwards.
    // With a deadline, every wait of this connect (the name look-up, an SSH
    // tunnel's setup, the server's answers) ends by then, and the connect fails
    // saying it took too long. The next connect has the deadline it is given.
    bool connect(ConnectDeadline deadline = std::nullopt);
    // any thread: final for this object.
    void cancel();

    // connection queue: how long what a session sends may stay unacknowledged
    // by the server before the kernel ends the session (TcpTimeouts): on
    // libpq's socket, or through a tunnel on the SSH server's. Zero leaves it
    // to the kernel's retries. A session connected meanwhile gets it too.
    void setUnacknowledgedTimeout(std::chrono::milliseconds timeout);
    // connection queue: waits until the session has input to read (bytes TLS
    // already took off the socket count), the connection is cancelled or
    // deadline passes; true when there is input.
    bool waitForInput(std::chrono::steady_clock::time_point deadline);
    // connection queue: gives the session up without waiting for the server,
    // and tells the connection as lost with reason. No cancel request is sent:
    // over a link that died it would wait as long. The handle is finished by
    // the next connect.
    void abandonSession(const QString &reason);

    // Pure quoting, byte for byte what libpq gives for a UTF-8 connection with the
    // server's standard_conforming_strings; no libpq handle involved. Null string
    // on failure (logged): a text with a NUL character, which libpq would cut
    // short, or broken UTF-8.
    QString quoteLiteral(const Value &value) const;
    QString quoteIdentifier(const QString &identifier) const;
    // A scanner that reads quoted literals as this server writes them (its
    // standard_conforming_strings). any thread.
    PGScanner scannerForString(const QString &string) const;

    // The table-metadata cache; the model layer keys and fills it. main thread.
    std::shared_ptr<void> cachedMetadata(const QString &key) const;
    void setCachedMetadata(const QString &key, std::shared_ptr<void> metadata);
    void purgeMetadataForKey(const QString &key);
    void purgeMetadata();

    // The one way the state changes: sets it and posts StatusChangedNotification
    // on the main thread, in order.
    void setState(int state, const QString &description);

    // SSHTunnelDelegate: forwards to the server's authentication delegate.
    void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request,
                                                        const std::shared_ptr<SSHTunnel> &tunnel,
                                                        std::shared_ptr<ConditionLock> lock,
                                                        std::shared_ptr<QStringList> responses) override;

    QVariantMap params() const;
    // connection queue. Every handle carries a notice receiver that drops notices
    // (libpq would print them to stderr); a query that wants notices installs its
    // own with PQsetNoticeReceiver and puts the previous one back when it ends.
    PGconn *conn() const;
    int state() const;
    QString stateDescription() const;
    ErrorPtr error() const;
    QHash<QString, QString> configurationParameterValues() const;
    QHash<QString, QString> configurationParameterDescriptions() const;
    quint64 serverVersion() const;
    bool isRedshift() const;
    bool needsPassword() const;
    bool needsPlainTextConnection() const;
    bool shouldCancel() const;
    SerialQueue &connectionQueue();
    std::shared_ptr<SSHTunnel> sshTunnel() const;
    std::shared_ptr<DNSResolver> dnsResolver() const;
    std::shared_ptr<ZNTServerHandle> server() const;
    std::shared_ptr<ZNTQuery> currentQuery() const;
    void setCurrentQuery(std::shared_ptr<ZNTQuery> query);

    // What other threads may know of the libpq handle, as of the last state
    // change: whether one exists, and the database it is for (PQdb). any thread.
    struct HandleInfo {
        bool exists = false;
        QString databaseName;
    };
    HandleInfo handleInfo() const;

    // The TLS mode the connect sequence chooses for these settings.
    static bool isLoopbackHost(const QString &host);
    // "PostgreSQL 9.4.1 on ..." → 90401; 0 when the text has no full version.
    static quint64 parseServerVersion(const QString &versionText);

private:
    ZNTConnection(const QVariantMap &params, std::weak_ptr<ZNTServerHandle> server);

    // any thread, at the program's end (Reaper::finish): stops the connection's
    // work and finishes its handle and tunnel, then calls closed.
    void closeForExit(std::function<void()> closed);
    // connection queue: the connect sequence and its steps.
    void performConnect(ConnectDeadline deadline);
    bool readStoredPasswords(QVariantMap &params);
    bool openTunnel(QVariantMap &params);
    std::shared_ptr<SSHTunnel> makeTunnel(const QVariantMap &params, const QString &sshHost, const QString &address);
    bool resolveHost(const QString &host);
    std::shared_ptr<DNSResolver> makeResolver(const QString &host);
    void pinResolvedAddresses(QVariantMap &params);
    void performConnectPostgres(QVariantMap params, const QString &host, bool verifyChain);
    enum class PollOutcome { Decided, Abandoned, ServerLeftDuringPanel };
    PollOutcome pollUntilDecided(bool verifyChain, const QString &host, struct TrustCheck *check);
    bool waitForSocket(int pollResult);
    enum class SocketWait { Ready, Cancelled, Late, Failed };
    SocketWait waitForSocketUntil(short events, ConnectDeadline deadline, int *pollErrno);
    void applyUnacknowledgedTimeout();
    PGresult *execWithinConnect(const char *sql);
    void readServerVersion();
    void readConfigurationParameters();
    void changeStatus(int connStatus);
    void fail(ErrorPtr error);

    struct Impl;
    std::unique_ptr<Impl> d;
};
