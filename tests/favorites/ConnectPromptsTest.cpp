#include "engine/SSHTunnel.h"
#include "favorites/FavoriteConnectPrompts.h"

#include <gtest/gtest.h>

using Kind = ConnectPrompt::Kind;

namespace {

ConnectFailure sshFailure(int code, int port = 0) {
    ConnectFailure f;
    f.sshEnabled = true;
    f.sshHost = "gw";
    f.sshPort = port;
    f.error = Error::make(
        SSHTunnel::ErrorDomain, code,
        {{SSHTunnel::FingerprintDictionaryKey, "aa:bb"}, {SSHTunnel::PreviousFingerprintDictionaryKey, "cc:dd"}});
    return f;
}

} // namespace

TEST(ConnectPrompts, TheFirstMatchingNeedDecidesThePrompt) {
    ConnectFailure f = sshFailure(SSHTunnel::ErrorHostKeyNotVerified);
    f.needsPassword = f.needsPlainTextConnection = true;
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(f).kind, Kind::Password);
    f.needsPassword = false;
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(f).kind, Kind::PlainText);
    f.needsPlainTextConnection = false;
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(f).kind, Kind::TrustHostKey);

    EXPECT_EQ(FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorHostKeyChanged)).kind, Kind::ChangedHostKey);
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorPrivateKeyEncrypted)).message,
              "Encrypted Private Key");
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorPassphraseIncorrect)).message,
              "Incorrect Passphrase");
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(sshFailure(1)).kind, Kind::None);

    ConnectFailure otherDomain;
    otherDomain.error = Error::make(kBundleIdentifier, SSHTunnel::ErrorHostKeyNotVerified);
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(otherDomain).kind, Kind::None);
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(ConnectFailure{}).kind, Kind::None);
}

TEST(ConnectPrompts, ReturnAcceptsOnlyWhereASecretIsTyped) {
    ConnectFailure password;
    password.needsPassword = true;
    password.serverName = "Prod";
    password.savePassword = true;
    const ConnectPrompt p = FavoriteConnectPrompts::promptFor(password);
    EXPECT_TRUE(p.returnAccepts && p.asksSecret && p.checkboxOn);
    EXPECT_EQ(p.informative, "Please provide password for Prod:");

    for (int code : {SSHTunnel::ErrorHostKeyNotVerified, SSHTunnel::ErrorHostKeyChanged}) {
        const ConnectPrompt prompt = FavoriteConnectPrompts::promptFor(sshFailure(code));
        EXPECT_FALSE(prompt.returnAccepts) << code;
        EXPECT_FALSE(prompt.asksSecret) << code;
    }
    ConnectFailure plain;
    plain.needsPlainTextConnection = true;
    EXPECT_FALSE(FavoriteConnectPrompts::promptFor(plain).returnAccepts);
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(plain).message, "Connect without encryption?");
    plain.sshEnabled = true;
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(plain).message, "Connect without SSL?");

    const ConnectPrompt passphrase = FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorPrivateKeyEncrypted));
    EXPECT_TRUE(passphrase.returnAccepts && passphrase.asksSecret);
    EXPECT_FALSE(passphrase.checkboxOn);
}

TEST(ConnectPrompts, HostKeyTextsNameHostPortAndFingerprints) {
    EXPECT_EQ(FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorHostKeyNotVerified)).informative,
              "You have never connected to the SSH server gw before. The fingerprint is aa:bb. Do you want to trust "
              "this server?");
    EXPECT_TRUE(FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorHostKeyNotVerified, 2222))
                    .informative.startsWith("You have never connected to the SSH server gw on port 2222 before."));
    const ConnectPrompt changed = FavoriteConnectPrompts::promptFor(sshFailure(SSHTunnel::ErrorHostKeyChanged));
    EXPECT_TRUE(changed.critical);
    EXPECT_TRUE(changed.informative.contains("aa:bb") && changed.informative.contains("cc:dd"));
}

TEST(ConnectPrompts, SheetsHangFromTheVisiblePartOfTheirRowInsideTheWindow) {
    const QRect content(0, 0, 400, 600);
    const QSize sheet(300, 140);
    EXPECT_EQ(FavoriteConnectPrompts::sheetOrigin(QRect(0, 100, 400, 60), content, sheet), QPoint(50, 106));
    // Half scrolled out at the top: the sheet hangs from the visible part.
    EXPECT_EQ(FavoriteConnectPrompts::sheetOrigin(QRect(0, -30, 400, 60), content, QSize(200, 140)), QPoint(100, 6));
    EXPECT_EQ(FavoriteConnectPrompts::sheetOrigin(QRect(0, 700, 400, 60), content, sheet), std::nullopt);
    EXPECT_EQ(FavoriteConnectPrompts::sheetOrigin(QRect(0, -80, 400, 60), content, sheet), std::nullopt);
    // The last row of a full window: the sheet rises until its foot is the window's.
    EXPECT_EQ(FavoriteConnectPrompts::sheetOrigin(QRect(0, 560, 400, 60), content, sheet), QPoint(50, 460));
    // A narrow window: the sheet starts at its left edge, never left of it.
    EXPECT_EQ(FavoriteConnectPrompts::sheetOrigin(QRect(0, 100, 360, 60), QRect(0, 0, 360, 600), QSize(420, 140)),
              QPoint(0, 106));
}
