// Every window of the program opens inside the free area of its screen, frame
// included, however large its own default: on a 1600x1000 screen at double
// size (800x500 points) and on a small screen at normal size. Each case runs
// in a process of its own, on an offscreen screen of that size.
#include "TestSupport.h"
#include "app/ZNTApplicationDelegate.h"
#include "app/ZNTHelpWindowController.h"
#include "app/ZNTPreferenceWindowController.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerController.h"
#include "platform/SecretStore.h"
#include "support/Screenshots.h"
#include "uikit/AlertSheet.h"
#include "window/ZNTWindowController.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The offscreen platform with one screen of that size, and window frames.
QString screenPlatform(const QTemporaryDir &dir, int width, int height) {
    const QString path = dir.filePath("screen.json");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString(R"({"windowFrameMargins": true, "screens": [{"name": "small", "x": 0, "y": 0,
                          "width": %1, "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                   .arg(width)
                   .arg(height)
                   .toUtf8());
    return "offscreen:configfile=" + path;
}

std::string rectText(const QRect &r) {
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

void expectInside(QWidget *window, const char *what) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window)) << what;
    pumpFor(std::chrono::milliseconds(20));
    const QRect available = window->screen()->availableGeometry();
    EXPECT_TRUE(available.contains(window->frameGeometry()))
        << what << ": " << rectText(window->frameGeometry()) << " on " << rectText(available);
    EXPECT_GE(window->width(), window->minimumWidth()) << what;
    EXPECT_GE(window->height(), window->minimumHeight()) << what;
}

// A sheet or dialog opens over the middle of its window, as Qt centres it.
void expectCentredOver(QWidget *dialog, QWidget *owner, const char *what) {
    const QRect dialogFrame = dialog->frameGeometry(), ownerFrame = owner->frameGeometry();
    EXPECT_LE(std::abs(dialogFrame.center().x() - ownerFrame.center().x()), 8)
        << what << ": " << rectText(dialogFrame) << " over " << rectText(ownerFrame);
    EXPECT_TRUE(ownerFrame.intersects(dialogFrame)) << what;
}

void openEveryWindow() {
    SecretStore::setShared(std::make_shared<MemorySecretStore>());
    QTemporaryDir dir;
    auto store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
    ErrorPtr error;
    ASSERT_TRUE(store->open(&error));
    auto app = std::make_unique<ZNTApplicationDelegate>();
    app->applicationWillFinishLaunching(store);
    app->applicationDidFinishLaunching({});
    QWidget *favorites = app->favoritesWindowController()->window();
    expectInside(favorites, "favorites window");
    saveScreenshot(favorites, "app", QString("fit-favorites-%1.png").arg(qgetenv("QT_SCALE_FACTOR")));

    ZNTHelpWindowController::sharedController().showHelpTopic("index");
    expectInside(&ZNTHelpWindowController::sharedController(), "help window");
    ZNTPreferenceWindowController::sharedController().showWindow();
    expectInside(&ZNTPreferenceWindowController::sharedController(), "preferences window");

    // Nothing listens on port 1: the database page's listing fails at once,
    // and its alert is a sheet of the main window.
    auto server = ZNTServer::create({{"host", "127.0.0.1"}, {"port", "1"}, {"dbname", "shop"}});
    auto window = ZNTWindowController::create(server->mainDatabase());
    window->showWindow();
    expectInside(window.get(), "main window");
    Alert *failure = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (failure = qobject_cast<Alert *>(QApplication::activeModalWidget())); }));
    expectInside(failure, "sheet");
    expectCentredOver(failure, window.get(), "sheet");
    failure->reject();
    auto *panel = new QFileDialog(window.get(), "Export");
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->open();
    expectInside(panel, "file dialog");
    expectCentredOver(panel, window.get(), "file dialog");
    panel->close();
    window->close();
    ZNTServerController::sharedController()->discardAllServers();
    app.reset();
    pumpFor(std::chrono::milliseconds(20));
}

} // namespace

// New Window on a screen with room to spare: the second window steps down
// from the first instead of hiding it, and both are inside.
TEST(WindowsFitTheScreen, ASecondMainWindowStepsDownFromTheFirst) {
    if (!isChildRun()) {
        QTemporaryDir dir;
        runCurrentTestInChild({{"QT_QPA_PLATFORM", screenPlatform(dir, 1920, 1200)}, {"QT_SCALE_FACTOR", "1"}});
        return;
    }
    auto app = std::make_unique<ZNTApplicationDelegate>();
    SecretStore::setShared(std::make_shared<MemorySecretStore>());
    QTemporaryDir dir;
    auto store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
    ErrorPtr error;
    ASSERT_TRUE(store->open(&error));
    app->applicationWillFinishLaunching(store);
    auto server = ZNTServer::create({{"host", "127.0.0.1"}, {"port", "1"}, {"dbname", "shop"}});
    auto first = ZNTWindowController::create(server->mainDatabase());
    first->showWindow();
    expectInside(first.get(), "first window");
    auto second = ZNTWindowController::create(server->mainDatabase());
    second->showWindow();
    expectInside(second.get(), "second window");
    EXPECT_EQ(second->frameGeometry().topLeft() - first->frameGeometry().topLeft(), QPoint(28, 28));
    while (QWidget *modal = QApplication::activeModalWidget())
        modal->close();
    first->close();
    second->close();
    ZNTServerController::sharedController()->discardAllServers();
    app.reset();
}

TEST(WindowsFitTheScreen, AtDoubleSizeOnA1600By1000Screen) {
    if (isChildRun()) {
        openEveryWindow();
        return;
    }
    QTemporaryDir dir;
    runCurrentTestInChild({{"QT_QPA_PLATFORM", screenPlatform(dir, 1600, 1000)}, {"QT_SCALE_FACTOR", "2"}});
}

TEST(WindowsFitTheScreen, AtNormalSizeOnASmallScreen) {
    if (isChildRun()) {
        openEveryWindow();
        return;
    }
    QTemporaryDir dir;
    runCurrentTestInChild({{"QT_QPA_PLATFORM", screenPlatform(dir, 1024, 600)}, {"QT_SCALE_FACTOR", "1"}});
}
