#include "platform/FileReplacement.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
void write(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray read(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

ino_t inode(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Everything in dir, hidden names included.
QStringList entries(const QDir &dir) {
    return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

TEST(FileReplacement, AFileOverAFileIsOneRename) {
    QTemporaryDir dir;
    const QString location = dir.filePath("out.csv");
    write(location, "old");
    const QString made = FileReplacement::sidePath(location, "new");
    EXPECT_TRUE(QFileInfo(made).fileName().startsWith(".out.csv.new-"));
    write(made, "new");
    const ino_t madeInode = inode(made);
    ErrorPtr error;
    ASSERT_TRUE(FileReplacement::moveIntoPlace(made, location, &error));
    EXPECT_EQ(read(location), "new");
    EXPECT_EQ(inode(location), madeInode) << "the file was renamed, not copied";
    EXPECT_EQ(entries(QDir(dir.path())), QStringList{"out.csv"});
}

TEST(FileReplacement, AFolderTakesThePlaceOfAFileOrAFolderAndTheOldOneGoes) {
    QTemporaryDir dir;
    for (bool oldIsFolder : {false, true}) {
        const QString location = dir.filePath("Exported Tables");
        QDir(location).removeRecursively();
        QFile::remove(location);
        if (oldIsFolder) {
            ASSERT_TRUE(QDir().mkdir(location));
            write(location + "/old.csv", "old");
        } else {
            write(location, "old");
        }
        const QString made = FileReplacement::sidePath(location, "new");
        ASSERT_TRUE(QDir().mkdir(made));
        write(made + "/a.csv", "a");
        ErrorPtr error;
        ASSERT_TRUE(FileReplacement::moveIntoPlace(made, location, &error));
        EXPECT_EQ(entries(QDir(location)), QStringList{"a.csv"});
        EXPECT_EQ(entries(QDir(dir.path())), QStringList{"Exported Tables"}) << "nothing set aside is left";
    }
}

TEST(FileReplacement, AFailedMovePutsTheOldOneBackAndSaysWhy) {
    QTemporaryDir dir;
    const QString location = dir.filePath("kept");
    ASSERT_TRUE(QDir().mkdir(location));
    write(location + "/inside.csv", "kept");
    ErrorPtr error;
    EXPECT_FALSE(FileReplacement::moveIntoPlace(dir.filePath(".never-made"), location, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "“kept” could not be saved.");
    EXPECT_FALSE(error->localizedFailureReason().isEmpty());
    EXPECT_EQ(read(location + "/inside.csv"), "kept");
    EXPECT_EQ(entries(QDir(dir.path())), QStringList{"kept"});
}
