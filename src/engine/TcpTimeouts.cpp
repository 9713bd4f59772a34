#include "TcpTimeouts.h"

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace TcpTimeouts {

bool enableKeepalive(int fd) {
    const int on = 1;
    const int idle = kKeepaliveIdleSeconds;
    const int interval = kKeepaliveIntervalSeconds;
    const int count = kKeepaliveCount;
    return ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0;
}

namespace {

constexpr int kProbesPerUnacknowledgedTimeout = 12;

std::optional<Probes> probesOf(int fd) {
    int on = 0;
    Probes probes;
    socklen_t length = sizeof on;
    if (::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &length) != 0 || !on)
        return std::nullopt;
    length = sizeof probes.idleSeconds;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &probes.idleSeconds, &length) != 0)
        return std::nullopt;
    length = sizeof probes.intervalSeconds;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probes.intervalSeconds, &length) != 0)
        return std::nullopt;
    return probes;
}

// A refused option leaves that one as it was: probes only come later.
void setProbes(int fd, const Probes &probes) {
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &probes.idleSeconds, sizeof probes.idleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probes.intervalSeconds, sizeof probes.intervalSeconds);
}

} // namespace

bool setUnacknowledgedTimeout(int fd, std::chrono::milliseconds timeout, std::optional<Probes> &regular) {
    const unsigned int ms = timeout.count() > 0 ? unsigned(timeout.count()) : 0u;
    const bool set = ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms) == 0;
    if (ms == 0) {
        if (regular)
            setProbes(fd, *regular);
        regular.reset();
    } else if (regular || (regular = probesOf(fd))) {
        const int sooner = std::max(1, int(ms / 1000 / kProbesPerUnacknowledgedTimeout));
        setProbes(fd, {std::min(regular->idleSeconds, sooner), std::min(regular->intervalSeconds, sooner)});
    }
    return set;
}

} // namespace TcpTimeouts
