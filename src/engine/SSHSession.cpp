#include "SSHSession.h"

#include "platform/Log.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local quint64 t_bytesReceived = 0;

// libssh2's own socket calls, with MSG_NOSIGNAL for a server that went away and
// a count of what was read for the forwarding loop.
ssize_t receive(libssh2_socket_t socket, void *buffer, size_t length, int flags, void **) {
    ssize_t n = ::recv(socket, buffer, length, flags);
    if (n > 0) {
        t_bytesReceived += quint64(n);
        return n;
    }
    if (n < 0)
        return (errno == EWOULDBLOCK || errno == EINTR) ? -EAGAIN : -errno;
    return 0;
}

ssize_t transmit(libssh2_socket_t socket, const void *buffer, size_t length, int flags, void **) {
    ssize_t n = ::send(socket, buffer, length, flags | MSG_NOSIGNAL);
    if (n < 0)
        return (errno == EWOULDBLOCK || errno == EINTR) ? -EAGAIN : -errno;
    return n;
}

// A disconnect message is one small packet; a server that does not take it
// within this time gets the socket closed instead.
constexpr auto kDisconnectLimit = std::chrono::milliseconds(250);
// libssh2_session_free answers "would block" while channels still close; once the
// socket is shut down they fail at once, so a few rounds are enough.
constexpr int kFreeAttempts = 20;

} // namespace

SSHSession::SSHSession(int socket) : m_socket(socket) {}

SSHSession::~SSHSession() {
    if (m_session) {
        if (m_established)
            disconnect();
        ::shutdown(m_socket, SHUT_RDWR);
        int rc = LIBSSH2_ERROR_EAGAIN;
        for (int i = 0; i < kFreeAttempts && rc == LIBSSH2_ERROR_EAGAIN; ++i)
            rc = libssh2_session_free(m_session);
        if (rc == LIBSSH2_ERROR_EAGAIN)
            Log(QStringLiteral("The SSH session on socket %1 could not be freed.").arg(m_socket));
    }
    if (m_socket >= 0)
        ::close(m_socket);
}

bool SSHSession::open(void *abstract) {
    m_session = libssh2_session_init_ex(nullptr, nullptr, nullptr, abstract);
    if (!m_session)
        return false;
    libssh2_session_callback_set(m_session, LIBSSH2_CALLBACK_RECV, reinterpret_cast<void *>(&receive));
    libssh2_session_callback_set(m_session, LIBSSH2_CALLBACK_SEND, reinterpret_cast<void *>(&transmit));
    libssh2_session_set_blocking(m_session, 0);
    return true;
}

QString SSHSession::lastErrorMessage() const {
    if (!m_session)
        return QString();
    char *message = nullptr;
    int length = 0;
    libssh2_session_last_error(m_session, &message, &length, 0);
    return message ? QString::fromUtf8(message, length) : QString();
}

int SSHSession::lastErrno() const {
    return m_session ? libssh2_session_last_errno(m_session) : 0;
}

int SSHSession::blockDirections() const {
    return m_session ? libssh2_session_block_directions(m_session) : 0;
}

quint64 SSHSession::bytesReceivedOnThisThread() {
    return t_bytesReceived;
}

void SSHSession::disconnect() {
    auto deadline = std::chrono::steady_clock::now() + kDisconnectLimit;
    for (int round = 0; round < kFreeAttempts; ++round) {
        int rc = libssh2_session_disconnect_ex(m_session, SSH_DISCONNECT_BY_APPLICATION,
                                               "Client disconnecting normally", "");
        if (rc != LIBSSH2_ERROR_EAGAIN)
            return;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd fd{m_socket, POLLOUT, 0};
        ::poll(&fd, 1, int(left.count()));
    }
}
