// Setting up a tunnel against the run's sshd: host keys, logins and their
// failures, keyboard-interactive questions, and what a caller sees meanwhile.
#include "SSHTestSupport.h"

#include "engine/SSHTunnel.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QMessageAuthenticationCode>
#include <QThread>
#include <future>

using namespace sshtest;
using namespace std::chrono_literals;

namespace {

class SSHTunnelTest : public ::testing::Test {
protected:
    // Accepted keys live in the user defaults; tests of other processes running
    // at the same time must not see or wipe this one's, so each process gets
    // settings of its own before the defaults are first read.
    static void SetUpTestSuite() {
        static QTemporaryDir settings;
        qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    }
    void SetUp() override { UserDefaults::standard().removeObject(SSHTunnel::KnownHostKeysDefaultsKey); }
    void TearDown() override { UserDefaults::standard().removeObject(SSHTunnel::KnownHostKeysDefaultsKey); }

    // A tunnel with no login method set up and no trusted key.
    std::shared_ptr<SSHTunnel> bareTunnel() const {
        auto tunnel = makeTunnel(server, far.port());
        tunnel->setPrivateKeyPath(QString());
        tunnel->setExpectedKey(QByteArray());
        return tunnel;
    }
    std::shared_ptr<SSHTunnel> keyTunnel(const QString &keyName, const QString &passphrase = QString()) const {
        auto tunnel = makeTunnel(server, far.port());
        tunnel->setPrivateKeyPath(server.key(keyName));
        tunnel->setPrivateKeyPassphrase(passphrase);
        return tunnel;
    }
    // The tunnel really leads to the far server: one echo round trip.
    void expectEcho(const std::shared_ptr<SSHTunnel> &tunnel) const {
        int fd = connectLocal(tunnel->localPort());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(writeAll(fd, "Eping", 5));
        EXPECT_EQ(readExactly(fd, 4), QByteArray("ping"));
        ::close(fd);
    }
    QByteArray knownHostsLine(const QByteArray &keyLine) const {
        return QStringLiteral("[%1]:%2 ").arg(server.host).arg(server.port).toUtf8() + keyLine + '\n';
    }

    SSHServer server;
    FarServer far;
    TemporaryHome home;
};

// Generates a throwaway key pair with ssh-keygen and answers its .pub line.
QByteArray generatedPublicKeyLine(const QString &dir, const QString &type) {
    QString path = dir + QStringLiteral("/generated_") + type;
    EXPECT_EQ(runQuietly(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), type,
                                                        QStringLiteral("-N"), QString(), QStringLiteral("-f"), path}),
              0);
    QFile file(path + QStringLiteral(".pub"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> fields = file.readAll().simplified().split(' ');
    return fields.value(0) + ' ' + fields.value(1);
}

struct RecordingDelegate : SSHTunnelDelegate {
    std::function<QStringList(const QVariantMap &)> answer; // null: leave the question open
    std::atomic<int> calls{0};
    std::atomic<bool> onMainThread{true};
    QVariantMap lastRequest;
    std::shared_ptr<ConditionLock> pendingLock;

    void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request, const std::shared_ptr<SSHTunnel> &,
                                                        std::shared_ptr<ConditionLock> lock,
                                                        std::shared_ptr<QStringList> responses) override {
        ++calls;
        if (!Main::isMainThread())
            onMainThread = false;
        lastRequest = request;
        pendingLock = lock;
        if (!answer)
            return;
        *responses = answer(request);
        lock->unlockWithCondition(1);
    }
};

// connect() blocks its caller; keyboard-interactive questions need the main
// thread free, so these run it on a thread of their own and pump events.
bool connectOffMainThread(const std::shared_ptr<SSHTunnel> &tunnel, std::chrono::milliseconds limit = 20s,
                          const std::function<void()> &whileWaiting = {}) {
    auto result = std::async(std::launch::async, [tunnel] { return tunnel->connect(); });
    pumpUntil(
        [&] {
            if (whileWaiting)
                whileWaiting();
            return result.wait_for(0ms) == std::future_status::ready;
        },
        limit);
    EXPECT_EQ(result.wait_for(0ms), std::future_status::ready) << "connect() did not return in time";
    return result.get();
}

} // namespace

