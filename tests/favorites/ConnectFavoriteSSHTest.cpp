#include "FavoritesWindowTestSupport.h"
#include "engine/SSHTunnel.h"
#include "platform/UserDefaults.h"

#include <QCheckBox>

namespace {

class ConnectSSH : public ConnectFixture {
protected:
    void SetUp() override {
        ConnectFixture::SetUp();
        // Every test meets the SSH server for the first time.
        UserDefaults::standard().removeObject(SSHTunnel::KnownHostKeysDefaultsKey);
    }
    std::shared_ptr<ZNTFavorite> tunnelled(const QString &name) {
        auto favorite = addFavorite(name, "127.0.0.1", requiredEnv("TRELLAN_PG_TRUST_USER"), "postgres");
        favorite->setPort(requiredEnv("TRELLAN_PG_PORT").toInt());
        favorite->setSshEnabled(true);
        favorite->setSshHost(requiredEnv("TRELLAN_SSH_HOST"));
        favorite->setSshPort(requiredEnv("TRELLAN_SSH_PORT").toInt());
        favorite->setSshUser(requiredEnv("TRELLAN_SSH_USER"));
        return favorite;
    }
    QByteArray acceptedKey() const {
        return SSHTunnel::keyForHost(requiredEnv("TRELLAN_SSH_HOST"), requiredEnv("TRELLAN_SSH_PORT").toUInt());
    }
    // Answers the first-contact question with Trust.
    void trustHostKey() {
        Alert *trust = waitForAlert("Trust SSH server fingerprint?");
        ASSERT_TRUE(trust);
        QTest::mouseClick(button(trust, "Trust"), Qt::LeftButton);
    }
};

} // namespace

TEST_F(ConnectSSH, ANewHostKeyIsTrustedOnlyByTheTrustButton) {
    auto favorite = tunnelled("Gateway");
    favorite->setSshPassword(requiredEnv("TRELLAN_SSH_PASSWORD"));
    openWindow();
    controller->connectToFavorite(1);
    Alert *trust = waitForAlert("Trust SSH server fingerprint?");
    ASSERT_TRUE(trust) << favorite->connectionErrorString.toStdString();
    EXPECT_TRUE(trust->informativeText().startsWith(
        QStringLiteral("You have never connected to the SSH server %1 on port %2 before.")
            .arg(requiredEnv("TRELLAN_SSH_HOST"), requiredEnv("TRELLAN_SSH_PORT"))));
    QTest::keyClick(trust, Qt::Key_Return);
    ASSERT_TRUE(pumpUntil([&] { return !openAlert(); }));
    EXPECT_TRUE(acceptedKey().isEmpty()) << "Return trusted the key";
    EXPECT_TRUE(favorite->connectionStateError);

    controller->connectToFavorite(1);
    trustHostKey();
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    EXPECT_FALSE(acceptedKey().isEmpty());
}

TEST_F(ConnectSSH, AnEncryptedKeyAsksForItsPassphraseAgainAfterAWrongOne) {
    auto favorite = tunnelled("Key");
    favorite->setSshPrivateKeyBookmark((requiredEnv("TRELLAN_SSH_KEY_DIR") + "/id_ed25519_enc").toUtf8());
    openWindow();
    controller->connectToFavorite(1);
    trustHostKey();
    Alert *prompt = waitForAlert("Encrypted Private Key");
    ASSERT_TRUE(prompt) << favorite->connectionErrorString.toStdString();
    EXPECT_FALSE(prompt->accessoryView()->findChild<QCheckBox *>()->isChecked());
    secretField(prompt)->setText("not the passphrase");
    QTest::keyClick(secretField(prompt), Qt::Key_Return);

    prompt = waitForAlert("Incorrect Passphrase");
    ASSERT_TRUE(prompt) << favorite->connectionErrorString.toStdString();
    secretField(prompt)->setText(requiredEnv("TRELLAN_SSH_KEY_PASSPHRASE"));
    QTest::keyClick(secretField(prompt), Qt::Key_Return);
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    EXPECT_EQ(favorite->sshPrivateKeyPassphrase, requiredEnv("TRELLAN_SSH_KEY_PASSPHRASE"));
}

TEST_F(ConnectSSH, AKeyboardInteractiveLoginIsAnsweredInASheet) {
    auto favorite = tunnelled("Interactive");
    openWindow();
    controller->connectToFavorite(1);
    trustHostKey();
    Alert *sheet = waitForAlert("Keyboard Interactive Authentication");
    ASSERT_TRUE(sheet) << favorite->connectionErrorString.toStdString();
    const QList<QLineEdit *> fields = sheet->accessoryView()->findChildren<QLineEdit *>();
    ASSERT_FALSE(fields.isEmpty());
    fields.front()->setText(requiredEnv("TRELLAN_SSH_PASSWORD"));
    QTest::mouseClick(button(sheet, "Connect"), Qt::LeftButton);
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
}

TEST_F(ConnectSSH, AChangedHostKeyIsAWarningThatOnlyConnectAnywayOverrides) {
    auto favorite = tunnelled("Changed");
    favorite->setSshPassword(requiredEnv("TRELLAN_SSH_PASSWORD"));
    openWindow();
    controller->connectToFavorite(1);
    trustHostKey();
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    const QByteArray realKey = acceptedKey();
    controller->disconnectFromFavorite(1);
    ASSERT_TRUE(pumpUntil([&] { return !favorite->connectionStateConnected; }));

    // What the user accepted earlier is not what the server shows now.
    const QByteArray earlier = QByteArray("an ed25519 key the server no longer has").leftJustified(51, '.');
    SSHTunnel::addKey(earlier, requiredEnv("TRELLAN_SSH_HOST"), requiredEnv("TRELLAN_SSH_PORT").toUInt());
    controller->connectToFavorite(1);
    Alert *warning = waitForAlert("The SSH server's fingerprint has changed");
    ASSERT_TRUE(warning) << favorite->connectionErrorString.toStdString();
    EXPECT_EQ(warning->alertStyle(), Alert::Style::Critical);
    QTest::keyClick(warning, Qt::Key_Return);
    ASSERT_TRUE(pumpUntil([&] { return !openAlert(); }));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(acceptedKey(), earlier) << "Return replaced the accepted key";
    EXPECT_FALSE(favorite->connectionStateBusy);

    controller->connectToFavorite(1);
    warning = waitForAlert("The SSH server's fingerprint has changed");
    ASSERT_TRUE(warning);
    QTest::mouseClick(button(warning, "Connect Anyway"), Qt::LeftButton);
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    EXPECT_EQ(acceptedKey(), realKey);
}
