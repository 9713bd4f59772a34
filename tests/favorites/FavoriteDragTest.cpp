#include "TestSupport.h"
#include "favorites/ZNTFavoritePasteboardWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

FavoriteFileWriting::Item item(const QString &name, const QString &password) {
    FavoriteFileWriting::Item i;
    i.displayName = name;
    i.contents.nickname = name;
    i.contents.password = password;
    return i;
}

unsigned mode(const QString &path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

QStringList foldersIn(const QString &path) {
    return QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

TEST(FavoriteDrag, InsideTheProgramTheDragNamesListAndFavorite) {
    int list = 0;
    int asked = 0;
    ZNTFavoritePasteboardWriter data(
        &list, 7,
        [&] {
            ++asked;
            return QList<FavoriteFileWriting::Item>{item("Prod", "pw")};
        },
        nullptr);
    EXPECT_EQ(data.formats(), (QStringList{"norvane.ZNTFavorite", "text/uri-list"}));
    auto dragged = ZNTFavoritePasteboardWriter::draggedFavorite(&data);
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->tableView, reinterpret_cast<quintptr>(&list));
    EXPECT_EQ(dragged->favoriteID, 7);
    EXPECT_EQ(asked, 0) << "moving within the list made the file";
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/x.tqbfav")});
    EXPECT_FALSE(ZNTFavoritePasteboardWriter::draggedFavorite(&files));
}

TEST(FavoriteDrag, FilesAreWrittenOnlyWhenAskedForOwnerOnlyAndOnce) {
    const QString root = ZNTFavoritePasteboardWriter::privateFolder();
    ASSERT_FALSE(root.isEmpty());
    EXPECT_EQ(mode(root), 0700u);
    const QStringList before = foldersIn(root);
    ZNTFavoritePasteboardWriter data(nullptr, 1, {item("Prod", "one"), item("Prod", "two")}, nullptr);
    EXPECT_TRUE(data.hasUrls());
    EXPECT_EQ(foldersIn(root), before) << "offering the files wrote them";

    const QList<QUrl> urls = data.urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(QFileInfo(urls[0].toLocalFile()).fileName(), "Prod.tqbfav");
    EXPECT_EQ(QFileInfo(urls[1].toLocalFile()).fileName(), "Prod 1.tqbfav");
    EXPECT_TRUE(urls[0].toLocalFile().startsWith(root + "/"));
    EXPECT_EQ(mode(urls[1].toLocalFile()), 0600u);
    ErrorPtr error;
    QFile file(urls[1].toLocalFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    auto params = ZNTFavoriteFile::paramsForData(file.readAll(), std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), "two");
    EXPECT_EQ(data.urls(), urls);
    EXPECT_EQ(foldersIn(root).size(), before.size() + 1);
}

TEST(FavoriteDrag, AFavoriteThatCannotBeWrittenIsReportedAndEndsTheDrop) {
    QList<ErrorPtr> shown;
    FavoriteFileWriting::Item locked = item("Locked", "x");
    locked.error = Error::make("test", 1, {{Error::DescriptionKey, "keyring locked"}});
    ZNTFavoritePasteboardWriter data(nullptr, 1, {item("First", "pw"), locked, item("Last", "pw")},
                                     [&](const ErrorPtr &e) { shown.append(e); });
    const QList<QUrl> urls = data.urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(QFileInfo(urls[0].toLocalFile()).fileName(), "First.tqbfav");
    ASSERT_TRUE(pumpUntil([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(shown.front()->localizedDescription(), "keyring locked");
}

TEST(FavoriteDrag, ThePrivateFolderGoesAtQuit) {
    const QString root = ZNTFavoritePasteboardWriter::privateFolder();
    ZNTFavoritePasteboardWriter data(nullptr, 1, {item("Prod", "pw")}, nullptr);
    ASSERT_EQ(data.urls().size(), 1);
    QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
    EXPECT_FALSE(QFileInfo::exists(root));
}
