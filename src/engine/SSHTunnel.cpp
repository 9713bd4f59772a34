#include "SSHTunnel.h"

#include "KesError.h"
#include "SSHTunnelImpl.h"
#include "TcpTimeouts.h"
#include "TeardownObserver.h"
#include "platform/NotificationCenter.h"
#include "platform/Posix.h"
#include "platform/ProgramError.h"
#include "platform/Reaper.h"
#include "platform/UserDefaults.h"

#include <QCryptographicHash>
#include <QFile>
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWaitSliceMs = 50;
// Several local connections may arrive together (a query's connection and its
// cancel request); a backlog of one would drop the third SYN for a second.
constexpr int kListenBacklog = 8;

QString knownKeyName(const QString &host, unsigned port) {
    return QStringLiteral("%1:%2").arg(host).arg(port ? port : 22u);
}

QString homeDirectory() {
    QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return home;
    if (const passwd *entry = ::getpwuid(::getuid()))
        return QFile::decodeName(entry->pw_dir);
    return QString();
}

// The known-hosts key type of a negotiated host key, so that an entry of another
// type for the same host (an RSA key beside the ed25519 one) is not a mismatch.
int knownHostKeyType(int hostKeyType) {
    switch (hostKeyType) {
    case LIBSSH2_HOSTKEY_TYPE_RSA:
        return LIBSSH2_KNOWNHOST_KEY_SSHRSA;
    case LIBSSH2_HOSTKEY_TYPE_DSS:
        return LIBSSH2_KNOWNHOST_KEY_SSHDSS;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_256:
        return LIBSSH2_KNOWNHOST_KEY_ECDSA_256;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_384:
        return LIBSSH2_KNOWNHOST_KEY_ECDSA_384;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_521:
        return LIBSSH2_KNOWNHOST_KEY_ECDSA_521;
    case LIBSSH2_HOSTKEY_TYPE_ED25519:
        return LIBSSH2_KNOWNHOST_KEY_ED25519;
    default:
        return LIBSSH2_KNOWNHOST_KEY_UNKNOWN;
    }
}

QString fingerprint(LIBSSH2_SESSION *session) {
    const char *hash = libssh2_hostkey_hash(session, LIBSSH2_HOSTKEY_HASH_SHA1);
    if (!hash)
        return QStringLiteral("");
    QString text;
    for (int i = 0; i < 20; ++i)
        text += QString::asprintf("%02X ", unsigned(quint8(hash[i])));
    text.chop(1);
    return text;
}

// SHA-1 of a raw host key, as fingerprint() writes it.
QString fingerprintOf(const QByteArray &key) {
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    QString text;
    for (char c : digest)
        text += QString::asprintf("%02X ", unsigned(quint8(c)));
    text.chop(1);
    return text;
}

// A listening socket on 127.0.0.1:port (0: any free port), or -1 with errno set
// and step naming the call that failed.
int listenOnLoopback(int port, QString *step) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *step = QStringLiteral("socket");
        return -1;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const char *failed = nullptr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        failed = "bind";
    else if (::listen(fd, kListenBacklog) != 0)
        failed = "listen";
    if (!failed)
        return fd;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    *step = QString::fromLatin1(failed);
    return -1;
}

void initialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { libssh2_init(0); });
}

} // namespace

// --- life -------------------------------------------------------------------

SSHTunnel::SSHTunnel() : d(std::make_unique<Impl>(this)) {}

SSHTunnel::~SSHTunnel() = default;

std::shared_ptr<SSHTunnel> SSHTunnel::create() {
    return std::shared_ptr<SSHTunnel>(new SSHTunnel());
}

SSHTunnel::Impl::~Impl() {
    noteTeardown("SSHTunnel");
    std::shared_ptr<SSHForwarder> running = std::move(forwarder);
    if (running)
        running->stop();
    if (forwardingThread.joinable()) {
        // The last reference may go away on the forwarding thread itself (while it
        // reports a status); it then finishes alone and frees the session last,
        // and the reaper joins it, so that the program does not end under it.
        if (forwardingThread.get_id() == std::this_thread::get_id())
            Reaper::dispose([thread = std::make_shared<std::thread>(std::move(forwardingThread))] { thread->join(); });
        else
            forwardingThread.join();
    }
    running.reset();
    if (listenSocket >= 0)
        ::close(listenSocket);
    // A channel opened before a later step failed goes with its session.
    session.reset();
}

