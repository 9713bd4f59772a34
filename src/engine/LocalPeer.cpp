#include "LocalPeer.h"

#include <QFile>
#include <QList>
#include <arpa/inet.h>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Both ends of an accepted connection: ours (the listening address) and the peer.
struct Ends {
    sockaddr_storage local{};
    sockaddr_storage peer{};
};

std::optional<Ends> endsOf(int fd) {
    Ends ends;
    socklen_t length = sizeof ends.local;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&ends.local), &length) != 0)
        return std::nullopt;
    length = sizeof ends.peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&ends.peer), &length) != 0)
        return std::nullopt;
    if (ends.local.ss_family != ends.peer.ss_family ||
        (ends.local.ss_family != AF_INET && ends.local.ss_family != AF_INET6))
        return std::nullopt;
    return ends;
}

quint16 portOf(const sockaddr_storage &address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
}

// The address as an IPv6 one (IPv4 mapped), the four words as in memory.
in6_addr asIPv6(const sockaddr_storage &address) {
    if (address.ss_family == AF_INET6)
        return reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr;
    in6_addr mapped{};
    mapped.s6_addr[10] = mapped.s6_addr[11] = 0xff;
    std::memcpy(&mapped.s6_addr[12], &reinterpret_cast<const sockaddr_in &>(address).sin_addr, 4);
    return mapped;
}

bool isMapped(const in6_addr &address) {
    static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(address.s6_addr, prefix, sizeof prefix) == 0;
}

// One exact look-up of the TCP socket whose source is `from` and destination `to`.
std::optional<uid_t> askSocketDiagnostics(int family, const in6_addr &from, quint16 fromPort, const in6_addr &to,
                                          quint16 toPort) {
    const int nl = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0)
        return std::nullopt;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = quint8(family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = htons(fromPort);
    message.request.id.idiag_dport = htons(toPort);
    message.request.id.idiag_cookie[0] = message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    const int words = family == AF_INET ? 1 : 4;
    const int skip = family == AF_INET ? 3 : 0; // an IPv4 address is the last word of its mapped form
    std::memcpy(message.request.id.idiag_src, reinterpret_cast<const quint32 *>(from.s6_addr) + skip, words * 4);
    std::memcpy(message.request.id.idiag_dst, reinterpret_cast<const quint32 *>(to.s6_addr) + skip, words * 4);

    std::optional<uid_t> owner;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(nl, &message, sizeof message, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) ==
        ssize_t(sizeof message)) {
        alignas(nlmsghdr) char buffer[8192];
        const ssize_t got = ::recv(nl, buffer, sizeof buffer, 0);
        auto *reply = reinterpret_cast<nlmsghdr *>(buffer);
        if (got > 0 && NLMSG_OK(reply, size_t(got)) && reply->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            reply->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg)))
            owner = static_cast<const inet_diag_msg *>(NLMSG_DATA(reply))->idiag_uid;
    }
    ::close(nl);
    return owner;
}

// The owner column of the line in /proc/net/<table> whose local end is `from`
// and remote end `to`. Addresses are printed word by word as they lie in
// memory, ports in host order.
std::optional<uid_t> searchProcTable(const char *table, const in6_addr &from, quint16 fromPort, const in6_addr &to,
                                     quint16 toPort) {
    const bool v4 = std::strcmp(table, "tcp") == 0;
    if (v4 && (!isMapped(from) || !isMapped(to)))
        return std::nullopt;
    auto endText = [v4](const in6_addr &address, quint16 port) {
        const auto *words = reinterpret_cast<const quint32 *>(address.s6_addr);
        QByteArray text;
        for (int i = v4 ? 3 : 0; i < 4; ++i)
            text += QByteArray::number(words[i], 16).rightJustified(8, '0').toUpper();
        return text + ':' + QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
    };
    const QByteArray local = endText(from, fromPort), remote = endText(to, toPort);
    QFile file(QStringLiteral("/proc/net/") + QLatin1String(table));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    file.readLine(); // the header
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        bool ok = false;
        const uid_t uid = fields.value(7).toUInt(&ok);
        if (fields.size() > 7 && fields[1] == local && fields[2] == remote && ok)
            return uid;
    }
    return std::nullopt;
}

} // namespace

namespace LocalPeer {

std::optional<uid_t> ownerBySocketDiagnostics(int acceptedFd) {
    const std::optional<Ends> ends = endsOf(acceptedFd);
    if (!ends)
        return std::nullopt;
    // The peer's socket runs from its address to ours.
    const in6_addr from = asIPv6(ends->peer), to = asIPv6(ends->local);
    const quint16 fromPort = portOf(ends->peer), toPort = portOf(ends->local);
    if (isMapped(from) && isMapped(to)) {
        if (auto owner = askSocketDiagnostics(AF_INET, from, fromPort, to, toPort))
            return owner;
    }
    // A client may reach an IPv4 port from an IPv6 socket, by the mapped address.
    return askSocketDiagnostics(AF_INET6, from, fromPort, to, toPort);
}

std::optional<uid_t> ownerByProcNet(int acceptedFd) {
    const std::optional<Ends> ends = endsOf(acceptedFd);
    if (!ends)
        return std::nullopt;
    const in6_addr from = asIPv6(ends->peer), to = asIPv6(ends->local);
    const quint16 fromPort = portOf(ends->peer), toPort = portOf(ends->local);
    if (auto owner = searchProcTable("tcp", from, fromPort, to, toPort))
        return owner;
    return searchProcTable("tcp6", from, fromPort, to, toPort);
}

std::optional<uid_t> owner(int acceptedFd) {
    if (auto found = ownerBySocketDiagnostics(acceptedFd))
        return found;
    return ownerByProcNet(acceptedFd);
}

} // namespace LocalPeer