// --- host keys ---------------------------------------------------------------------

TEST_F(SSHTunnelTest, UnknownHostKeyAsksWithKeyAndFingerprintThenPassesOnceAccepted) {
    auto first = keyTunnel(QStringLiteral("id_ed25519"));
    first->setExpectedKey(SSHTunnel::keyForHost(server.host, unsigned(server.port)));
    ASSERT_FALSE(first->connect());
    ErrorPtr error = first->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), SSHTunnel::ErrorDomain);
    EXPECT_EQ(error->code(), SSHTunnel::ErrorHostKeyNotVerified);
    EXPECT_EQ(error->localizedDescription(), QStringLiteral("SSH server host key could not be verified."));
    QByteArray offeredKey = error->userInfo().value(SSHTunnel::HostKeyDictionaryKey).toByteArray();
    EXPECT_EQ(offeredKey, server.hostKey());
    EXPECT_EQ(error->userInfo().value(SSHTunnel::FingerprintDictionaryKey).toString(),
              sha1Fingerprint(server.hostKey()));

    // What the favorites window does when the user accepts.
    SSHTunnel::addKey(offeredKey, server.host, unsigned(server.port));
    auto second = keyTunnel(QStringLiteral("id_ed25519"));
    second->setExpectedKey(SSHTunnel::keyForHost(server.host, unsigned(server.port)));
    ASSERT_TRUE(second->connect()) << describe(second->error());
    expectEcho(second);
}

TEST_F(SSHTunnelTest, AcceptedKeysAreStoredPerHostAndPortWithZeroMeaning22) {
    SSHTunnel::addKey("key-22", QStringLiteral("db.example"), 0);
    SSHTunnel::addKey("key-2222", QStringLiteral("db.example"), 2222);
    EXPECT_EQ(SSHTunnel::keyForHost(QStringLiteral("db.example"), 22), QByteArray("key-22"));
    EXPECT_EQ(SSHTunnel::keyForHost(QStringLiteral("db.example"), 0), QByteArray("key-22"));
    EXPECT_EQ(SSHTunnel::keyForHost(QStringLiteral("db.example"), 2222), QByteArray("key-2222"));
    EXPECT_TRUE(SSHTunnel::keyForHost(QStringLiteral("other.example"), 22).isNull());
    QVariantMap stored = UserDefaults::standard().dictionaryForKey(SSHTunnel::KnownHostKeysDefaultsKey);
    EXPECT_EQ(stored.value(QStringLiteral("db.example:22")).toByteArray(), QByteArray("key-22"));
}

TEST_F(SSHTunnelTest, KnownHostsEntryPassesWithoutAcceptedKeyPlainOrHashed) {
    home.writeKnownHosts(knownHostsLine(server.hostKeyLine()));
    auto plain = keyTunnel(QStringLiteral("id_ed25519"));
    plain->setExpectedKey(QByteArray());
    EXPECT_TRUE(plain->connect()) << describe(plain->error());

    // ssh hashes host names by default on Debian; ssh-keygen -H does the same to a file.
    QString file = home.path() + QStringLiteral("/.ssh/known_hosts");
    ASSERT_EQ(runQuietly(QStringLiteral("ssh-keygen"),
                         {QStringLiteral("-q"), QStringLiteral("-H"), QStringLiteral("-f"), file}),
              0);
    QFile hashed(file);
    ASSERT_TRUE(hashed.open(QIODevice::ReadOnly));
    ASSERT_TRUE(hashed.readAll().startsWith("|1|"));
    auto viaHash = keyTunnel(QStringLiteral("id_ed25519"));
    viaHash->setExpectedKey(QByteArray());
    EXPECT_TRUE(viaHash->connect()) << describe(viaHash->error());
}

