#include "SSHForwarder.h"

#include "KesError.h"
#include "LocalPeer.h"
#include "SSHSession.h"
#include "platform/Log.h"
#include "platform/Posix.h"

#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr size_t kBufferSize = 16384;
// Without events the loop still looks at every channel this often.
constexpr auto kIdleWait = 100ms;
// libpq connects right after the tunnel is up; a first local connection that
// does not come within this time never will.
constexpr auto kFirstAcceptLimit = 5s;
// Rounds of one connection per pass, so that a fast transfer cannot starve the
// others, new connections or a stop request.
constexpr int kRoundsPerPass = 8;

// Bytes on their way in one direction: filled whole, drained from the front.
struct Buffer {
    std::array<char, kBufferSize> bytes;
    size_t begin = 0;
    size_t end = 0;

    bool empty() const { return begin == end; }
    const char *data() const { return bytes.data() + begin; }
    size_t size() const { return end - begin; }
    void consume(size_t n) {
        begin += n;
        if (begin == end)
            begin = end = 0;
    }
    void clear() { begin = end = 0; }
};

// Failures of the SSH connection itself rather than of one channel.
bool isSessionFailure(int sshError) {
    switch (sshError) {
    case LIBSSH2_ERROR_SOCKET_SEND:
    case LIBSSH2_ERROR_SOCKET_RECV:
    case LIBSSH2_ERROR_SOCKET_DISCONNECT:
    case LIBSSH2_ERROR_SOCKET_TIMEOUT:
    case LIBSSH2_ERROR_DECRYPT:
    case LIBSSH2_ERROR_TIMEOUT:
    case LIBSSH2_ERROR_KEX_FAILURE:
        return true;
    default:
        return false;
    }
}

} // namespace

struct SSHForwarder::Connection {
    enum State { Waiting, Opening, Open, Closing, Done };
    int fd = -1;
    LIBSSH2_CHANNEL *channel = nullptr;
    State state = Waiting;
    Buffer toChannel;
    Buffer toLocal;
    bool localEOF = false;
    bool remoteEOF = false;
};

SSHForwarder::SSHForwarder(std::unique_ptr<SSHSession> session, int listenSocket, LIBSSH2_CHANNEL *firstChannel,
                           Target target, Hooks hooks)
    : m_session(std::move(session)), m_ssh(m_session->get()), m_listenSocket(listenSocket),
      m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_firstChannel(firstChannel), m_target(std::move(target)),
      m_hooks(std::move(hooks)) {}

SSHForwarder::~SSHForwarder() {
    closeLocalSockets();
    closeListeningSocket();
    // Channels still open go with the session.
    m_connections.clear();
    m_session.reset();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void SSHForwarder::stopListening() {
    m_stopListening = true;
    wake();
}

void SSHForwarder::stop() {
    m_stop = true;
    wake();
}

void SSHForwarder::wake() {
    // Without an eventfd the loop still notices within kIdleWait.
    if (m_wakeFd >= 0)
        ::eventfd_write(m_wakeFd, 1);
}

void SSHForwarder::run() {
    auto firstAcceptDeadline = std::chrono::steady_clock::now() + kFirstAcceptLimit;
    while (!m_stop) {
        if (m_stopListening)
            closeListeningSocket();
        if (m_listenSocket < 0 && m_connections.empty())
            break;
        auto now = std::chrono::steady_clock::now();
        if (!m_acceptedAny && m_listenSocket >= 0 && now >= firstAcceptDeadline) {
            // Closed before the report, so that whoever reads the error finds the port shut.
            closeListeningSocket();
            report(KesError::errorWithFormat(
                QStringLiteral("Establishing local side of SSH tunnel failed.\nselect() returned 0; errno 0")));
            continue;
        }
        quint64 received = SSHSession::bytesReceivedOnThisThread();
        bool busy = servicePass();
        busy = busy || SSHSession::bytesReceivedOnThisThread() != received;
        if (m_sessionFailed) {
            closeListeningSocket();
            break;
        }
        removeFinished();
        auto timeout = busy ? 0ms : kIdleWait;
        if (!m_acceptedAny && m_listenSocket >= 0)
            timeout = std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(firstAcceptDeadline - now));
        waitForEvents(std::max(timeout, 0ms));
    }
    closeLocalSockets();
    closeListeningSocket();
}

