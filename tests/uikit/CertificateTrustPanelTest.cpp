#include "uikit/CertificateTrustPanel.h"
#include "platform/Main.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <future>
#include <gtest/gtest.h>
#include <openssl/pem.h>

namespace {

TrustPanelRequest selfSignedRequest() {
    return {QStringLiteral("Trellan can't verify the identity of the server db.example.com."),
            QStringLiteral("If you connect, you are vulnerable to a man-in-the-middle attack."),
            QStringLiteral("db.example.com"),
            {derFromPemFile(tlsFile("self-signed.crt"))}};
}

CertificateTrustPanel *openPanel() {
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *panel = qobject_cast<CertificateTrustPanel *>(widget); panel && panel->isVisible())
            return panel;
    return nullptr;
}

} // namespace

TEST(CertificateTrustPanel, ReturnNeverConnectsAndCancelHasTheFocus) {
    CertificateTrustPanel panel(selfSignedRequest());
    panel.show();
    QApplication::setActiveWindow(&panel);
    ASSERT_TRUE(pumpUntil([&] { return panel.cancelButton()->hasFocus(); }, std::chrono::seconds(2)))
        << (panel.focusWidget() ? panel.focusWidget()->metaObject()->className() : "no focus");
    QTest::keyClick(&panel, Qt::Key_Return);
    QTest::keyClick(panel.alwaysTrustBox(), Qt::Key_Return);
    QTest::keyClick(panel.connectButton(), Qt::Key_Return);
    QTest::keyClick(panel.connectButton(), Qt::Key_Enter);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_FALSE(panel.answer().connect);
    EXPECT_FALSE(panel.connectButton()->isDefault());

    const QImage shot = panel.grab().toImage();
    EXPECT_TRUE(shot.save("/tmp/trellan-certificate-trust-panel.png"));
}

TEST(CertificateTrustPanel, ConnectAndCancelAnswerWithTheAlwaysTrustChoice) {
    CertificateTrustPanel connect(selfSignedRequest());
    connect.show();
    connect.alwaysTrustBox()->setChecked(true);
    QTest::mouseClick(connect.connectButton(), Qt::LeftButton);
    EXPECT_FALSE(connect.isVisible());
    EXPECT_TRUE(connect.answer().connect);
    EXPECT_TRUE(connect.answer().alwaysTrust);

    CertificateTrustPanel cancel(selfSignedRequest());
    cancel.show();
    cancel.alwaysTrustBox()->setChecked(true);
    QTest::mouseClick(cancel.cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(cancel.isVisible());
    EXPECT_FALSE(cancel.answer().connect);
    EXPECT_FALSE(cancel.answer().alwaysTrust);

    CertificateTrustPanel escape(selfSignedRequest());
    escape.show();
    QTest::keyClick(&escape, Qt::Key_Escape);
    EXPECT_FALSE(escape.isVisible());
    EXPECT_FALSE(escape.answer().connect);
}

TEST(CertificateTrustPanel, ShowsEveryCertificateOfTheChain) {
    TrustPanelRequest request = selfSignedRequest();
    request.chain = {derFromPemFile(tlsFile("server.crt")), derFromPemFile(tlsFile("intermediate-ca.crt")), "garbage"};
    CertificateTrustPanel panel(request);
    const QString text = panel.detailsView()->toPlainText();
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(request.chain[0], QCryptographicHash::Sha256).toHex(':').toUpper());
    EXPECT_TRUE(text.contains(digest)) << text.toStdString();
    EXPECT_TRUE(text.contains("CN=localhost,O=Trellan Tests"));
    EXPECT_TRUE(text.contains("DNS:localhost, IP:127.0.0.1"));
    EXPECT_TRUE(text.contains("CN=Trellan Test Root CA"));
    EXPECT_TRUE(text.contains("cannot be read"));
    EXPECT_TRUE(panel.alwaysTrustBox()->text().contains("db.example.com"));
}

TEST(CertificateTrustPanelPrompter, QueueWaitsForTheSheetWhileTheMainThreadKeepsWorking) {
    QWidget window;
    window.resize(700, 500);
    window.show();
    QApplication::setActiveWindow(&window);
    CertificateTrustPanelPrompter prompter;
    auto answer = std::async(std::launch::async, [&] {
        TrustPanelAnswer given;
        Main::sync([&] { given = prompter.runModalForTrust(selfSignedRequest()); });
        return given;
    });
    // The sheet's own event loop runs this; the test body waits below it.
    bool served = false, sawSheet = false, stillWaiting = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        CertificateTrustPanel *panel = openPanel();
        if (!panel)
            return;
        if (!sawSheet) {
            sawSheet = panel->parentWidget() == &window && panel->windowModality() == Qt::WindowModal;
            Main::post([&] { served = true; });
            return;
        }
        if (!served)
            return;
        stillWaiting = answer.wait_for(std::chrono::milliseconds(0)) == std::future_status::timeout;
        user.stop();
        panel->alwaysTrustBox()->setChecked(true);
        QTest::mouseClick(panel->connectButton(), Qt::LeftButton);
    });
    user.start(20);
    ASSERT_TRUE(pumpUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    const TrustPanelAnswer given = answer.get();
    EXPECT_TRUE(sawSheet);
    EXPECT_TRUE(served);
    EXPECT_TRUE(stillWaiting);
    EXPECT_TRUE(given.connect);
    EXPECT_TRUE(given.alwaysTrust);
    EXPECT_EQ(openPanel(), nullptr);
}

TEST(CertificateTrustPanelPrompter, ClosingTheWindowUnderTheSheetRefusesInsteadOfHanging) {
    auto *window = new QWidget;
    window->show();
    QApplication::setActiveWindow(window);
    QTimer::singleShot(50, [window] { delete window; });
    CertificateTrustPanelPrompter prompter;
    const TrustPanelAnswer given = prompter.runModalForTrust(selfSignedRequest());
    EXPECT_FALSE(given.connect);
    EXPECT_EQ(openPanel(), nullptr);
}
