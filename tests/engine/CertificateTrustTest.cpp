#include "engine/CertificateTrust.h"
#include "ConnectionTestSupport.h"
#include "engine/CertificateDetails.h"
#include "engine/TrustDecisions.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The user defaults of this process live in a folder of its own, made before
// anything reads them, so that switching a preference here cannot reach the
// other test programs of the run.
const bool privateSettings = [] {
    static QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    return true;
}();

// A self-signed certificate for localhost that ran out yesterday, with its key.
void writeExpiredCertificate(const QString &certificatePath, const QString &keyPath) {
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 7);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -2 * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate), -86400);
    X509_set_pubkey(certificate, key);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("localhost"), -1, -1,
                               0);
    X509_set_issuer_name(certificate, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *names = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "DNS:localhost");
    X509_add_ext(certificate, names, -1);
    X509_EXTENSION_free(names);
    X509_sign(certificate, key, EVP_sha256());
    FILE *out = std::fopen(QFile::encodeName(certificatePath), "w");
    PEM_write_X509(out, certificate);
    std::fclose(out);
    out = std::fopen(QFile::encodeName(keyPath), "w");
    PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
    X509_free(certificate);
    EVP_PKEY_free(key);
}

// A finished TLS handshake with a server that presents chainFile: both ends in
// this process over a socket pair, the client verifying nothing by itself.
class Handshake {
public:
    Handshake(const QString &chainFile, const QString &keyFile) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        m_serverContext = SSL_CTX_new(TLS_server_method());
        EXPECT_EQ(SSL_CTX_use_certificate_chain_file(m_serverContext, QFile::encodeName(chainFile)), 1);
        EXPECT_EQ(SSL_CTX_use_PrivateKey_file(m_serverContext, QFile::encodeName(keyFile), SSL_FILETYPE_PEM), 1);
        m_clientContext = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(m_clientContext, SSL_VERIFY_NONE, nullptr);
        m_server = SSL_new(m_serverContext);
        m_client = SSL_new(m_clientContext);
        SSL_set_fd(m_server, fds[0]);
        SSL_set_fd(m_client, fds[1]);
        m_fds[0] = fds[0];
        m_fds[1] = fds[1];
        std::thread accept([this] { SSL_accept(m_server); });
        EXPECT_EQ(SSL_connect(m_client), 1);
        accept.join();
    }
    ~Handshake() {
        SSL_free(m_client);
        SSL_free(m_server);
        SSL_CTX_free(m_clientContext);
        SSL_CTX_free(m_serverContext);
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    SSL *client() const { return m_client; }

private:
    SSL_CTX *m_serverContext, *m_clientContext;
    SSL *m_server, *m_client;
    int m_fds[2];
};

// Answers as told, at once or when the test says so, and keeps what it was
// asked, on which thread, and how often a panel was closed from outside.
class RecordingPrompter : public TrustPrompter {
public:
    std::function<void()> beginTrustPanel(const TrustPanelRequest &request,
                                          std::function<void(TrustPanelAnswer)> answered) override {
        requests.push_back(request);
        onMainThread = onMainThread && Main::isMainThread();
        if (!holdAnswers) {
            answered(answer);
            return [] {};
        }
        const size_t index = pending.size();
        pending.push_back(std::move(answered));
        return [this, index] {
            ++closed;
            answerPending(index, {});
        };
    }
    // main thread
    void answerPending(size_t index, TrustPanelAnswer given) {
        if (index < pending.size() && pending[index]) {
            auto answered = std::move(pending[index]);
            pending[index] = nullptr;
            answered(given);
        }
    }
    size_t count() const { return requests.size(); }

    TrustPanelAnswer answer;
    bool holdAnswers = false;
    std::vector<TrustPanelRequest> requests;
    std::vector<std::function<void(TrustPanelAnswer)>> pending;
    int closed = 0;
    bool onMainThread = true;
};

