// The certificate check of connections to hosts that are not loopback: a chain
// the trust store vouches for connects; any other is refused before the startup
// packet, so the server learns neither the user name nor the password. Fake
// servers stand in for servers with bad certificates, and read what the client
// sends after the handshake.
#include "ConnectionTestSupport.h"
#include "engine/DNSResolver.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtEndian>
#include <libpq-fe.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <thread>

namespace {

// The trust store of the whole run is the test root, set before any TLS is used.
class TestRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override { setenv("SSL_CERT_FILE", tlsFile("root-ca.crt").toLocal8Bit().constData(), 1); }
};
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new TestRootEnvironment);

struct FakeOutcome {
    bool sawSSLRequest = false;
    bool handshakeDone = false;
    QByteArray afterHandshake; // what the client sent inside TLS
    bool closedByClient = false;
};

// Serves one connection like a PostgreSQL server that accepts TLS: answers the
// SSLRequest with 'S', completes the handshake with the given certificate, then
// reads what comes.
class FakeTlsServer {
public:
    FakeTlsServer(const QString &chainFile, const QString &keyFile) {
        m_fd = listenOnLoopback();
        EXPECT_GE(m_fd, 0);
        m_port = boundPort(m_fd);
        m_thread =
            std::thread([this, chain = chainFile.toLocal8Bit(), key = keyFile.toLocal8Bit()] { serve(chain, key); });
    }
    ~FakeTlsServer() {
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
    }
    int port() const { return m_port; }
    FakeOutcome outcome() {
        m_thread.join();
        return m_outcome;
    }

private:
    void serve(const QByteArray &chain, const QByteArray &key) {
        pollfd entry{m_fd, POLLIN, 0};
        if (::poll(&entry, 1, 20000) != 1)
            return;
        const int client = accept(m_fd, nullptr, nullptr);
        timeval timeout{5, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        unsigned char request[8];
        if (recv(client, request, sizeof request, MSG_WAITALL) == 8 && qFromBigEndian<quint32>(request) == 8 &&
            qFromBigEndian<quint32>(request + 4) == 80877103) {
            m_outcome.sawSSLRequest = true;
            send(client, "S", 1, 0);
            handshakeAndRead(client, chain, key);
        }
        close(client);
    }

    void handshakeAndRead(int client, const QByteArray &chain, const QByteArray &key) {
        SSL_CTX *context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(context, chain.constData());
        SSL_CTX_use_PrivateKey_file(context, key.constData(), SSL_FILETYPE_PEM);
        SSL *ssl = SSL_new(context);
        SSL_set_fd(ssl, client);
        if (SSL_accept(ssl) == 1) {
            m_outcome.handshakeDone = true;
            char buffer[4096];
            const int got = SSL_read(ssl, buffer, sizeof buffer);
            if (got > 0)
                m_outcome.afterHandshake = QByteArray(buffer, got);
            else
                m_outcome.closedByClient = errno != EAGAIN && errno != EWOULDBLOCK;
        }
        SSL_free(ssl);
        SSL_CTX_free(context);
        ERR_clear_error();
    }

    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
    FakeOutcome m_outcome;
};

struct FakeRun {
    FakeOutcome outcome;
    std::shared_ptr<ZNTConnection> connection;
    QString error() const { return connection->error() ? connection->error()->localizedDescription() : QString(); }
};

FakeRun connectToFake(const char *chain, const char *key, const QString &host) {
    FakeTlsServer server(tlsFile(chain), tlsFile(key));
    QVariantMap params = serverParams();
    params.insert("host", host);
    params.insert("port", server.port());
    params.insert("password", "must never be seen");
    FakeRun run;
    run.connection = ZNTConnection::create(params);
    EXPECT_TRUE(connectAndSettle(run.connection));
    run.outcome = server.outcome();
    return run;
}
} // namespace

TEST(CertificateCheck, TrustedChainForTheNameConnectsOverTls) {
    QVariantMap params = serverParams();
    params.insert("host", "LOCALHOST");
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected)
        << connection->error()->localizedDescription().toStdString();
    EXPECT_TRUE(onQueue(connection, [&] { return PQsslInUse(connection->conn()) == 1; }));
}

