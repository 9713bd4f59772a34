// The store file belongs to one program of one user: a second program gets no
// store while the first has it, rows written by another never get overwritten,
// the file and its folder are readable by the user alone, and what is unsaved
// when the store goes is saved then.
#include "FavoritesWindowTestSupport.h"
#include "StoreTestSupport.h"
#include "favorites/ZNTQueryHistoryElement.h"

#include <QFile>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

unsigned mode(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 0777;
}

Alert *visibleAlert() {
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *alert = qobject_cast<Alert *>(widget); alert && alert->isVisible())
            return alert;
    return nullptr;
}

// Sets the process's umask for one test.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : m_previous(::umask(mask)) {}
    ~UmaskScope() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

} // namespace

class StoreOwnership : public StoreFixture {};

// The second program is a child process. It says why it shows no favorites,
// and starts no new one it could not save.
TEST_F(StoreOwnership, ASecondProgramOpensNoStoreWhileTheFirstHasIt) {
    if (isChildRun()) {
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        auto store = ZNTFavoritesStore::create(qEnvironmentVariable("TRELLAN_STORE_PATH"));
        ErrorPtr error;
        EXPECT_FALSE(store->open(&error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), ZNTFavoritesStore::InUseError);
        EXPECT_FALSE(store->isOpen());

        auto controller = ZNTFavoritesWindowController::create(store);
        controller->showWindow();
        Alert *alert = nullptr;
        ASSERT_TRUE(pumpUntil([&] { return (alert = visibleAlert()) != nullptr; }));
        EXPECT_EQ(alert->messageText(), "The favorites are open in another Trellan.");
        pumpFor(std::chrono::milliseconds(100));
        EXPECT_TRUE(controller->favorites().empty());
        EXPECT_FALSE(controller->currentlyEditableObject());
        alert->reject();
        return;
    }
    auto store = openStore();
    store->insertFavorite()->setNickname("first program's");
    saveOrFail(store);
    runCurrentTestInChild({{"TRELLAN_STORE_PATH", path()}});
    EXPECT_EQ(pythonQuery(path(), "SELECT nickname FROM favorite"), "first program's");

    // Once the first has gone, the next one opens it.
    store.reset();
    auto next = openStore();
    EXPECT_TRUE(next->isOpen());
    EXPECT_EQ(next->favorites().size(), 1u);
}

// Should two programs ever write one file after all, a new favorite, view
// setting or history entry fails to save rather than replace what the other
// wrote under the same number.
TEST_F(StoreOwnership, ANewRowNeverReplacesOneWrittenByAnotherProgram) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setNickname("ours");
    pythonExec(path(), QStringLiteral("PRAGMA busy_timeout = 5000; INSERT INTO favorite (id, nickname, \"order\") "
                                      "VALUES (%1, 'theirs', 1)")
                           .arg(favorite->objectID()));
    ErrorPtr error;
    EXPECT_FALSE(store->save(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code() & 0xff, SQLITE_CONSTRAINT) << error->localizedDescription().toStdString();
    EXPECT_EQ(pythonQuery(path(), "SELECT id, nickname FROM favorite"),
              QStringLiteral("%1|theirs").arg(favorite->objectID()));

    pythonExec(path(), "DELETE FROM favorite");
    saveOrFail(store);
    auto history = favorite->insertQueryHistoryElement("select 'ours'", 1);
    pythonExec(path(), QStringLiteral("PRAGMA busy_timeout = 5000; INSERT INTO queryHistoryElement (id, favorite, "
                                      "date, text) VALUES (%1, %2, 2, 'theirs')")
                           .arg(history->objectID())
                           .arg(favorite->objectID()));
    EXPECT_FALSE(store->save(&error));
    EXPECT_EQ(pythonQuery(path(), "SELECT text FROM queryHistoryElement"), "theirs");
}

