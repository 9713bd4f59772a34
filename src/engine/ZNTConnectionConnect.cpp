// The connect sequence of ZNTConnection: optional SSH tunnel, name check, TLS
// mode, libpq's non-blocking handshake with our own certificate check, then the
// server version and settings. Everything here runs on the connection queue.
#include "CertificateTrust.h"
#include "KesError.h"
#include "Keychain.h"
#include "TcpTimeouts.h"
#include "ZNTConnectionPrivate.h"
#include "platform/NotificationCenter.h"
#include "platform/Posix.h"
#include "platform/SystemInfo.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <cerrno>
#include <list>
#include <openssl/ssl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {
const QString kConnectionFailed = QStringLiteral("Connection failed.");
const QString kVerifyKeychain = QStringLiteral("verify-keychain");
// libpq reads a root certificate file for sslmode "require" when one exists at
// the default place, and would then judge the chain itself; pointing it at a path
// that cannot exist leaves the judgement to us.
const char *const kNoRootCertificate = "/nonexistent/trellan/no-root-certificate.crt";

const char *const kSSHKeys[] = {"sshEnabled",
                                "sshHost",
                                "sshPort",
                                "sshUser",
                                "sshPassword",
                                "sshPrivateKeyURL",
                                "sshPrivateKeyPassphrase",
                                "sshPrivateKeyPassphraseSaveInKeychain"};

void ignoreNotice(void *, const PGresult *) {}

// "sshPrivateKeyURL" holds a file URL (or a plain path).
QString privateKeyPath(const QVariant &value) {
    if (value.typeId() == QMetaType::QUrl)
        return value.toUrl().toLocalFile();
    const QString text = value.toString();
    return text.startsWith(u"file:") ? QUrl(text).toLocalFile() : text;
}