// One round over every connection; true when anything moved. While libssh2
// holds a half-sent packet, only the call that left it may go on: any other
// call would start a packet of its own in the middle of that one.
bool SSHForwarder::servicePass() {
    bool moved = false;
    if (m_stall.connection) {
        Stall stall = m_stall;
        m_stall = Stall();
        moved = runOp(*stall.connection, stall.op);
        if (m_stall.connection || m_sessionFailed)
            return moved;
    }
    startNextOpening();
    for (size_t i = 0; i < m_connections.size(); ++i) {
        moved = serviceConnection(*m_connections[i]) || moved;
        if (m_stall.connection || m_sessionFailed)
            break;
    }
    return moved;
}

bool SSHForwarder::serviceConnection(Connection &c) {
    switch (c.state) {
    case Connection::Opening:
        return stepOpen(c);
    case Connection::Open:
        return pumpOpen(c);
    case Connection::Closing:
        return stepFree(c);
    case Connection::Waiting:
    case Connection::Done:
        break;
    }
    return false;
}

bool SSHForwarder::runOp(Connection &c, Op op) {
    switch (op) {
    case Op::Open:
        return stepOpen(c);
    case Op::Write:
        return stepWrite(c);
    case Op::Read:
        return stepRead(c);
    case Op::Free:
        return stepFree(c);
    }
    return false;
}

// libssh2 opens one channel at a time per session; later connections wait.
void SSHForwarder::startNextOpening() {
    if (m_opening)
        return;
    for (auto &c : m_connections) {
        if (c->state != Connection::Waiting)
            continue;
        c->state = Connection::Opening;
        m_opening = c.get();
        if (m_hooks.status)
            m_hooks.status(QStringLiteral("Opening tunnel"));
        return;
    }
}

bool SSHForwarder::stepOpen(Connection &c) {
    LIBSSH2_CHANNEL *channel =
        libssh2_channel_direct_tcpip_ex(m_ssh, m_target.host.constData(), m_target.port, "127.0.0.1", 22);
    if (channel) {
        m_opening = nullptr;
        c.channel = channel;
        c.state = Connection::Open;
        return true;
    }
    int error = m_session->lastErrno();
    if (error == LIBSSH2_ERROR_EAGAIN) {
        noteBlocked(c, Op::Open);
        return false;
    }
    m_opening = nullptr;
    failConnection(c,
                   KesError::errorWithFormat(QStringLiteral("Connecting to the SSH server succeeded, but opening a "
                                                            "tunnel to the PostgreSQL server failed. %1")
                                                 .arg(m_session->lastErrorMessage())),
                   error);
    return true;
}

// Both directions of one open connection, a few rounds at most.
bool SSHForwarder::pumpOpen(Connection &c) {
    bool movedAny = false;
    for (int round = 0; round < kRoundsPerPass && c.state == Connection::Open; ++round) {
        bool moved = false;
        if (c.toChannel.empty() && !c.localEOF)
            moved = receiveLocal(c) || moved;
        if (c.state == Connection::Open && !c.toChannel.empty())
            moved = stepWrite(c) || moved;
        if (m_stall.connection || c.state != Connection::Open)
            return movedAny || moved;
        if (!c.localEOF && !c.toLocal.empty())
            moved = sendLocal(c) || moved;
        if (c.state == Connection::Open && !c.localEOF && !c.remoteEOF && c.toLocal.empty()) {
            moved = stepRead(c) || moved;
            if (m_stall.connection)
                return movedAny || moved;
            if (c.state == Connection::Open && !c.toLocal.empty())
                moved = sendLocal(c) || moved;
        }
        // The local side has finished once what it sent is delivered; the server's
        // side once what it sent has reached the local socket.
        if (c.state == Connection::Open && ((c.localEOF && c.toChannel.empty()) || (c.remoteEOF && c.toLocal.empty())))
            beginClosing(c);
        movedAny = movedAny || moved;
        if (!moved)
            break;
    }
    return movedAny;
}

