#include "ZNTConnection.h"

#include "KesError.h"
#include "Quoting.h"
#include "TcpTimeouts.h"
#include "ZNTConnectionPrivate.h"
#include "ZNTQuery.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"
#include "platform/Reaper.h"

#include <cstdlib>
#include <openssl/ssl.h>
#include <sys/socket.h>

namespace {
// libpq translates its own messages, and an early bindtextdomain of ours would be
// undone by libpq's own on first use. Pointed at a place with no catalogs before
// anything runs, it speaks English, so that its texts can be recognised (a
// server without TLS) whatever the user's language. The server's messages keep
// the server's language.
const bool libpqSpeaksEnglish = [] {
    ::setenv("PGLOCALEDIR", "/nonexistent/trellan/no-message-catalogs", 1);
    return true;
}();

// OpenSSL must not read the system's openssl.cnf: it could switch on providers or
// policies that change how every connection negotiates. Once, before any TLS.
void initializeOpenSSLOnce() {
    static std::once_flag once;
    std::call_once(once, [] { OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr); });
}

bool isDecimalInRange(const QString &text, int low, int high) {
    if (text.isEmpty() || text.size() > 3)
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int value = text.toInt();
    return value >= low && value <= high;
}

bool isIPv4Loopback(const QString &host) {
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4 || !isDecimalInRange(parts[0], 127, 127))
        return false;
    for (int i = 1; i < 4; ++i) {
        if (!isDecimalInRange(parts[i], 0, 255))
            return false;
    }
    return true;
}

// Reads a decimal number the way a scanner does: blanks skipped, then digits up
// to the first non-digit; no digits read as 0.
qint64 scanNumber(const QString &text, qsizetype &at) {
    while (at < text.size() && text[at].isSpace())
        ++at;
    qint64 value = 0;
    while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && value < 100000000)
        value = value * 10 + (text[at++].unicode() - u'0');
    return value;
}
} // namespace

std::shared_ptr<ZNTConnection> ZNTConnection::create(const QVariantMap &params, std::weak_ptr<ZNTServerHandle> server) {
    initializeOpenSSLOnce();
    std::shared_ptr<ZNTConnection> connection(new ZNTConnection(params, std::move(server)));
    std::weak_ptr<ZNTConnection> weak = connection;
    connection->d->exitRegistration = Reaper::closeAtExit([weak](std::function<void()> closed) {
        if (auto self = weak.lock())
            self->closeForExit(std::move(closed));
        else
            closed(); // already handed to the reaper
    });
    return connection;
}

ZNTConnection::ZNTConnection(const QVariantMap &params, std::weak_ptr<ZNTServerHandle> server)
    : d(std::make_unique<Impl>(params, std::move(server))) {}

// The last reference often goes on the GUI thread (a window closes), or on the
// connection's own queue (the job that held it ends). Finishing the libpq handle
// says goodbye over the network, the tunnel joins its thread, and the queue
// joins its own, which it cannot do from that thread: all of it goes to the
// reaper, which the program waits for before it ends.
ZNTConnection::~ZNTConnection() {
    if (Main::isMainThread())
        d->metadata.reset(); // the main thread's objects end on the main thread
    Reaper::dispose([impl = std::shared_ptr<Impl>(std::move(d))]() mutable { impl.reset(); });
}

// The running statement is cancelled first, while its cancel request can still
// pass the tunnel; with none running, a connect under way is. Whatever runs on
// the queue then ends soon, and the handle and the tunnel are finished after it.
void ZNTConnection::closeForExit(std::function<void()> closed) {
    if (const std::shared_ptr<ZNTQuery> query = currentQuery())
        query->cancel();
    else
        cancel();
    d->shouldCancel.store(true); // nothing connects again
    d->queue.async([self = shared_from_this(), closed = std::move(closed)]() mutable {
        self->d->conn.reset();
        std::shared_ptr<SSHTunnel> tunnel;
        {
            std::lock_guard lock(self->d->mutex);
            tunnel = std::move(self->d->tunnel);
        }
        tunnel.reset();
        self.reset(); // a last owner hands the rest to the reaper before we report
        closed();
    });
}

void ZNTConnection::connectInBackground() {
    auto self = shared_from_this();
    d->queue.async([self] { self->performConnect(std::nullopt); });
}

bool ZNTConnection::connect(ConnectDeadline deadline) {
    auto self = shared_from_this();
    bool connected = false;
    d->queue.sync([&] {
        performConnect(deadline);
        connected = d->conn && PQstatus(d->conn.get()) == CONNECTION_OK;
    });
    return connected;
}

