#include "engine/CertificateTrust.h"
#include "engine/TrustDecisions.h"
#include "engine/ZNTConnection.h"
#include "platform/Main.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

// The certificate check as a connection meets it: the real server's chain,
// judged between the handshake and the startup packet.

namespace {

// Settings of this process only (see CertificateTrustTest.cpp).
const bool privateSettings = [] {
    static QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    return true;
}();

class RecordingPrompter : public TrustPrompter {
public:
    TrustPanelAnswer runModalForTrust(const TrustPanelRequest &request) override {
        std::lock_guard lock(m_mutex);
        requests.push_back(request);
        onMainThread = onMainThread && Main::isMainThread();
        return answer;
    }
    size_t count() {
        std::lock_guard lock(m_mutex);
        return requests.size();
    }
    TrustPanelAnswer answer;
    std::vector<TrustPanelRequest> requests;
    bool onMainThread = true;

private:
    std::mutex m_mutex;
};

class ConnectionCertificateTrust : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("SSL_CERT_FILE", QFile::encodeName(requiredEnv("TRELLAN_TLS_DIR") + "/root-ca.crt"));
        TrustDecisions::setShared(std::make_shared<TrustDecisions>(m_dir.filePath("TrustedCertificates.json")));
        setTrustPrompter(prompter);
        UserDefaults::standard().removeObject(TrustStandardCertificateAuthoritiesKey);
    }
    void TearDown() override {
        setTrustPrompter(nullptr);
        TrustDecisions::setShared(nullptr);
        UserDefaults::standard().removeObject(TrustStandardCertificateAuthoritiesKey);
    }

    QTemporaryDir m_dir;
    std::shared_ptr<RecordingPrompter> prompter = std::make_shared<RecordingPrompter>();
};

bool connectTo(const QString &host) {
    QVariantMap params{{"host", host},
                       {"port", requiredEnv("TRELLAN_PG_PORT").toInt()},
                       {"user", requiredEnv("TRELLAN_PG_TRUST_USER")},
                       {"dbname", "postgres"}};
    auto connection = ZNTConnection::create(params);
    auto connected = std::async(std::launch::async, [&] { return connection->connect(); });
    EXPECT_TRUE(pumpUntil([&] { return connected.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                          std::chrono::seconds(30)));
    return connected.get();
}
} // namespace

TEST_F(ConnectionCertificateTrust, ConnectionAsksBeforeItLogsInAndStopsWhenRefused) {
    // "LOCALHOST" reaches the local server without counting as loopback.
    EXPECT_TRUE(connectTo("LOCALHOST"));
    EXPECT_EQ(prompter->count(), 0u);

    UserDefaults::standard().setObject(false, TrustStandardCertificateAuthoritiesKey);
    EXPECT_FALSE(connectTo("LOCALHOST"));
    ASSERT_EQ(prompter->count(), 1u);
    EXPECT_EQ(prompter->requests[0].host, "LOCALHOST");
    EXPECT_EQ(prompter->requests[0].message, "The server presented an unknown certificate.");

    prompter->answer = {true, false};
    EXPECT_TRUE(connectTo("LOCALHOST"));
    EXPECT_TRUE(prompter->onMainThread);
}

TEST_F(ConnectionCertificateTrust, UnknownAuthorityIsAskedAboutOnceWhenAlwaysTrusted) {
    qputenv("SSL_CERT_FILE", QFile::encodeName(m_dir.filePath("no-authorities.crt")));
    prompter->answer = {true, true};
    EXPECT_TRUE(connectTo("LOCALHOST"));
    ASSERT_EQ(prompter->count(), 1u);
    EXPECT_EQ(prompter->requests[0].message, "Trellan can't verify the identity of the server LOCALHOST.");
    EXPECT_EQ(prompter->requests[0].chain.size(), 2);
    prompter->answer = {false, false};
    EXPECT_TRUE(connectTo("LOCALHOST"));
    EXPECT_EQ(prompter->count(), 1u);
}