bool SSHForwarder::stepWrite(Connection &c) {
    ssize_t n = libssh2_channel_write_ex(c.channel, 0, c.toChannel.data(), c.toChannel.size());
    if (n > 0) {
        c.toChannel.consume(size_t(n));
        return true;
    }
    if (n == LIBSSH2_ERROR_EAGAIN) {
        noteBlocked(c, Op::Write);
        return false;
    }
    if (n == 0) // no window yet: the server's adjustment is on its way
        return false;
    failConnection(c,
                   KesError::errorWithFormat(
                       QStringLiteral("Failed to send data to SSH tunnel. %1").arg(m_session->lastErrorMessage())),
                   int(n));
    return true;
}

bool SSHForwarder::stepRead(Connection &c) {
    ssize_t n = libssh2_channel_read_ex(c.channel, 0, c.toLocal.bytes.data(), kBufferSize);
    if (n > 0) {
        c.toLocal.begin = 0;
        c.toLocal.end = size_t(n);
        if (libssh2_channel_eof(c.channel) == 1)
            c.remoteEOF = true;
        return true;
    }
    if (n == 0 || n == LIBSSH2_ERROR_CHANNEL_CLOSED) {
        c.remoteEOF = true;
        return true;
    }
    if (n == LIBSSH2_ERROR_EAGAIN) {
        noteBlocked(c, Op::Read);
        return false;
    }
    failConnection(c,
                   KesError::errorWithFormat(
                       QStringLiteral("Failed to read data from SSH tunnel. %1").arg(m_session->lastErrorMessage())),
                   int(n));
    return true;
}

bool SSHForwarder::stepFree(Connection &c) {
    int rc = libssh2_channel_free(c.channel);
    if (rc == LIBSSH2_ERROR_EAGAIN) {
        noteBlocked(c, Op::Free);
        return false;
    }
    // Any other answer has freed the channel.
    c.channel = nullptr;
    c.state = Connection::Done;
    return true;
}