void ZNTConnection::cancel() {
    std::shared_ptr<DNSResolver> resolver;
    std::shared_ptr<SSHTunnel> tunnel;
    {
        // Under the lock, so that a resolver or tunnel made at this moment either
        // is seen here or sees the flag when it is made.
        std::lock_guard lock(d->mutex);
        d->shouldCancel.store(true);
        resolver = d->resolver;
        tunnel = d->tunnel;
    }
    if (resolver)
        resolver->cancel();
    if (tunnel)
        tunnel->cancel();
    d->trust->cancel();
}

// The socket is shut, not closed: libpq still owns the descriptor, and its
// next read finds the session ended. On a dead link nothing waits for the
// server: what is unsent stays with the kernel.
void ZNTConnection::abandonSession(const QString &reason) {
    if (d->conn && PQsocket(d->conn.get()) >= 0)
        ::shutdown(PQsocket(d->conn.get()), SHUT_RDWR);
    setState(ZNTConnectionStateLost, reason);
}

void ZNTConnection::setUnacknowledgedTimeout(std::chrono::milliseconds timeout) {
    d->unacknowledgedTimeout = timeout;
    applyUnacknowledgedTimeout();
}

// Through a tunnel, libpq's socket only reaches the local forwarder: the link
// that can die is the SSH server's.
void ZNTConnection::applyUnacknowledgedTimeout() {
    if (const std::shared_ptr<SSHTunnel> tunnel = sshTunnel())
        tunnel->setUnacknowledgedTimeout(d->unacknowledgedTimeout);
    else if (d->conn)
        TcpTimeouts::setUnacknowledgedTimeout(PQsocket(d->conn.get()), d->unacknowledgedTimeout, d->regularProbes);
}

void ZNTConnection::setState(int state, const QString &description) {
    UserInfo info;
    {
        std::lock_guard lock(d->mutex);
        d->state.store(state);
        d->stateDescription = description;
        // The handle is the queue's: it is looked at here only when on the queue.
        if (d->queue.isCurrent()) {
            d->handleInfo.exists = bool(d->conn);
            d->handleInfo.databaseName = d->conn ? QString::fromUtf8(PQdb(d->conn.get())) : QString();
        }
        info[StateKey] = unsigned(state);
        if (!description.isNull())
            info[StateDescriptionKey] = description;
        if (d->error)
            info[ErrorObjectKey] = d->error;
    }
    std::shared_ptr<void> self = shared_from_this();
    Main::post([self, info = std::move(info)] {
        NotificationCenter::defaultCenter().post(StatusChangedNotification, self, info);
    });
}

QString ZNTConnection::quoteLiteral(const Value &value) const {
    switch (value.kind()) {
    case Value::Kind::Null:
        return QStringLiteral("NULL");
    case Value::Kind::Default:
        return QStringLiteral("DEFAULT");
    case Value::Kind::Multiple:
        throw ProgramError("Invalid Argument Exception",
                           "-[ZNTConnection quoteLiteral:] can't handle multiple value placeholder.");
    case Value::Kind::Bytes: {
        const bool standardStrings =
            configurationParameterValues().value(QStringLiteral("standard_conforming_strings")) != u"off";
        return QString::fromLatin1("'" + Quoting::escapeBytea(value.toBytes(), standardStrings) + "'");
    }
    default:
        break;
    }
    const QString text = value.kind() == Value::Kind::String ? value.toString() : value.description();
    // libpq's escaping ends the text at a NUL, which would store a value cut
    // short; PostgreSQL text cannot hold one, so such a value has no literal.
    if (text.contains(QChar(0))) {
        Log(QStringLiteral("Failed to escape literal because: the text holds a NUL character."));
        return QString();
    }
    const std::optional<QByteArray> quoted = Quoting::escapeLiteral(text.toUtf8());
    if (!quoted) {
        Log(QStringLiteral("Failed to escape literal because: incomplete multibyte character."));
        return QString();
    }
    return QString::fromUtf8(*quoted);
}

QString ZNTConnection::quoteIdentifier(const QString &identifier) const {
    return Quoting::quoteIdentifier(identifier);
}

std::shared_ptr<void> ZNTConnection::cachedMetadata(const QString &key) const {
    requireMainThread("ZNTConnection::cachedMetadata");
    return d->metadata ? d->metadata->value(key) : nullptr;
}

