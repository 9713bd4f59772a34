// SQL files: text written beside the file and renamed over it, read back only
// when it is UTF-8 through and through, and the names the save dialog proposes.
#include "query/SQLFiles.h"
#include "support/PostgresSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

ino_t inode(const QString &path) {
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    return info.st_ino;
}
} // namespace

TEST(SQLFiles, TextRoundTripsAsUtf8AndReplacesTheFileInOneStep) {
    QTemporaryDir dir;
    const QString path = dir.filePath("q.sql");
    writeBytes(path, "old");
    const ino_t before = inode(path);
    const QString text = QStringLiteral("select 'ä\u00a0€ 😀';\r\n-- end");
    ErrorPtr error;
    ASSERT_TRUE(SQLFiles::writeText(path, text, &error));
    EXPECT_EQ(readBytes(path), text.toUtf8()); // no BOM, line ends as typed
    EXPECT_NE(inode(path), before);            // a new file renamed into place
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"q.sql"}));
    EXPECT_EQ(SQLFiles::readText(path, &error), text);
}

TEST(SQLFiles, AFileThatIsNotUtf8IsRefusedWithAReason) {
    QTemporaryDir dir;
    const QString path = dir.filePath("latin1.sql");
    writeBytes(path, "select '\xff\xfe'");
    ErrorPtr error;
    EXPECT_FALSE(SQLFiles::readText(path, &error).has_value());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), QStringLiteral("The file “latin1.sql” couldn’t be opened."));
    EXPECT_EQ(error->localizedFailureReason(), QStringLiteral("Its text is not UTF-8."));
    // A byte order mark is not part of the text.
    writeBytes(path, "\xef\xbb\xbfselect 1");
    EXPECT_EQ(SQLFiles::readText(path, &error), QStringLiteral("select 1"));
}

TEST(SQLFiles, FoldersAndHugeFilesAreRefusedAndAFailedWriteKeepsTheOldFile) {
    QTemporaryDir dir;
    ErrorPtr error;
    EXPECT_FALSE(SQLFiles::readText(dir.path(), &error).has_value());
    EXPECT_EQ(error->localizedFailureReason(), QStringLiteral("It is not a plain file."));
    const QString huge = dir.filePath("dump.sql");
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(SQLFiles::kMaxFileSize + 1)); // sparse: no disk used
    }
    EXPECT_FALSE(SQLFiles::readText(huge, &error).has_value());
    // In the unit the README gives it.
    EXPECT_EQ(error->localizedFailureReason(),
              QStringLiteral("It is larger than 32.0 MB, more than the query editor opens."));

    EXPECT_FALSE(SQLFiles::writeText(dir.filePath("gone/q.sql"), QStringLiteral("x"), &error));
    EXPECT_EQ(error->localizedDescription(), QStringLiteral("The file “q.sql” couldn’t be saved."));
    EXPECT_FALSE(error->localizedFailureReason().isEmpty());

    const QString kept = dir.filePath("readonly/q.sql");
    QDir().mkpath(dir.filePath("readonly"));
    writeBytes(kept, "select 1");
    QFile::setPermissions(dir.filePath("readonly"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool refused = !SQLFiles::writeText(kept, QStringLiteral("select 2"), &error);
    QFile::setPermissions(dir.filePath("readonly"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (::geteuid() != 0) { // root writes anywhere
        EXPECT_TRUE(refused);
        EXPECT_EQ(error->localizedDescription(), QStringLiteral("The file “q.sql” couldn’t be saved."));
        EXPECT_EQ(readBytes(kept), QByteArray("select 1"));
    }
}

TEST(SQLFiles, TheSaveDialogProposesTheLoadedFileElseAnUntitledOne) {
    EXPECT_EQ(SQLFiles::saveProposal(QString()).fileName, QStringLiteral("Untitled Query.sql"));
    const SQLFiles::Proposal loaded = SQLFiles::saveProposal(QStringLiteral("/srv/reports/monthly.sql"));
    EXPECT_EQ(loaded.directory, QStringLiteral("/srv/reports"));
    EXPECT_EQ(loaded.fileName, QStringLiteral("monthly.sql"));
}
