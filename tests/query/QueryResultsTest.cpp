// The query editor's results: copying rows in their on-screen order (checked
// against psql and Python's csv, and run on the server), cells, sorting,
// stored widths of table columns, each result's own column layout, and how
// the grid looks.
#include "QueryTestSupport.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTTableLayoutStore.h"
#include "support/PlainTextSupport.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QBuffer>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QTemporaryFile>

using namespace querytest;

namespace {
// What psql prints for sql with --csv (a header, then the rows).
QByteArray psqlCsv(const QString &database, const QString &sql) {
    QProcess process;
    process.start(QStringLiteral("psql"), {"-X", "-q", "--csv", "-v", "ON_ERROR_STOP=1", "-h",
                                           requiredEnv("TRELLAN_PG_HOST"), "-p", requiredEnv("TRELLAN_PG_PORT"), "-U",
                                           requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database, "-c", sql});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

// The rows Python's csv module reads from text, as JSON.
QByteArray csvRows(const QByteArray &text) {
    return runPython(QStringLiteral("import csv, io, json, sys\n"
                                    "print(json.dumps(list(csv.reader(io.StringIO(sys.stdin.read(), newline='')))))\n"),
                     {}, text);
}

// What psql prints for sql unaligned, without a header, TAB between fields.
QByteArray psqlTabs(const QString &database, const QString &sql) {
    QProcess process;
    process.start(QStringLiteral("psql"), {"-X", "-q", "-A", "-t", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-h",
                                           requiredEnv("TRELLAN_PG_HOST"), "-p", requiredEnv("TRELLAN_PG_PORT"), "-U",
                                           requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database, "-c", sql});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

// Runs a script too long for a command line.
void psqlScript(const QString &database, const QString &script) {
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(script.toUtf8());
    file.close();
    QProcess process;
    process.start(QStringLiteral("psql"),
                  {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", requiredEnv("TRELLAN_PG_HOST"), "-p",
                   requiredEnv("TRELLAN_PG_PORT"), "-U", requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database, "-f",
                   file.fileName()});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().left(2000).toStdString();
}

// Where two texts first differ, for a failure message that is not megabytes long.
std::string firstDifference(const QByteArray &a, const QByteArray &b) {
    qsizetype at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return QStringLiteral("sizes %1 and %2, first difference at %3: \"%4\" vs \"%5\"")
        .arg(a.size())
        .arg(b.size())
        .arg(at)
        .arg(QString::fromUtf8(a.mid(std::max<qsizetype>(at - 40, 0), 80)),
             QString::fromUtf8(b.mid(std::max<qsizetype>(at - 40, 0), 80)))
        .toStdString();
}

class QueryResults : public QueryPageFixture {};
} // namespace

TEST_F(QueryResults, CsvWithHeaderReadsLikePsqlsCsv) {
    database->run(R"sql(CREATE TABLE t (id int, name text, amount numeric, day date, note text);
        INSERT INTO t VALUES (1, 'plain', 1.50, '2024-02-03', NULL),
          (2, 'with "quotes", commas', -0.25, '1999-12-31', E'two\nlines'),
          (3, 'ünïcødé 😀', 1e20, NULL, ''))sql");
    const QString sql = QStringLiteral("SELECT * FROM t ORDER BY id");
    run(sql);
    selectRows({0, 1, 2});
    page->copySpecial(ZNTCopyModeCSVWithHeader);
    const QByteArray copied = QApplication::clipboard()->text().toUtf8();
    EXPECT_EQ(csvRows(copied), csvRows(psqlCsv(database->name, sql)));
    EXPECT_EQ(page->queryResultRowCountLabel()->text(), QStringLiteral("3 of 3 selected"));
    EXPECT_EQ(page->queryResultExportButton()->text(), QStringLiteral("Export…")); // every row goes
}

TEST_F(QueryResults, InsertStatementsRunOnTheServerGiveTheSameRows) {
    database->run(R"sql(CREATE TABLE src (id int, t text, b bytea, n numeric, f boolean);
        INSERT INTO src VALUES (1, E'it''s a \\back\\slash', '\x00ff5c27', 1.50, true),
          (2, E'line\nbreak and "double"', '\x', NULL, false), (3, NULL, NULL, -7, NULL))sql");
    run(QStringLiteral("SELECT * FROM src ORDER BY id DESC"));
    selectRows({0, 1, 2});
    page->copySpecial(ZNTCopyModeInsertStatements);
    const QString statement = QApplication::clipboard()->text();
    EXPECT_TRUE(
        statement.startsWith(QStringLiteral("INSERT INTO \"table_name\"(\"id\",\"t\",\"b\",\"n\",\"f\") VALUES (3,")))
        << statement.toStdString();
    EXPECT_TRUE(statement.endsWith(QStringLiteral(");")));
    database->run("CREATE TABLE table_name (LIKE src)");
    database->run(statement);
    EXPECT_EQ(database->run("SELECT count(*) FROM ((TABLE src EXCEPT ALL TABLE table_name) UNION ALL "
                            "(TABLE table_name EXCEPT ALL TABLE src)) d"),
              QStringLiteral("0"));
    EXPECT_EQ(database->run("SELECT count(*) FROM table_name"), QStringLiteral("3"));
}

TEST_F(QueryResults, RowsCopyInTheOrderAndColumnOrderTheGridShows) {
    run(QStringLiteral("SELECT * FROM (VALUES (1.5, 'x'), (-5, 'y'), (1.25, 'z'), (-10, 'w')) v(n, s)"));
    sortBy(0);
    EXPECT_EQ(gridRows(), QStringList({"-10|w", "-5|y", "1.25|z", "1.5|x"}));
    EXPECT_EQ(page->tableView()->header()->sortMode(0), ZNTSortModeAscending);
    EXPECT_FALSE(page->queryProgressIndicator()->isAnimating());
    page->tableView()->header()->moveSection(1, 0);
    selectRows({0, 1});
    page->tableView()->setFocus(); // Copy in the editor copies its text
    page->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("w\t-10\ny\t-5"));

    // A right click on a row outside the selection copies that row alone.
    QMenu *menu = page->rowMenuForRow(3, 0);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("&Copy Row"));
    menu->actions().first()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("x\t1.5"));
    menu = page->rowMenuForRow(1, 0);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("&Copy Rows"));

    sortBy(0);
    EXPECT_EQ(page->tableView()->header()->sortMode(0), ZNTSortModeDescending);
    EXPECT_EQ(gridRows().first(), QStringLiteral("1.5|x"));
    sortBy(0);
    EXPECT_EQ(page->tableView()->header()->sortMode(0), ZNTSortModeNone);
    EXPECT_EQ(gridRows(), QStringList({"1.5|x", "-5|y", "1.25|z", "-10|w"}));
}

