// Alt and a letter reach exactly one control: two controls with the same
// underlined letter make Qt move the focus between them instead of pressing
// either. In an open menu, each item's letter chooses it. Ctrl+Q quits from
// every window. Shift+F10 opens a context menu. No other key of a window is
// held twice, nor by two commands at once.
#include "app/ZNTApplicationDelegate.h"
#include "app/ZNTHelpWindowController.h"
#include "app/ZNTPreferenceWindowController.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "favorites/FavoriteSettingsForm.h"
#include "favorites/FavoritesListModel.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTFavoritesTable.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "model/ZNTAsynchronousRow.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerController.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "model/ZNTTerminal.h"
#include "platform/SecretStore.h"
#include "query/ZNTTerminalCells.h"
#include "query/ZNTTerminalViewController.h"
#include "structure/StructureTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/AlertSheet.h"
#include "window/ZNTWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <algorithm>
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

// The items of each menu of the bar, as the menu shows them when it opens,
// that have no letter or share theirs with another item of the menu.
std::string menuItemsWithoutTheirOwnLetter(QMenuBar *bar) {
    std::string faults;
    for (QAction *title : bar->actions()) {
        QMenu *menu = title->menu();
        if (!menu)
            continue;
        emit menu->aboutToShow(); // the titles of the moment
        std::multimap<QChar, QString> letters;
        for (QAction *item : menu->actions()) {
            if (item->isSeparator() || !item->isVisible())
                continue;
            const QChar letter = mnemonicOf(item->text());
            if (letter.isNull())
                faults +=
                    (title->text() + QStringLiteral(": ") + item->text() + QStringLiteral(" has none\n")).toStdString();
            else
                letters.emplace(letter, item->text());
        }
        if (const std::string shared = sharedLetters(letters); !shared.empty())
            faults += title->text().toStdString() + ": " + shared;
    }
    return faults;
}

// Where a key reaches: the focus on widget, or also on its children. Whatever
// holds a key for a window reaches every focus in it.
struct KeyScope {
    QWidget *widget;
    bool withChildren;
    bool overlaps(const KeyScope &other) const {
        return widget == other.widget || (withChildren && widget->isAncestorOf(other.widget)) ||
               (other.withChildren && other.widget->isAncestorOf(widget));
    }
};

struct KeyHolder {
    QString name;
    QList<QKeySequence> keys;
    QList<KeyScope> scopes;
};

// Where a key held in context reaches through object in window, as Qt's shortcut
// map decides: a menu's keys reach wherever the menu is opened from.
void addScopes(QList<KeyScope> &scopes, QWidget *window, Qt::ShortcutContext context, QObject *object) {
    if (auto *menu = qobject_cast<QMenu *>(object)) {
        for (QObject *openedFrom : menu->menuAction()->associatedObjects())
            addScopes(scopes, window, context, openedFrom);
        return;
    }
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || widget->window() != window)
        return;
    if (context == Qt::WindowShortcut || context == Qt::ApplicationShortcut)
        scopes.append({window, true});
    else
        scopes.append({widget, context == Qt::WidgetWithChildrenShortcut});
}

// Every action, shortcut and button of window that holds a key, disabled and
// hidden ones too: they come and go with the page's state.
QList<KeyHolder> keyHoldersOf(QWidget *window) {
    QList<KeyHolder> holders;
    QSet<QAction *> seen;
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *widget : widgets) {
        const QString where = QString::fromLatin1(widget->metaObject()->className());
        for (QAction *action : widget->actions()) {
            if (seen.contains(action) || action->shortcuts().isEmpty())
                continue;
            seen.insert(action);
            KeyHolder holder{where + ": " + action->text(), action->shortcuts(), {}};
            for (QObject *object : action->associatedObjects())
                addScopes(holder.scopes, window, action->shortcutContext(), object);
            holders.append(holder);
        }
        // A button's underlined letter is the business of the tests above.
        auto *button = qobject_cast<QAbstractButton *>(widget);
        if (button && button->shortcut() != QKeySequence::mnemonic(button->text()))
            holders.append({where + " " + button->objectName(), {button->shortcut()}, {{window, true}}});
    }
    for (QShortcut *shortcut : window->findChildren<QShortcut *>()) {
        KeyHolder holder{QStringLiteral("QShortcut"), shortcut->keys(), {}};
        addScopes(holder.scopes, window, shortcut->context(), shortcut->parent());
        holders.append(holder);
    }
    return holders;
}