TEST_F(SSHTunnelTest, ChangedKeyInKnownHostsRefusesEvenWithAcceptedKey) {
    QByteArray otherKey = generatedPublicKeyLine(home.path(), QStringLiteral("ed25519"));
    // A line libssh2 cannot parse must not hide the entry after it.
    home.writeKnownHosts("not a known hosts line\n" + knownHostsLine(otherKey));
    auto tunnel = keyTunnel(QStringLiteral("id_ed25519")); // expects the server's real key
    ASSERT_FALSE(tunnel->connect());
    ErrorPtr error = tunnel->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), kBundleIdentifier);
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(
        error->localizedDescription(),
        QStringLiteral("Failed to connect to the SSH server because the key in the known_hosts file doesn't match."));
    EXPECT_EQ(far.connectionsSeen(), 0);
}

TEST_F(SSHTunnelTest, KnownKeyOfAnotherTypeIsNoMismatch) {
    home.writeKnownHosts(knownHostsLine(generatedPublicKeyLine(home.path(), QStringLiteral("rsa"))));
    auto unknown = keyTunnel(QStringLiteral("id_ed25519"));
    unknown->setExpectedKey(QByteArray());
    ASSERT_FALSE(unknown->connect());
    EXPECT_EQ(unknown->error()->code(), SSHTunnel::ErrorHostKeyNotVerified) << describe(unknown->error());

    auto accepted = keyTunnel(QStringLiteral("id_ed25519"));
    EXPECT_TRUE(accepted->connect()) << describe(accepted->error());
}

namespace {
// A known_hosts host field as OpenSSH hashes it: |1|salt|HMAC-SHA1(salt, name).
QByteArray hashedHostField(const QByteArray &name) {
    const QByteArray salt = QByteArray::fromHex("00112233445566778899aabbccddeeff01234567");
    const QByteArray mac = QMessageAuthenticationCode::hash(name, salt, QCryptographicHash::Sha1);
    return "|1|" + salt.toBase64() + "|" + mac.toBase64();
}
} // namespace

// Users type names; the address is what we connect to. OpenSSH stores the name
// (hashed by default on Debian), so that is where the verdict is.
TEST_F(SSHTunnelTest, KnownHostsIsReadUnderTheTypedNameBeforeTheAddress) {
    const QByteArray entry = QStringLiteral("[localhost]:%1").arg(server.port).toUtf8();
    const QByteArray realKey = server.hostKeyLine();
    const QByteArray otherKey = generatedPublicKeyLine(home.path(), QStringLiteral("ed25519"));
    auto tunnelByName = [&] {
        auto tunnel = keyTunnel(QStringLiteral("id_ed25519"));
        tunnel->setHostName(QStringLiteral("localhost")); // host stays 127.0.0.1
        tunnel->setExpectedKey(QByteArray());
        return tunnel;
    };

    home.writeKnownHosts(hashedHostField(entry) + ' ' + realKey + '\n');
    auto hashed = tunnelByName();
    EXPECT_TRUE(hashed->connect()) << describe(hashed->error());

    // The name's entry decides, whatever the address's says.
    home.writeKnownHosts(hashedHostField(entry) + ' ' + otherKey + '\n' + knownHostsLine(realKey));
    auto changed = tunnelByName();
    ASSERT_FALSE(changed->connect());
    EXPECT_TRUE(changed->error()->localizedDescription().contains("known_hosts file doesn't match"))
        << describe(changed->error());

    // Without an entry for the name, the address's counts.
    home.writeKnownHosts(knownHostsLine(realKey));
    auto byAddress = tunnelByName();
    EXPECT_TRUE(byAddress->connect()) << describe(byAddress->error());
}

// The bare name is the server on port 22: its key says nothing about another port.
TEST_F(SSHTunnelTest, AnEntryForPort22NeitherMatchesNorRefusesAnotherPort) {
    for (const QByteArray &keyLine :
         {server.hostKeyLine(), generatedPublicKeyLine(home.path(), QStringLiteral("ed25519"))}) {
        home.writeKnownHosts("localhost " + keyLine + '\n');
        auto tunnel = keyTunnel(QStringLiteral("id_ed25519"));
        tunnel->setHostName(QStringLiteral("localhost"));
        tunnel->setExpectedKey(QByteArray());
        ASSERT_FALSE(tunnel->connect());
        EXPECT_EQ(tunnel->error()->code(), SSHTunnel::ErrorHostKeyNotVerified) << describe(tunnel->error());
    }
}