TEST_F(QueryResults, TextSortsIgnoringCaseWithNumbersByValueAndNullLast) {
    run(QStringLiteral("SELECT * FROM (VALUES ('a10'), (NULL), ('A9')) v(s)"));
    sortBy(0);
    EXPECT_EQ(gridRows(), QStringList({"A9", "a10", "NULL"}));
}

TEST_F(QueryResults, ACellCopiesAsTextOrImageAndAnythingElseBeeps) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    run(QStringLiteral("SELECT '\\x%1'::bytea AS picture, '\\x0102'::bytea AS junk, NULL::text AS nothing, "
                       "'tab\there' AS words, 12 AS number")
            .arg(QString::fromLatin1(png.toHex())));
    BeepCounter beeps;
    page->copyClickedCell(0, 0);
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(3, 2));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    page->copyClickedCell(0, 1);
    page->copyClickedCell(5, 0);
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    page->copyClickedCell(0, 2);
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
    page->copyClickedCell(0, 3);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("tab\there"));
    page->copyClickedCell(0, 4);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("12"));
    // Nothing selected: nothing to copy.
    page->copySpecial(ZNTCopyModeCSV);
    EXPECT_EQ(beeps.count, 3);
}

TEST_F(QueryResults, TheTablePagesWidthServesItsColumnButNeverAnExpression) {
    database->run("CREATE TABLE w (col int, other int, note text)");
    auto table = ZNTTable::create(QStringLiteral("w"), QStringLiteral("public"), server->mainDatabase());
    ASSERT_EQ(loadAndWait(table->metadata()), nullptr);
    ZNTTableLayoutStore(table).setWidthForColumn(QStringLiteral("col"), 321, {{"col", 1}, {"other", 2}, {"note", 3}});
    run(QStringLiteral("SELECT col, col + 1 AS plus, other, note, 'x' AS constant FROM w"));
    QHeaderView *header = page->tableView()->header();
    EXPECT_EQ(header->sectionSize(0), 321);
    EXPECT_EQ(header->sectionSize(1), 60);  // an expression: the default of its type
    EXPECT_EQ(header->sectionSize(2), 60);  // no width stored
    EXPECT_EQ(header->sectionSize(3), 250); // text
    EXPECT_EQ(header->sectionSize(4), 250);
}

TEST_F(QueryResults, EachResultKeepsItsColumnOrderAndWidthsAndARerunKeepsTheGrid) {
    run(QStringLiteral("SELECT 1 AS a, 2 AS b, 3 AS c; SELECT 'x' AS other"));
    QHeaderView *header = page->tableView()->header();
    header->resizeSection(0, 200);
    header->moveSection(0, 2); // a goes last
    page->selectQueryResult(1);
    EXPECT_EQ(page->resultModel()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("other"));
    page->selectQueryResult(0);
    EXPECT_EQ(header->visualIndex(0), 2);
    EXPECT_EQ(header->sectionSize(0), 200); // its width went along
    EXPECT_EQ(page->currentResult()->columnIndices(), (std::vector<int>{1, 2, 0}));
    selectRows({0});
    page->tableView()->setFocus();
    page->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("2\t3\t1"));

    // The same columns again, unmoved: the grid keeps its widths.
    run(QStringLiteral("SELECT 5 AS x, 6 AS y"));
    header->resizeSection(1, 140);
    runShown();
    EXPECT_EQ(header->sectionSize(1), 140);
    EXPECT_EQ(header->sectionSize(0), 60);
}

