// The store file: its schema as an independent reader sees it, files we cannot
// read and their recovery, order repair, and saves that fail or are cut short.
#include "StoreTestSupport.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "platform/SecretStore.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList nicknames(const std::shared_ptr<ZNTFavoritesStore> &store) {
    QStringList names;
    for (const auto &favorite : store->favorites())
        names << favorite->nickname();
    return names;
}
} // namespace

class StoreFile : public StoreFixture {};

TEST_F(StoreFile, ANewStoreIsVersionSevenAndNoPasswordReachesTheFile) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setNickname("Prod");
    favorite->setPassword("pw-in-memory-only");
    favorite->setSshHost("gw");
    favorite->setSshPassword("ssh-pw-in-memory-only");
    saveOrFail(store);
    settle(store);

    EXPECT_EQ(pythonQuery(path(), "PRAGMA user_version"), "7");
    EXPECT_EQ(pythonQuery(path(), "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name"),
              "favorite\nprefContainer\nprefContainerProperty\nqueryHistoryElement");
    const QString columns = pythonQuery(path(), "SELECT t.name || '.' || c.name FROM sqlite_schema t, "
                                                "pragma_table_info(t.name) c WHERE t.type = 'table'");
    for (const QString &column : columns.split('\n')) {
        const QString name = column.section('.', 1).toLower();
        EXPECT_TRUE(!name.contains("password") || name.startsWith("save")) << column.toStdString();
    }
    EXPECT_FALSE(fileBytes(path()).contains("in-memory-only"));
    EXPECT_EQ(pythonQuery(path(), "SELECT nickname, sshHost, \"order\" FROM favorite"), "Prod|gw|1");
}

TEST_F(StoreFile, EveryFieldComesBackAsSavedWithAbsentAndEmptyKeptApart) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setNickname("");
    favorite->setHost("db.example");
    favorite->setPort(6543);
    favorite->setUser("ann");
    favorite->setSavePassword(true);
    favorite->setSshEnabled(true);
    favorite->setSshHost("gw");
    favorite->setSshPort(2222);
    favorite->setSshUser("");
    favorite->setSaveSshPassword(true);
    favorite->setSshPrivateKeyBookmark("/home/ann/.ssh/id_ed25519");
    favorite->setShowAllDatabases(false);
    favorite->setColorIndex(5);
    const ZNTFavoriteValues saved = favorite->values();
    saveOrFail(store);
    store.reset();

    auto reopened = openStore();
    ASSERT_EQ(reopened->favorites().size(), 1u);
    const ZNTFavoriteValues read = reopened->favorites().front()->values();
    EXPECT_TRUE(read == saved);
    EXPECT_TRUE(read.nickname.isEmpty() && !read.nickname.isNull());
    EXPECT_TRUE(read.database.isNull());
    EXPECT_EQ(pythonQuery(path(), "SELECT quote(nickname), quote(\"database\"), quote(sshUser) FROM favorite"),
              "''|NULL|''");
}