TEST_F(SSHTunnelTest, KeyOtherThanTheOneAcceptedEarlierIsAChangeNotAFirstContact) {
    const QByteArray earlier =
        QByteArray::fromBase64(generatedPublicKeyLine(home.path(), QStringLiteral("ed25519")).split(' ').value(1));
    auto tunnel = keyTunnel(QStringLiteral("id_ed25519"));
    tunnel->setExpectedKey(earlier);
    ASSERT_FALSE(tunnel->connect());
    ErrorPtr error = tunnel->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), SSHTunnel::ErrorDomain);
    EXPECT_EQ(error->code(), SSHTunnel::ErrorHostKeyChanged);
    EXPECT_TRUE(error->localizedDescription().contains("changed since you accepted it"));
    EXPECT_EQ(error->userInfo().value(SSHTunnel::HostKeyDictionaryKey).toByteArray(), server.hostKey());
    EXPECT_EQ(error->userInfo().value(SSHTunnel::FingerprintDictionaryKey).toString(),
              sha1Fingerprint(server.hostKey()));
    EXPECT_EQ(error->userInfo().value(SSHTunnel::PreviousFingerprintDictionaryKey).toString(),
              sha1Fingerprint(earlier));
    EXPECT_EQ(far.connectionsSeen(), 0);
}

namespace {
// The lines of the sshd log that name user.
QStringList sshdLogLinesFor(const QString &user) {
    QFile log(requiredEnv("TRELLAN_SSH_LOG"));
    EXPECT_TRUE(log.open(QIODevice::ReadOnly)) << log.fileName().toStdString();
    return QString::fromUtf8(log.readAll()).split(u'\n').filter(user);
}
} // namespace

// A server whose key we have not verified learns nothing from us: no user name,
// no login attempt. sshd logs every authentication request with its user
// (LogLevel DEBUG1); each case here uses a name of its own.
TEST_F(SSHTunnelTest, HostKeyIsCheckedBeforeAnyAuthentication) {
    const QByteArray otherKey = generatedPublicKeyLine(home.path(), QStringLiteral("ed25519"));
    auto attempt = [&](const QString &caseName, const std::function<void(SSHTunnel &)> &setUp) {
        const QString user = QStringLiteral("hostkey-%1-%2").arg(caseName).arg(QCoreApplication::applicationPid());
        auto tunnel = keyTunnel(QStringLiteral("id_ed25519"));
        tunnel->setUser(user);
        setUp(*tunnel);
        EXPECT_FALSE(tunnel->connect()) << "the user does not exist";
        return std::make_pair(tunnel->error(), user);
    };
    const auto [unknown, unknownUser] = attempt("unknown", [](SSHTunnel &t) { t.setExpectedKey(QByteArray()); });
    EXPECT_EQ(unknown->code(), SSHTunnel::ErrorHostKeyNotVerified) << describe(unknown);
    home.writeKnownHosts(knownHostsLine(otherKey));
    const auto [refused, refusedUser] = attempt("refused", [](SSHTunnel &) {});
    EXPECT_TRUE(refused->localizedDescription().contains("known_hosts")) << describe(refused);
    home.writeKnownHosts(QByteArray());
    const auto [accepted, acceptedUser] = attempt("accepted", [](SSHTunnel &) {});
    EXPECT_TRUE(accepted->localizedDescription().startsWith("Failed to authenticate")) << describe(accepted);

    // sshd writes its log as it goes; the accepted attempt's lines come last.
    EXPECT_TRUE(pumpUntil([&] { return !sshdLogLinesFor(acceptedUser).isEmpty(); }, 10s));
    EXPECT_EQ(sshdLogLinesFor(unknownUser), QStringList());
    EXPECT_EQ(sshdLogLinesFor(refusedUser), QStringList());
}

// --- logins ------------------------------------------------------------------------