void ZNTConnection::setCachedMetadata(const QString &key, std::shared_ptr<void> metadata) {
    requireMainThread("ZNTConnection::setCachedMetadata");
    if (!d->metadata)
        d->metadata.emplace();
    d->metadata->insert(key, std::move(metadata));
}

void ZNTConnection::purgeMetadataForKey(const QString &key) {
    requireMainThread("ZNTConnection::purgeMetadataForKey");
    if (d->metadata)
        d->metadata->remove(key);
}

void ZNTConnection::purgeMetadata() {
    requireMainThread("ZNTConnection::purgeMetadata");
    d->metadata.reset();
}

void ZNTConnection::handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request,
                                                                   const std::shared_ptr<SSHTunnel> &tunnel,
                                                                   std::shared_ptr<ConditionLock> lock,
                                                                   std::shared_ptr<QStringList> responses) {
    requireMainThread("ZNTConnection::handleKeyboardInteractiveAuthenticationRequest");
    if (auto server = d->server.lock()) {
        if (server->forwardKeyboardInteractiveRequest(request, std::move(lock), std::move(responses)))
            return;
    }
    // Nobody can answer: cancelling releases the connection queue that waits.
    if (tunnel)
        tunnel->cancel();
}

QVariantMap ZNTConnection::params() const {
    return d->params;
}

PGconn *ZNTConnection::conn() const {
    if (!d->queue.isCurrent())
        throw ProgramError("WrongThread", "ZNTConnection::conn off the connection queue");
    return d->conn.get();
}

int ZNTConnection::state() const {
    return d->state.load();
}

QString ZNTConnection::stateDescription() const {
    std::lock_guard lock(d->mutex);
    return d->stateDescription;
}

ErrorPtr ZNTConnection::error() const {
    std::lock_guard lock(d->mutex);
    return d->error;
}

QHash<QString, QString> ZNTConnection::configurationParameterValues() const {
    std::lock_guard lock(d->mutex);
    return d->parameterValues;
}

QHash<QString, QString> ZNTConnection::configurationParameterDescriptions() const {
    std::lock_guard lock(d->mutex);
    return d->parameterDescriptions;
}

quint64 ZNTConnection::serverVersion() const {
    std::lock_guard lock(d->mutex);
    return d->serverVersion;
}

bool ZNTConnection::isRedshift() const {
    std::lock_guard lock(d->mutex);
    return d->isRedshift;
}

bool ZNTConnection::needsPassword() const {
    std::lock_guard lock(d->mutex);
    return d->needsPassword;
}

bool ZNTConnection::needsPlainTextConnection() const {
    std::lock_guard lock(d->mutex);
    return d->needsPlainTextConnection;
}

bool ZNTConnection::shouldCancel() const {
    return d->shouldCancel.load();
}

SerialQueue &ZNTConnection::connectionQueue() {
    return d->queue;
}

std::shared_ptr<SSHTunnel> ZNTConnection::sshTunnel() const {
    std::lock_guard lock(d->mutex);
    return d->tunnel;
}

std::shared_ptr<DNSResolver> ZNTConnection::dnsResolver() const {
    std::lock_guard lock(d->mutex);
    return d->resolver;
}

std::shared_ptr<ZNTServerHandle> ZNTConnection::server() const {
    return d->server.lock();
}

std::shared_ptr<ZNTQuery> ZNTConnection::currentQuery() const {
    std::lock_guard lock(d->mutex);
    return d->currentQuery;
}

void ZNTConnection::setCurrentQuery(std::shared_ptr<ZNTQuery> query) {
    std::lock_guard lock(d->mutex);
    d->currentQuery = std::move(query);
}

ZNTConnection::HandleInfo ZNTConnection::handleInfo() const {
    std::lock_guard lock(d->mutex);
    return d->handleInfo;
}

bool ZNTConnection::isLoopbackHost(const QString &host) {
    // Case matters: "LOCALHOST" is judged like any other name.
    return host == u"localhost" || host == u"::1" || isIPv4Loopback(host);
}

quint64 ZNTConnection::parseServerVersion(const QString &versionText) {
    const QString marker = QStringLiteral("PostgreSQL");
    const qsizetype found = versionText.indexOf(marker);
    if (found < 0)
        return 0;
    qsizetype at = found + marker.size();
    const qint64 major = scanNumber(versionText, at);
    if (at >= versionText.size())
        return 0;
    ++at; // the separator, whatever it is
    const qint64 minor = scanNumber(versionText, at);
    if (at >= versionText.size())
        return 0;
    ++at;
    const qint64 patch = scanNumber(versionText, at);
    return quint64(major * 10000 + minor * 100 + patch);
}