TEST_F(StoreFile, FilesWeCannotReadOfferToBeMovedAsideAndStayUntouched) {
    {
        auto store = openStore(); // an empty store of ours, then made newer
    }
    pythonExec(path(), "PRAGMA user_version = 8");
    const QByteArray newer = fileBytes(path());
    const QString foreign = dir.filePath("foreign/ConnectionFavorites.db");
    QDir().mkpath(dir.filePath("foreign"));
    pythonExec(foreign, "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('keep me');");
    const QString garbage = dir.filePath("garbage/ConnectionFavorites.db");
    writeFile(garbage, QByteArray("not a database at all, just some words ").repeated(200));

    for (const QString &file : {path(), foreign, garbage}) {
        const QByteArray before = fileBytes(file);
        auto store = ZNTFavoritesStore::create(file);
        ErrorPtr error;
        ASSERT_FALSE(store->open(&error)) << file.toStdString();
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), "norvane.Trellan");
        EXPECT_EQ(error->code(), 1397001);
        EXPECT_EQ(error->localizedDescription(), "Could not read favorites.");
        EXPECT_EQ(error->userInfo().value(ZNTFavoritesStore::RecoveryOptionsKey).toStringList(),
                  (QStringList{"Create new file", "Cancel"}));
        EXPECT_EQ(error->userInfo().value(ZNTFavoritesStore::StoreURLKey).toUrl(), QUrl::fromLocalFile(file));
        ASSERT_NE(error->underlyingError(), nullptr);
        EXPECT_EQ(error->localizedFailureReason(), error->underlyingError()->localizedDescription());
        EXPECT_TRUE(error->localizedRecoverySuggestion().contains("a new storage file for favorites must be created"));
        EXPECT_FALSE(store->isOpen());
        EXPECT_TRUE(store->favorites().empty());
        EXPECT_EQ(fileBytes(file), before) << file.toStdString();
        // "Cancel" moves nothing.
        EXPECT_FALSE(store->attemptRecoveryFromError(error, 1));
        EXPECT_EQ(fileBytes(file), before);
    }
    EXPECT_EQ(fileBytes(path()), newer);
    EXPECT_TRUE(pythonQuery(foreign, "SELECT body FROM notes") == "keep me");
}

TEST_F(StoreFile, RecoveryMovesTheFileWithItsLogToTheFirstFreeNumberAndStartsANewStore) {
    writeFile(dir.filePath("Trellan/ConnectionFavorites.1.db"), "an earlier recovery");
    // Our failed open must leave the log as it found it, so that it can move along.
    // A store in WAL mode whose rows live only in its log: moved without the log,
    // it would lose its table.
    python(QStringLiteral("import sqlite3, sys, os\n"
                          "db = sqlite3.connect(sys.argv[1])\n"
                          "db.execute('PRAGMA journal_mode=WAL')\n"
                          "db.execute('PRAGMA wal_autocheckpoint=0')\n"
                          "db.execute('CREATE TABLE precious (v TEXT)')\n"
                          "db.execute(\"INSERT INTO precious VALUES ('still here')\")\n"
                          "db.commit()\n"
                          "os._exit(0)\n"),
           {path()});
    ASSERT_TRUE(QFile::exists(path() + "-wal"));

    auto store = ZNTFavoritesStore::create(path());
    ErrorPtr error;
    ASSERT_FALSE(store->open(&error));
    ASSERT_EQ(error->code(), 1397001);
    ErrorPtr reopenError;
    EXPECT_TRUE(store->attemptRecoveryFromError(error, 0, &reopenError));
    EXPECT_EQ(reopenError, nullptr);
    EXPECT_TRUE(store->isOpen());
    EXPECT_TRUE(store->favorites().empty());

    const QString aside = dir.filePath("Trellan/ConnectionFavorites.2.db");
    EXPECT_EQ(fileBytes(dir.filePath("Trellan/ConnectionFavorites.1.db")), "an earlier recovery");
    EXPECT_TRUE(QFile::exists(aside + "-wal"));
    EXPECT_EQ(pythonQuery(aside, "SELECT v FROM precious"), "still here");
    EXPECT_EQ(pythonQuery(path(), "PRAGMA user_version"), "7");
}

