#include "TestSupport.h"
#include "app/DefaultSettings.h"
#include "app/TqbUpdateChecker.h"
#include "app/ZNTHelpWindowController.h"
#include "app/ZNTPreferenceWindowController.h"
#include "engine/LoopbackSockets.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/PlainTextSupport.h"
#include "support/Screenshots.h"
#include "uikit/CloseKeys.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

// Clicks the link whose text is text, as the user would.
void clickLink(QTextBrowser *browser, const QString &text) {
    QTextCursor cursor = browser->document()->find(text);
    ASSERT_FALSE(cursor.isNull()) << text.toStdString();
    cursor.setPosition(cursor.selectionStart() + 1);
    const QPoint at = browser->cursorRect(cursor).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
}

struct HelpWindow : ::testing::Test {
    void SetUp() override {
        help.showHelpTopic("index");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
    }
    ZNTHelpWindowController help;
};

} // namespace

TEST_F(HelpWindow, FollowingAPageLinkEnablesBackAndGoingBackEnablesForward) {
    EXPECT_EQ(help.windowTitle(), "Trellan Help");
    EXPECT_FALSE(help.backButton()->isEnabled());
    EXPECT_FALSE(help.forwardButton()->isEnabled());
    saveScreenshot(&help, "app", "help-index.png");

    clickLink(help.webview(), "The favorites window");
    EXPECT_EQ(help.webview()->source(), ZNTHelpWindowController::urlForTopic("favorite-window"));
    EXPECT_EQ(help.windowTitle(), "The Favorites Window");
    EXPECT_TRUE(help.backButton()->isEnabled());
    EXPECT_FALSE(help.forwardButton()->isEnabled());
    saveScreenshot(&help, "app", "help-favorite-window.png");

    QTest::mouseClick(help.backButton(), Qt::LeftButton);
    EXPECT_EQ(help.windowTitle(), "Trellan Help");
    EXPECT_FALSE(help.backButton()->isEnabled());
    EXPECT_TRUE(help.forwardButton()->isEnabled());
    help.backForward(1);
    EXPECT_EQ(help.webview()->source(), ZNTHelpWindowController::urlForTopic("favorite-window"));
}

TEST_F(HelpWindow, AWebLinkGoesToTheDesktopAndThePageStays) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    clickLink(help.webview(), "postgresql.org/docs");
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl("https://www.postgresql.org/docs/")});
    EXPECT_EQ(help.webview()->source(), ZNTHelpWindowController::urlForTopic("index"));
    EXPECT_FALSE(help.backButton()->isEnabled());
}

TEST_F(HelpWindow, CtrlWAndEscapeCloseItWhateverTheDesktopsKeyScheme) {
    help.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&help));
    QTest::keyClick(&help, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !help.isVisible(); }));

    help.showHelpTopic("index");
    help.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&help));
    QTest::keyClick(&help, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !help.isVisible(); }));
}

TEST(HelpPages, EveryPageHasATitleAndEveryLinkBetweenPagesLeadsToAPage) {
    int pages = 0;
    for (QDirIterator it(":/help"); it.hasNext();) {
        const QString path = it.next();
        SCOPED_TRACE(path.toStdString());
        ++pages;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(QRegularExpression("<title>[^<]+</title>").match(html).hasMatch());
        auto links = QRegularExpression("href=\"([^\"]+)\"").globalMatch(html);
        while (links.hasNext()) {
            const QString target = links.next().captured(1);
            if (!target.startsWith("https://")) {
                EXPECT_TRUE(QFile::exists(":/help/" + target)) << target.toStdString();
            }
        }
    }
    EXPECT_GE(pages, 3);
    for (const char *topic : {"index", "favorite-window", "changelist"})
        EXPECT_TRUE(QFile::exists(ZNTHelpWindowController::urlForTopic(topic).path().prepend(':'))) << topic;
}