// The check as a connection queue runs it, while the main thread serves the panel.
bool verifyOffMain(SSL *ssl, const QString &host, QString *reason = nullptr) {
    auto verdict = std::async(std::launch::async, [&] { return verifyServerCertificate(ssl, host, reason); });
    EXPECT_TRUE(pumpUntil([&] { return verdict.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return verdict.get();
}

template <class T> bool isReady(std::future<T> &f) {
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

class CertificateTrust : public ::testing::Test {
protected:
    void SetUp() override {
        // The test root stands in for the system's authorities.
        qputenv("SSL_CERT_FILE", QFile::encodeName(tlsFile("root-ca.crt")));
        qputenv("SSL_CERT_DIR", QFile::encodeName(m_dir.path()));
        decisions = std::make_shared<TrustDecisions>(m_dir.filePath("Trellan/TrustedCertificates.json"));
        TrustDecisions::setShared(decisions);
        setTrustPrompter(prompter);
        UserDefaults::standard().removeObject(TrustStandardCertificateAuthoritiesKey);
    }
    void TearDown() override {
        // A connection still waiting for its panel would outlive the test.
        for (size_t i = 0; i < prompter->pending.size(); ++i)
            prompter->answerPending(i, {});
        setTrustPrompter(nullptr);
        TrustDecisions::setShared(nullptr);
        UserDefaults::standard().removeObject(TrustStandardCertificateAuthoritiesKey);
    }
    void trustStandardAuthorities(bool yes) {
        UserDefaults::standard().setObject(yes, TrustStandardCertificateAuthoritiesKey);
    }
    Handshake caSigned() { return Handshake(tlsFile("server-chain.crt"), tlsFile("server.key")); }
    Handshake selfSigned() { return Handshake(tlsFile("self-signed.crt"), tlsFile("self-signed.key")); }
    QString tempPath(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::shared_ptr<TrustDecisions> decisions;
    std::shared_ptr<RecordingPrompter> prompter = std::make_shared<RecordingPrompter>();
};

const QString kManInTheMiddle = QStringLiteral("If you connect, you are vulnerable to a man-in-the-middle attack.");

} // namespace

TEST_F(CertificateTrust, AuthoritySignedChainIsAcceptedSilentlyByDefault) {
    Handshake tls = caSigned();
    for (const QString host : {"localhost", "LocalHost", "127.0.0.1"}) {
        TrustEvaluation evaluation = evaluateServerTrust(tls.client(), host);
        EXPECT_EQ(evaluation.result, TrustResult::Unspecified) << host.toStdString() << evaluation.reason.toStdString();
        EXPECT_TRUE(verifyOffMain(tls.client(), host));
    }
    EXPECT_EQ(prompter->count(), 0u);
}

TEST_F(CertificateTrust, WithoutTrustingAuthoritiesTheUnknownCertificatePanelDecides) {
    trustStandardAuthorities(false);
    Handshake tls = caSigned();
    QString reason;
    EXPECT_FALSE(verifyOffMain(tls.client(), "localhost", &reason));
    EXPECT_FALSE(reason.isEmpty());
    ASSERT_EQ(prompter->count(), 1u);
    const TrustPanelRequest &asked = prompter->requests[0];
    EXPECT_EQ(asked.message, "The server presented an unknown certificate.");
    EXPECT_EQ(asked.informativeText, "The server certificate is issued by a trusted certificate authority, but you "
                                     "have not explicitly marked the certificate as trusted.");
    EXPECT_EQ(asked.host, "localhost");
    ASSERT_EQ(asked.chain.size(), 2);
    EXPECT_EQ(asked.chain[0], derFromPemFile(tlsFile("server.crt")));
    EXPECT_EQ(asked.chain[1], derFromPemFile(tlsFile("intermediate-ca.crt")));

    prompter->answer = {true, false};
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    EXPECT_EQ(prompter->count(), 2u);
}

TEST_F(CertificateTrust, SelfSignedAsksAboutManInTheMiddleAndFollowsTheAnswer) {
    Handshake tls = selfSigned();
    EXPECT_EQ(evaluateServerTrust(tls.client(), "localhost").result, TrustResult::RecoverableFailure);
    EXPECT_FALSE(verifyOffMain(tls.client(), "localhost"));
    ASSERT_EQ(prompter->count(), 1u);
    EXPECT_EQ(prompter->requests[0].message, "Trellan can't verify the identity of the server localhost.");
    EXPECT_EQ(prompter->requests[0].informativeText, kManInTheMiddle);
    EXPECT_EQ(prompter->requests[0].chain, QList<QByteArray>{derFromPemFile(tlsFile("self-signed.crt"))});

    prompter->answer = {true, false};
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    // Connecting once is not trusting for good.
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    EXPECT_EQ(prompter->count(), 3u);
    EXPECT_FALSE(QFile::exists(decisions->path()));
}

TEST_F(CertificateTrust, AlwaysTrustIsSilentNextTimeForThatHostOnly) {
    Handshake tls = selfSigned();
    prompter->answer = {true, true};
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    ASSERT_EQ(prompter->count(), 1u);

    EXPECT_EQ(evaluateServerTrust(tls.client(), "LOCALHOST").result, TrustResult::Proceed);
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    EXPECT_EQ(prompter->count(), 1u);
    EXPECT_EQ(evaluateServerTrust(tls.client(), "127.0.0.1").result, TrustResult::RecoverableFailure);

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(decisions->path()), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    QFile json(decisions->path());
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QString digest = QString::fromLatin1(certificateSHA256(derFromPemFile(tlsFile("self-signed.crt"))).toHex());
    EXPECT_TRUE(json.readAll().contains(digest.toLatin1()));
}

TEST_F(CertificateTrust, ExpiredCertificateIsAskedAboutEvenWhenAlwaysTrusted) {
    writeExpiredCertificate(tempPath("expired.crt"), tempPath("expired.key"));
    Handshake tls(tempPath("expired.crt"), tempPath("expired.key"));
    prompter->answer = {true, true};
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    const TrustEvaluation again = evaluateServerTrust(tls.client(), "localhost");
    EXPECT_EQ(again.result, TrustResult::RecoverableFailure);
    EXPECT_TRUE(again.reason.contains("expired")) << again.reason.toStdString();
    EXPECT_TRUE(verifyOffMain(tls.client(), "localhost"));
    EXPECT_EQ(prompter->count(), 2u);
}

TEST_F(CertificateTrust, CertificateForAnotherNameAsksAboutManInTheMiddle) {
    Handshake tls(tlsFile("wrong-name-chain.crt"), tlsFile("wrong-name.key"));
    TrustEvaluation evaluation = evaluateServerTrust(tls.client(), "localhost");
    EXPECT_EQ(evaluation.result, TrustResult::RecoverableFailure);
    EXPECT_TRUE(evaluation.reason.contains("mismatch", Qt::CaseInsensitive)) << evaluation.reason.toStdString();
    EXPECT_EQ(evaluateServerTrust(tls.client(), "wrong.invalid").result, TrustResult::Unspecified);
    EXPECT_FALSE(verifyOffMain(tls.client(), "localhost"));
    ASSERT_EQ(prompter->count(), 1u);
    EXPECT_EQ(prompter->requests[0].informativeText, kManInTheMiddle);
}

TEST_F(CertificateTrust, BrokenSignatureIsRefusedWithoutAskingEvenWhenAlwaysTrusted) {
    // The server's certificate with one bit of its issuer's signature flipped.
    QByteArray der = derFromPemFile(tlsFile("server.crt"));
    der[der.size() - 3] = char(der[der.size() - 3] ^ 0x01);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(der.constData());
    X509 *broken = d2i_X509(nullptr, &bytes, der.size());
    ASSERT_NE(broken, nullptr);
    const QString chainPath = tempPath("broken-chain.crt");
    FILE *out = std::fopen(QFile::encodeName(chainPath), "w");
    PEM_write_X509(out, broken);
    std::fclose(out);
    X509_free(broken);
    {
        QFile chain(chainPath), intermediate(tlsFile("intermediate-ca.crt"));
        ASSERT_TRUE(chain.open(QIODevice::Append) && intermediate.open(QIODevice::ReadOnly));
        chain.write(intermediate.readAll());
    }
    decisions->trust("localhost", certificateSHA256(der));

    Handshake tls(chainPath, tlsFile("server.key"));
    LogCapture log;
    prompter->answer = {true, true};
    EXPECT_EQ(evaluateServerTrust(tls.client(), "localhost").result, TrustResult::FatalFailure);
    EXPECT_FALSE(verifyOffMain(tls.client(), "localhost"));
    EXPECT_EQ(prompter->count(), 0u);
    EXPECT_TRUE(log.contains("Refused the certificate of localhost"));
}

// A verification that could not run, or stopped without naming an error, is
// no verification: the chain it was meant to judge is refused, never trusted.
TEST_F(CertificateTrust, VerificationThatFailsWithoutAnErrorRefusesTheChain) {
    Handshake tls = caSigned();
    const std::pair<VerificationFault, const char *> faults[] = {
        {VerificationFault::StoreSetup, "The certificate store could not be opened."},
        {VerificationFault::Purpose, "The certificate could not be checked for use by a server."},
        {VerificationFault::SilentVerifyFailure, "The certificate could not be verified."},
    };
    for (const auto &[fault, text] : faults) {
        SCOPED_TRACE(text);
        setVerificationFaultForTesting(fault);
        const TrustEvaluation evaluation = evaluateServerTrust(tls.client(), "localhost");
        QString reason;
        const bool accepted = verifyServerCertificate(tls.client(), "localhost", &reason);
        setVerificationFaultForTesting(VerificationFault::None);
        EXPECT_EQ(evaluation.result, TrustResult::OtherError);
        EXPECT_FALSE(accepted);
        EXPECT_EQ(reason, text);
    }
    EXPECT_EQ(prompter->count(), 0u);
    EXPECT_TRUE(verifyServerCertificate(tls.client(), "localhost")) << "the same chain passes a check that runs";
}

TEST_F(CertificateTrust, NothingToJudgeOrNobodyToAskRefuses) {
    LogCapture log;
    EXPECT_FALSE(verifyOffMain(nullptr, "localhost"));
    EXPECT_TRUE(log.contains("The TLS handshake has not finished."));
    Handshake tls = selfSigned();
    EXPECT_FALSE(verifyOffMain(tls.client(), QString()));
    EXPECT_TRUE(log.contains("Empty hostname not allowed for SSL."));
    setTrustPrompter(nullptr);
    EXPECT_FALSE(verifyOffMain(tls.client(), "localhost"));
    EXPECT_EQ(prompter->count(), 0u);
}

// The panel is opened and returns at once; the check waits on its own thread
// until the answer, and the main thread serves everything else meanwhile.
TEST_F(CertificateTrust, QueueWaitsForTheAnswerWhileTheMainThreadRunsOn) {
    Handshake tls = selfSigned();
    prompter->holdAnswers = true;
    auto verdict = std::async(std::launch::async, [&] { return verifyServerCertificate(tls.client(), "localhost"); });
    ASSERT_TRUE(pumpUntil([&] { return prompter->count() == 1; }));
    bool served = false;
    Main::post([&] { served = true; });
    ASSERT_TRUE(pumpUntil([&] { return served; }));
    EXPECT_FALSE(isReady(verdict));
    prompter->answerPending(0, {true, false});
    ASSERT_TRUE(pumpUntil([&] { return isReady(verdict); }));
    EXPECT_TRUE(verdict.get());
    EXPECT_TRUE(prompter->onMainThread);

    // Asking from the main thread would wait for itself.
    std::string thrown;
    try {
        verifyServerCertificate(tls.client(), "localhost");
    } catch (const ProgramError &error) {
        thrown = error.name();
    }
    EXPECT_EQ(thrown, "WrongThread");
}

TEST_F(CertificateTrust, CancelClosesTheOpenPanelAndReleasesEveryWaitingConnection) {
    Handshake first = selfSigned(), second = selfSigned();
    prompter->holdAnswers = true;
    auto cancelFirst = std::make_shared<TrustCancellation>();
    auto cancelSecond = std::make_shared<TrustCancellation>();
    auto check = [](SSL *ssl, std::shared_ptr<TrustCancellation> cancellation) {
        TrustCheck trust;
        trust.cancellation = std::move(cancellation);
        const bool accepted = verifyServerCertificate(ssl, "localhost", &trust);
        return std::make_pair(accepted, trust.reason);
    };
    auto a = std::async(std::launch::async, check, first.client(), cancelFirst);
    ASSERT_TRUE(pumpUntil([&] { return prompter->count() == 1; }));
    auto b = std::async(std::launch::async, check, second.client(), cancelSecond);

    // The second waits for the first one's panel; its own cancel ends that wait.
    cancelSecond->cancel();
    ASSERT_TRUE(pumpUntil([&] { return isReady(b); }));
    const auto [secondAccepted, secondReason] = b.get();
    EXPECT_FALSE(secondAccepted);
    EXPECT_TRUE(secondReason.contains("cancelled")) << secondReason.toStdString();
    EXPECT_FALSE(isReady(a)) << "the first panel is still up";
    EXPECT_EQ(prompter->closed, 0);

    cancelFirst->cancel();
    ASSERT_TRUE(pumpUntil([&] { return isReady(a); }));
    EXPECT_FALSE(a.get().first);
    EXPECT_TRUE(pumpUntil([&] { return prompter->closed == 1; })) << "the open panel is closed";
    EXPECT_EQ(prompter->count(), 1u);

    // Cancelled for good: no further panel for that connection.
    TrustCheck again;
    again.cancellation = cancelFirst;
    auto c =
        std::async(std::launch::async, [&] { return verifyServerCertificate(first.client(), "localhost", &again); });
    ASSERT_TRUE(pumpUntil([&] { return isReady(c); }));
    EXPECT_FALSE(c.get());
    EXPECT_EQ(prompter->count(), 1u);
}

TEST_F(CertificateTrust, ConnectionsWaitingForThePanelAtOnceAreAskedOnceWhenAlwaysTrusted) {
    Handshake first = selfSigned(), second = selfSigned();
    prompter->holdAnswers = true;
    auto a = std::async(std::launch::async, [&] { return verifyServerCertificate(first.client(), "localhost"); });
    auto b = std::async(std::launch::async, [&] { return verifyServerCertificate(second.client(), "localhost"); });
    // Whichever comes second waits for the panel of the first, or finds the
    // certificate trusted once it comes: either way it is not asked.
    ASSERT_TRUE(pumpUntil([&] { return prompter->count() == 1; }));
    prompter->answerPending(0, {true, true});
    ASSERT_TRUE(pumpUntil([&] { return isReady(a) && isReady(b); }));
    EXPECT_TRUE(a.get());
    EXPECT_TRUE(b.get());
    EXPECT_EQ(prompter->count(), 1u);
}

// MARK: through a connection to the real server

namespace {
QVariantMap trustUserParams(const QString &host, int port = requiredEnv("TRELLAN_PG_PORT").toInt()) {
    return {{"host", host}, {"port", port}, {"user", requiredEnv("TRELLAN_PG_TRUST_USER")}, {"dbname", "postgres"}};
}

bool connectTo(const QString &host) {
    auto connection = ZNTConnection::create(trustUserParams(host));
    auto connected = std::async(std::launch::async, [&] { return connection->connect(); });
    EXPECT_TRUE(pumpUntil([&] { return connected.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                          std::chrono::seconds(30)));
    return connected.get();
}
} // namespace

TEST_F(CertificateTrust, ConnectionAsksBeforeItLogsInAndStopsWhenRefused) {
    // "LOCALHOST" reaches the local server without counting as loopback.
    EXPECT_TRUE(connectTo("LOCALHOST"));
    EXPECT_EQ(prompter->count(), 0u);

    trustStandardAuthorities(false);
    EXPECT_FALSE(connectTo("LOCALHOST"));
    ASSERT_EQ(prompter->count(), 1u);
    EXPECT_EQ(prompter->requests[0].host, "LOCALHOST");
    EXPECT_EQ(prompter->requests[0].message, "The server presented an unknown certificate.");

    prompter->answer = {true, false};
    EXPECT_TRUE(connectTo("LOCALHOST"));
    EXPECT_TRUE(prompter->onMainThread);
}

TEST_F(CertificateTrust, UnknownAuthorityIsAskedAboutOnceWhenAlwaysTrusted) {
    qputenv("SSL_CERT_FILE", QFile::encodeName(tempPath("no-authorities.crt")));
    prompter->answer = {true, true};
    EXPECT_TRUE(connectTo("LOCALHOST"));
    ASSERT_EQ(prompter->count(), 1u);
    EXPECT_EQ(prompter->requests[0].message, "Trellan can't verify the identity of the server LOCALHOST.");
    EXPECT_EQ(prompter->requests[0].chain.size(), 2);
    prompter->answer = {false, false};
    EXPECT_TRUE(connectTo("LOCALHOST"));
    EXPECT_EQ(prompter->count(), 1u);
}

TEST_F(CertificateTrust, CancelWhileThePanelIsOpenClosesItAndEndsTheConnect) {
    trustStandardAuthorities(false);
    prompter->holdAnswers = true;
    auto connection = ZNTConnection::create(trustUserParams("LOCALHOST"));
    connection->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return prompter->count() == 1; }));
    connection->cancel();
    ASSERT_TRUE(settle(connection));
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateFailed);
    EXPECT_EQ(connection->error()->localizedDescription(), "Connection to PostgreSQL server cancelled.");
    EXPECT_TRUE(pumpUntil([&] { return prompter->closed == 1; }));
}

// PostgreSQL gives a client about a minute to log in. A user who reads the panel
// longer finds the server gone: Connect then tries once more, with the
// certificate just accepted, instead of failing with an I/O error.
TEST_F(CertificateTrust, ConnectAfterTheServerGaveUpDuringThePanelTriesOnceMore) {
    trustStandardAuthorities(false);
    prompter->holdAnswers = true;
    TcpRelay relay(requiredEnv("TRELLAN_PG_PORT").toInt());
    auto connection = ZNTConnection::create(trustUserParams("LOCALHOST", relay.port()));
    connection->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return prompter->count() == 1; }));
    relay.cutAll();
    prompter->answerPending(0, {true, false});
    ASSERT_TRUE(settle(connection));
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected)
        << connection->error()->localizedDescription().toStdString();
    EXPECT_EQ(relay.accepted(), 2);
    EXPECT_EQ(prompter->count(), 1u) << "the retry does not ask again";

    // A server still there when the user answers is not connected to twice.
    auto patient = ZNTConnection::create(trustUserParams("LOCALHOST", relay.port()));
    patient->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return prompter->count() == 2; }));
    prompter->answerPending(1, {true, false});
    ASSERT_TRUE(settle(patient));
    EXPECT_EQ(patient->state(), ZNTConnection::ZNTConnectionStateConnected);
    EXPECT_EQ(relay.accepted(), 3);
}