TEST_F(StoreOwnership, TheStoreItsJournalAndItsFolderAreTheUsersAlone) {
    UmaskScope umask(022);
    {
        auto store = openStore();
        store->insertFavorite()->setNickname("private");
        saveOrFail(store);
        EXPECT_EQ(mode(path()), 0600u);
        EXPECT_EQ(mode(path() + ".lock"), 0600u);
        EXPECT_EQ(mode(dir.filePath("Trellan")), 0700u);
        // The journal of a save in progress.
        ASSERT_EQ(sqlite3_exec(store->handle(), "BEGIN; UPDATE favorite SET nickname = 'x'", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        EXPECT_EQ(mode(path() + "-journal"), 0600u);
        sqlite3_exec(store->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    // A folder another tool made, and a store from before: narrowed at the next open.
    ::chmod(QFile::encodeName(dir.filePath("Trellan")).constData(), 0755);
    ::chmod(QFile::encodeName(path()).constData(), 0644);
    ::chmod(QFile::encodeName(path() + ".lock").constData(), 0644);
    {
        auto store = openStore();
        EXPECT_EQ(mode(path()), 0600u);
        EXPECT_EQ(mode(path() + ".lock"), 0600u);
        EXPECT_EQ(mode(dir.filePath("Trellan")), 0700u);
        ASSERT_EQ(store->favorites().size(), 1u);
        EXPECT_EQ(store->favorites().front()->nickname(), "private");
    }
    // A store the user made read-only loses only what others had: it stays read-only.
    ::chmod(QFile::encodeName(dir.filePath("Trellan")).constData(), 0555);
    ::chmod(QFile::encodeName(path()).constData(), 0444);
    openStore();
    EXPECT_EQ(mode(path()), 0400u);
    EXPECT_EQ(mode(dir.filePath("Trellan")), 0500u);
    ::chmod(QFile::encodeName(dir.filePath("Trellan")).constData(), 0700); // so that the folder can be removed
}

TEST_F(StoreOwnership, WhatIsUnsavedWhenTheStoreGoesIsSaved) {
    {
        auto store = openStore();
        auto favorite = store->insertFavorite();
        favorite->setNickname("typed a moment ago");
        favorite->recordQueryTextInHistory("select 1");
        favorite->setHost("late.example");
    }
    EXPECT_EQ(pythonQuery(path(), "SELECT nickname, host, (SELECT count(*) FROM queryHistoryElement) FROM favorite"),
              "typed a moment ago|late.example|1");
}

// Saves run while the user types; one that fails says so in the window, once
// for as long as it keeps failing the same way.
TEST_F(FavoritesWindowFixture, AFailingSaveIsShownInTheWindowOnce) {
    auto favorite = addFavorite("Shop");
    openWindow();
    sqlite3_exec(store->handle(), "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    favorite->setNickname("Shop 2");
    Alert *alert = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (alert = openAlert()) != nullptr; }));
    EXPECT_TRUE(alert->messageText().contains("readonly")) << alert->messageText().toStdString();
    alert->reject();
    ASSERT_TRUE(pumpUntil([&] { return !openAlert(); }));

    favorite->setNickname("Shop 3");
    pumpFor(std::chrono::milliseconds(ZNTFavoritesStore::FavoriteSaveDelayMs * 3));
    EXPECT_FALSE(openAlert()) << "the same failure was shown again";
    EXPECT_TRUE(store->hasChanges());

    sqlite3_exec(store->handle(), "PRAGMA query_only = 0", nullptr, nullptr, nullptr);
    favorite->setNickname("Shop 4");
    ASSERT_TRUE(pumpUntil([&] { return !store->hasChanges(); }));
    sqlite3_exec(store->handle(), "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    favorite->setNickname("Shop 5");
    EXPECT_TRUE(pumpUntil([&] { return openAlert() != nullptr; })) << "a new failure after a good save was not shown";
    if (Alert *again = openAlert())
        again->reject();
    sqlite3_exec(store->handle(), "PRAGMA query_only = 0", nullptr, nullptr, nullptr);
}