QString nonEmptyString(const QVariant &value) {
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// A connection keyword's value as libpq wants it; booleans as "1" and "0".
QByteArray keywordValue(const QVariant &value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? "1" : "0";
    return value.toString().toUtf8();
}

// libpq builds a connect failure's text when the server's error arrives, in the
// verbosity set then. The connect asks for the verbose form, which carries the
// server's SQLSTATE ("FATAL:  28P01: password ..."), and gives the user the
// default form: without the code and without the "LOCATION:" lines. libpq
// indents its own second lines with a tab ("\tIs the server running on that
// host ..."), which a wrapped label draws as a stray blank: lines start flush.
QString connectFailureText(const char *verbose, QString *sqlState) {
    static const QRegularExpression code(QStringLiteral("^((?:connection to server .*? failed: )?[^:\\s]+:  )"
                                                        "([0-9A-Z]{5}): "));
    static const QRegularExpression indent(QStringLiteral("^[\t ]+"));
    QStringList lines;
    for (QString line : QString::fromUtf8(verbose ? verbose : "").split(u'\n')) {
        line.remove(indent);
        if (line.startsWith(u"LOCATION:  "))
            continue;
        const QRegularExpressionMatch match = code.match(line);
        if (!match.hasMatch()) {
            lines << line;
            continue;
        }
        *sqlState = match.captured(2);
        lines << match.captured(1) + line.mid(match.capturedEnd(0));
    }
    return lines.join(u'\n').trimmed();
}

// Given the addresses, libpq names a failed one by its number alone: the host
// name goes back in, as libpq writes it when it looks the name up itself.
QString namingHost(QString message, const QString &host, const QStringList &addresses) {
    for (const QString &address : addresses) {
        if (address != host)
            message.replace(QStringLiteral("connection to server at \"%1\", port ").arg(address),
                            QStringLiteral("connection to server at \"%1\" (%2), port ").arg(host, address));
    }
    return message;
}

// A dead link ends an idle session within two minutes (see TcpTimeouts); the
// kernel's default would wait two hours. Settings given in the URL stay.
void addKeepaliveProbes(QVariantMap &params) {
    const std::pair<const char *, int> probes[] = {{"keepalives", 1},
                                                   {"keepalives_idle", TcpTimeouts::kKeepaliveIdleSeconds},
                                                   {"keepalives_interval", TcpTimeouts::kKeepaliveIntervalSeconds},
                                                   {"keepalives_count", TcpTimeouts::kKeepaliveCount}};
    for (const auto &[key, value] : probes) {
        if (!params.contains(QString::fromLatin1(key)))
            params.insert(QString::fromLatin1(key), value);
    }
}

// The parameters as libpq's two null-terminated arrays of keywords and values.
class LibpqKeywords {
public:
    explicit LibpqKeywords(const QVariantMap &params) {
        for (auto it = params.cbegin(); it != params.cend(); ++it) {
            m_texts.push_back(it.key().toUtf8());
            m_texts.push_back(keywordValue(it.value()));
        }
        // Pointers only once every text is in place: the list does not move them.
        for (auto it = m_texts.cbegin(); it != m_texts.cend(); ++it) {
            m_keywords.push_back(it->constData());
            m_values.push_back((++it)->constData());
        }
        m_keywords.push_back(nullptr);
        m_values.push_back(nullptr);
    }
    const char *const *keywords() const { return m_keywords.data(); }
    const char *const *values() const { return m_values.data(); }

private:
    std::list<QByteArray> m_texts;
    std::vector<const char *> m_keywords, m_values;
};

std::optional<QString> decodedUtf8(const char *bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(QByteArrayView(bytes));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Bytes that TLS has already taken off the socket do not make it readable again;
// libpq's own waits look here too.
bool hasBufferedInput(PGconn *conn) {
    auto *ssl = static_cast<SSL *>(PQsslStruct(conn, "OpenSSL"));
    return ssl && SSL_pending(ssl) > 0;
}

// Statuses in which libpq has sent (or is past sending) the startup packet, which
// carries the user name and leads to the password.
bool isPastStartupPacket(ConnStatusType status) {
    switch (status) {
    case CONNECTION_AWAITING_RESPONSE:
    case CONNECTION_AUTH_OK:
    case CONNECTION_SETENV:
    case CONNECTION_OK:
    case CONNECTION_CHECK_WRITABLE:
    case CONNECTION_CONSUME:
    case CONNECTION_CHECK_TARGET:
    case CONNECTION_CHECK_STANDBY:
        return true;
    default:
        return false;
    }
}

// Whether the far end has closed the socket (or reset it): a server that gave up
// waiting for us while the user read the trust panel.
bool peerHasClosed(int fd) {
    if (fd < 0)
        return true;
    pollfd entry{fd, short(POLLIN | POLLRDHUP), 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Keeps, across the polls of one connect, which TLS session has had its chain
// accepted. libpq may try several addresses, each with a handshake of its own;
// each is judged before its startup packet goes out.
class ChainGate {
public:
    enum Verdict { Go, Refuse, ServerLeftDuringPanel };

    ChainGate(QString host, TrustCheck *check) : m_host(std::move(host)), m_check(check) {}

    // After each poll: whether the connection may go on; *reason says why not.
    Verdict allows(PGconn *conn, ConnStatusType previous, ConnStatusType current, QString *reason) {
        if (current == CONNECTION_NEEDED || current == CONNECTION_STARTED || current == CONNECTION_SSL_STARTUP)
            m_verified = nullptr;
        auto *ssl = static_cast<SSL *>(PQsslStruct(conn, "OpenSSL"));
        // The handshake has just finished and libpq has not yet polled again, so
        // nothing but TLS has crossed the wire.
        if (previous == CONNECTION_SSL_STARTUP && current == CONNECTION_MADE) {
            m_check->askedAndAccepted = false;
            if (!ssl || !verifyServerCertificate(ssl, m_host, m_check)) {
                *reason = m_check->reason;
                return Refuse;
            }
            m_verified = ssl;
            // PostgreSQL waits about a minute for a login; a user who took longer
            // to answer finds the server gone, and deserves a second try rather
            // than an I/O error.
            if (m_check->askedAndAccepted && peerHasClosed(PQsocket(conn)))
                return ServerLeftDuringPanel;
            return Go;
        }
        if (isPastStartupPacket(current) && (!ssl || ssl != m_verified)) {
            *reason = QStringLiteral("the connection went on without a verified certificate");
            return Refuse;
        }
        return Go;
    }

private:
    QString m_host;
    TrustCheck *m_check;
    const SSL *m_verified = nullptr;
};
} // namespace

std::pair<int, QString> connectionStatusState(int connStatus) {
    switch (connStatus) {
    case CONNECTION_OK:
        return {ZNTConnection::ZNTConnectionStateConnected, QStringLiteral("Connected.")};
    case CONNECTION_BAD:
        return {ZNTConnection::ZNTConnectionStateFailed, kConnectionFailed};
    case CONNECTION_STARTED:
        return {1, QStringLiteral("Opening connection to server…")};
    case CONNECTION_MADE:
        return {1, QStringLiteral("Connected, waiting to send…")};
    case CONNECTION_AWAITING_RESPONSE:
        return {1, QStringLiteral("Waiting for server response…")};
    case CONNECTION_AUTH_OK:
        return {1, QStringLiteral("Authentication successful, waiting for server startup…")};
    case CONNECTION_SETENV:
        return {1, QStringLiteral("Negotiating environment…")};
    case CONNECTION_SSL_STARTUP:
        return {1, QStringLiteral("Negotiating SSL…")};
    case CONNECTION_NEEDED:
        return {1, QStringLiteral("Internal state: connect() needed")};
    case CONNECTION_CHECK_WRITABLE:
        return {1, QStringLiteral("Checking whether the server accepts writes…")};
    case CONNECTION_CONSUME:
        return {1, QStringLiteral("Reading the server's remaining messages…")};
    case CONNECTION_GSS_STARTUP:
        return {1, QStringLiteral("Negotiating GSS encryption…")};
    case CONNECTION_CHECK_TARGET:
        return {1, QStringLiteral("Checking server properties…")};
    case CONNECTION_CHECK_STANDBY:
        return {1, QStringLiteral("Checking whether the server is a standby…")};
    default:
        return {ZNTConnection::ZNTConnectionStateFailed, QStringLiteral("Unknown connection state.")};
    }
}

void ZNTConnection::fail(ErrorPtr error) {
    {
        std::lock_guard lock(d->mutex);
        d->error = std::move(error);
    }
    setState(ZNTConnectionStateFailed, kConnectionFailed);
}

void ZNTConnection::performConnect(ConnectDeadline deadline) {
    d->connectDeadline = deadline;
    d->pinnedHost.clear();
    d->pinnedAddresses.clear();
    d->conn.reset();
    // The old tunnel served the connection just finished; a new connect makes its
    // own. It is finished outside the lock: its teardown waits for the network
    // and its thread, and cancel() on the main thread takes the same lock.
    std::shared_ptr<SSHTunnel> oldTunnel;
    {
        std::lock_guard lock(d->mutex);
        oldTunnel = std::move(d->tunnel);
    }
    oldTunnel.reset();
    QVariantMap params = d->params;
    const QString host = params.value(QStringLiteral("host")).toString();
    if (host.startsWith(u'/')) {
        fail(KesError::errorWithFormat(QStringLiteral("'%1' looks like a socket path. Trellan can't connect to unix "
                                                      "domain sockets. Leave the field blank to connect via TCP.")
                                           .arg(host)));
        return;
    }
    if (!readStoredPasswords(params))
        return;
    if (params.value(QStringLiteral("sshEnabled")).toBool() && !openTunnel(params))
        return;
    if (host.isEmpty())
        params.insert(QStringLiteral("host"), QStringLiteral("localhost"));
    if (!params.contains(QStringLiteral("hostaddr"))) {
        // As on the tunnel's path: no port, or a nonsense one, is PostgreSQL's own.
        if (params.contains(QStringLiteral("port")) && params.value(QStringLiteral("port")).toInt() < 1)
            params.insert(QStringLiteral("port"), 5432);
        if (!resolveHost(params.value(QStringLiteral("host")).toString()))
            return;
        pinResolvedAddresses(params);
    }
    for (const char *key : kSSHKeys)
        params.remove(QString::fromLatin1(key));
    const bool allowPlainText = params.take(QStringLiteral("allowPlainTextConnection")).toBool();
    const QString name = d->pinnedAddresses.isEmpty() ? params.value(QStringLiteral("host")).toString() : d->pinnedHost;
    performConnectPostgres(params, name, !allowPlainText && !isLoopbackHost(name));
    // The tunnel keeps listening for the connection's lifetime: a cancel request
    // is a connection of its own and must reach the server the same way.
}

// A password that is not given is read from the item the parameters name, here
// on the connection queue: a locked keyring may hold the call for seconds. No
// item means no password; a failed read ends the connect, as a guessed empty
// password would only end it later with a misleading "password required".
bool ZNTConnection::readStoredPasswords(QVariantMap &params) {
    const std::pair<QString, std::pair<QString, QString>> stored[] = {
        {QStringLiteral("password"), {PasswordKeychainServiceKey, PasswordKeychainAccountKey}},
        {QStringLiteral("sshPassword"), {SSHPasswordKeychainServiceKey, SSHPasswordKeychainAccountKey}}};
    for (const auto &[key, item] : stored) {
        const QString service = params.take(item.first).toString();
        const QString account = params.take(item.second).toString();
        if (params.contains(key) || service.isEmpty() || account.isNull())
            continue;
        SecretStatus status;
        const QString password = KeychainGetPassword(service, account, &status);
        if (status.isFailed()) {
            fail(KesError::errorWithFormat(
                QStringLiteral("The password for %1 could not be read from the keyring (%2).")
                    .arg(service, status.message.isEmpty() ? QString::number(status.code) : status.message)));
            return false;
        }
        if (status.isDone())
            params.insert(key, password);
    }
    return true;
}

std::shared_ptr<DNSResolver> ZNTConnection::makeResolver(const QString &host) {
    auto resolver = std::make_shared<DNSResolver>(host);
    bool cancelled;
    {
        std::lock_guard lock(d->mutex);
        d->resolver = resolver;
        cancelled = d->shouldCancel.load();
    }
    if (cancelled)
        resolver->cancel();
    return resolver;
}

bool ZNTConnection::resolveHost(const QString &host) {
    auto resolver = makeResolver(host);
    setState(ZNTConnectionStateConnecting, QStringLiteral("Resolving %1 …").arg(host));
    if (resolver->lookup(d->connectDeadline))
        return true;
    fail(KesError::errorWithFormat(
        QStringLiteral("Resolving %1 failed. %2").arg(host, resolver->error()->localizedDescription())));
    return false;
}

// libpq would look the name up again inside PQconnectPoll, where no deadline
// reaches: it is given the addresses just found instead, one "hostaddr" each
// with the name repeated beside it ("host" and "hostaddr" lists go in pairs;
// one port serves them all), so that it still tries them in turn and TLS still
// judges the certificate by the name.
void ZNTConnection::pinResolvedAddresses(QVariantMap &params) {
    const QString host = params.value(QStringLiteral("host")).toString();
    if (host.contains(u',') || params.value(QStringLiteral("port")).toString().contains(u','))
        return;
    QStringList addresses;
    for (const QByteArray &address : dnsResolver()->addresses()) {
        const QString text = DNSResolver::stringForAddress(address);
        if (!text.isEmpty() && !addresses.contains(text))
            addresses << text;
    }
    if (addresses.isEmpty())
        return;
    params.insert(QStringLiteral("hostaddr"), addresses.join(u','));
    params.insert(QStringLiteral("host"), QStringList(addresses.size(), host).join(u','));
    d->pinnedHost = host;
    d->pinnedAddresses = addresses;
}

// A tunnel to the SSH server at address (sshHost as the user typed it), set up
// from the parameters. A passphrase not given is read from the secret store;
// when the store fails, the key is tried without one (an encrypted key then
// asks for its passphrase).
std::shared_ptr<SSHTunnel> ZNTConnection::makeTunnel(const QVariantMap &params, const QString &sshHost,
                                                     const QString &address) {
    auto tunnel = SSHTunnel::create();
    const int sshPort = params.value(QStringLiteral("sshPort")).toInt();
    const QString sshUser = params.value(QStringLiteral("sshUser")).toString();
    const QString keyPath = privateKeyPath(params.value(QStringLiteral("sshPrivateKeyURL")));
    QString passphrase = nonEmptyString(params.value(QStringLiteral("sshPrivateKeyPassphrase")));
    if (passphrase.isEmpty() && !keyPath.isEmpty())
        passphrase = KeychainGetPassword(QStringLiteral("SSH"), keyPath);
    const QString host = params.value(QStringLiteral("host")).toString();
    const int port = params.value(QStringLiteral("port")).toInt();
    tunnel->setHost(address);
    tunnel->setHostName(sshHost);
    tunnel->setPort(sshPort >= 1 ? sshPort : 22);
    tunnel->setUser(sshUser.isEmpty() ? SystemInfo::loginName() : sshUser);
    tunnel->setPassword(params.value(QStringLiteral("sshPassword")).toString());
    tunnel->setPrivateKeyPath(keyPath);
    tunnel->setPrivateKeyPassphrase(passphrase);
    tunnel->setExpectedKey(SSHTunnel::keyForHost(sshHost, unsigned(sshPort >= 1 ? sshPort : 0)));
    tunnel->setLocalPort(SSHTunnel::DefaultLocalPort);
    tunnel->setTargetHost(host.isEmpty() ? QStringLiteral("localhost") : host);
    tunnel->setTargetPort(port >= 1 ? port : 5432);
    tunnel->setDelegate(std::weak_ptr<SSHTunnelDelegate>(shared_from_this()));
    return tunnel;
}

bool ZNTConnection::openTunnel(QVariantMap &params) {
    const QString sshHost = params.value(QStringLiteral("sshHost")).toString();
    if (sshHost.isEmpty()) {
        fail(KesError::errorWithFormat(QStringLiteral("SSH is enabled, but no SSH host has been provided.")));
        return false;
    }
    if (!resolveHost(sshHost))
        return false;
    ErrorPtr addressError;
    const QString address = DNSResolver::stringForAddress(dnsResolver()->addresses().constFirst(), &addressError);
    if (address.isNull()) {
        fail(KesError::errorWithFormat(QStringLiteral("The SSH server hostname %1 could not be resolved. %2")
                                           .arg(sshHost, addressError->localizedDescription())));
        return false;
    }

    auto tunnel = makeTunnel(params, sshHost, address);
    const QString keyPath = tunnel->privateKeyPath();
    bool cancelled;
    {
        std::lock_guard lock(d->mutex);
        d->tunnel = tunnel;
        cancelled = d->shouldCancel.load();
    }
    if (cancelled)
        tunnel->cancel();

    setState(ZNTConnectionStateConnecting, QStringLiteral("Establishing SSH tunnel…"));
    ObserverToken progress = NotificationCenter::defaultCenter().observe(
        SSHTunnel::StatusNotification, tunnel.get(), [this, raw = tunnel.get()](const Notification &) {
            setState(ZNTConnectionStateConnecting,
                     QStringLiteral("Establishing SSH tunnel (%1)…").arg(raw->statusString()));
        });
    const bool opened = tunnel->connect(d->connectDeadline);
    progress.stopObserving();
    if (!opened) {
        ErrorPtr error = tunnel->error();
        {
            std::lock_guard lock(d->mutex);
            d->tunnel.reset(); // ours still holds it: it ends below, outside the lock
        }
        tunnel.reset();
        fail(error ? error : KesError::errorWithFormat(QStringLiteral("Connecting to SSH server failed.")));
        return false;
    }
    // Set, not add: a passphrase the user just corrected replaces the stale one.
    if (params.value(QStringLiteral("sshPrivateKeyPassphraseSaveInKeychain")).toBool() && !keyPath.isEmpty())
        KeychainSetPassword(QStringLiteral("SSH"), keyPath, tunnel->privateKeyPassphrase());
    params.insert(QStringLiteral("hostaddr"), QStringLiteral("127.0.0.1"));
    params.insert(QStringLiteral("port"), tunnel->localPort());
    return true;
}

void ZNTConnection::performConnectPostgres(QVariantMap params, const QString &host, bool verifyChain) {
    {
        std::lock_guard lock(d->mutex);
        d->needsPassword = false;
        d->needsPlainTextConnection = false;
    }
    if (verifyChain) {
        // libpq knows no mode that hands the chain to us: it is asked for TLS
        // without any judgement of its own, and the loop below judges the chain
        // before the startup packet goes out. GSS encryption would bypass TLS.
        params.insert(QStringLiteral("sslmode"), QStringLiteral("require"));
        params.insert(QStringLiteral("sslrootcert"), QString::fromLatin1(kNoRootCertificate));
        params.insert(QStringLiteral("gssencmode"), QStringLiteral("disable"));
    } else {
        params.insert(QStringLiteral("sslmode"), QStringLiteral("prefer"));
    }
    addKeepaliveProbes(params);
    const LibpqKeywords keywords(params);
    TrustCheck check;
    check.cancellation = d->trust;
    // One more try when the server gave up while the user read the trust panel,
    // with the certificate the user just accepted.
    for (int attempt = 0;; ++attempt) {
        setState(ZNTConnectionStateConnecting, QStringLiteral("Connecting to PostgreSQL server…"));
        // expand_dbname 0: a database name is a name, never a connection string
        // that could redirect the connection or turn TLS off.
        d->conn.reset(PQconnectStartParams(keywords.keywords(), keywords.values(), 0));
        if (!d->conn) {
            fail(KesError::errorWithFormat(QStringLiteral("An unknown error occurred.")));
            return;
        }
        PQsetNoticeReceiver(d->conn.get(), ignoreNotice, nullptr);
        PQsetErrorVerbosity(d->conn.get(), PQERRORS_VERBOSE); // for the code of a failure, see above
        changeStatus(PQstatus(d->conn.get()));
        if (PQstatus(d->conn.get()) == CONNECTION_BAD)
            return;
        const PollOutcome outcome = pollUntilDecided(verifyChain, host, &check);
        if (outcome == PollOutcome::Abandoned)
            return;
        if (outcome == PollOutcome::Decided || attempt > 0)
            break;
        check.acceptedCertificate = check.answeredCertificate;
        d->conn.reset();
    }

    // Queries show the server's errors in the usual form.
    PQsetErrorVerbosity(d->conn.get(), PQERRORS_DEFAULT);
    if (PQstatus(d->conn.get()) == CONNECTION_OK)
        applyUnacknowledgedTimeout();
    if (PQstatus(d->conn.get()) == CONNECTION_OK)
        readServerVersion();
    if (PQstatus(d->conn.get()) == CONNECTION_OK)
        readConfigurationParameters();
    changeStatus(PQstatus(d->conn.get()) == CONNECTION_OK ? CONNECTION_OK : CONNECTION_BAD);
}

// Drives libpq's handshake to its end. Abandoned when it was given up (cancel,
// wait failure, refused certificate) and the failure has been announced;
// ServerLeftDuringPanel when the server closed the connection while the user
// was asked about its certificate, and the answer was Connect.
ZNTConnection::PollOutcome ZNTConnection::pollUntilDecided(bool verifyChain, const QString &host, TrustCheck *check) {
    PGconn *conn = d->conn.get();
    ChainGate gate(host, check);
    ConnStatusType last = PQstatus(conn);
    PostgresPollingStatusType poll = PGRES_POLLING_WRITING;
    while (poll != PGRES_POLLING_OK && poll != PGRES_POLLING_FAILED) {
        if ((poll == PGRES_POLLING_READING || poll == PGRES_POLLING_WRITING) && !waitForSocket(poll)) {
            setState(ZNTConnectionStateFailed, kConnectionFailed);
            return PollOutcome::Abandoned;
        }
        poll = PQconnectPoll(conn);
        const ConnStatusType status = PQstatus(conn);
        QString reason;
        const ChainGate::Verdict verdict = verifyChain ? gate.allows(conn, last, status, &reason) : ChainGate::Go;
        if (verdict == ChainGate::ServerLeftDuringPanel)
            return PollOutcome::ServerLeftDuringPanel;
        if (verdict == ChainGate::Refuse) {
            // Finishing now sends nothing but TLS's own goodbye: the server never
            // sees who we are, let alone a password.
            d->conn.reset();
            if (d->shouldCancel.load()) {
                fail(KesError::errorWithFormat(QStringLiteral("Connection to PostgreSQL server cancelled.")));
                return PollOutcome::Abandoned;
            }
            QString text = QStringLiteral("SSL error: certificate verify failed");
            if (!reason.isEmpty())
                text += QStringLiteral(" (%1)").arg(reason);
            fail(KesError::errorWithCode(1, text, reason.isEmpty() ? QString() : reason));
            return PollOutcome::Abandoned;
        }
        if (status != last) {
            last = status;
            changeStatus(status);
        }
    }
    return PollOutcome::Decided;
}

// libpq's own connect_timeout does not bind PQconnectPoll: the connect's
// deadline is kept here.
bool ZNTConnection::waitForSocket(int pollResult) {
    int pollErrno = 0;
    QString text;
    switch (
        waitForSocketUntil(pollResult == PGRES_POLLING_READING ? POLLIN : POLLOUT, d->connectDeadline, &pollErrno)) {
    case SocketWait::Ready:
        return true;
    case SocketWait::Cancelled:
        text = QStringLiteral("Connection to PostgreSQL server cancelled.");
        break;
    case SocketWait::Late:
        text = QStringLiteral("Connecting to PostgreSQL server took longer than the time allowed.");
        break;
    case SocketWait::Failed:
        text = QStringLiteral("Error while waiting for network connection: %1").arg(Posix::errnoText(pollErrno));
        break;
    }
    std::lock_guard lock(d->mutex);
    d->error = KesError::errorWithFormat(text);
    return false;
}

// In slices, so that a cancel ends the wait soon. Ready also when the session
// has no socket: libpq's next call says why.
ZNTConnection::SocketWait ZNTConnection::waitForSocketUntil(short events, ConnectDeadline deadline, int *pollErrno) {
    for (;;) {
        if (d->shouldCancel.load())
            return SocketWait::Cancelled;
        if (deadline && std::chrono::steady_clock::now() >= *deadline)
            return SocketWait::Late;
        // poll(), not select(): a descriptor above FD_SETSIZE must not overrun an fd_set.
        pollfd entry{PQsocket(d->conn.get()), events, 0};
        if (entry.fd < 0)
            return SocketWait::Ready;
        const int ready = ::poll(&entry, 1, 50);
        if (ready > 0)
            return SocketWait::Ready;
        if (ready < 0 && errno != EINTR) {
            *pollErrno = errno;
            return SocketWait::Failed;
        }
    }
}

bool ZNTConnection::waitForInput(std::chrono::steady_clock::time_point deadline) {
    int pollErrno = 0;
    return d->conn &&
           (hasBufferedInput(d->conn.get()) || waitForSocketUntil(POLLIN, deadline, &pollErrno) == SocketWait::Ready);
}

// The sequence's own statements wait for their answer in slices, like the
// handshake: a server that logs us in and then stops answering must not outlast a
// cancel. A cancelled wait finishes the connection, so that nobody takes it for a
// good one; the result is then null and the cancel is the error.
PGresult *ZNTConnection::execWithinConnect(const char *sql) {
    PGconn *conn = d->conn.get();
    if (!PQsendQuery(conn, sql))
        return nullptr;
    // Read to the end, so that the connection is idle again as PQexec leaves it;
    // the first result is the statement's.
    PGresultPtr first;
    for (;;) {
        while (PQisBusy(conn)) {
            if (!hasBufferedInput(conn) && !waitForSocket(PGRES_POLLING_READING)) {
                d->conn.reset();
                return nullptr;
            }
            if (!PQconsumeInput(conn))
                break; // the connection broke; PQgetResult reports it
        }
        PGresultPtr next(PQgetResult(conn));
        if (!next)
            return first.release();
        if (!first)
            first = std::move(next);
    }
}

void ZNTConnection::readServerVersion() {
    setState(ZNTConnectionStateConnecting, QStringLiteral("Getting server version…"));
    PGresultPtr result(execWithinConnect("select version()"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1 ||
        PQnfields(result.get()) < 1 || PQgetisnull(result.get(), 0, 0))
        return;
    const QString text = QString::fromUtf8(PQgetvalue(result.get(), 0, 0));
    const quint64 version = parseServerVersion(text);
    std::lock_guard lock(d->mutex);
    d->isRedshift = text.contains(QStringLiteral("Redshift"));
    if (version != 0)
        d->serverVersion = version;
}

void ZNTConnection::readConfigurationParameters() {
    setState(ZNTConnectionStateConnecting, QStringLiteral("Getting configuration parameters…"));
    PGresultPtr result(execWithinConnect("show all"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQnfields(result.get()) < 2)
        return;
    PGresult *r = result.get();
    QHash<QString, QString> values, descriptions;
    for (int row = 0; row < PQntuples(r); ++row) {
        if (PQgetisnull(r, row, 0) || PQgetisnull(r, row, 1))
            continue;
        const std::optional<QString> name = decodedUtf8(PQgetvalue(r, row, 0));
        const std::optional<QString> value = decodedUtf8(PQgetvalue(r, row, 1));
        if (!name || !value)
            continue;
        values.insert(*name, *value);
        if (PQnfields(r) >= 3 && !PQgetisnull(r, row, 2)) {
            if (const std::optional<QString> description = decodedUtf8(PQgetvalue(r, row, 2)))
                descriptions.insert(*name, *description);
        }
    }
    std::lock_guard lock(d->mutex);
    d->parameterValues = std::move(values);
    d->parameterDescriptions = std::move(descriptions);
}

void ZNTConnection::changeStatus(int connStatus) {
    const auto [state, description] = connectionStatusState(connStatus);
    if (connStatus == CONNECTION_BAD && d->conn) {
        PGconn *conn = d->conn.get();
        QString sqlState;
        const QString message =
            namingHost(connectFailureText(PQerrorMessage(conn), &sqlState), d->pinnedHost, d->pinnedAddresses);
        std::lock_guard lock(d->mutex);
        d->error =
            KesError::errorWithFormat(message.isEmpty() ? QStringLiteral("An unknown error occurred.") : message);
        // Settled before the failure is announced: observers act on the first
        // failed state they see. A password the server turned down needs a new
        // one just as much as a missing password does; the server's code says
        // so in any language, where its text would not.
        d->needsPassword =
            PQconnectionNeedsPassword(conn) || (PQconnectionUsedPassword(conn) && sqlState.startsWith(u"28"));
        // libpq's own text, English whatever the user's language.
        d->needsPlainTextConnection = message.contains(u"server does not support SSL");
    }
    setState(state, description);
}
