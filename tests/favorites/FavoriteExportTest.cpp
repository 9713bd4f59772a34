#include "favorites/FavoriteFileWriting.h"
#include "favorites/FavoritesDropLogic.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace FavoriteFileWriting;

namespace {

Item item(const QString &name) {
    Item i;
    i.displayName = name;
    i.contents.nickname = name;
    i.contents.password = "pw";
    return i;
}

QStringList entries(const QString &folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

unsigned mode(const QString &path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

ErrorPtr failure(const QString &text) {
    return Error::make("test", 7, {{Error::DescriptionKey, text}});
}

} // namespace

TEST(FavoriteExport, FavoritesOfOneNameGetNumberedOwnerOnlyFiles) {
    QTemporaryDir dir;
    const QString location = dir.filePath("Trellan Favorites");
    Outcome outcome = exportFolder({item("Prod"), item("Prod"), item("Prod"), item("a/b")}, 1, std::nullopt, location);
    EXPECT_EQ(outcome.written, 4);
    EXPECT_FALSE(outcome.lastError);
    EXPECT_EQ(entries(location), (QStringList{"Prod 1.tqbfav", "Prod 2.tqbfav", "Prod.tqbfav", "a-b.tqbfav"}));
    EXPECT_EQ(mode(location + "/Prod 2.tqbfav"), 0600u);
    EXPECT_EQ(mode(location), 0700u);
    EXPECT_EQ(entries(dir.path()), QStringList{"Trellan Favorites"}) << "nothing left beside it";
}

TEST(FavoriteExport, WhatWasThereStaysUntilTheNewFileOrFolderExists) {
    QTemporaryDir dir;
    const QString file = dir.filePath("Prod.tqbfav");
    put(file, "old file");
    Item broken = item("Prod");
    broken.error = failure("keyring locked");
    Outcome outcome = exportFile(broken, 1, std::nullopt, file);
    EXPECT_EQ(outcome.written, 0);
    EXPECT_EQ(outcome.lastError->localizedDescription(), "keyring locked");
    EXPECT_EQ(contents(file), "old file");

    outcome = exportFile(item("Prod"), 1, std::nullopt, file);
    EXPECT_EQ(outcome.written, 1);
    EXPECT_TRUE(contents(file).startsWith("bplist00"));
    EXPECT_EQ(mode(file), 0600u);

    // A folder chosen as the place of several: kept when no favorite could be written.
    const QString folder = dir.filePath("Export");
    ASSERT_TRUE(QDir().mkpath(folder + "/inner"));
    put(folder + "/keep.txt", "mine");
    outcome = exportFolder({broken, broken}, 1, std::nullopt, folder);
    EXPECT_EQ(outcome.written, 0);
    EXPECT_TRUE(outcome.lastError);
    EXPECT_EQ(entries(folder), (QStringList{"inner", "keep.txt"}));

    // Replaced when one could, the others' failure reported.
    outcome = exportFolder({broken, item("Stage")}, 1, std::nullopt, folder);
    EXPECT_EQ(outcome.written, 1);
    EXPECT_EQ(outcome.lastError->localizedDescription(), "keyring locked");
    EXPECT_EQ(entries(folder), QStringList{"Stage.tqbfav"});

    // One file over a folder.
    outcome = exportFile(item("Stage"), 1, std::nullopt, folder);
    EXPECT_EQ(outcome.written, 1);
    EXPECT_TRUE(QFileInfo(folder).isFile());
    EXPECT_EQ(entries(dir.path()), (QStringList{"Export", "Prod.tqbfav"}));
}

TEST(FavoriteExport, FolderInAMissingParentIsAnError) {
    QTemporaryDir dir;
    Outcome outcome = exportFolder({item("Prod"), item("Stage")}, 1, std::nullopt, dir.filePath("no/such/Export"));
    EXPECT_EQ(outcome.written, 0);
    ASSERT_TRUE(outcome.lastError);
    EXPECT_TRUE(outcome.lastError->localizedDescription().contains("Export"));
}

TEST(FavoriteExport, NewFilesNeverReplaceOrFollowWhatIsThere) {
    QTemporaryDir dir;
    const QString taken = dir.filePath("taken.tqbfav");
    put(taken, "mine");
    ErrorPtr error;
    EXPECT_FALSE(writeNewFile(taken, "new", &error));
    EXPECT_EQ(contents(taken), "mine");
    const QString link = dir.filePath("link.tqbfav");
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), link));
    EXPECT_FALSE(writeNewFile(link, "new", &error));
    EXPECT_FALSE(QFile::exists(dir.filePath("elsewhere")));
    EXPECT_EQ(freeFileName(dir.path(), "link"), "link 1.tqbfav") << "a dangling link takes its name";
}