TEST(CertificateCheck, UntrustedOrMisnamedCertificateIsRefusedBeforeTheStartupPacket) {
    struct Case {
        const char *name, *chain, *key, *reason;
    };
    const Case cases[] = {
        {"selfSigned", "self-signed.crt", "self-signed.key", "self-signed certificate"},
        {"wrongName", "wrong-name-chain.crt", "wrong-name.key", "Hostname mismatch"},
    };
    for (const Case &c : cases) {
        FakeRun run = connectToFake(c.chain, c.key, "LOCALHOST");
        EXPECT_TRUE(run.outcome.sawSSLRequest) << c.name;
        EXPECT_TRUE(run.outcome.handshakeDone) << c.name;
        EXPECT_TRUE(run.outcome.afterHandshake.isEmpty())
            << c.name << ": the client sent " << run.outcome.afterHandshake.toHex().constData();
        EXPECT_TRUE(run.outcome.closedByClient) << c.name;
        EXPECT_EQ(run.connection->state(), ZNTConnection::ZNTConnectionStateFailed) << c.name;
        EXPECT_TRUE(run.error().startsWith("SSL error: certificate verify failed")) << run.error().toStdString();
        EXPECT_TRUE(run.error().contains(c.reason, Qt::CaseInsensitive)) << run.error().toStdString();
        EXPECT_FALSE(run.connection->needsPassword());
        EXPECT_FALSE(run.connection->needsPlainTextConnection());
    }
}

// The fake server does see a startup packet when the chain is good: the test
// above would notice one.
TEST(CertificateCheck, FakeServerWithTrustedChainReceivesTheStartupPacket) {
    FakeRun run = connectToFake("server-chain.crt", "server.key", "LOCALHOST");
    ASSERT_TRUE(run.outcome.handshakeDone);
    ASSERT_GE(run.outcome.afterHandshake.size(), 8);
    EXPECT_EQ(qFromBigEndian<quint32>(run.outcome.afterHandshake.constData() + 4), 196608u); // protocol 3.0
    EXPECT_TRUE(
        run.outcome.afterHandshake.contains(QByteArray("user\0", 5) + requiredEnv("TRELLAN_PG_ADMIN_USER").toUtf8()));
}

TEST(CertificateCheck, LoopbackAndPlainTextAllowedHostsAreNotChecked) {
    FakeRun loopback = connectToFake("self-signed.crt", "self-signed.key", "127.0.0.1");
    EXPECT_FALSE(loopback.outcome.afterHandshake.isEmpty());
    EXPECT_FALSE(loopback.error().contains("certificate verify failed"));

    FakeTlsServer server(tlsFile("self-signed.crt"), tlsFile("self-signed.key"));
    QVariantMap params = serverParams();
    params.insert("host", "LOCALHOST");
    params.insert("port", server.port());
    params.insert("allowPlainTextConnection", true);
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_FALSE(server.outcome().afterHandshake.isEmpty());
}

