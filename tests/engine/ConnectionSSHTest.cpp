// Connections through the test run's sshd: the connection's side of the tunnel
// (parameters, progress, passphrase storage, keyboard-interactive questions) and
// what a tunnel must carry besides the connection itself: a cancel request.
#include "ConnectionTestSupport.h"
#include "engine/CertificateTrust.h"
#include "engine/Keychain.h"
#include "engine/LibpqHandles.h"
#include "platform/Log.h"
#include "platform/Main.h"

#include <QFile>
#include <QProcess>
#include <QUrl>
#include <arpa/inet.h>
#include <cstring>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
// Accepts the run's host key, as the user would in the host-key dialog.
void trustTestHostKey() {
    QFile file(requiredEnv("TRELLAN_SSH_HOST_KEY_PUB"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = file.readAll().split(' ');
    ASSERT_GE(fields.size(), 2);
    SSHTunnel::addKey(QByteArray::fromBase64(fields[1]), requiredEnv("TRELLAN_SSH_HOST"),
                      requiredEnv("TRELLAN_SSH_PORT").toUInt());
}

QVariantMap sshParams() {
    QVariantMap params = serverParams();
    params.insert("host", "localhost"); // as the SSH server reaches the database
    params.insert("sshEnabled", true);
    params.insert("sshHost", requiredEnv("TRELLAN_SSH_HOST"));
    params.insert("sshPort", requiredEnv("TRELLAN_SSH_PORT").toInt());
    params.insert("sshUser", requiredEnv("TRELLAN_SSH_USER"));
    params.insert("sshPassword", requiredEnv("TRELLAN_SSH_PASSWORD"));
    return params;
}

QString keyFile(const char *name) {
    return requiredEnv("TRELLAN_SSH_KEY_DIR") + "/" + name;
}

QString errorText(const std::shared_ptr<ZNTConnection> &connection) {
    return connection->error() ? connection->error()->localizedDescription() : QString();
}

// Answers every keyboard-interactive question with the SSH password.
class AnsweringServer : public ZNTServerHandle {
public:
    bool forwardKeyboardInteractiveRequest(const QVariantMap &request, std::shared_ptr<ConditionLock> lock,
                                           std::shared_ptr<QStringList> responses) override {
        requests.append(request);
        for (int i = 0; i < request.value("prompts").toList().size(); ++i)
            responses->append(requiredEnv("TRELLAN_SSH_PASSWORD"));
        lock->unlockWithCondition(1);
        return true;
    }
    QList<QVariantMap> requests;
};
} // namespace

TEST(ConnectionSSH, TunnelCarriesTheConnectionAndItsCancelRequest) {
    trustTestHostKey();
    // Someone else holds the usual local port: the tunnel must pick another.
    SilentListener other(SSHTunnel::DefaultLocalPort);
    ASSERT_EQ(other.port(), SSHTunnel::DefaultLocalPort) << "someone outside this test holds the port";
    QVariantMap params = sshParams();
    auto connection = ZNTConnection::create(params);
    StateRecorder recorder(connection);
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();

    const QStringList seen = recorder.descriptions();
    EXPECT_EQ(seen.value(0), "1 Resolving 127.0.0.1 …");
    EXPECT_EQ(seen.value(1), "1 Establishing SSH tunnel…");
    EXPECT_TRUE(seen.value(2).startsWith("1 Establishing SSH tunnel (")) << seen.join(" | ").toStdString();
    EXPECT_EQ(seen.filter("Resolving").size(), 1) << "the database host is not looked up here";
    ASSERT_NE(connection->sshTunnel(), nullptr);
    const int localPort = connection->sshTunnel()->localPort();
    EXPECT_NE(localPort, SSHTunnel::DefaultLocalPort);
    EXPECT_EQ(connection->sshTunnel()->targetPort(), requiredEnv("TRELLAN_PG_PORT").toInt());
    EXPECT_EQ(connection->params(), params) << "the caller's parameters stay as they were";

    const auto [host, hostaddr, port] = onQueue(connection, [&] {
        PGconn *conn = connection->conn();
        return std::make_tuple(QByteArray(PQhost(conn)), QByteArray(PQhostaddr(conn)), QByteArray(PQport(conn)));
    });
    EXPECT_EQ(host, "localhost");
    EXPECT_EQ(hostaddr, "127.0.0.1");
    EXPECT_EQ(port.toInt(), localPort);

    // libpq's socket reaches only the forwarder: the SSH server's link is the
    // one that can die, probed as a direct session's is, and a bound on
    // unacknowledged data goes to it, with probes as often as on a direct one.
    const int sshSocket = connection->sshTunnel()->sshSocketForTesting();
    const LinkWatch watch = linkWatchOf(sshSocket);
    EXPECT_TRUE(watch.probes);
    EXPECT_LE(watch.deadAfterSeconds, 120);
    EXPECT_GE(watch.outageSurvivedSeconds, 60);
    EXPECT_EQ(watch.unacknowledgedMs, 0u);
    const auto bound = [&](std::chrono::milliseconds timeout) {
        return onQueue(connection, [&] {
            connection->setUnacknowledgedTimeout(timeout);
            return linkWatchOf(sshSocket);
        });
    };
    const LinkWatch bounded = bound(std::chrono::minutes(1));
    EXPECT_EQ(bounded.unacknowledgedMs, 60000u);
    EXPECT_EQ(bounded.probeSeconds, std::pair(5, 5));
    const LinkWatch unbounded = bound({});
    EXPECT_EQ(unbounded.unacknowledgedMs, 0u);
    EXPECT_EQ(unbounded.probeSeconds, watch.probeSeconds);
    EXPECT_TRUE(unbounded.probes);

    // A long statement is cancelled by a second connection through the same
    // tunnel. Worded for this test alone: other test programs sleep on the
    // same server.
    PGcancelPtr cancel(onQueue(connection, [&] {
        PQsendQuery(connection->conn(), "select pg_sleep(30), 'cancelled through a connection tunnel'");
        return PQgetCancel(connection->conn());
    }));
    std::thread canceller([&] {
        // A cancel that reached the server before the statement would be lost.
        PGconnPtr admin = adminConnection();
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            PGresultPtr active(PQexec(admin.get(), "select count(*) from pg_stat_activity where query = "
                                                   "'select pg_sleep(30), ''cancelled through a connection tunnel''' "
                                                   "and state = 'active'"));
            if (PQntuples(active.get()) == 1 && std::strcmp(PQgetvalue(active.get(), 0, 0), "1") == 0)
                break;
        }
        char reason[256] = "";
        EXPECT_EQ(PQcancel(cancel.get(), reason, sizeof reason), 1) << reason;
    });
    const auto started = std::chrono::steady_clock::now();
    const QByteArray state = onQueue(connection, [&] {
        PGresultPtr result(PQgetResult(connection->conn()));
        const char *sqlState = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
        while (PGresultPtr(PQgetResult(connection->conn())))
            ;
        return QByteArray(sqlState ? sqlState : "");
    });
    canceller.join();
    EXPECT_EQ(state, "57014"); // query_canceled
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(ConnectionSSH, CorrectedPassphraseReplacesTheStoredOneAndStoredOneIsUsed) {
    trustTestHostKey();
    const QString key = keyFile("id_ed25519_enc");
    const QString passphrase = requiredEnv("TRELLAN_SSH_KEY_PASSPHRASE");
    KeychainDeletePassword("SSH", key);
    KeychainAddPassword("SSH", key, "an outdated passphrase");

    QVariantMap params = sshParams();
    params.remove("sshPassword");
    params.insert("sshPrivateKeyURL", QUrl::fromLocalFile(key));
    params.insert("sshPrivateKeyPassphrase", passphrase);
    params.insert("sshPrivateKeyPassphraseSaveInKeychain", true);
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();
    EXPECT_EQ(KeychainGetPassword("SSH", key), passphrase);

    // With no passphrase given, the stored one opens the key.
    params.remove("sshPrivateKeyPassphrase");
    params.remove("sshPrivateKeyPassphraseSaveInKeychain");
    auto again = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(again));
    EXPECT_EQ(again->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(again).toStdString();
    KeychainDeletePassword("SSH", key);
}

TEST(ConnectionSSH, KeyboardInteractiveQuestionsGoToTheServerOrCancelTheTunnel) {
    trustTestHostKey();
    QVariantMap params = sshParams();
    params.remove("sshPassword"); // so that the tunnel cannot answer by itself
    auto server = std::make_shared<AnsweringServer>();
    auto answered = ZNTConnection::create(params, server);
    ASSERT_TRUE(connectAndSettle(answered));
    EXPECT_EQ(answered->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(answered).toStdString();
    EXPECT_FALSE(server->requests.isEmpty());

    auto unanswered = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(unanswered, std::chrono::seconds(20)));
    EXPECT_EQ(unanswered->state(), ZNTConnection::ZNTConnectionStateFailed);
    EXPECT_EQ(unanswered->sshTunnel(), nullptr);
    EXPECT_FALSE(errorText(unanswered).isEmpty());
}

TEST(ConnectionSSH, MissingSSHHostAndRefusedLoginFailWithTheirTexts) {
    QVariantMap params = sshParams();
    params.insert("sshHost", "");
    auto noHost = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(noHost));
    EXPECT_EQ(errorText(noHost), "SSH is enabled, but no SSH host has been provided.");

    trustTestHostKey();
    params = sshParams();
    params.insert("sshPassword", "not the password");
    auto refused = ZNTConnection::create(params);
    StateRecorder recorder(refused);
    ASSERT_TRUE(connectAndSettle(refused));
    EXPECT_EQ(refused->state(), ZNTConnection::ZNTConnectionStateFailed);
    EXPECT_TRUE(errorText(refused).startsWith("Failed to authenticate to SSH server."))
        << errorText(refused).toStdString();
    EXPECT_EQ(refused->sshTunnel(), nullptr);
    EXPECT_EQ(recorder.descriptions().filter("Connecting to PostgreSQL").size(), 0);
}

