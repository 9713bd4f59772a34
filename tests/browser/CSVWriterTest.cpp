#include "browser/CSVWriter.h"
#include "TestSupport.h"
#include "platform/ProgramError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {
class CSVWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        writer.setURL(dir.filePath("export"));
        ASSERT_TRUE(writer.beginWithError(&error));
    }
    // Opens, writes and closes one table; the name of its file.
    QString table(const QString &name, const QStringList &columns = {"id"},
                  const std::vector<std::vector<Value>> &rows = {}) {
        EXPECT_TRUE(writer.beginTableName(name, columns, &error)) << name.toStdString();
        for (const auto &row : rows)
            EXPECT_TRUE(writer.writeRow(row, &error));
        EXPECT_TRUE(writer.endTableWithError(&error));
        return QFileInfo(writer.createdFileURLs().constLast()).fileName();
    }
    QByteArray contents(const QString &file) const {
        QFile f(QDir(writer.URL()).filePath(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList files() const { return QDir(writer.URL()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir dir;
    CSVWriter writer;
    ErrorPtr error;
};
} // namespace

TEST_F(CSVWriterTest, TablesOfOneNameGetNumberedFilesInTheOrderWritten) {
    EXPECT_EQ(table("orders"), "orders.csv");
    EXPECT_EQ(table("orders"), "orders 2.csv");
    EXPECT_EQ(table("orders"), "orders 3.csv");
    EXPECT_EQ(table("orders 2"), "orders 2 2.csv");
    EXPECT_EQ(writer.createdFileURLs().size(), 4);
    EXPECT_EQ(writer.createdFileURLs().first(), QDir(writer.URL()).filePath("orders.csv"));
}

TEST_F(CSVWriterTest, ASlashNeverLeavesTheFolder) {
    EXPECT_EQ(table("a/b"), "a-b.csv");
    EXPECT_EQ(table("../../x"), "..-..-x.csv");
    EXPECT_EQ(files(), (QStringList{"..-..-x.csv", "a-b.csv"}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"export"});
}

// As on a volume that ignores letter case, where "orders.csv" exists once
// "Orders.csv" does: a name the folder holds is never written over.
TEST_F(CSVWriterTest, ANameTheFolderAlreadyHoldsTakesTheNextNumber) {
    QFile held(QDir(writer.URL()).filePath("orders.csv"));
    ASSERT_TRUE(held.open(QIODevice::WriteOnly));
    held.write("someone else's");
    held.close();
    EXPECT_EQ(table("orders", {"id"}, {{Value::fromInt(1)}}), "orders 2.csv");
    EXPECT_EQ(contents("orders.csv"), "someone else's");
    EXPECT_EQ(contents("orders 2.csv"), "\"id\"\n1\n");
}

TEST_F(CSVWriterTest, FilesAreUtf8WithLineFeedsAHeaderAndOneLinePerRow) {
    const QString name = table("t", {"id", "na\"me", "when"},
                               {{Value::fromInt(1), Value::fromString("two\r\nlines"), Value()},
                                {Value::fromInt(2), Value::fromString("ü"), Value::fromBool(true)}});
    EXPECT_EQ(contents(name), "\"id\",\"na\"\"me\",\"when\"\n1,\"two\nlines\",\n2,\"\xc3\xbc\",TRUE\n");
    EXPECT_EQ(contents(table("empty", {"a", "b"})), "\"a\",\"b\"\n") << "a table without rows has its header";
    writer.setSkipHeaders(true);
    EXPECT_EQ(contents(table("headless", {"a"}, {{Value::fromInt(5)}})), "5\n");
    EXPECT_EQ(contents(table("nothing", {"a"})), "");
}

TEST_F(CSVWriterTest, StoredRowsLargerThanTheBufferArriveWhole) {
    RowStore store(2);
    for (int i = 0; i < 50000; ++i)
        store.appendRow({Value::fromInt(i), Value::fromString(QString("row %1 with some text").arg(i))});
    ASSERT_TRUE(writer.beginTableName("big", {"n", "text"}, &error));
    ASSERT_TRUE(writer.writeStoredRows(store, 0, 30000, {1, 0}, &error));
    ASSERT_TRUE(writer.writeStoredRows(store, 30000, 20000, {1, 0}, &error));
    ASSERT_TRUE(writer.endTableWithError(&error));
    const QList<QByteArray> lines = contents("big.csv").split('\n');
    ASSERT_EQ(lines.size(), 50002); // header, rows, and the empty piece after the last LF
    EXPECT_EQ(lines[1], "\"row 0 with some text\",0");
    EXPECT_EQ(lines[50000], "\"row 49999 with some text\",49999");
}

TEST(CSVWriter, AFolderThatExistsOrWhoseParentDoesNotIsRefused) {
    QTemporaryDir dir;
    CSVWriter writer;
    ErrorPtr error;
    writer.setURL(dir.path());
    EXPECT_FALSE(writer.beginWithError(&error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription().contains("could not be created"))
        << error->localizedDescription().toStdString();
    writer.setURL(dir.filePath("missing/export"));
    EXPECT_FALSE(writer.beginWithError(&error));
    EXPECT_THROW(writer.writeRow({Value()}, &error), ProgramError) << "rows only inside a table";
}

// A file-size limit stands in for a full disk: writes past it fail.
TEST(CSVWriter, AWriteThatFailsIsAnErrorNotSilentlyLostRows) {
    if (!isChildRun()) {
        runCurrentTestInChild({});
        return;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QTemporaryDir dir;
    CSVWriter writer;
    ErrorPtr error;
    writer.setURL(dir.filePath("export"));
    ASSERT_TRUE(writer.beginWithError(&error));
    ASSERT_TRUE(writer.beginTableName("t", {"text"}, &error));
    bool failed = false;
    for (int i = 0; i < 20000 && !failed; ++i)
        failed = !writer.writeRow({Value::fromString("a row of some forty characters or so ....")}, &error);
    if (!failed)
        failed = !writer.endTableWithError(&error);
    ASSERT_TRUE(failed);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription().startsWith("Failed to write data because: "))
        << error->localizedDescription().toStdString();
}
