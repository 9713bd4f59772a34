// What the tunnel tests share: the run's sshd, a private HOME for known_hosts,
// and a small TCP server on the far side of the tunnel.
#pragma once

#include "LoopbackSockets.h"
#include "engine/SSHTunnel.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sshtest {

struct SSHServer {
    QString host = requiredEnv("TRELLAN_SSH_HOST");
    int port = requiredEnv("TRELLAN_SSH_PORT").toInt();
    QString user = requiredEnv("TRELLAN_SSH_USER");
    QString password = requiredEnv("TRELLAN_SSH_PASSWORD");
    QString keyDir = requiredEnv("TRELLAN_SSH_KEY_DIR");
    QString passphrase = requiredEnv("TRELLAN_SSH_KEY_PASSPHRASE");
    QString hostKeyPub = requiredEnv("TRELLAN_SSH_HOST_KEY_PUB");

    QString key(const QString &name) const { return keyDir + QLatin1Char('/') + name; }
    // The first two fields of the server's .pub file: "ssh-ed25519 AAAA...".
    QByteArray hostKeyLine() const {
        QFile file(hostKeyPub);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << hostKeyPub.toStdString();
        QList<QByteArray> fields = file.readAll().simplified().split(' ');
        return fields.size() >= 2 ? fields[0] + ' ' + fields[1] : QByteArray();
    }
    // The raw host key, as the SSH server sends it.
    QByteArray hostKey() const { return QByteArray::fromBase64(hostKeyLine().split(' ').value(1)); }
};

// Runs a tool (ssh-keygen) and answers its exit code; its chatter is dropped.
inline int runQuietly(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// SHA-1 of a raw key as "AB CD ...", computed without libssh2.
inline QString sha1Fingerprint(const QByteArray &key) {
    QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    QStringList groups;
    for (char c : digest)
        groups << QStringLiteral("%1").arg(quint8(c), 2, 16, QLatin1Char('0')).toUpper();
    return groups.join(QLatin1Char(' '));
}

// Points HOME at an empty folder for the test's lifetime, so that the tunnel
// reads a known_hosts file of the test's making and never the user's own.
class TemporaryHome {
public:
    TemporaryHome() : m_saved(qgetenv("HOME")) {
        qputenv("HOME", m_dir.path().toLocal8Bit());
        QDir(m_dir.path()).mkpath(QStringLiteral(".ssh"));
    }
    ~TemporaryHome() { qputenv("HOME", m_saved); }
    void writeKnownHosts(const QByteArray &text) const {
        QFile file(m_dir.path() + QStringLiteral("/.ssh/known_hosts"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_saved;
};

// The byte at offset i of every stream the far-side server sends: position
// dependent, so that a lost, doubled or reordered chunk shows.
inline char patternByte(quint64 i) {
    return char(quint8(i ^ (i >> 8) ^ (i >> 16) ^ (i >> 24)));
}

inline bool writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Reads until the peer closes, up to limit bytes, or the time runs out.
inline QByteArray readUntilClosed(int fd, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    QByteArray all;
    auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    return all;
}

inline QByteArray readExactly(int fd, size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QByteArray all;
    auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    while (size_t(all.size()) < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - size_t(all.size())), 0);
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    return all;
}

// The far side of the tunnel. Each connection starts with one command byte:
// 'E' echoes everything back until the client closes; 'S' followed by an 8-byte
// big-endian count sends that many pattern bytes and closes.
class FarServer {
public:
    FarServer() {
        m_listen = listenOnLoopback(0, 16);
        EXPECT_GE(m_listen, 0);
        m_port = boundPort(m_listen);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~FarServer() {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_clients)
                ::shutdown(fd, SHUT_RDWR);
            workers.swap(m_workers);
        }
        for (auto &t : workers)
            t.join();
        for (int fd : m_clients)
            ::close(fd);
        ::close(m_listen);
    }
    int port() const { return m_port; }
    int connectionsSeen() const { return m_seen; }

private:
    void acceptLoop() {
        while (!m_stop) {
            int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            ++m_seen;
            std::lock_guard lock(m_mutex);
            m_clients.push_back(fd);
            m_workers.emplace_back([fd] { serve(fd); });
        }
    }
    static void serve(int fd) {
        char command = 0;
        if (::recv(fd, &command, 1, MSG_WAITALL) == 1) {
            if (command == 'S')
                sendPattern(fd);
            else if (command == 'E')
                echo(fd);
        }
        // The descriptor stays open until the destructor, so that its number is
        // not reused while the destructor may still shut it down.
        ::shutdown(fd, SHUT_RDWR);
    }
    static void sendPattern(int fd) {
        unsigned char count[8];
        if (::recv(fd, count, 8, MSG_WAITALL) != 8)
            return;
        quint64 total = 0;
        for (unsigned char c : count)
            total = total << 8 | c;
        std::vector<char> chunk(65536);
        for (quint64 sent = 0; sent < total;) {
            size_t n = size_t(std::min<quint64>(chunk.size(), total - sent));
            for (size_t i = 0; i < n; ++i)
                chunk[i] = patternByte(sent + i);
            if (!writeAll(fd, chunk.data(), n))
                return;
            sent += n;
        }
    }
    static void echo(int fd) {
        char buffer[32768];
        for (;;) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0 || !writeAll(fd, buffer, size_t(n)))
                return;
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_seen{0};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<int> m_clients;
    std::vector<std::thread> m_workers;
};

inline QByteArray sendCommand(quint64 count) {
    QByteArray command(1, 'S');
    for (int shift = 56; shift >= 0; shift -= 8)
        command.append(char(quint8(count >> shift)));
    return command;
}

// Index of the first byte that differs from the pattern starting at offset, or -1.
inline qsizetype firstPatternMismatch(const QByteArray &data, quint64 offset = 0) {
    for (qsizetype i = 0; i < data.size(); ++i)
        if (data[i] != patternByte(offset + quint64(i)))
            return i;
    return -1;
}

// A tunnel to the run's sshd that logs in with the unencrypted ed25519 key,
// trusts the server's key, and leads to 127.0.0.1:targetPort.
inline std::shared_ptr<SSHTunnel> makeTunnel(const SSHServer &server, int targetPort) {
    auto tunnel = SSHTunnel::create();
    tunnel->setHost(server.host);
    tunnel->setPort(server.port);
    tunnel->setUser(server.user);
    tunnel->setPrivateKeyPath(server.key(QStringLiteral("id_ed25519")));
    tunnel->setExpectedKey(server.hostKey());
    tunnel->setTargetHost(QStringLiteral("127.0.0.1"));
    tunnel->setTargetPort(targetPort);
    return tunnel;
}

inline std::string describe(const ErrorPtr &error) {
    if (!error)
        return "no error";
    return QStringLiteral("%1 %2: %3")
        .arg(error->domain())
        .arg(error->code())
        .arg(error->localizedDescription())
        .toStdString();
}

} // namespace sshtest