// --- known host keys ----------------------------------------------------------

void SSHTunnel::addKey(const QByteArray &key, const QString &host, unsigned port) {
    UserDefaults &defaults = UserDefaults::standard();
    QVariantMap keys = defaults.dictionaryForKey(KnownHostKeysDefaultsKey);
    keys.insert(knownKeyName(host, port), key);
    defaults.setObject(keys, KnownHostKeysDefaultsKey);
}

QByteArray SSHTunnel::keyForHost(const QString &host, unsigned port) {
    QVariant key = UserDefaults::standard().dictionaryForKey(KnownHostKeysDefaultsKey).value(knownKeyName(host, port));
    return key.typeId() == QMetaType::QByteArray ? key.toByteArray() : QByteArray();
}

// --- commands ------------------------------------------------------------------

bool SSHTunnel::connect(std::optional<std::chrono::steady_clock::time_point> deadline) {
    {
        std::lock_guard lock(d->mutex);
        if (d->connectCalled)
            throw ProgramError("IncorrectUsage", "SSHTunnel::connect called twice; make a new tunnel per attempt.");
        d->connectCalled = true;
    }
    d->deadline = deadline;
    initialiseLibraryOnce();
    if (!d->connectTCP() || !d->connectSSH() || !d->listenForLocalConnections())
        return false;
    // A cancel after the last wait still ends the attempt.
    if (d->shouldCancel)
        return d->fail(QStringLiteral("Connection to SSH server cancelled."));
    d->startForwarding();
    return true;
}

void SSHTunnel::cancel() {
    stopListening();
    d->shouldCancel = true;
    std::shared_ptr<ConditionLock> lock;
    {
        std::lock_guard guard(d->mutex);
        lock = d->keyboardInteractiveLock;
    }
    if (lock)
        lock->unlockWithCondition(1);
}

// The forwarding thread closes the socket itself: closing a descriptor that
// another thread polls would let a new socket reuse its number under it.
void SSHTunnel::stopListening() {
    std::shared_ptr<SSHForwarder> running;
    {
        std::lock_guard lock(d->mutex);
        d->listeningStopped = true;
        running = d->forwarder;
    }
    if (running)
        running->stopListening();
}

bool SSHTunnel::setUnacknowledgedTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard lock(d->mutex);
    return TcpTimeouts::setUnacknowledgedTimeout(d->sshSocket, timeout, d->regularProbes);
}

int SSHTunnel::sshSocketForTesting() const {
    std::lock_guard lock(d->mutex);
    return d->sshSocket;
}

// --- properties ----------------------------------------------------------------

#define SSHTUNNEL_PROPERTY(Type, getter, setter)                                                                       \
    void SSHTunnel::setter(const Type &v) {                                                                            \
        std::lock_guard lock(d->mutex);                                                                                \
        d->getter = v;                                                                                                 \
    }                                                                                                                  \
    Type SSHTunnel::getter() const {                                                                                   \
        std::lock_guard lock(d->mutex);                                                                                \
        return d->getter;                                                                                              \
    }

SSHTUNNEL_PROPERTY(QString, host, setHost)
SSHTUNNEL_PROPERTY(QString, hostName, setHostName)
SSHTUNNEL_PROPERTY(QString, user, setUser)
SSHTUNNEL_PROPERTY(QString, password, setPassword)
SSHTUNNEL_PROPERTY(QString, privateKeyPath, setPrivateKeyPath)
SSHTUNNEL_PROPERTY(QString, privateKeyPassphrase, setPrivateKeyPassphrase)
SSHTUNNEL_PROPERTY(QString, targetHost, setTargetHost)
SSHTUNNEL_PROPERTY(QByteArray, expectedKey, setExpectedKey)
#undef SSHTUNNEL_PROPERTY