namespace {
// Runs a query the way the query editor does, without reconnecting.
std::shared_ptr<ZNTQuery> runWithoutReconnect(const std::shared_ptr<ZNTConnection> &connection) {
    auto query = ZNTQuery::create("select 1");
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observeNext(
        ZNTQuery::DoneNotification, query.get(), [&](const Notification &) { done = true; });
    query->executeInBackgroundOnConnection(connection, false);
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_TRUE(settle(connection)); // the state it announced
    return query;
}
} // namespace

// After the user refused the certificate, or cancelled the connect, a query that
// must not reconnect reports that failure instead of connecting (and asking)
// all over again.
TEST_F(CertificateTrust, QueryThatMustNotReconnectFailsWithTheConnectsOwnError) {
    trustStandardAuthorities(false);
    auto refused = ZNTConnection::create(trustUserParams("LOCALHOST"));
    ASSERT_TRUE(connectAndSettle(refused));
    ASSERT_EQ(refused->state(), ZNTConnection::ZNTConnectionStateFailed);
    ASSERT_EQ(prompter->count(), 1u);
    auto query = runWithoutReconnect(refused);
    ASSERT_NE(query->error(), nullptr);
    EXPECT_EQ(query->error()->localizedDescription(), refused->error()->localizedDescription());
    EXPECT_EQ(refused->state(), ZNTConnection::ZNTConnectionStateLost);
    EXPECT_EQ(prompter->count(), 1u);

    auto cancelled = ZNTConnection::create(trustUserParams("LOCALHOST"));
    cancelled->cancel();
    ASSERT_TRUE(connectAndSettle(cancelled));
    const QString connectError = cancelled->error()->localizedDescription();
    query = runWithoutReconnect(cancelled);
    ASSERT_NE(query->error(), nullptr);
    EXPECT_EQ(query->error()->localizedDescription(), connectError);
    EXPECT_EQ(cancelled->state(), ZNTConnection::ZNTConnectionStateLost);
    EXPECT_EQ(prompter->count(), 1u);
}
