// A favorites window on a store in a temporary folder, with secrets in memory.
#pragma once

#include "TestSupport.h"
#include "favorites/FavoritesListModel.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesTable.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "platform/SecretStore.h"
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

    static Alert *openAlert() {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *alert = qobject_cast<Alert *>(widget); alert && alert->isVisible())
                return alert;
        return nullptr;
    }

    static void saveScreenshot(QWidget *window, const QString &name) {
        const QString folder = QCoreApplication::applicationDirPath() + "/screenshots";
        QDir().mkpath(folder);
        EXPECT_TRUE(window->grab().save(folder + "/" + name + ".png"));
    }
};