// The keys of window that one holder holds twice, or that two holders share
// where the focus can be in reach of both: Qt finds such a key ambiguous and
// does neither. Keys on sibling widgets, such as each query's own, are apart.
std::string keyClashes(QWidget *window) {
    std::string clashes;
    const QList<KeyHolder> holders = keyHoldersOf(window);
    for (qsizetype i = 0; i < holders.size(); ++i) {
        const KeyHolder &one = holders[i];
        for (qsizetype k = 0; k < one.keys.size(); ++k) {
            const QString key = one.keys[k].toString();
            if (one.keys.indexOf(one.keys[k]) < k)
                clashes += (one.name + " holds " + key + " twice\n").toStdString();
            for (qsizetype j = i + 1; j < holders.size(); ++j) {
                const KeyHolder &other = holders[j];
                const bool meet = std::ranges::any_of(one.scopes, [&](const KeyScope &scope) {
                    return std::ranges::any_of(other.scopes, [&](const KeyScope &o) { return scope.overlaps(o); });
                });
                if (meet && other.keys.contains(one.keys[k]))
                    clashes += (one.name + " and " + other.name + " share " + key + "\n").toStdString();
            }
        }
    }
    return clashes;
}

// A program with its favorites window, started on a store of its own.
class AltKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
        ErrorPtr error;
        ASSERT_TRUE(store->open(&error));
        auto favorite = store->insertFavorite();
        favorite->setNickname("Staging");
        favorite->setSshEnabled(true);
        ASSERT_TRUE(store->save(&error));
        app = std::make_unique<ZNTApplicationDelegate>();
        app->applicationWillFinishLaunching(store);
        app->applicationDidFinishLaunching({});
    }
    void TearDown() override {
        ZNTServerController::sharedController()->discardAllServers();
        app.reset();
        pumpFor(std::chrono::milliseconds(20));
    }

    QTemporaryDir dir;
    std::shared_ptr<ZNTFavoritesStore> store;
    std::unique_ptr<ZNTApplicationDelegate> app;
};

} // namespace

TEST_F(AltKeysTest, EachLetterOfTheFavoritesWindowReachesOneControl) {
    ZNTFavoritesWindowController *favorites = app->favoritesWindowController();
    QWidget *window = favorites->window();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    // With the settings of a favorite with a tunnel open, every field is there.
    favorites->editObject(favorites->model()->favorites().front());
    pumpFor(std::chrono::milliseconds(50));
    ASSERT_TRUE(qobject_cast<FavoriteSettingsForm *>(favorites->table()->indexWidget(favorites->model()->index(1))));
    EXPECT_EQ(sharedLetters(altKeysOf(window)), "");
    EXPECT_EQ(menuItemsWithoutTheirOwnLetter(window->findChild<QMenuBar *>()), "");

    // Alt+N makes a new favorite.
    favorites->endEditingFavorite();
    pumpFor(std::chrono::milliseconds(50));
    QTest::keyClick(window, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(pumpUntil([&] { return favorites->model()->favorites().size() == 2; }));

    // Shift+F10 opens the focused list's menu, as the Menu key does.
    favorites->endEditingFavorite();
    favorites->table()->setFocus();
    QTest::keyClick(favorites->table(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(pumpUntil([] { return qobject_cast<QMenu *>(QApplication::activePopupWidget()); }));
    if (QWidget *menu = QApplication::activePopupWidget())
        menu->close();
}

TEST_F(AltKeysTest, EveryMenuOfTheMainWindowAndEachOfItsItemsHasALetterOfItsOwn) {
    // Nothing listens on port 1: the database page's listing fails at once, and
    // its sheet is closed before any key is pressed (it would take the keys).
    auto server = ZNTServer::create({{"host", "127.0.0.1"}, {"port", "1"}, {"dbname", "shop"}});
    auto window = ZNTWindowController::create(server->mainDatabase());
    QApplication::setActiveWindow(window.get());
    window->showWindow();
    Alert *failure = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (failure = qobject_cast<Alert *>(QApplication::activeModalWidget())); }));
    failure->reject();
    ASSERT_TRUE(pumpUntil([&] { return !QApplication::activeModalWidget(); }));
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QMenuBar *bar = window->menuBar();
    QStringList menus;
    for (QAction *title : bar->actions())
        menus << title->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Edit", "&View", "&Go", "&Help"}));
    EXPECT_EQ(sharedLetters(altKeysOf(window.get())), "");
    EXPECT_EQ(menuItemsWithoutTheirOwnLetter(bar), "");

    // Alt+E opens Edit; there, P opens Preferences.
    QWidget *preferences = &ZNTPreferenceWindowController::sharedController();
    preferences->hide();
    QTest::keyClick(window.get(), Qt::Key_E, Qt::AltModifier);
    QMenu *edit = bar->actions().at(1)->menu();
    ASSERT_TRUE(pumpUntil([&] { return edit->isVisible(); }));
    QTest::keyClick(edit, Qt::Key_P);
    EXPECT_TRUE(pumpUntil([&] { return preferences->isVisible(); }));
    preferences->hide();

    // Titles that follow the window's state keep a letter of their own. (Done
    // last: the table's structure fails to load, and that sheet would take the
    // keys above.)
    window->toggleSidebar();
    window->navigateToItem(
        std::make_shared<ZNTTableSchema>(ZNTTable::create("orders", "public", server->mainDatabase())));
    EXPECT_EQ(menuItemsWithoutTheirOwnLetter(bar), "");
    window->close();
}