#define SSHTUNNEL_INT_PROPERTY(getter, setter)                                                                         \
    void SSHTunnel::setter(int v) {                                                                                    \
        std::lock_guard lock(d->mutex);                                                                                \
        d->getter = v;                                                                                                 \
    }                                                                                                                  \
    int SSHTunnel::getter() const {                                                                                    \
        std::lock_guard lock(d->mutex);                                                                                \
        return d->getter;                                                                                              \
    }

SSHTUNNEL_INT_PROPERTY(port, setPort)
SSHTUNNEL_INT_PROPERTY(targetPort, setTargetPort)
SSHTUNNEL_INT_PROPERTY(localPort, setLocalPort)
#undef SSHTUNNEL_INT_PROPERTY

void SSHTunnel::setDelegate(std::weak_ptr<SSHTunnelDelegate> delegate) {
    std::lock_guard lock(d->mutex);
    d->delegate = std::move(delegate);
}

QString SSHTunnel::statusString() const {
    std::lock_guard lock(d->mutex);
    return d->statusString;
}

void SSHTunnel::setStatusString(const QString &v) {
    {
        std::lock_guard lock(d->mutex);
        d->statusString = v;
    }
    NotificationCenter::defaultCenter().post(StatusNotification, shared_from_this());
}

ErrorPtr SSHTunnel::error() const {
    std::lock_guard lock(d->mutex);
    return d->error;
}

void SSHTunnel::Impl::setError(const ErrorPtr &e) {
    std::lock_guard lock(mutex);
    error = e;
}

bool SSHTunnel::Impl::fail(const ErrorPtr &e) {
    setError(e);
    return false;
}

bool SSHTunnel::Impl::fail(const QString &description) {
    return fail(KesError::errorWithFormat(description));
}

QString SSHTunnel::Impl::lastSSHErrorMessage() const {
    return session ? session->lastErrorMessage() : QString();
}

// --- connecting --------------------------------------------------------------------

bool SSHTunnel::Impl::connectTCP() {
    const QString server = q->host();
    if (server.isEmpty())
        return fail(QStringLiteral("Can't connect to SSH server: no host provided."));
    const int sshPort = q->port();
    const QByteArray service = sshPort >= 1 ? QByteArray::number(sshPort) : QByteArrayLiteral("22");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    int rc = ::getaddrinfo(server.toUtf8().constData(), service.constData(), &hints, &found);
    if (rc != 0)
        return fail(QStringLiteral("Could not find SSH server ‘%1’. %2.")
                        .arg(server, QString::fromLocal8Bit(gai_strerror(rc))));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);

    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return fail(QStringLiteral("Connecting to SSH Server failed. %1.").arg(Posix::errnoText(errno)));
    session = std::make_unique<SSHSession>(fd);
    // SSH packets are written whole; Nagle would only hold back small queries.
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Every session of the connection travels on this socket: a dead link must
    // end it, as libpq's probes would end a direct one.
    TcpTimeouts::enableKeepalive(fd);
    {
        std::lock_guard lock(mutex);
        sshSocket = fd;
    }

    q->setStatusString(QStringLiteral("Connecting to server"));
    if (::connect(fd, found->ai_addr, found->ai_addrlen) == 0)
        return true;
    if (errno != EINPROGRESS)
        return fail(QStringLiteral("Connecting to SSH Server failed. %1.").arg(Posix::errnoText(errno)));
    if (!waitForDirection(LIBSSH2_SESSION_BLOCK_OUTBOUND))
        return false;
    int socketError = 0;
    socklen_t length = sizeof socketError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0)
        socketError = errno;
    if (socketError != 0)
        return fail(QStringLiteral("Connecting to SSH Server failed. %1.").arg(Posix::errnoText(socketError)));
    return true;
}

bool SSHTunnel::Impl::connectSSH() {
    if (!session->open(this))
        return fail(QStringLiteral("Connecting to SSH Server failed.\nlibssh2_session_init() returned NULL"));
    return handshake() && checkHostKey() && authenticate() && openChannel();
}

