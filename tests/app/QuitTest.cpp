// Quitting loses nothing the user typed: a favorite's field still being typed
// in, and a password to keep, reach the store file and the keyring before the
// program ends. The program runs in a child process, as a user's would.
#include "app/ZNTApplicationDelegate.h"
#include "favorites/FavoriteSettingsForm.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesTable.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "model/ZNTServerController.h"
#include "platform/SecretStore.h"
#include "platform/SystemInfo.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

QString storeQuery(const QString &path, const QString &sql) {
    return QString::fromUtf8(runPython(QStringLiteral("import sqlite3, sys\n"
                                                      "for row in sqlite3.connect(sys.argv[1]).execute(sys.argv[2]):\n"
                                                      "    print('|'.join(str(v) for v in row))\n"),
                                       {path, sql}))
        .trimmed();
}

QCheckBox *checkBox(QWidget *form, const QString &text) {
    for (QCheckBox *box : form->findChildren<QCheckBox *>())
        if (box->text() == text)
            return box;
    return nullptr;
}

// The program in the child: a new favorite is typed in, and Ctrl+Q comes while
// the cursor is still in the password field and the name is not saved yet.
void typeAndQuitAtOnce(const QString &storePath, const QString &host) {
    auto store = ZNTFavoritesStore::create(storePath);
    auto app = std::make_unique<ZNTApplicationDelegate>();
    app->applicationWillFinishLaunching(store);
    app->applicationDidFinishLaunching({});
    ZNTFavoritesWindowController *favorites = app->favoritesWindowController();
    QApplication::setActiveWindow(favorites->window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(favorites->window()));
    // An empty store starts a new favorite, open for editing.
    ASSERT_TRUE(pumpUntil([&] { return favorites->currentlyEditableObject() != nullptr; }));
    auto favorite = favorites->currentlyEditableObject();
    auto *form = qobject_cast<FavoriteSettingsForm *>(
        favorites->table()->indexWidget(favorites->model()->index(favorites->model()->rowForFavorite(favorite.get()))));
    ASSERT_TRUE(form);
    checkBox(form, "Save &password")->click();
    form->hostField()->setFocus();
    QTest::keyClicks(form->hostField(), host);
    form->nicknameField()->setFocus();
    QTest::keyClicks(form->nicknameField(), "Typed at once");
    form->passwordField()->setFocus();
    QTest::keyClicks(form->passwordField(), "typed secret");

    int quits = 0;
    bool keyringBusyAtQuit = true;
    QObject::connect(app.get(), &ZNTApplicationDelegate::readyToQuit, [&] {
        ++quits;
        keyringBusyAtQuit = store->isKeychainWorkPending();
    });
    QTest::keyClick(form->passwordField(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return quits == 1; }, std::chrono::seconds(30)));
    EXPECT_FALSE(keyringBusyAtQuit) << "the program would end before the keyring has the password";
    // The program ends right after this signal: by now both must be kept.
    EXPECT_EQ(storeQuery(storePath, "SELECT nickname, host, savePassword FROM favorite"),
              "Typed at once|" + host + "|1");
    EXPECT_EQ(secretToolLookup("postgresql://" + host, SystemInfo::loginName()), "typed secret");
    ZNTServerController::sharedController()->discardAllServers();
    app.reset();
}

} // namespace

TEST(QuitProcess, WhatWasTypedJustBeforeQuittingIsSavedWithItsPassword) {
    if (isChildRun()) {
        typeAndQuitAtOnce(qEnvironmentVariable("TRELLAN_STORE_PATH"), qEnvironmentVariable("TRELLAN_QUIT_HOST"));
        return;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("Trellan/ConnectionFavorites.db");
    const QString host = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8) + ".example";
    runCurrentTestInChild({{"TRELLAN_STORE_PATH", path}, {"TRELLAN_QUIT_HOST", host}});
    // What the next start finds.
    EXPECT_EQ(storeQuery(path, "SELECT nickname, host, savePassword FROM favorite"), "Typed at once|" + host + "|1");
    EXPECT_EQ(secretToolLookup("postgresql://" + host, SystemInfo::loginName()), "typed secret");
    secretTool({"clear", "service", "postgresql://" + host, "account", SystemInfo::loginName()});
}
