#include "app/StandInMainWindow.h"
#include "model/ZNTServer.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

TEST(StandInMainWindow, NamesTheServerAndClosingItEndsTheServersWindows) {
    int quits = 0;
    ZNTServer::setWindowControllerFactory(StandInMainWindowController::factory([&] { ++quits; }));
    auto server = ZNTServer::create({{"host", "db.example"}, {"dbname", "shop"}});
    server->setName("Prod");
    int allClosed = 0;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTServer::AllWindowsClosedNotification, server.get(), [&](const Notification &) { ++allClosed; });

    server->showMainWindow();
    ASSERT_EQ(server->windowControllers().size(), 1u);
    auto controller = std::dynamic_pointer_cast<StandInMainWindowController>(server->windowControllers()[0]);
    ASSERT_TRUE(controller && controller->window());
    QWidget *window = controller->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "shop — Prod");

    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);

    controller.reset();
    QTest::keySequence(window, QKeySequence::Close);
    ASSERT_TRUE(pumpUntil([&] { return allClosed == 1; }));
    EXPECT_TRUE(server->windowControllers().empty());
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(allClosed, 1);
}
