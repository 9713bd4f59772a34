// A connection URL from another program (a link in a browser, a later start)
// reaches a server beyond this computer that no favorite names only after the
// user has agreed: connecting offers the client certificate.
#include "FavoritesWindowTestSupport.h"
#include "engine/SSHTunnel.h"
#include "platform/UserDefaults.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

class LinkConsent : public ConnectFixture {
protected:
    static constexpr const char *kQuestion = "Connect to a server that none of your favorites names?";
    QString sshURL() const {
        return QStringLiteral("postgresql+ssh://%1:%2@%3:%4/%5@127.0.0.1:%6/postgres")
            .arg(requiredEnv("TRELLAN_SSH_USER"),
                 QString::fromLatin1(QUrl::toPercentEncoding(requiredEnv("TRELLAN_SSH_PASSWORD"))),
                 requiredEnv("TRELLAN_SSH_HOST"), requiredEnv("TRELLAN_SSH_PORT"), requiredEnv("TRELLAN_PG_TRUST_USER"),
                 requiredEnv("TRELLAN_PG_PORT"));
    }
};

} // namespace

TEST_F(LinkConsent, ALinkToAnUnknownServerAsksFirstNamesItPlainlyAndReturnDeclines) {
    addFavorite("Other", "db.example", "alice", "shop"); // an empty list would start a new favorite
    openWindow();
    ErrorPtr error;
    ASSERT_TRUE(controller->openURL("postgresql://mallory@db.evil.example:5433/loot", &error));
    Alert *question = waitForAlert(kQuestion, std::chrono::seconds(5));
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->informativeText().contains("\n\nHost: db.evil.example\nPort: 5433\nUser: mallory\n"
                                                     "Database: loot\n\n"))
        << question->informativeText().toStdString();
    // It names what this connection offers, and nothing it does not.
    EXPECT_TRUE(
        question->informativeText().contains("Connecting offers this server your client certificate, if you have one."))
        << question->informativeText().toStdString();
    EXPECT_FALSE(question->informativeText().contains("SSH")) << question->informativeText().toStdString();
    EXPECT_EQ(question->defaultButton(), button(question, "Cancel"));
    EXPECT_EQ(model()->favorites().size(), 1u) << "the favorite was made before the user agreed";
    saveScreenshot(question, "link-consent");
    QTest::keyClick(question, Qt::Key_Return);
    ASSERT_TRUE(pumpUntil([&] { return !openAlert(); }));
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(model()->favorites().size(), 1u);
    EXPECT_TRUE(ZNTServerController::sharedController()->servers().empty());

    // A value cannot forge a line of its own, reorder text or fill the screen.
    ASSERT_TRUE(controller->openURL(
        QStringLiteral("postgresql://u@evil%0ADatabase%3A%20safe%E2%80%AE/") + QString(500, 'd'), &error));
    question = waitForAlert(kQuestion, std::chrono::seconds(5));
    ASSERT_TRUE(question);
    const QStringList lines = question->informativeText().split('\n');
    EXPECT_EQ(lines.filter(QRegularExpression("^Database: ")).size(), 1) << lines.join('|').toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression("^Host: evil\uFFFDDatabase: safe\uFFFD$")).size(), 1);
    EXPECT_LT(question->informativeText().size(), 500);
    question->reject();
    ASSERT_TRUE(pumpUntil([&] { return !openAlert(); }));
    EXPECT_EQ(model()->favorites().size(), 1u);
}

TEST_F(LinkConsent, ConsentAddsAndConnectsWhileLocalLinksAndKnownServersNeedNone) {
    UserDefaults::standard().removeObject(SSHTunnel::KnownHostKeysDefaultsKey);
    auto known = addFavorite("Known", "192.0.2.1", "alice", "shop"); // an address that never answers
    openWindow();
    ErrorPtr error;

    // A favorite already names it: connected as it is, without a question.
    ASSERT_TRUE(controller->openURL("postgresql://alice@192.0.2.1/shop", &error));
    EXPECT_FALSE(openAlert());
    EXPECT_TRUE(known->connectionStateBusy);
    controller->cancelConnection(1);
    ASSERT_TRUE(pumpUntil([&] { return !known->connectionStateBusy; }));

    // This computer's own server, as scripts/run hands it over: no question.
    ASSERT_TRUE(controller->openURL(QStringLiteral("postgresql://%1@127.0.0.1:%2/postgres")
                                        .arg(requiredEnv("TRELLAN_PG_TRUST_USER"), requiredEnv("TRELLAN_PG_PORT")),
                                    &error));
    EXPECT_FALSE(openAlert());
    ASSERT_EQ(model()->favorites().size(), 2u);
    ASSERT_TRUE(waitConnected(model()->favorites()[1])) << model()->favorites()[1]->connectionErrorString.toStdString();

    // Through SSH, even to a local database server: asked, and Connect goes on.
    controller->showWindow(); // as the program does for every URL handed over
    ASSERT_TRUE(controller->openURL(sshURL(), &error)) << error->localizedFailureReason().toStdString();
    Alert *question = waitForAlert(kQuestion, std::chrono::seconds(5));
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->informativeText().contains(
        QStringLiteral("SSH host: %1:%2").arg(requiredEnv("TRELLAN_SSH_HOST"), requiredEnv("TRELLAN_SSH_PORT"))));
    // No key file comes with a link: the SSH server is offered none.
    EXPECT_TRUE(question->informativeText().contains("offers the database server your client certificate"))
        << question->informativeText().toStdString();
    EXPECT_FALSE(question->informativeText().contains("SSH keys")) << question->informativeText().toStdString();
    EXPECT_EQ(model()->favorites().size(), 2u);
    QTest::mouseClick(button(question, "Connect"), Qt::LeftButton);
    Alert *trust = waitForAlert("Trust SSH server fingerprint?");
    ASSERT_TRUE(trust);
    QTest::mouseClick(button(trust, "Trust"), Qt::LeftButton);
    ASSERT_EQ(model()->favorites().size(), 3u);
    const auto tunnelled = model()->favorites()[2];
    ASSERT_TRUE(waitConnected(tunnelled)) << tunnelled->connectionErrorString.toStdString();
    EXPECT_EQ(tunnelled->sshHost(), requiredEnv("TRELLAN_SSH_HOST"));
}
