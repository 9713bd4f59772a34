// Exporting a result of the query editor as CSV: the columns in the order the
// grid shows them, every row that arrived, read back by Python's csv as psql
// writes the same columns; and nothing to export without a result.
#include "QueryTestSupport.h"
#include "browser/CSVExportManager.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QFileDialog>
#include <QProcess>

using namespace querytest;
using namespace std::chrono_literals;

namespace {
QByteArray psqlCsv(const QString &database, const QString &sql) {
    QProcess process;
    process.start(QStringLiteral("psql"), {"-X", "-q", "--csv", "-v", "ON_ERROR_STOP=1", "-h",
                                           requiredEnv("TRELLAN_PG_HOST"), "-p", requiredEnv("TRELLAN_PG_PORT"), "-U",
                                           requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database, "-c", sql});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

QByteArray csvRows(const QByteArray &text) {
    return runPython(QStringLiteral("import csv, io, json, sys\n"
                                    "print(json.dumps(list(csv.reader(io.StringIO(sys.stdin.read(), newline='')))))\n"),
                     {}, text);
}

class QueryExport : public QueryPageFixture {
protected:
    void SetUp() override {
        QueryPageFixture::SetUp();
        uikittest::activate(window);
    }
    QTemporaryDir files;
};
} // namespace

TEST_F(QueryExport, AResultExportsInItsOnScreenColumnOrderAsPsqlWritesIt) {
    database->run(R"sql(CREATE TABLE t (id int, name text, amount numeric, day date);
        INSERT INTO t VALUES (1, 'plain', 1.50, '2024-02-03'), (2, E'with "quotes",\ncommas', NULL, NULL),
          (3, '', -7, '1999-12-31'))sql");
    run(QStringLiteral("SELECT * FROM t ORDER BY id"));
    page->tableView()->header()->moveSection(0, 3); // id goes last
    selectRows({1});
    page->exportContents(page->queryResultExportButton());
    QFileDialog *panel = nullptr;
    ASSERT_TRUE(
        pumpUntil([&] { return (panel = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())); }, 5s));
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), QStringLiteral("Query Results.csv"));
    const QString path = files.filePath("result.csv");
    panel->selectFile(path);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(pumpUntil([&] { return QFile::exists(path) && CSVExportManager::runningCount() == 0; }, 30s));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    // Every row, not only the selected one.
    EXPECT_EQ(csvRows(written.readAll()),
              csvRows(psqlCsv(database->name, QStringLiteral("SELECT name, amount, day, id FROM t ORDER BY id"))));
}

TEST_F(QueryExport, ASortedResultExportsInTheOrderShown) {
    database->run("CREATE TABLE s (n numeric, label text); "
                  "INSERT INTO s VALUES (1.5, 'x'), (-5, 'y'), (1.25, 'z'), (-10, 'w'), (NULL, 'v')");
    run(QStringLiteral("SELECT * FROM s"));
    sortBy(0);
    sortBy(0); // descending: NULL first
    page->exportContents(nullptr);
    QFileDialog *panel = nullptr;
    ASSERT_TRUE(
        pumpUntil([&] { return (panel = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())); }, 5s));
    const QString path = files.filePath("sorted.csv");
    panel->selectFile(path);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(pumpUntil([&] { return QFile::exists(path) && CSVExportManager::runningCount() == 0; }, 30s));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(csvRows(written.readAll()),
              csvRows(psqlCsv(database->name, QStringLiteral("SELECT * FROM s ORDER BY n DESC NULLS FIRST"))));
    EXPECT_EQ(page->currentResult()->rowOrder(), std::vector<qsizetype>()); // the grid keeps the sort
    EXPECT_EQ(gridRows().first(), QStringLiteral("NULL|v"));
}

TEST_F(QueryExport, WithoutAResultShownThereIsNothingToExport) {
    BeepCounter beeps;
    page->exportContents(nullptr);
    run(QStringLiteral("CREATE TABLE nothing (a int)"));
    page->exportContents(nullptr);
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(CSVExportManager::runningCount(), 0u);
    EXPECT_FALSE(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
}