// With no Secret Service at all the stored passphrase cannot be read: a key
// without a passphrase still opens, and an encrypted one asks for its passphrase
// (418) instead of failing with the store's trouble.
TEST(ConnectionSSH, KeyFilesAreTriedWithoutAPassphraseWhenTheSecretStoreFails) {
    if (!isChildRun())
        return runCurrentTestInChild(
            {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/trellan-no-bus"}, {"DISPLAY", QString()}});
    trustTestHostKey();
    QVariantMap params = sshParams();
    params.remove("sshPassword");
    params.insert("sshPrivateKeyURL", QUrl::fromLocalFile(keyFile("id_ed25519")));
    auto plain = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(plain));
    EXPECT_EQ(plain->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(plain).toStdString();

    params.insert("sshPrivateKeyURL", QUrl::fromLocalFile(keyFile("id_ed25519_enc")));
    auto encrypted = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(encrypted));
    ASSERT_NE(encrypted->error(), nullptr);
    EXPECT_EQ(encrypted->error()->domain(), SSHTunnel::ErrorDomain);
    EXPECT_EQ(encrypted->error()->code(), SSHTunnel::ErrorPrivateKeyEncrypted);
}

// Finishing a tunnelled connection means a goodbye through the tunnel and a
// joined forwarding thread: never on the GUI thread, which would freeze behind a
// slow network.
TEST(ConnectionSSH, ConnectionDroppedOnTheMainThreadIsFinishedElsewhere) {
    trustTestHostKey();
    auto connection = ZNTConnection::create(sshParams());
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();

    std::mutex mutex;
    std::vector<std::pair<QString, bool>> teardowns; // what, on the main thread
    setTeardownObserverForTesting([&](const char *what) {
        std::lock_guard lock(mutex);
        teardowns.emplace_back(QString::fromLatin1(what), Main::isMainThread());
    });
    connection.reset();
    const bool finished = pumpUntil([&] {
        std::lock_guard lock(mutex);
        return teardowns.size() >= 2;
    });
    setTeardownObserverForTesting(nullptr);
    ASSERT_TRUE(finished);
    std::lock_guard lock(mutex);
    QStringList seen;
    for (const auto &[what, onMain] : teardowns) {
        seen << what;
        EXPECT_FALSE(onMain) << what.toStdString() << " ran on the main thread";
    }
    EXPECT_EQ(seen, (QStringList{"PQfinish", "SSHTunnel"})) << "the goodbye goes through the tunnel first";
}

// A new connect replaces the old tunnel; while the old one winds down the main
// thread must still be able to read the connection's state (and to cancel).
TEST(ConnectionSSH, OldTunnelIsFinishedWithoutHoldingTheStateLock) {
    trustTestHostKey();
    auto connection = ZNTConnection::create(sshParams());
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();

    auto stateReadable = std::make_shared<std::promise<bool>>();
    auto answer = stateReadable->get_future();
    std::atomic<bool> asked{false};
    ZNTConnection *raw = connection.get();
    setTeardownObserverForTesting([&, raw, stateReadable](const char *what) {
        if (std::strcmp(what, "SSHTunnel") != 0 || asked.exchange(true))
            return;
        // Another thread reads the state; with the lock held here it would wait
        // until this teardown is over.
        auto reader = std::make_shared<std::promise<void>>();
        std::thread([raw, reader] {
            raw->stateDescription();
            reader->set_value();
        }).detach();
        stateReadable->set_value(reader->get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    });
    const bool reconnected = onQueue(connection, [&] { return connection->connect(); });
    setTeardownObserverForTesting(nullptr);
    EXPECT_TRUE(reconnected) << errorText(connection).toStdString();
    ASSERT_TRUE(asked.load());
    EXPECT_TRUE(answer.get());
}

namespace {
// What the first byte of the answer to an SSLRequest on port is, read by
// another local user (nobody): "EOF" when the connection is closed unanswered.
QString sslAnswerForAnotherUser(int port) {
    const QString script = QStringLiteral("import socket,sys\n"
                                          "s=socket.create_connection(('127.0.0.1',%1),timeout=20)\n"
                                          "s.sendall(bytes([0,0,0,8,4,210,22,47]))\n"
                                          "try:\n"
                                          "    b=s.recv(1)\n"
                                          "except ConnectionResetError:\n"
                                          "    b=b''\n"
                                          "sys.stdout.write(b.decode('latin-1') if b else 'EOF')\n")
                               .arg(port);
    QProcess process;
    if (::geteuid() == 0)
        process.start("runuser", {"-u", "nobody", "--", "python3", "-c", script});
    else
        process.start("sudo", {"-n", "-u", "nobody", "python3", "-c", script});
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromLatin1(process.readAllStandardOutput());
}

// The same for this process's user.
QString sslAnswerForUs(int port) {
    const int fd = connectLocal(port);
    if (fd < 0)
        return "refused";
    const unsigned char request[8] = {0, 0, 0, 8, 4, 210, 22, 47};
    ::send(fd, request, sizeof request, MSG_NOSIGNAL);
    timeval timeout{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char answer = 0;
    const ssize_t got = ::recv(fd, &answer, 1, 0);
    ::close(fd);
    return got == 1 ? QString(QLatin1Char(answer)) : QStringLiteral("EOF");
}
} // namespace

// The tunnel listens on loopback for the connection's lifetime (cancel requests
// use it); behind it is the user's own SSH login, which no other local user may
// borrow to reach the database.
TEST(ConnectionSSH, TunnelPortServesOnlyItsOwnUser) {
    trustTestHostKey();
    auto connection = ZNTConnection::create(sshParams());
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();
    const int port = connection->sshTunnel()->localPort();
    LogCapture log;
    EXPECT_EQ(sslAnswerForAnotherUser(port), "EOF");
    EXPECT_EQ(sslAnswerForAnotherUser(port), "EOF");
    EXPECT_EQ(sslAnswerForUs(port), "S");
    EXPECT_EQ(log.lines().filter("Closed a connection to the SSH tunnel's local port").size(), 1);
}

namespace {
// Refuses every certificate it is asked about, and counts the questions.
class RefusingPrompter : public TrustPrompter {
public:
    std::function<void()> beginTrustPanel(const TrustPanelRequest &request,
                                          std::function<void(TrustPanelAnswer)> answered) override {
        hosts << request.host;
        answered({});
        return [] {};
    }
    QStringList hosts;
};
} // namespace

// Through a tunnel libpq talks to 127.0.0.1, but the certificate must be judged
// for the name the user gave ("LOCALHOST" is no loopback name by the exact rule,
// and the run's certificate names localhost).
TEST(ConnectionSSH, CertificateBehindTheTunnelIsJudgedForTheDatabaseHostName) {
    trustTestHostKey();
    auto prompter = std::make_shared<RefusingPrompter>();
    setTrustPrompter(prompter);
    const QByteArray savedAuthorities = qgetenv("SSL_CERT_FILE");
    QVariantMap params = sshParams();
    params.insert("host", "LOCALHOST");

    qputenv("SSL_CERT_FILE", "/nonexistent/no-authorities.crt");
    auto untrusted = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(untrusted));
    EXPECT_EQ(untrusted->state(), ZNTConnection::ZNTConnectionStateFailed);
    EXPECT_TRUE(errorText(untrusted).startsWith("SSL error: certificate verify failed ("))
        << errorText(untrusted).toStdString();
    EXPECT_EQ(prompter->hosts, QStringList{"LOCALHOST"});

    qputenv("SSL_CERT_FILE", QFile::encodeName(requiredEnv("TRELLAN_TLS_DIR") + "/root-ca.crt"));
    auto trusted = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(trusted));
    EXPECT_EQ(trusted->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(trusted).toStdString();
    EXPECT_TRUE(onQueue(trusted, [&] { return PQsslInUse(trusted->conn()) == 1; }));
    EXPECT_EQ(prompter->hosts.size(), 1) << "a chain the authorities vouch for is not asked about";

    if (savedAuthorities.isNull())
        qunsetenv("SSL_CERT_FILE");
    else
        qputenv("SSL_CERT_FILE", savedAuthorities);
    setTrustPrompter(nullptr);
}