TEST_F(StoreFile, AFolderThatCannotBeMadeIsReportedWithoutRecovery) {
    writeFile(dir.filePath("blocker"), "a file where the folder should be");
    auto store = ZNTFavoritesStore::create(dir.filePath("blocker/Trellan/ConnectionFavorites.db"));
    ErrorPtr error;
    EXPECT_FALSE(store->open(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->code(), 1397001);
    EXPECT_TRUE(error->localizedDescription().contains("could not be created"))
        << error->localizedDescription().toStdString();
}

TEST_F(StoreFile, TheDefaultPlaceFollowsXdgDataHome) {
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    EXPECT_EQ(ZNTFavoritesStore::defaultPath(), dir.path() + "/Trellan/ConnectionFavorites.db");
}

TEST_F(StoreFile, OrdersThatDoNotRiseFromOneAreRenumberedInListOrderAndSaved) {
    { auto store = openStore(); }
    // Ties go by age (row id), whatever order the rows were written in.
    pythonExec(path(), "INSERT INTO favorite (id, nickname, \"order\") VALUES (5, 'b', 1), (3, 'a', 1), (4, 'c', 2)");
    auto store = openStore();
    EXPECT_TRUE(store->reloadData());
    EXPECT_EQ(nicknames(store), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(pythonQuery(path(), "SELECT nickname, \"order\" FROM favorite ORDER BY \"order\""), "a|1\nb|2\nc|3");
    EXPECT_FALSE(store->reloadData());
    store.reset();

    pythonExec(path(), "DELETE FROM favorite; INSERT INTO favorite (id, nickname, \"order\") VALUES (9, 'lone', 0)");
    store = openStore();
    EXPECT_TRUE(store->reloadData());
    EXPECT_EQ(pythonQuery(path(), "SELECT \"order\" FROM favorite"), "1");
    store.reset(); // one store at a time holds the file

    // Gaps are fine; a new favorite goes after the highest.
    pythonExec(path(), "UPDATE favorite SET \"order\" = 7");
    store = openStore();
    EXPECT_FALSE(store->reloadData());
    EXPECT_EQ(store->insertFavorite()->order(), 8);
}

namespace {
// What a child run saves over and over until it is killed: every favorite named
// after the round, and one history entry per round, in one transaction each.
void saveRoundsUntilKilled(const QString &path) {
    SecretStore::setShared(std::make_shared<MemorySecretStore>());
    auto store = ZNTFavoritesStore::create(path);
    ErrorPtr error;
    ASSERT_TRUE(store->open(&error));
    const QByteArray noise = QByteArray(30000, 'x').toBase64(); // long enough to span pages
    for (int round = 1;; ++round) {
        for (const auto &favorite : store->favorites())
            favorite->setNickname(QStringLiteral("round %1").arg(round));
        store->favorites().front()->insertQueryHistoryElement(QStringLiteral("round %1 ").arg(round) + noise,
                                                              ZNTQueryHistoryElement::nowMicroseconds());
        ASSERT_TRUE(store->save(&error));
    }
}
} // namespace

TEST_F(StoreFile, ASaveCutShortAtAnyMomentLeavesEitherTheOldOrTheNewState) {
    if (isChildRun()) {
        saveRoundsUntilKilled(qEnvironmentVariable("TRELLAN_STORE_PATH"));
        return;
    }
    {
        auto store = openStore();
        for (int i = 0; i < 20; ++i)
            store->insertFavorite()->setNickname("round 0");
        saveOrFail(store);
    }
    auto *random = QRandomGenerator::global();
    int advanced = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto child = startCurrentTestInChild({{"TRELLAN_STORE_PATH", path()}});
        // Killed anywhere from before the first save to deep into the rounds.
        QThread::usleep(random->bounded(50000, 400000));
        ::kill(pid_t(child->processId()), SIGKILL);
        ASSERT_TRUE(child->waitForFinished(10000));

        EXPECT_EQ(pythonQuery(path(), "PRAGMA integrity_check"), "ok");
        auto store = openStore();
        ASSERT_TRUE(store->isOpen());
        const QStringList names = nicknames(store);
        ASSERT_EQ(names.size(), 20);
        EXPECT_EQ(names.count(names.front()), 20) << names.join(", ").toStdString();
        const auto newest = store->favorites().front()->lastQueryHistoryElement();
        if (names.front() != "round 0") {
            ++advanced;
            EXPECT_TRUE(newest && newest->text().startsWith(names.front() + " ")) << names.front().toStdString();
        }
    }
    EXPECT_GT(advanced, 0) << "no child ever saved a round";
}

TEST_F(StoreFile, AReadOnlyStoreReportsTheSaveAndKeepsTheEditsInMemory) {
    if (isChildRun()) {
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        auto store = ZNTFavoritesStore::create(qEnvironmentVariable("TRELLAN_STORE_PATH"));
        ErrorPtr error;
        ASSERT_TRUE(store->open(&error)) << error->localizedDescription().toStdString();
        auto favorite = store->favorites().at(0);
        favorite->setNickname("edited");
        favorite->recordQueryTextInHistory("select 1");
        EXPECT_FALSE(store->save(&error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), "SQLite");
        EXPECT_EQ(error->code() & 0xff, SQLITE_READONLY) << error->localizedDescription().toStdString();
        EXPECT_EQ(store->lastSaveError(), error);
        EXPECT_EQ(favorite->nickname(), "edited");
        ASSERT_NE(favorite->lastQueryHistoryElement(), nullptr);
        EXPECT_EQ(favorite->lastQueryHistoryElement()->text(), "select 1");
        EXPECT_TRUE(store->hasChanges());
        return;
    }
    {
        auto store = openStore();
        store->insertFavorite()->setNickname("original");
        saveOrFail(store);
    }
    QStringList launcher;
    QMap<QString, QString> environment{{"TRELLAN_STORE_PATH", path()}, {"HOME", dir.path()}};
    if (geteuid() == 0) {
        // Root writes whatever the modes say: the child becomes nobody, with a
        // temporary folder in ours that it may write as it may /tmp.
        launcher = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        ::chmod(QFile::encodeName(dir.filePath("Trellan")).constData(), 0755);
        ::chmod(QFile::encodeName(path()).constData(), 0644);
        ASSERT_TRUE(QDir(dir.path()).mkdir("tmp"));
        ::chmod(QFile::encodeName(dir.filePath("tmp")).constData(), 01777);
        environment.insert("TMPDIR", dir.filePath("tmp"));
    } else {
        ::chmod(QFile::encodeName(dir.filePath("Trellan")).constData(), 0555);
        ::chmod(QFile::encodeName(path()).constData(), 0444);
    }
    auto child = startCurrentTestInChild(environment, launcher);
    ASSERT_TRUE(child->waitForFinished(60000));
    const QString output = QString::fromUtf8(child->readAllStandardOutput());
    EXPECT_EQ(child->exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    ::chmod(QFile::encodeName(dir.filePath("Trellan")).constData(), 0755);
    EXPECT_EQ(pythonQuery(path(), "SELECT nickname FROM favorite"), "original");
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM queryHistoryElement"), "0");
}

TEST_F(StoreFile, AFullStoreReportsTheSaveKeepsTheEditsAndSavesOnceThereIsRoom) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    saveOrFail(store);
    const QString pages = pythonQuery(path(), "PRAGMA page_count");
    sqlite3_exec(store->handle(), QStringLiteral("PRAGMA max_page_count = %1").arg(pages).toUtf8().constData(), nullptr,
                 nullptr, nullptr);
    QByteArray noise(200000, Qt::Uninitialized);
    for (char &c : noise)
        c = char(QRandomGenerator::global()->bounded(33, 127)); // does not compress to nothing
    favorite->setNickname("after the disk filled");
    favorite->insertQueryHistoryElement(QString::fromLatin1(noise), 1);
    ErrorPtr error;
    EXPECT_FALSE(store->save(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code() & 0xff, SQLITE_FULL) << error->localizedDescription().toStdString();
    EXPECT_EQ(favorite->nickname(), "after the disk filled");
    EXPECT_EQ(pythonQuery(path(), "SELECT quote(nickname) FROM favorite"), "NULL");

    sqlite3_exec(store->handle(), "PRAGMA max_page_count = 1073741823", nullptr, nullptr, nullptr);
    saveOrFail(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT nickname, (SELECT count(*) FROM queryHistoryElement) FROM favorite"),
              "after the disk filled|1");
}

TEST_F(StoreFile, ChangesAreSavedWithoutBeingAskedFor) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setHost("soon.example");
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM favorite"), "0");
    EXPECT_TRUE(pumpUntil([&] { return pythonQuery(path(), "SELECT host FROM favorite") == "soon.example"; }));
    EXPECT_FALSE(store->hasChanges());
}