bool SSHTunnel::Impl::handshake() {
    q->setStatusString(QStringLiteral("SSH Handshake"));
    std::optional<int> rc = untilDone([&] { return libssh2_session_handshake(ssh(), session->socket()); });
    if (!rc)
        return false;
    if (*rc != 0)
        return fail(QStringLiteral("Connecting to the SSH server failed. %1").arg(lastSSHErrorMessage()));
    session->markEstablished();
    return true;
}

// The user's known_hosts decides first: a match passes and a different key of
// the same type refuses; only a host it does not know may pass by the key the
// user accepted earlier. A key other than that one is a change the user must
// judge (420); a host never seen before is asked about (417).
bool SSHTunnel::Impl::checkHostKey() {
    size_t length = 0;
    int type = LIBSSH2_HOSTKEY_TYPE_UNKNOWN;
    const char *raw = libssh2_session_hostkey(ssh(), &length, &type);
    if (!raw)
        return fail(QStringLiteral("Failed to get SSH server host key. %1").arg(lastSSHErrorMessage()));
    const QByteArray key(raw, qsizetype(length));

    switch (checkKnownHosts(key, type)) {
    case LIBSSH2_KNOWNHOST_CHECK_MATCH:
        return true;
    case LIBSSH2_KNOWNHOST_CHECK_MISMATCH:
        return fail(QStringLiteral(
            "Failed to connect to the SSH server because the key in the known_hosts file doesn't match."));
    default:
        break;
    }
    const QByteArray accepted = q->expectedKey();
    if (!accepted.isEmpty() && accepted == key)
        return true;
    return failForUnverifiedKey(key);
}

bool SSHTunnel::Impl::failForUnverifiedKey(const QByteArray &key) {
    const QByteArray accepted = q->expectedKey();
    QVariantMap info;
    info.insert(HostKeyDictionaryKey, key);
    info.insert(FingerprintDictionaryKey, fingerprint(ssh()));
    if (accepted.isEmpty()) {
        info.insert(Error::DescriptionKey, QStringLiteral("SSH server host key could not be verified."));
        return fail(Error::make(ErrorDomain, ErrorHostKeyNotVerified, info));
    }
    info.insert(PreviousFingerprintDictionaryKey, fingerprintOf(accepted));
    info.insert(Error::DescriptionKey,
                QStringLiteral("The SSH server's host key has changed since you accepted it. This can mean that "
                               "someone is intercepting the connection."));
    return fail(Error::make(ErrorDomain, ErrorHostKeyChanged, info));
}

// Line by line, so that one entry libssh2 cannot parse (a key type it does not
// know) does not hide the rest of the file.
int SSHTunnel::Impl::checkKnownHosts(const QByteArray &key, int keyType) {
    QFile file(homeDirectory() + QStringLiteral("/.ssh/known_hosts"));
    if (!file.open(QIODevice::ReadOnly))
        return LIBSSH2_KNOWNHOST_CHECK_NOTFOUND;
    LIBSSH2_KNOWNHOSTS *hosts = libssh2_knownhost_init(ssh());
    if (!hosts)
        return LIBSSH2_KNOWNHOST_CHECK_FAILURE;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        libssh2_knownhost_readline(hosts, line.constData(), size_t(line.size()), LIBSSH2_KNOWNHOST_FILE_OPENSSH);
    }
    const int sshPort = q->port() >= 1 ? q->port() : 22;
    // OpenSSH writes "[name]:port" for any port but 22. libssh2 given a port would
    // also try the bare name, where the key of the server on port 22 lives: the
    // entry is spelt out here and looked up without a port.
    auto lookUp = [&](const QString &name) {
        if (name.isEmpty())
            return int(LIBSSH2_KNOWNHOST_CHECK_NOTFOUND);
        const QString entry = sshPort == 22 ? name : QStringLiteral("[%1]:%2").arg(name).arg(sshPort);
        return libssh2_knownhost_checkp(
            hosts, entry.toUtf8().constData(), -1, key.constData(), size_t(key.size()),
            LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW | knownHostKeyType(keyType), nullptr);
    };
    auto decides = [](int verdict) {
        return verdict == LIBSSH2_KNOWNHOST_CHECK_MATCH || verdict == LIBSSH2_KNOWNHOST_CHECK_MISMATCH;
    };
    const QString name = q->hostName();
    int verdict = lookUp(name);
    if (!decides(verdict) && q->host() != name)
        verdict = lookUp(q->host());
    libssh2_knownhost_free(hosts);
    return verdict;
}