TEST(FavoritesDrop, DropRowsAreMovedIntoTheListAndAFavoriteNeverOntoItsOwnPlace) {
    using namespace FavoritesDropLogic;
    const int n = 4; // rows 1..4, the pad at 5
    const DraggedFavorite row2{true, 2};
    struct Case {
        const char *name;
        int proposed;
        std::optional<DraggedFavorite> favorite;
        QStringList files;
        Operation operation;
        int row;
    };
    const Case cases[] = {
        {"ontoItself", 2, row2, {}, Operation::None, -1},
        {"justBelowItself", 3, row2, {}, Operation::None, -1},
        {"aboveTheFirst", 1, row2, {}, Operation::Move, 1},
        {"aboveTheSpacer", 0, row2, {}, Operation::Move, 1},
        {"belowThePad", 6, row2, {}, Operation::Move, 5},
        {"lastBelowThePad", 6, DraggedFavorite{true, 4}, {}, Operation::None, -1},
        {"otherWindow", 1, DraggedFavorite{false, 3}, {}, Operation::None, -1},
        {"noRow", -1, row2, {}, Operation::None, -1},
        {"favoriteFile", 3, std::nullopt, {"/x/a.txt", "/x/b.tqbfav"}, Operation::Copy, 3},
        {"upperCaseExtension", 3, std::nullopt, {"/x/B.TQBFAV"}, Operation::None, -1},
        {"folder", 3, std::nullopt, {QDir::tempPath()}, Operation::Copy, 3},
        {"otherFiles", 3, std::nullopt, {"/x/a.txt"}, Operation::None, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Validation v = validateDrop(c.proposed, n, c.favorite, c.files);
        EXPECT_EQ(v.operation, c.operation);
        if (c.operation != Operation::None) {
            EXPECT_EQ(v.row, c.row);
        }
    }
}

TEST(FavoritesDrop, MovingAndPlacingKeepTheListInOrder) {
    using namespace FavoritesDropLogic;
    int target = 0;
    EXPECT_EQ(ordersAfterMove({1, 2, 3, 4}, 2, 1, &target), (QList<qint32>{2, 1, 3, 4}));
    EXPECT_EQ(target, 1);
    EXPECT_EQ(ordersAfterMove({1, 2, 3, 4}, 1, 5, &target), (QList<qint32>{4, 1, 2, 3}));
    EXPECT_EQ(target, 4);
    EXPECT_EQ(ordersAfterMove({1, 2, 3, 4}, 4, 2, &target), (QList<qint32>{1, 3, 4, 2}));
    EXPECT_EQ(target, 2);

    Placement middle = placeImported({1, 2, 3}, 1, 2);
    EXPECT_EQ(middle.index, 1);
    EXPECT_EQ(middle.firstOrder, 2);
    EXPECT_EQ(middle.ordersFromIndex, (QList<qint32>{4, 5}));
    Placement end = placeImported({1, 2, 7}, 9, 1);
    EXPECT_EQ(end.index, 3);
    EXPECT_EQ(end.firstOrder, 8);
    EXPECT_TRUE(end.ordersFromIndex.isEmpty());
    EXPECT_EQ(placeImported({}, std::nullopt, 3).firstOrder, 1);
}

TEST(FavoritesDrop, FoldersGiveTheirFavoriteFilesAtAnyDepthWithoutFollowingLinks) {
    QTemporaryDir dir, outside;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("drop/a/b")));
    put(dir.filePath("drop/one.tqbfav"), "x");
    put(dir.filePath("drop/a/b/two.tqbfav"), "x");
    put(dir.filePath("drop/a/notes.txt"), "x");
    put(dir.filePath("drop/a/LOUD.TQBFAV"), "x");
    put(outside.filePath("far.tqbfav"), "x");
    ASSERT_TRUE(QFile::link(outside.path(), dir.filePath("drop/a/linked-folder")));
    ASSERT_TRUE(QFile::link(outside.filePath("far.tqbfav"), dir.filePath("drop/linked.tqbfav")));
    put(dir.filePath("single.tqbfav"), "x");
    const QStringList found =
        FavoritesDropLogic::collectFavoriteFiles({dir.filePath("single.tqbfav"), dir.filePath("drop")});
    EXPECT_EQ(found, (QStringList{dir.filePath("single.tqbfav"), dir.filePath("drop/a/b/two.tqbfav"),
                                  dir.filePath("drop/one.tqbfav")}));
}
