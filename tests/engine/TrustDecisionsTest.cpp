#include "engine/TrustDecisions.h"
#include "engine/CertificateDetails.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/pem.h>

namespace {

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

const QByteArray kDigest = QByteArray::fromHex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
const QByteArray kOtherDigest(32, '\x42');

class TrustDecisionsFile : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath("Trellan/TrustedCertificates.json"); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(TrustDecisionsFile, DecisionsArePerHostAndCertificateAndSurviveAReload) {
    TrustDecisions decisions(path());
    EXPECT_FALSE(decisions.isTrusted("db.example.com", kDigest));
    ASSERT_TRUE(decisions.trust("DB.Example.com", kDigest));
    ASSERT_TRUE(decisions.trust("db.example.com", kDigest)); // no second entry
    ASSERT_TRUE(decisions.trust("10.0.0.1", kOtherDigest));

    TrustDecisions reloaded(path());
    EXPECT_TRUE(reloaded.isTrusted("db.example.com", kDigest));
    EXPECT_FALSE(reloaded.isTrusted("db.example.com", kOtherDigest));
    EXPECT_FALSE(reloaded.isTrusted("other.example.com", kDigest));
    EXPECT_TRUE(reloaded.isTrusted("10.0.0.1", kOtherDigest));
    const QJsonArray entries = QJsonDocument::fromJson(readAll(path())).object().value("certificates").toArray();
    EXPECT_EQ(entries.size(), 2);
}

TEST_F(TrustDecisionsFile, UnparsableFileIsTreatedAsEmptyAndKeptAsideOnWrite) {
    QDir().mkpath(QFileInfo(path()).absolutePath());
    writeFile(path(), "{\"certificates\": [ truncated");
    TrustDecisions decisions(path());
    LogCapture log;
    EXPECT_FALSE(decisions.isTrusted("db.example.com", kDigest));
    EXPECT_TRUE(log.contains("cannot be used"));
    // A second bad file must not replace the first one set aside.
    writeFile(path() + ".bad", "older");

    ASSERT_TRUE(decisions.trust("db.example.com", kDigest));
    EXPECT_EQ(readAll(path() + ".bad"), "older");
    EXPECT_EQ(readAll(path() + ".bad.1"), "{\"certificates\": [ truncated");
    EXPECT_TRUE(decisions.isTrusted("db.example.com", kDigest));
}

TEST_F(TrustDecisionsFile, UnreadableFileIsKeptAsideAndEntriesOfOtherVersionsAreKept) {
    // A directory where the file should be cannot be read, whoever runs this.
    QDir().mkpath(path());
    TrustDecisions decisions(path());
    EXPECT_FALSE(decisions.isTrusted("db.example.com", kDigest));
    ASSERT_TRUE(decisions.trust("db.example.com", kDigest));
    EXPECT_TRUE(QFileInfo(path() + ".bad").isDir());

    // Fields and entries this version does not know survive a write.
    QJsonObject document = QJsonDocument::fromJson(readAll(path())).object();
    QJsonArray entries = document.value("certificates").toArray();
    entries.append(QJsonObject{{"fingerprint-kind", "future"}});
    document.insert("certificates", entries);
    document.insert("note", "kept");
    writeFile(path(), QJsonDocument(document).toJson());
    ASSERT_TRUE(decisions.trust("db.example.com", kOtherDigest));
    const QJsonObject after = QJsonDocument::fromJson(readAll(path())).object();
    EXPECT_EQ(after.value("note").toString(), "kept");
    EXPECT_EQ(after.value("certificates").toArray().size(), 3);
}

TEST_F(TrustDecisionsFile, FailedWriteIsReportedAndLeavesTheOldFile) {
    TrustDecisions decisions(path());
    ASSERT_TRUE(decisions.trust("a.example.com", kDigest));
    const QByteArray before = readAll(path());
    // The folder becomes a file: nothing can be created beside the decisions.
    TrustDecisions blocked(m_dir.filePath("plain-file/TrustedCertificates.json"));
    writeFile(m_dir.filePath("plain-file"), "x");
    LogCapture log;
    EXPECT_FALSE(blocked.trust("b.example.com", kDigest));
    EXPECT_TRUE(log.contains("not saved"));
    EXPECT_FALSE(blocked.isTrusted("b.example.com", kDigest));
    EXPECT_EQ(readAll(path()), before);
}

// MARK: certificate details

namespace {
QString openssl(const QStringList &args) {
    QProcess tool;
    tool.start("openssl", args);
    EXPECT_TRUE(tool.waitForFinished(10000));
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}
} // namespace

TEST(CertificateDetails, AgreesWithTheOpensslTool) {
    const QString pem = requiredEnv("TRELLAN_TLS_DIR") + "/server.crt";
    const auto details = CertificateDetails::fromDER(derFromPemFile(pem));
    ASSERT_TRUE(details);
    EXPECT_EQ(openssl({"x509", "-in", pem, "-noout", "-fingerprint", "-sha256"}),
              "sha256 Fingerprint=" + CertificateDetails::fingerprintText(details->sha256));
    EXPECT_EQ(details->subject, "CN=localhost,O=Trellan Tests");
    EXPECT_EQ(details->issuer, "CN=Trellan Test Intermediate CA,O=Trellan Tests");
    EXPECT_EQ(details->alternativeNames, QStringList({"DNS:localhost", "IP:127.0.0.1"}));
    const QString notAfter = openssl({"x509", "-in", pem, "-noout", "-enddate", "-dateopt", "iso_8601"});
    EXPECT_EQ("notAfter=" + details->notAfter.toString("yyyy-MM-dd HH:mm:ss") + "Z", notAfter);
    EXPECT_LT(details->notBefore, details->notAfter);
}

TEST(CertificateDetails, AnythingButOneWholeCertificateIsRefused) {
    const QByteArray der = derFromPemFile(requiredEnv("TRELLAN_TLS_DIR") + "/server.crt");
    EXPECT_FALSE(CertificateDetails::fromDER(QByteArray()));
    EXPECT_FALSE(CertificateDetails::fromDER(der.left(der.size() - 1)));
    EXPECT_FALSE(CertificateDetails::fromDER(der + '\0'));
    EXPECT_FALSE(CertificateDetails::fromDER("not a certificate"));
}