namespace {
// Points HOME at a folder of the test's making while it lives: libpq looks for
// root.crt, root.crl and a client certificate under ~/.postgresql.
class PostgresHome {
public:
    PostgresHome() : m_saved(qgetenv("HOME")) {
        QDir(m_dir.path()).mkpath(".postgresql");
        qputenv("HOME", m_dir.path().toLocal8Bit());
    }
    ~PostgresHome() { qputenv("HOME", m_saved); }
    void write(const QString &name, const QByteArray &bytes) const {
        QFile file(m_dir.path() + "/.postgresql/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_saved;
};

QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The connection's libpq options, keyword → value (set ones only).
QMap<QString, QString> connectionOptions(const std::shared_ptr<ZNTConnection> &connection) {
    return onQueue(connection, [&] {
        QMap<QString, QString> options;
        PQconninfoOption *all = PQconninfo(connection->conn());
        for (PQconninfoOption *o = all; o && o->keyword; ++o)
            if (o->val)
                options.insert(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
        PQconninfoFree(all);
        return options;
    });
}
} // namespace

// A user's own root.crt would make libpq judge the chain itself (and refuse
// what we would ask about, or pass what we would refuse), a root.crl it cannot
// read would end the handshake: neither may be read when the chain is ours to judge.
TEST(CertificateCheck, RootCertificateAndRevocationListInTheUsersFolderChangeNothing) {
    PostgresHome home;
    home.write("root.crt", fileBytes(tlsFile("root-ca.crt")));
    home.write("root.crl", "not a revocation list");
    FakeRun run = connectToFake("self-signed.crt", "self-signed.key", "LOCALHOST");
    EXPECT_TRUE(run.outcome.handshakeDone);
    EXPECT_TRUE(run.outcome.afterHandshake.isEmpty())
        << "the client sent " << run.outcome.afterHandshake.toHex().constData();
    // Our own verdict, with our reason: libpq's would have none.
    EXPECT_TRUE(run.error().startsWith("SSL error: certificate verify failed (")) << run.error().toStdString();
    EXPECT_TRUE(run.error().contains("self-signed certificate")) << run.error().toStdString();
}

TEST(CertificateCheck, JudgedConnectionsAskForTlsWithoutGssAndWithoutARootFile) {
    QVariantMap params = serverParams();
    params.insert("host", "LOCALHOST");
    auto judged = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(judged));
    ASSERT_EQ(judged->state(), ZNTConnection::ZNTConnectionStateConnected)
        << judged->error()->localizedDescription().toStdString();
    const QMap<QString, QString> options = connectionOptions(judged);
    EXPECT_EQ(options.value("sslmode"), "require");
    EXPECT_EQ(options.value("gssencmode"), "disable");
    const QString rootFile = options.value("sslrootcert");
    EXPECT_FALSE(rootFile.isEmpty());
    EXPECT_FALSE(QFile::exists(rootFile)) << rootFile.toStdString();
    EXPECT_FALSE(rootFile.contains(".postgresql")) << rootFile.toStdString();

    params.insert("host", "localhost");
    auto loopback = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(loopback));
    EXPECT_EQ(connectionOptions(loopback).value("sslmode"), "prefer");
}

// libpq gets the addresses the connection looked up, so it never looks the name
// up again where no deadline reaches; the certificate is still judged by the
// name (the tests above), and a failure still names the host. Every address,
// also where the name has one: the resolver finds 127.0.0.2 beside it, where
// nobody listens.
TEST(CertificateCheck, LibpqIsGivenTheAddressesFoundBesideTheName) {
    struct SecondAddress {
        SecondAddress() {
            DNSResolver::setAnsweredHookForTesting([](QList<QByteArray> &addresses) {
                sockaddr_in second = loopbackAddress();
                second.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
                addresses.append(QByteArray(reinterpret_cast<const char *>(&second), sizeof second));
            });
        }
        ~SecondAddress() { DNSResolver::setAnsweredHookForTesting(nullptr); }
    } secondAddress;
    DNSResolver resolver("LOCALHOST");
    ASSERT_TRUE(resolver.lookup());
    QStringList addresses;
    for (const QByteArray &address : resolver.addresses())
        addresses << DNSResolver::stringForAddress(address);
    ASSERT_EQ(addresses.filter("127.0.0.2").size(), 1);
    QVariantMap params = serverParams();
    params.insert("host", "LOCALHOST");
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    const QMap<QString, QString> options = connectionOptions(connection);
    EXPECT_EQ(options.value("hostaddr").split(','), addresses);
    EXPECT_EQ(options.value("host").split(','), QStringList(addresses.size(), "LOCALHOST"));

    RefusingPort refusing;
    params.insert("port", refusing.port());
    auto refused = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(refused));
    const QString text = refused->error() ? refused->error()->localizedDescription() : QString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("connection to server at \"LOCALHOST\" (%1), port %2 failed: ")
                                    .arg(addresses.value(0))
                                    .arg(refusing.port())))
        << text.toStdString();
}
