// A link to a test server that dies as a network link does, for as long as a
// test wants. A relay on loopback cannot stand in: its kernel answers for it.
#pragma once

#include "ConnectionTestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sched.h>

// A network namespace of this process's own, joined to ours by a pair of
// virtual Ethernet devices, relays the connections made to host():port() to
// 127.0.0.1:targetPort. While cut, nothing the namespace sends comes back (a
// blackhole route there): what a client sends is taken and never answered, and
// its kernel sees no error of its own, as over a cable pulled. The addresses
// are a block of 198.18.0.0/16, which no real network uses, one per process.
// Needs root and iproute2; the namespace goes with this object, and one left by
// a process that is gone goes with the next.
class SeverableLink {
public:
    explicit SeverableLink(int targetPort)
        : m_namespace(QStringLiteral("trellan-link-%1").arg(getpid())),
          m_device(QStringLiteral("trl%1").arg(getpid())) {
        const int block = getpid() % 16384;
        const QString net = QStringLiteral("198.18.%1.").arg(block / 64);
        m_outside = net + QString::number(block % 64 * 4 + 1);
        m_host = net + QString::number(block % 64 * 4 + 2);
        removeLeftovers();
        const bool made =
            ip({"netns", "add", m_namespace}) &&
            ip({"link", "add", m_device + "o", "type", "veth", "peer", "name", m_device + "i", "netns", m_namespace}) &&
            ip({"addr", "add", m_outside + "/30", "dev", m_device + "o"}) &&
            ip({"link", "set", m_device + "o", "up"}) &&
            ip({"-n", m_namespace, "addr", "add", m_host + "/30", "dev", m_device + "i"}) &&
            ip({"-n", m_namespace, "link", "set", m_device + "i", "up"});
        const int listening = made ? listenInside() : -1;
        if (listening >= 0)
            m_relay = std::make_unique<TcpRelay>(targetPort, listening);
    }
    ~SeverableLink() {
        m_relay.reset();
        ip({"netns", "del", m_namespace}, false); // its device goes with it, and so does ours
    }
    SeverableLink(const SeverableLink &) = delete;
    SeverableLink &operator=(const SeverableLink &) = delete;

    // Empty once the link stands, else what went wrong.
    QString failure() const { return m_relay ? QString() : m_failure + QStringLiteral(" (needs root and iproute2)"); }
    QString host() const { return m_host; }
    int port() const { return m_relay ? m_relay->port() : 0; }
    bool cut(bool off) { return ip({"-n", m_namespace, "route", off ? "add" : "del", "blackhole", m_outside + "/32"}); }

private:
    // Namespaces that killed runs left behind, where their process is gone or
    // its id is ours now: one whose id is 16384 from ours holds our addresses.
    // The links of tests still running stay.
    void removeLeftovers() {
        static const QRegularExpression name(QStringLiteral("^trellan-link-(\\d+)$"));
        const auto leftOver = [](pid_t pid) { return pid == getpid() || (::kill(pid, 0) != 0 && errno == ESRCH); };
        const QDir spaces(QStringLiteral("/run/netns"));
        for (const QString &entry : spaces.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const QRegularExpressionMatch match = name.match(entry);
            const pid_t pid = match.hasMatch() ? match.captured(1).toInt() : 0;
            if (pid <= 0 || !leftOver(pid))
                continue;
            ip({"netns", "del", entry}, false);
            ip({"link", "del", QStringLiteral("trl%1o").arg(pid)}, false);
        }
        ip({"link", "del", m_device + "o"}, false);
    }
    bool ip(const QStringList &arguments, bool failureCounts = true) {
        QProcess process;
        process.start(QStringLiteral("ip"), arguments);
        const bool done =
            process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!done && failureCounts && m_failure.isEmpty())
            m_failure = "ip " + arguments.join(' ') + ": " + process.readAllStandardError() + process.errorString();
        return done;
    }
    // Namespaces are joined per thread: one of its own joins it for the socket,
    // which stays there.
    int listenInside() {
        int fd = -1;
        std::thread([&] {
            const int space = ::open(("/run/netns/" + m_namespace).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
            sockaddr_in address = loopbackAddress();
            ::inet_pton(AF_INET, m_host.toLatin1().constData(), &address.sin_addr);
            if (space >= 0 && ::setns(space, CLONE_NEWNET) == 0)
                fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd >= 0 && (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
                            ::listen(fd, 8) != 0)) {
                ::close(fd);
                fd = -1;
            }
            if (fd < 0)
                m_failure = QStringLiteral("no socket listens in the namespace");
            if (space >= 0)
                ::close(space);
        }).join();
        return fd;
    }

    const QString m_namespace;
    const QString m_device;
    QString m_outside;
    QString m_host;
    QString m_failure;
    std::unique_ptr<TcpRelay> m_relay;
};