TEST_F(SSHTunnelTest, PublicKeyLoginWithEd25519EcdsaAndEncryptedKey) {
    for (auto [name, passphrase] :
         {std::pair{QStringLiteral("id_ed25519"), QString()}, std::pair{QStringLiteral("id_ecdsa"), QString()},
          std::pair{QStringLiteral("id_ed25519_enc"), server.passphrase}}) {
        SCOPED_TRACE(name.toStdString());
        auto tunnel = keyTunnel(name, passphrase);
        ASSERT_TRUE(tunnel->connect()) << describe(tunnel->error());
        expectEcho(tunnel);
    }
}

TEST_F(SSHTunnelTest, KeyFileProblemsAreToldApart) {
    auto missing = keyTunnel(QStringLiteral("id_ed25519_enc"), QString());
    ASSERT_FALSE(missing->connect());
    EXPECT_EQ(missing->error()->domain(), SSHTunnel::ErrorDomain);
    EXPECT_EQ(missing->error()->code(), SSHTunnel::ErrorPrivateKeyEncrypted) << describe(missing->error());
    EXPECT_EQ(missing->error()->localizedDescription(), QStringLiteral("The private key is encrypted."));

    auto wrong = keyTunnel(QStringLiteral("id_ed25519_enc"), QStringLiteral("not the passphrase"));
    ASSERT_FALSE(wrong->connect());
    EXPECT_EQ(wrong->error()->code(), SSHTunnel::ErrorPassphraseIncorrect) << describe(wrong->error());
    EXPECT_EQ(wrong->error()->localizedDescription(),
              QStringLiteral("The passphrase for the private key is incorrect."));

    // A passphrase given for a file that is no key must not read as a wrong passphrase.
    for (const QString &name : {QStringLiteral("not-a-key.txt"), QStringLiteral("no-such-file")}) {
        SCOPED_TRACE(name.toStdString());
        auto broken = keyTunnel(name, QStringLiteral("some passphrase"));
        ASSERT_FALSE(broken->connect());
        EXPECT_EQ(broken->error()->domain(), kBundleIdentifier) << describe(broken->error());
        EXPECT_EQ(broken->error()->code(), 1);
        EXPECT_TRUE(broken->error()->localizedDescription().startsWith(
            QStringLiteral("The private key file ‘%1’ couldn't be read.").arg(server.key(name))))
            << describe(broken->error());
    }
}

TEST_F(SSHTunnelTest, PasswordLoginAndTheSentenceOfAFailedOne) {
    auto good = bareTunnel();
    good->setExpectedKey(server.hostKey());
    good->setPassword(server.password);
    ASSERT_TRUE(good->connect()) << describe(good->error());
    expectEcho(good);

    // The stored password also answers PAM's lone "Password: " prompt: the delegate
    // is never asked, and both attempts are counted as rejected.
    auto delegate = std::make_shared<RecordingDelegate>();
    auto bad = bareTunnel();
    bad->setExpectedKey(server.hostKey());
    bad->setPassword(QStringLiteral("wrong-password"));
    bad->setDelegate(delegate);
    ASSERT_FALSE(connectOffMainThread(bad));
    EXPECT_EQ(delegate->calls, 0);
    EXPECT_EQ(bad->error()->localizedDescription(),
              QStringLiteral("Failed to authenticate to SSH server. The server rejected password and "
                             "keyboard-interactive authentication attempts. The server requested publickey, "
                             "password or keyboard-interactive authentication."));
}

TEST_F(SSHTunnelTest, KeyboardInteractiveQuestionIsAnsweredOnTheMainThread) {
    auto delegate = std::make_shared<RecordingDelegate>();
    QString password = server.password;
    delegate->answer = [password](const QVariantMap &) { return QStringList{password}; };
    auto tunnel = bareTunnel(); // no password stored: the prompt goes to the user
    tunnel->setExpectedKey(server.hostKey());
    tunnel->setDelegate(delegate);
    ASSERT_TRUE(connectOffMainThread(tunnel)) << describe(tunnel->error());
    EXPECT_EQ(delegate->calls, 1);
    EXPECT_TRUE(delegate->onMainThread);
    QVariantList prompts = delegate->lastRequest.value(QStringLiteral("prompts")).toList();
    ASSERT_EQ(prompts.size(), 1);
    EXPECT_TRUE(prompts[0].toMap().value(QStringLiteral("text")).toString().startsWith(QStringLiteral("Password")));
    EXPECT_EQ(prompts[0].toMap().value(QStringLiteral("echo")).toBool(), false);
    expectEcho(tunnel);
}

