// Plain TCP sockets on 127.0.0.1 for the fake servers and clients of the
// engine tests, and the framing of PostgreSQL's protocol messages.
#pragma once

#include <QByteArray>
#include <QtEndian>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

inline sockaddr_in loopbackAddress(quint16 port = 0) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A socket listening on 127.0.0.1:port, any free port for 0; -1, with errno
// set, when the port cannot be had.
inline int listenOnLoopback(quint16 port = 0, int backlog = 8) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1; // connections of earlier tests waiting out TIME_WAIT must not keep us off the port
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// The local port of a bound socket.
inline int boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// A port of 127.0.0.1 that refuses every connection while this lives: bound,
// never listening, and without SO_REUSEADDR, so that nobody else can listen
// there meanwhile. (A port closed a moment ago may be the next one another
// test of the suite is given.) port() is 0 when no port could be had.
class RefusingPort {
public:
    RefusingPort() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in address = loopbackAddress(0);
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            m_port = boundPort(m_fd);
    }
    ~RefusingPort() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;
    int port() const { return m_port; }

private:
    int m_fd;
    int m_port = 0;
};

// A blocking TCP connection to 127.0.0.1:port; -1 when refused.
inline int connectLocal(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopbackAddress(quint16(port));
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One message of the PostgreSQL protocol: its type byte, then the length of
// what follows (the length field included) and the body.
inline QByteArray pgMessage(char type, const QByteArray &body) {
    QByteArray length(4, 0);
    qToBigEndian<quint32>(quint32(body.size() + 4), length.data());
    return type + length + body;
}