bool SSHForwarder::receiveLocal(Connection &c) {
    ssize_t n = ::recv(c.fd, c.toChannel.bytes.data(), kBufferSize, 0);
    if (n > 0) {
        c.toChannel.begin = 0;
        c.toChannel.end = size_t(n);
        return true;
    }
    if (n == 0) {
        c.localEOF = true;
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return false;
    failConnection(
        c, KesError::errorWithFormat(QStringLiteral("SSH tunnel error. %1 (recv)").arg(Posix::errnoText(errno))));
    return true;
}

bool SSHForwarder::sendLocal(Connection &c) {
    ssize_t n = ::send(c.fd, c.toLocal.data(), c.toLocal.size(), MSG_NOSIGNAL);
    if (n > 0) {
        c.toLocal.consume(size_t(n));
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    failConnection(
        c, KesError::errorWithFormat(QStringLiteral("SSH tunnel error. %1 (send)").arg(Posix::errnoText(errno))));
    return true;
}

// A call that stopped in the middle of sending a packet must be the next one.
void SSHForwarder::noteBlocked(Connection &c, Op op) {
    if (m_session->blockDirections() & LIBSSH2_SESSION_BLOCK_OUTBOUND)
        m_stall = Stall{&c, op};
}

// The local socket closes at once, so that the client sees the end; the channel
// closes in the following passes.
void SSHForwarder::beginClosing(Connection &c) {
    if (c.fd >= 0) {
        ::close(c.fd);
        c.fd = -1;
    }
    c.toChannel.clear();
    c.toLocal.clear();
    c.state = c.channel ? Connection::Closing : Connection::Done;
}

void SSHForwarder::failConnection(Connection &c, const ErrorPtr &error, int sshError) {
    report(error);
    if (isSessionFailure(sshError))
        m_sessionFailed = true;
    beginClosing(c);
}

void SSHForwarder::report(const ErrorPtr &error) {
    if (m_hooks.error)
        m_hooks.error(error);
}

void SSHForwarder::acceptConnections() {
    while (m_listenSocket >= 0) {
        int fd = ::accept4(m_listenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
                return;
            const int acceptError = errno;
            closeListeningSocket();
            report(KesError::errorWithFormat(
                QStringLiteral("Establishing local side of SSH tunnel failed.\naccept() returned %1; errno %2")
                    .arg(fd)
                    .arg(acceptError)));
            return;
        }
        if (!isOwnUsersConnection(fd))
            continue;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        if (m_firstChannel) {
            c->channel = m_firstChannel;
            c->state = Connection::Open;
            m_firstChannel = nullptr;
        }
        m_connections.push_back(std::move(c));
        m_acceptedAny = true;
    }
}

// The port listens on loopback for as long as the connection lives, where every
// local user can reach it, and behind it waits the user's own SSH login: a
// connection of anybody else's, or of nobody known, is closed before it is served.
bool SSHForwarder::isOwnUsersConnection(int fd) {
    const std::optional<uid_t> owner = LocalPeer::owner(fd);
    if (owner && *owner == ::geteuid())
        return true;
    ::close(fd);
    if (!m_reportedStranger) {
        m_reportedStranger = true;
        Log(owner ? QStringLiteral("Closed a connection to the SSH tunnel's local port from user %1.").arg(*owner)
                  : QStringLiteral("Closed a connection to the SSH tunnel's local port whose owner is unknown."));
    }
    return false;
}

// Would the next pass read from the session? Only then is a readable SSH socket
// worth waking for; otherwise it would stay readable and spin the loop.
bool SSHForwarder::wantsSessionInput() const {
    for (const auto &c : m_connections) {
        if (c->state == Connection::Opening || c->state == Connection::Closing)
            return true;
        if (c->state == Connection::Open && !c->remoteEOF && !c->localEOF && c->toLocal.empty())
            return true;
    }
    return false;
}

void SSHForwarder::waitForEvents(std::chrono::milliseconds timeout) {
    std::vector<pollfd> fds;
    fds.push_back({m_wakeFd, POLLIN, 0});
    fds.push_back({m_listenSocket, POLLIN, 0});
    short sessionEvents = 0;
    if (m_stall.connection)
        sessionEvents = POLLOUT;
    else if (wantsSessionInput())
        sessionEvents = POLLIN;
    fds.push_back({sessionEvents ? m_session->socket() : -1, sessionEvents, 0});
    for (const auto &c : m_connections) {
        short events = 0;
        if (c->state == Connection::Open && !m_stall.connection) {
            if (c->toChannel.empty() && !c->localEOF)
                events |= POLLIN;
            if (!c->toLocal.empty())
                events |= POLLOUT;
        }
        // A descriptor without events would still report hang-ups and spin.
        fds.push_back({events ? c->fd : -1, events, 0});
    }
    int n = ::poll(fds.data(), fds.size(), int(timeout.count()));
    if (n <= 0)
        return;
    if (fds[0].revents & POLLIN) {
        eventfd_t value;
        ::eventfd_read(m_wakeFd, &value);
    }
    if (fds[1].revents & POLLIN)
        acceptConnections();
}

void SSHForwarder::removeFinished() {
    std::erase_if(m_connections, [](const std::unique_ptr<Connection> &c) { return c->state == Connection::Done; });
}

void SSHForwarder::closeLocalSockets() {
    for (auto &c : m_connections) {
        if (c->fd >= 0) {
            ::close(c->fd);
            c->fd = -1;
        }
    }
}

void SSHForwarder::closeListeningSocket() {
    if (m_listenSocket < 0)
        return;
    if (::close(m_listenSocket) != 0)
        Log(QStringLiteral("Failed to close socket %1 (%2) errno: %3")
                .arg(QStringLiteral("SSH tunnel listener"))
                .arg(m_listenSocket)
                .arg(errno));
    m_listenSocket = -1;
}