// Ctrl+Q quits from the Help and Preferences windows as it does from the
// favorites and main windows, whichever of their controls has the focus.
TEST_F(AltKeysTest, CtrlQQuitsFromTheHelpAndThePreferencesWindow) {
    int quits = 0;
    QObject::connect(app.get(), &ZNTApplicationDelegate::readyToQuit, [&] { ++quits; });
    QMenuBar *bar = app->favoritesWindowController()->window()->findChild<QMenuBar *>();
    ASSERT_TRUE(bar);
    auto trigger = [&](const QString &title) {
        for (QMenu *menu : bar->findChildren<QMenu *>())
            for (QAction *action : menu->actions())
                if (action->text() == title) {
                    action->trigger();
                    return true;
                }
        return false;
    };

    ASSERT_TRUE(trigger("Trellan &Help"));
    auto &help = ZNTHelpWindowController::sharedController();
    QApplication::setActiveWindow(&help);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&help));
    help.webview()->setFocus();
    QTest::keyClick(help.webview(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(pumpUntil([&] { return quits == 1; }, std::chrono::seconds(10))) << "Ctrl+Q in the Help window";
    help.close();

    ASSERT_TRUE(trigger("&Preferences…"));
    auto &preferences = ZNTPreferenceWindowController::sharedController();
    QApplication::setActiveWindow(&preferences);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&preferences));
    preferences.rowsPerPageBox()->setFocus();
    QTest::keyClick(preferences.rowsPerPageBox(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(pumpUntil([&] { return quits == 2; }, std::chrono::seconds(10))) << "Ctrl+Q in Preferences";
    preferences.close();
}

TEST_F(AltKeysTest, NoKeyOfTheFavoritesHelpOrPreferencesWindowIsHeldTwiceOrShared) {
    ZNTFavoritesWindowController *favorites = app->favoritesWindowController();
    favorites->editObject(favorites->model()->favorites().front());
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(keyClashes(favorites->window()), "");
    app->showHelp("index");
    EXPECT_EQ(keyClashes(&ZNTHelpWindowController::sharedController()), "");
    ZNTHelpWindowController::sharedController().close();
    app->showPreferences();
    EXPECT_EQ(keyClashes(&ZNTPreferenceWindowController::sharedController()), "");
    ZNTPreferenceWindowController::sharedController().close();
}

TEST_F(AltKeysTest, NoKeyOfAMainWindowIsHeldTwiceOrSharedOnAnyPage) {
    ScratchDatabase db;
    db.run("CREATE TABLE items (id serial PRIMARY KEY, name text); INSERT INTO items (name) VALUES ('bolt'), ('nut')");
    structuretest::StructureWindow shop(db.name);
    ZNTWindowController *window = shop.window.get();
    window->toggleSidebar();
    auto database = shop.server->mainDatabase();
    window->navigateToItem(database);
    EXPECT_EQ(keyClashes(window), "") << "database";

    auto items = shop.relation("items");
    window->navigateToItem(items);
    auto *table = dynamic_cast<ZNTTableViewController *>(window->mainViewController());
    ASSERT_TRUE(table);
    ASSERT_TRUE(pumpUntil([&] { return table->tableView()->model()->rowCount() == 2; }));
    window->toggleTableFilter();
    window->toggleRightSidebar();
    table->tableView()->selectRow(0);
    ASSERT_TRUE(pumpUntil([&] { return table->sidebarRowViewController(); }));
    EXPECT_EQ(keyClashes(window), "") << "table, its filter bar and detail sidebar";

    auto row = ZNTAsynchronousRow::create(items, {Value::fromInt(1)}, {1});
    ASSERT_TRUE(pumpUntil([&] { return row->hasLoaded(); }));
    window->navigateToItem(row);
    EXPECT_EQ(keyClashes(window), "") << "row";

    ASSERT_TRUE(shop.open(items));
    EXPECT_EQ(keyClashes(window), "") << "structure";

    window->navigateToItem(database->queryObject());
    EXPECT_EQ(keyClashes(window), "") << "query editor";

    // The SQL Query page with a query run: each query has keys of its own.
    window->navigateToItem(std::make_shared<ZNTTerminal>(database));
    auto *terminal = dynamic_cast<ZNTTerminalViewController *>(window->mainViewController());
    ASSERT_TRUE(terminal);
    terminal->queryView()->textView()->setPlainText("SELECT 1");
    terminal->executeQuery(terminal->queryView());
    ASSERT_TRUE(pumpUntil([&] { return terminal->queries().size() == 2 && terminal->numRunningQueries() == 0; }));
    EXPECT_EQ(keyClashes(window), "") << "SQL Query";

    window->navigateToItem(shop.server);
    EXPECT_EQ(keyClashes(window), "") << "server";
}