TEST(PreferenceWindow, LastCheckLineShowsNeverThenWhyTheCheckFailed) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    auto checker = TqbUpdateChecker::make(defaults);
    ZNTPreferenceWindowController preferences(checker, defaults);
    preferences.showWindow();
    EXPECT_EQ(preferences.lastUpdateCheckTextField()->text(), "Last Check: Never");

    RefusingPort closed;
    ASSERT_NE(closed.port(), 0);
    checker->setBaseURLForTesting(QUrl(QString("http://127.0.0.1:%1").arg(closed.port())));
    checker->checkForUpdates();
    ASSERT_TRUE(pumpUntil([&] { return !checker->lastErrorMessage().isEmpty(); }));
    EXPECT_EQ(preferences.lastUpdateCheckTextField()->text(), checker->lastErrorMessage());
    EXPECT_TRUE(preferences.lastUpdateCheckTextField()->text().startsWith("Failed to check for updates. "));
    saveScreenshot(&preferences, "app", "preferences-failed-check.png");

    const QDateTime when(QDate(2024, 2, 3), QTime(4, 5));
    EXPECT_EQ(lastUpdateCheckText("Failed.", when), "Failed.");
    // The date in the medium style: neither the ambiguous short one nor the long
    // one with its weekday.
    EXPECT_EQ(lastUpdateCheckText(QString(), when, QLocale(QLocale::German, QLocale::Germany)),
              "Last Check: 3. Feb. 2024 04:05");
    EXPECT_TRUE(lastUpdateCheckText(QString(), when, QLocale(QLocale::English, QLocale::UnitedStates))
                    .startsWith("Last Check: Feb 3, 2024 4:05"));
    EXPECT_TRUE(lastUpdateCheckText(QString(), when, QLocale(QLocale::English, QLocale::UnitedKingdom))
                    .startsWith("Last Check: 3 Feb 2024 04:05"));
}

TEST(PreferenceWindow, AFailureQuotingTheServerIsShownAsText) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    auto checker = TqbUpdateChecker::make(defaults);
    ZNTPreferenceWindowController preferences(checker, defaults);
    preferences.showWindow();
    checker->setLastErrorMessage("Failed to check for updates. " + kMarkup);
    NotificationCenter::defaultCenter().post(TqbUpdateStatusChangedNotification, checker);
    EXPECT_EQ(shownText(preferences.lastUpdateCheckTextField()), "Failed to check for updates. " + kMarkup);
}

TEST(PreferenceWindow, CtrlWAndEscapeCloseItWhateverTheDesktopsKeyScheme) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    ZNTPreferenceWindowController preferences(TqbUpdateChecker::make(defaults), defaults);
    for (const QKeySequence keys : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)}) {
        preferences.showWindow();
        preferences.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&preferences));
        QTest::keySequence(&preferences, keys);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !preferences.isVisible(); })) << keys.toString().toStdString();
    }
}

// Where the platform's Close is Ctrl+W alone (Qt's own X11 key scheme), a close
// action that held Ctrl+W beside it held it twice, and Qt closed nothing.
TEST(CloseKeys, CtrlWAndEscapeComeOnceWhateverThePlatformsCloseKeys) {
    const QKeySequence ctrlW(Qt::CTRL | Qt::Key_W), ctrlF4(Qt::CTRL | Qt::Key_F4);
    auto keys = [](const QList<QKeySequence> &platformClose) {
        return QKeySequence::listToString(uv_closeKeys(platformClose)).toStdString();
    };
    EXPECT_EQ(keys({ctrlW}), "Ctrl+W; Esc");
    EXPECT_EQ(keys({ctrlF4, ctrlW}), "Ctrl+W; Ctrl+F4; Esc");
}

TEST(PreferenceWindow, ControlsShowAndWriteTheirSettings) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    RegisterDefaultSettings(defaults);
    defaults.setObject(true, "DontCountRows");
    ZNTPreferenceWindowController preferences(TqbUpdateChecker::make(defaults), defaults);
    EXPECT_TRUE(preferences.automaticUpdateCheckBox()->isChecked());
    EXPECT_TRUE(preferences.trustStandardAuthoritiesBox()->isChecked());
    EXPECT_EQ(preferences.rowsPerPageBox()->value(), 1000);
    EXPECT_FALSE(preferences.countRowsBox()->isChecked());
    EXPECT_FALSE(preferences.showSystemCatalogsBox()->isChecked());

    QTest::mouseClick(preferences.trustStandardAuthoritiesBox(), Qt::LeftButton);
    EXPECT_FALSE(defaults.boolForKey("TrustStandardCertificateAuthorities"));
    preferences.countRowsBox()->setChecked(true);
    EXPECT_FALSE(defaults.boolForKey("DontCountRows"));
    preferences.rowsPerPageBox()->setValue(250);
    EXPECT_EQ(defaults.integerForKey("TableViewRowsPerPage"), 250);

    // A change made elsewhere shows at once.
    defaults.setObject(true, "ShowSystemCatalogsInSidebar");
    EXPECT_TRUE(preferences.showSystemCatalogsBox()->isChecked());
    saveScreenshot(&preferences, "app", "preferences.png");
}

#include "HelpAndPreferencesTest.moc"
