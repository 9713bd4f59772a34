#include "favorites/UpdateStatus.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
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

TEST(UpdateStatus, DigitRunsCompareAsNumbers) {
    using UpdateStatus::compareVersionsNumerically;
    EXPECT_GT(compareVersionsNumerically("2.10", "2.9"), 0);
    EXPECT_LT(compareVersionsNumerically("2.9", "2.10"), 0);
    EXPECT_EQ(compareVersionsNumerically("1.02", "1.2"), 0);
    EXPECT_GT(compareVersionsNumerically("0.1.1", "0.1"), 0);
    EXPECT_GT(compareVersionsNumerically("12345678901234567890.1", "9.1"), 0);
    EXPECT_EQ(compareVersionsNumerically("0.1.0", "0.1.0"), 0);
}

#include "UpdateStatusTest.moc"
