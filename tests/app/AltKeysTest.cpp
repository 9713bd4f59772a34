// Alt and a letter reach exactly one control: two controls with the same
// underlined letter make Qt move the focus between them instead of pressing
// either.
#include "app/ZNTApplicationDelegate.h"
#include "favorites/FavoriteSettingsForm.h"
#include "favorites/FavoritesListModel.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesTable.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "model/ZNTServerController.h"
#include "platform/SecretStore.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

namespace {

// The letter after a lone "&", lower case; none when the text has no mnemonic.
QChar mnemonicOf(const QString &text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] == u'&') {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return {};
}

// Every control of the window that an Alt key reaches, by letter.
std::multimap<QChar, QString> altKeysOf(QWidget *window) {
    std::multimap<QChar, QString> keys;
    auto add = [&](const QString &text) {
        if (const QChar letter = mnemonicOf(text); !letter.isNull())
            keys.emplace(letter, text);
    };
    for (QMenuBar *bar : window->findChildren<QMenuBar *>())
        for (QAction *action : bar->actions())
            add(action->text());
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        if (button->isVisibleTo(window))
            add(button->text());
    for (QLabel *label : window->findChildren<QLabel *>())
        if (label->buddy() && label->isVisibleTo(window))
            add(label->text());
    return keys;
}

std::string sharedLetters(const std::multimap<QChar, QString> &keys) {
    std::string shared;
    for (auto it = keys.begin(); it != keys.end(); it = keys.upper_bound(it->first)) {
        if (keys.count(it->first) < 2)
            continue;
        const auto [from, to] = keys.equal_range(it->first);
        for (auto owner = from; owner != to; ++owner)
            shared += owner->second.toStdString() + "  ";
        shared += "\n";
    }
    return shared;
}

} // namespace

TEST(AltKeys, EachLetterOfTheFavoritesWindowReachesOneControl) {
    QTemporaryDir dir;
    SecretStore::setShared(std::make_shared<MemorySecretStore>());
    auto store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
    ErrorPtr error;
    ASSERT_TRUE(store->open(&error));
    auto favorite = store->insertFavorite();
    favorite->setNickname("Staging");
    favorite->setSshEnabled(true);
    ASSERT_TRUE(store->save(&error));
    auto app = std::make_unique<ZNTApplicationDelegate>();
    app->applicationWillFinishLaunching(store);
    app->applicationDidFinishLaunching({});
    ZNTFavoritesWindowController *favorites = app->favoritesWindowController();
    QWidget *window = favorites->window();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    // With the settings of a favorite with a tunnel open, every field is there.
    favorites->editObject(favorites->model()->favorites().front());
    pumpFor(std::chrono::milliseconds(50));
    ASSERT_TRUE(qobject_cast<FavoriteSettingsForm *>(favorites->table()->indexWidget(favorites->model()->index(1))));
    EXPECT_EQ(sharedLetters(altKeysOf(window)), "");

    // Alt+N makes a new favorite.
    favorites->endEditingFavorite();
    pumpFor(std::chrono::milliseconds(50));
    QTest::keyClick(window, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(pumpUntil([&] { return favorites->model()->favorites().size() == 2; }));

    ZNTServerController::sharedController()->discardAllServers();
    app.reset();
    pumpFor(std::chrono::milliseconds(20));
}
