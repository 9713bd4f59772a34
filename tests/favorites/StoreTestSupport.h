// Helpers of the favorites-store tests: a store in a temporary folder, Python's
// sqlite3 and zlib as readers that share no code with ours, and waiting for the
// secret-store work of a store.
#pragma once

#include "TestSupport.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Runs a Python 3 script with arguments; answers its standard output, trimmed.
inline QString python(const QString &script, const QStringList &arguments = {}) {
    return QString::fromUtf8(runPython(script, arguments)).trimmed();
}

// One SQL query on a store file through Python's sqlite3: rows as lines, values
// joined by "|", NULL as "None".
inline QString pythonQuery(const QString &path, const QString &sql) {
    return python(QStringLiteral("import sqlite3, sys\n"
                                 "db = sqlite3.connect(sys.argv[1])\n"
                                 "for row in db.execute(sys.argv[2]):\n"
                                 "    print('|'.join(str(v) for v in row))\n"),
                  {path, sql});
}

inline void pythonExec(const QString &path, const QString &sql) {
    python(QStringLiteral("import sqlite3, sys\n"
                          "db = sqlite3.connect(sys.argv[1])\n"
                          "db.executescript(sys.argv[2])\n"
                          "db.commit()\n"),
           {path, sql});
}

// A store file in a folder of its own, removed after the test.
class StoreFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Trellan/ConnectionFavorites.db"); }

    std::shared_ptr<ZNTFavoritesStore> openStore() {
        auto store = ZNTFavoritesStore::create(path());
        ErrorPtr error;
        EXPECT_TRUE(store->open(&error)) << (error ? error->localizedDescription().toStdString() : "");
        return store;
    }
    // Waits for the secret-store work the store has queued.
    static void settle(const std::shared_ptr<ZNTFavoritesStore> &store) {
        EXPECT_TRUE(pumpUntil([&] { return !store->isKeychainWorkPending(); }, std::chrono::seconds(30)));
    }
    static void saveOrFail(const std::shared_ptr<ZNTFavoritesStore> &store) {
        ErrorPtr error;
        EXPECT_TRUE(store->save(&error)) << (error ? error->localizedDescription().toStdString() : "");
    }
};

// An open store with one saved favorite.
class SavedFavoriteFixture : public StoreFixture {
protected:
    void SetUp() override {
        store = openStore();
        favorite = store->insertFavorite();
        saveOrFail(store);
    }

    std::shared_ptr<ZNTFavoritesStore> store;
    std::shared_ptr<ZNTFavorite> favorite;
};
