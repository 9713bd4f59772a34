#include "favorites/UpdateStatus.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
#include "support/PlainTextSupport.h"
#include "support/Screenshots.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};
} // namespace

TEST(UpdateStatusView, ShowsTheVersionAndOffersOnlyANewerOne) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    ZNTUpdateStatusView view(defaults);
    view.resize(420, 30);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(view.versionTextField()->text(), "v" + SystemInfo::shortVersionString());
    EXPECT_FALSE(view.updateInfoTextField()->isVisible());
    EXPECT_FALSE(view.updateDownloadButton()->isVisible());

    const QString newer = "9.10", running = SystemInfo::shortVersionString();
    defaults.setObject(QVariantMap{{"latestVersion", running}}, UpdateStatus::LatestUpdateInformation);
    NotificationCenter::defaultCenter().post(UpdateStatus::StatusChangedNotification, nullptr);
    EXPECT_FALSE(view.updateDownloadButton()->isVisible());

    defaults.setObject(QVariantMap{{"latestVersion", newer}, {"downloadURL", "https://example.org/t-9.10.tar.gz"}},
                       UpdateStatus::LatestUpdateInformation);
    NotificationCenter::defaultCenter().post(UpdateStatus::StatusChangedNotification, nullptr);
    EXPECT_TRUE(view.updateInfoTextField()->isVisible());
    EXPECT_EQ(view.updateInfoTextField()->text(), QString::fromUtf8("Update available: Version\u00a09.10"));
    saveScreenshot(&view, "favorites", "update-status.png");

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QTest::mouseClick(view.updateDownloadButton(), Qt::LeftButton);
    defaults.setObject(QVariantMap{{"latestVersion", newer}}, UpdateStatus::LatestUpdateInformation);
    view.openDownloadURL();
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(catcher.urls, (QList<QUrl>{QUrl("https://example.org/t-9.10.tar.gz"), UpdateStatus::productPage()}));
}

TEST(UpdateStatusView, TheAnnouncedVersionIsShownAsTextAndOnlyAnHttpsDownloadIsOpened) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    ZNTUpdateStatusView view(defaults);
    defaults.setObject(QVariantMap{{"latestVersion", "99.0 " + kMarkup}}, UpdateStatus::LatestUpdateInformation);
    view.updateStatusChanged();
    EXPECT_EQ(shownText(view.updateInfoTextField()),
              QString::fromUtf8("Update available: Version\u00a099.0 ") + kMarkup);

    // Each of these would be opened by whatever handles it on the desktop,
    // this program included for a connection URL.
    UrlCatcher catcher;
    const QStringList schemes{"https", "file", "postgresql", "javascript", "http"};
    for (const QString &scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, &catcher, "open");
    const QStringList refused{"file:///etc/passwd",  "postgresql://mallory@evil.example/db",
                              "javascript:alert(1)", "http://example.org/t.tar.gz",
                              "https:///no-host",    "not a url at all"};
    for (const QString &address : refused) {
        defaults.setObject(QVariantMap{{"latestVersion", "99.0"}, {"downloadURL", address}},
                           UpdateStatus::LatestUpdateInformation);
        EXPECT_EQ(UpdateStatus::downloadURL(defaults), QUrl()) << address.toStdString();
        view.openDownloadURL();
    }
    for (const QString &scheme : schemes)
        QDesktopServices::unsetUrlHandler(scheme);
    EXPECT_EQ(catcher.urls, QList<QUrl>(refused.size(), UpdateStatus::productPage()));
}

TEST(UpdateStatus, AnswersAreDecodedWithoutTheNetworkAndTooLongOnesRefused) {
    QString failure;
    auto answer =
        UpdateStatus::answerFromBytes(R"({"latestVersion": "2.10", "notes": null, "list": [1, null]})", &failure);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (QVariantMap{{"latestVersion", "2.10"}, {"list", QVariantList{1}}}));
    EXPECT_FALSE(UpdateStatus::answerFromBytes(QByteArray(UpdateStatus::kMaxAnswerSize + 1, ' '), &failure));
    EXPECT_EQ(failure, "Failed to check for updates because the server response was too long.");
    EXPECT_FALSE(UpdateStatus::answerFromBytes("[1]", &failure));
    EXPECT_EQ(failure, "Failed to check for updates because the server responded with an invalid object.");
    EXPECT_FALSE(UpdateStatus::answerFromBytes(QByteArray(5000, '['), &failure));
    EXPECT_TRUE(failure.startsWith("Failed to check for updates because the server response could not be decoded. "));
}

TEST(UpdateStatus, DigitRunsCompareAsNumbers) {
    using UpdateStatus::compareVersionsNumerically;
    EXPECT_GT(compareVersionsNumerically("2.10", "2.9"), 0);
    EXPECT_LT(compareVersionsNumerically("2.9", "2.10"), 0);
    EXPECT_EQ(compareVersionsNumerically("1.02", "1.2"), 0);
    EXPECT_GT(compareVersionsNumerically("0.1.1", "0.1"), 0);
    EXPECT_GT(compareVersionsNumerically("12345678901234567890.1", "9.1"), 0);
    EXPECT_EQ(compareVersionsNumerically("0.1.0", "0.1.0"), 0);
}

TEST(UpdateStatus, OnlyASCIIDigitsAreNumbersSoTheOrderStaysConsistent) {
    using UpdateStatus::compareVersionsNumerically;
    // NKo digit zero is a digit to Unicode: compared as a number with "10" and as
    // a character with "a", it ordered "a" < it < "10" < "a".
    const QString nko(QChar(0x07C0));
    EXPECT_GT(compareVersionsNumerically("a", "10"), 0);
    EXPECT_LT(compareVersionsNumerically("a", nko), 0);
    EXPECT_GT(compareVersionsNumerically(nko, "10"), 0);
}

#include "UpdateStatusTest.moc"
