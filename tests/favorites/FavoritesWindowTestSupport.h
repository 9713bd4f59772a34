// A favorites window on a store in a temporary folder, with secrets in memory.
#pragma once

#include "TestSupport.h"
#include "favorites/FavoritesListModel.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesTable.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "platform/SecretStore.h"
#include "support/Screenshots.h"
#include "uikit/AlertSheet.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class FavoritesWindowFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::shared_ptr<ZNTFavoritesStore> store;
    std::shared_ptr<ZNTFavoritesWindowController> controller;

    void SetUp() override {
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
        ErrorPtr error;
        ASSERT_TRUE(store->open(&error));
    }
    void TearDown() override {
        controller.reset();
        pumpFor(std::chrono::milliseconds(20));
    }

    std::shared_ptr<ZNTFavorite> addFavorite(const QString &nickname, const QString &host = "db.example",
                                             const QString &user = "alice", const QString &database = "shop") {
        auto favorite = store->insertFavorite();
        favorite->setNickname(nickname);
        favorite->setHost(host);
        favorite->setUser(user);
        favorite->setDatabase(database);
        return favorite;
    }
    // The window over the favorites added so far.
    void openWindow() {
        ErrorPtr error;
        ASSERT_TRUE(store->save(&error));
        controller = ZNTFavoritesWindowController::create(store);
        controller->showWindow();
        QApplication::setActiveWindow(controller->window());
    }
    FavoritesListModel *model() const { return controller->model(); }
    // Opens the window and edits the favorite of that row by keys (select, F2);
    // answers the row's settings widget once that favorite is being edited.
    QWidget *editByKeys(int row, const std::shared_ptr<ZNTFavorite> &favorite) {
        openWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(controller->window()));
        ZNTFavoritesTable *table = controller->table();
        table->setFocus();
        table->selectRow(row);
        QTest::keyClick(table, Qt::Key_F2);
        EXPECT_TRUE(pumpUntil([&] { return controller->currentlyEditableObject() == favorite; }));
        return table->indexWidget(model()->index(row));
    }

    static Alert *openAlert() {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *alert = qobject_cast<Alert *>(widget); alert && alert->isVisible())
                return alert;
        return nullptr;
    }

    static void saveScreenshot(QWidget *window, const QString &name) {
        EXPECT_TRUE(::saveScreenshot(window, QStringLiteral("favorites"), name + ".png"));
    }
};

#include "engine/ZNTConnection.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerController.h"
#include "platform/NotificationCenter.h"
#include "platform/Reaper.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// A main window that only exists: the server shows it and closing it ends the
// server's windows, as the real one does.
class TestMainWindow : public ZNTWindowControllerHandle, public std::enable_shared_from_this<TestMainWindow> {
public:
    static inline int shown = 0;
    static inline std::vector<std::weak_ptr<TestMainWindow>> all;
    void showWindow() override { ++shown; }
    void performClose() override {
        NotificationCenter::defaultCenter().post(WillCloseNotification, shared_from_this());
    }
    static void install() {
        ZNTServer::setWindowControllerFactory([](std::shared_ptr<ZNTObject>) {
            auto window = std::make_shared<TestMainWindow>();
            all.push_back(window);
            return window;
        });
    }
};

// Connects favorites against the test run's servers.
class ConnectFixture : public FavoritesWindowFixture {
protected:
    void SetUp() override {
        FavoritesWindowFixture::SetUp();
        TestMainWindow::install();
    }
    void TearDown() override {
        ZNTServerController::sharedController()->discardAllServers();
        FavoritesWindowFixture::TearDown();
        // A connect still under way (the window acts on the first "Connected.",
        // before the version and settings are read) ends with its test.
        Reaper::finish();
    }
    // Waits for a prompt sheet with this message.
    Alert *waitForAlert(const QString &message, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        Alert *found = nullptr;
        pumpUntil(
            [&] {
                found = openAlert();
                return found && found->messageText() == message;
            },
            timeout);
        return found && found->messageText() == message ? found : nullptr;
    }
    static QPushButton *button(Alert *alert, const QString &title) {
        for (QPushButton *b : alert->buttons())
            if (b->text().remove('&') == title)
                return b;
        return nullptr;
    }
    static QLineEdit *secretField(Alert *alert) { return alert->accessoryView()->findChild<QLineEdit *>(); }
    bool waitConnected(const std::shared_ptr<ZNTFavorite> &favorite) {
        return pumpUntil([&] { return favorite->connectionStateConnected; }, std::chrono::seconds(30));
    }
    bool waitFailed(const std::shared_ptr<ZNTFavorite> &favorite) {
        return pumpUntil([&] { return favorite->connectionStateError && !favorite->connectionStateBusy; },
                         std::chrono::seconds(30));
    }
};
