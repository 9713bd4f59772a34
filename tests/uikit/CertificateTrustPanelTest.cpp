#include "uikit/CertificateTrustPanel.h"
#include "platform/Main.h"
#include "support/PlainTextSupport.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
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

    EXPECT_TRUE(saveScreenshot(&panel, "uikit", "certificate-trust-panel.png"));
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

TEST(CertificateTrustPanel, TheServersNamesAndCertificateFieldsShowAsText) {
    // A certificate whose subject and names are markup, as a hostile server may send.
    QTemporaryDir dir;
    const QString key = dir.filePath("k.pem"), cert = dir.filePath("c.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                              "-keyout", key, "-out", cert, "-days", "1", "-subj",
                              "/CN=" + QString(kMarkup).replace('/', "\\/").replace('=', "\\="), "-addext",
                              "subjectAltName=DNS:<b>x</b><img"});
    ASSERT_TRUE(openssl.waitForFinished(30000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    TrustPanelRequest request{"Trellan can't verify the identity of the server " + kMarkup + ".",
                              "The certificate names " + kMarkup + ", not the host you asked for.",
                              kMarkup,
                              {derFromPemFile(cert)}};
    CertificateTrustPanel panel(request);
    EXPECT_TRUE(labelsRenderingMarkup(&panel).isEmpty()) << labelsRenderingMarkup(&panel).join('|').toStdString();
    EXPECT_EQ(labelsShowingMarkup(&panel), 2);
    EXPECT_TRUE(panel.alwaysTrustBox()->text().contains(kMarkup));
    const QString details = panel.detailsView()->toPlainText();
    // The subject as the certificate spells it (RFC 2253 escapes included), never rendered.
    EXPECT_TRUE(details.contains(R"(CN=\<b\>x\</b\>\<img src=)")) << details.toStdString();
    EXPECT_TRUE(details.contains("DNS:<b>x</b><img"));
}

namespace {
// Every answer a prompter gave, in order.
struct Answers {
    std::vector<TrustPanelAnswer> given;
    std::function<void(TrustPanelAnswer)> sink() {
        return [this](TrustPanelAnswer answer) { given.push_back(answer); };
    }
};
} // namespace

// No event loop of its own: the sheet is open when the call returns, and the
// answer comes later through the callback, once.
TEST(CertificateTrustPanelPrompter, OpensASheetAndAnswersOnceWhenTheUserClicks) {
    QWidget window;
    window.resize(700, 500);
    window.show();
    QApplication::setActiveWindow(&window);
    CertificateTrustPanelPrompter prompter;
    Answers answers;
    const auto close = prompter.beginTrustPanel(selfSignedRequest(), answers.sink());
    CertificateTrustPanel *panel = openPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->parentWidget(), &window);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(answers.given.empty());

    panel->alwaysTrustBox()->setChecked(true);
    QTest::mouseClick(panel->connectButton(), Qt::LeftButton);
    ASSERT_EQ(answers.given.size(), 1u);
    EXPECT_TRUE(answers.given[0].connect);
    EXPECT_TRUE(answers.given[0].alwaysTrust);
    close(); // after the answer: nothing more
    EXPECT_TRUE(pumpUntil([] { return openPanel() == nullptr; }));
    EXPECT_EQ(answers.given.size(), 1u);
}

TEST(CertificateTrustPanelPrompter, ClosingFromOutsideOrLosingTheWindowRefuses) {
    CertificateTrustPanelPrompter prompter;
    Answers closed;
    const auto close = prompter.beginTrustPanel(selfSignedRequest(), closed.sink());
    ASSERT_NE(openPanel(), nullptr);
    close();
    close();
    ASSERT_EQ(closed.given.size(), 1u);
    EXPECT_FALSE(closed.given[0].connect);

    auto *window = new QWidget;
    window->show();
    QApplication::setActiveWindow(window);
    Answers lost;
    prompter.beginTrustPanel(selfSignedRequest(), lost.sink());
    delete window;
    ASSERT_EQ(lost.given.size(), 1u);
    EXPECT_FALSE(lost.given[0].connect);
    EXPECT_TRUE(pumpUntil([] { return openPanel() == nullptr; }));
}