TEST_F(SSHTunnelTest, CancelReleasesAnUnansweredQuestionAndEndsConnect) {
    auto delegate = std::make_shared<RecordingDelegate>(); // never answers
    auto tunnel = bareTunnel();
    tunnel->setExpectedKey(server.hostKey());
    tunnel->setDelegate(delegate);
    std::chrono::steady_clock::time_point cancelledAt;
    bool cancelled = false;
    bool connected = connectOffMainThread(tunnel, 20s, [&] {
        if (!cancelled && delegate->calls > 0) {
            cancelled = true;
            cancelledAt = std::chrono::steady_clock::now();
            tunnel->cancel();
        }
    });
    ASSERT_TRUE(cancelled) << "the question never reached the delegate";
    EXPECT_FALSE(connected);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 3s);
    EXPECT_EQ(tunnel->error()->localizedDescription(), QStringLiteral("Connection to SSH server cancelled."));
}

TEST_F(SSHTunnelTest, QuestionWithoutDelegateDoesNotHang) {
    auto tunnel = bareTunnel();
    tunnel->setExpectedKey(server.hostKey());
    EXPECT_FALSE(connectOffMainThread(tunnel, 20s));
    EXPECT_TRUE(tunnel->error()->localizedDescription().startsWith(QStringLiteral("Failed to authenticate")))
        << describe(tunnel->error());
}

// --- progress and early failures -------------------------------------------------

TEST_F(SSHTunnelTest, StatusTextsArePostedOnTheConnectingThreadInOrder) {
    auto tunnel = keyTunnel(QStringLiteral("id_ed25519"));
    QStringList texts;
    bool allOnCaller = true;
    Qt::HANDLE caller = QThread::currentThreadId();
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        SSHTunnel::StatusNotification, tunnel.get(), [&](const Notification &n) {
            allOnCaller = allOnCaller && QThread::currentThreadId() == caller;
            texts << n.objectAs<SSHTunnel>()->statusString();
        });
    ASSERT_TRUE(tunnel->connect()) << describe(tunnel->error());
    EXPECT_TRUE(allOnCaller);
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Connecting to server"), QStringLiteral("SSH Handshake"),
                                  QStringLiteral("List authentication methods"),
                                  QStringLiteral("Private Key Authentication"), QStringLiteral("Opening tunnel")}));
}

TEST_F(SSHTunnelTest, UnreachableServersFailWithTheirReason) {
    auto noHost = bareTunnel();
    noHost->setHost(QString());
    EXPECT_FALSE(noHost->connect());
    EXPECT_EQ(noHost->error()->localizedDescription(),
              QStringLiteral("Can't connect to SSH server: no host provided."));

    auto unknown = bareTunnel();
    unknown->setHost(QStringLiteral("no-such-host.invalid"));
    EXPECT_FALSE(unknown->connect());
    EXPECT_TRUE(unknown->error()->localizedDescription().startsWith(
        QStringLiteral("Could not find SSH server ‘no-such-host.invalid’. ")))
        << describe(unknown->error());

    // A port nobody listens on refuses.
    RefusingPort closed;
    ASSERT_NE(closed.port(), 0);
    auto refused = bareTunnel();
    refused->setPort(closed.port());
    EXPECT_FALSE(refused->connect());
    EXPECT_EQ(refused->error()->localizedDescription(),
              QStringLiteral("Connecting to SSH Server failed. Connection refused."));
}

TEST_F(SSHTunnelTest, UnreachableTargetFailsAfterLogin) {
    RefusingPort closed;
    ASSERT_NE(closed.port(), 0);
    auto tunnel = keyTunnel(QStringLiteral("id_ed25519"));
    tunnel->setTargetPort(closed.port());
    EXPECT_FALSE(tunnel->connect());
    EXPECT_TRUE(tunnel->error()->localizedDescription().startsWith(QStringLiteral(
        "Connecting to the SSH server succeeded, but opening a tunnel to the PostgreSQL server failed.")))
        << describe(tunnel->error());
}