TEST_F(QueryResults, HowTheGridLooks) {
    database->run(R"sql(CREATE TABLE orders (id int, customer_name text, total numeric, paid boolean, picture bytea);
        INSERT INTO orders SELECT g, 'Customer ' || g, g * 10.5, g % 2 = 0,
          CASE WHEN g % 3 = 0 THEN '\x0102'::bytea END FROM generate_series(1, 40) g)sql");
    run(QStringLiteral("SELECT * FROM orders ORDER BY id;\nSELECT count(*) FROM orders;"));
    selectRows({1, 2});
    sortBy(1);
    shot(QStringLiteral("results.png"));
    shot(QStringLiteral("results-dark.png"), true);
}

TEST_F(QueryResults, ColumnNamesShowAsTextInToolTips) {
    QString quoted = kMarkup;
    run(QStringLiteral("SELECT 1 AS \"%1\"").arg(quoted.replace(u'"', QStringLiteral("\"\""))));
    QueryResultModel *model = page->resultModel();
    ASSERT_EQ(model->columns().size(), 1);
    EXPECT_EQ(model->columns().first()->name(), kMarkup);
    EXPECT_EQ(shownText(model->headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString()), kMarkup);
}

// A large copy is encoded in slices side by side. Sorted descending, with the
// first, the last and rows between left out, each form reads as the server's
// own text of the rows chosen, in the grid's order.
TEST_F(QueryResults, ALargeSortedSelectionWithGapsCopiesEveryChosenRowInItsPlace) {
    database->run(R"sql(CREATE TABLE big AS SELECT g AS id,
        CASE WHEN g % 7 = 0 THEN NULL WHEN g % 11 = 0 THEN '' WHEN g % 5 = 0 THEN E'say "hi",\r\n\t' || g
             WHEN g % 3 = 0 THEN 'ünï ' || g || ' 😀' ELSE 'row ' || g END AS t,
        (g / 8.0)::numeric(12, 3) AS n
        FROM generate_series(1, 100000) g ORDER BY md5(g::text))sql");
    run(QStringLiteral("SELECT * FROM big"));
    sortBy(0);
    sortBy(0); // descending: grid row r shows id 100000 - r
    ASSERT_EQ(page->resultModel()->valueAt(0, 0).toInt(), 100000);
    ASSERT_EQ(page->resultModel()->valueAt(99999, 0).toInt(), 1);
    page->tableView()->selectAll();
    for (int row : {0, 24999, 25000, 50001, 99999})
        page->tableView()->selectionModel()->select(page->resultModel()->index(row, 0),
                                                    QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    EXPECT_EQ(page->queryResultRowCountLabel()->text(), QStringLiteral("99995 of 100000 selected"));
    const QString chosen = QStringLiteral("FROM big WHERE id NOT IN (100000, 75001, 75000, 49999, 1) ORDER BY id DESC");

    page->copySpecial(ZNTCopyModeCSVWithHeader);
    const QByteArray csv = csvRows(QApplication::clipboard()->text().toUtf8());
    // CSV keeps a line break as one LF.
    const QByteArray psqlRows =
        csvRows(psqlCsv(database->name, "SELECT id, regexp_replace(t, E'\\r\\n?', E'\\n', 'g') AS t, n " + chosen));
    EXPECT_TRUE(csv == psqlRows) << firstDifference(csv, psqlRows);

    page->copySpecial(ZNTCopyModeText);
    const QByteArray text = QApplication::clipboard()->text().toUtf8() + '\n';
    const QByteArray flattened = psqlTabs(
        database->name, "SELECT id, coalesce(regexp_replace(t, E'\\r\\n|\\r|\\n|\\t', ' ', 'g'), ''), n " + chosen);
    EXPECT_TRUE(text == flattened) << firstDifference(text, flattened);

    page->copySpecial(ZNTCopyModeInsertStatements);
    database->run("CREATE TABLE table_name (LIKE big)");
    psqlScript(database->name, QApplication::clipboard()->text());
    EXPECT_EQ(database->run("SELECT count(*) FROM table_name"), QStringLiteral("99995"));
    EXPECT_EQ(database->run("SELECT count(*) FROM ((SELECT * " + chosen + ") EXCEPT ALL TABLE table_name) d"),
              QStringLiteral("0"));
}