bool SSHTunnel::Impl::openChannel() {
    q->setStatusString(QStringLiteral("Opening tunnel"));
    const QByteArray target = q->targetHost().toUtf8();
    const int targetPort = q->targetPort();
    for (;;) {
        channel = libssh2_channel_direct_tcpip_ex(ssh(), target.constData(), targetPort, "127.0.0.1", 22);
        if (channel)
            return true;
        if (session->lastErrno() != LIBSSH2_ERROR_EAGAIN)
            return fail(QStringLiteral("Connecting to the SSH server succeeded, but opening a tunnel to the "
                                       "PostgreSQL server failed. %1")
                            .arg(lastSSHErrorMessage()));
        if (!waitForConnection())
            return false;
    }
}

// --- the local side ------------------------------------------------------------------

// The port asked for comes first (the one users see in their server's logs);
// when another tunnel holds it, any free port will do. Two sockets that allow
// reuse may both be bound to the port while neither listens yet: the one that
// listens second learns only then that the port is taken.
bool SSHTunnel::Impl::listenForLocalConnections() {
    const int wanted = q->localPort();
    QString step;
    int fd = listenOnLoopback(wanted, &step);
    if (fd < 0 && errno == EADDRINUSE && wanted != 0)
        fd = listenOnLoopback(0, &step);
    if (fd < 0)
        return fail(
            QStringLiteral("Establishing local side of SSH tunnel failed. %1 (%2)").arg(Posix::errnoText(errno), step));
    listenSocket = fd;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return fail(QStringLiteral("Establishing local side of SSH tunnel failed. %1 (getsockname)")
                        .arg(Posix::errnoText(errno)));
    std::lock_guard lock(mutex);
    localPort = ntohs(address.sin_port);
    return true;
}

// From here on the forwarding thread owns the session, the channel and the
// listening socket. It holds the tunnel only weakly.
void SSHTunnel::Impl::startForwarding() {
    std::weak_ptr<SSHTunnel> weak = q->weak_from_this();
    SSHForwarder::Hooks hooks;
    hooks.error = [weak](const ErrorPtr &e) {
        if (auto tunnel = weak.lock())
            tunnel->d->setError(e);
    };
    hooks.status = [weak](const QString &text) {
        if (auto tunnel = weak.lock())
            tunnel->setStatusString(text);
    };
    SSHForwarder::Target target{q->targetHost().toUtf8(), q->targetPort()};
    auto running = std::make_shared<SSHForwarder>(std::move(session), listenSocket, channel, target, hooks);
    listenSocket = -1;
    channel = nullptr;
    std::lock_guard lock(mutex);
    forwarder = running;
    if (listeningStopped)
        running->stopListening();
    forwardingThread = std::thread([running] { running->run(); });
}

// --- waiting -----------------------------------------------------------------------------

bool SSHTunnel::Impl::waitForConnection() {
    return waitForDirection(session->blockDirections());
}

bool SSHTunnel::Impl::waitForDirection(int directions) {
    short events = 0;
    if (directions & LIBSSH2_SESSION_BLOCK_INBOUND)
        events |= POLLIN;
    if (directions & LIBSSH2_SESSION_BLOCK_OUTBOUND)
        events |= POLLOUT;
    for (;;) {
        if (shouldCancel)
            return fail(QStringLiteral("Connection to SSH server cancelled."));
        if (pastDeadline())
            return fail(QStringLiteral("Connecting to SSH server took longer than the time allowed."));
        // With no direction to wait for, one slice (or the first byte that comes)
        // keeps the caller from spinning before it tries again.
        pollfd fd{session->socket(), events ? events : short(POLLIN), 0};
        int n = ::poll(&fd, 1, kWaitSliceMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(
                QStringLiteral("Error while waiting for SSH network connection: %1").arg(Posix::errnoText(errno)));
        if (n > 0 || !events)
            return true;
    }
}
