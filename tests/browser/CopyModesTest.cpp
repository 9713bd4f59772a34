#include "browser/KesCoder.h"
#include "browser/ZNTCopyModes.h"
#include "model/CatalogTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {
// Rows of every kind the engine keeps: text with quotes, backslashes and line
// breaks, bytea, booleans, NULL, non-finite floats, numeric, bigint, dates, arrays.
const char *const kSourceTable = R"sql(
CREATE TABLE src (id int PRIMARY KEY, "we""ird" text, b bytea, flag boolean, f8 float8, f4 real, n numeric,
                  big bigint, ts timestamptz, tags text[]);
INSERT INTO src VALUES
 (1, 'it''s a \back\slash', '\x00ff10', true, 'NaN', 'Infinity', 'NaN', 9007199254740993,
  '2024-01-02 03:04:05+00', '{1,2}'),
 (2, E'cr lf\r\nlone cr\rtab\there', '\x', false, '-Infinity', '-Infinity', 1.50, -1, NULL, NULL),
 (3, 'ünïcødé ✓ 😀', NULL, NULL, 1e-7, 1.1, NULL, NULL, NULL, '{}'),
 (4, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
 (5, '', '\x5c27', true, 0.1, '-0', 'Infinity', 0, 'infinity', '{"a\"b", NULL}');
)sql";

class CopyModes : public ::testing::Test {
protected:
    void SetUp() override { db.run(kSourceTable); }

    // The rows of sql as the program holds them.
    std::shared_ptr<const RowStore> fetch(const QString &sql) {
        auto query = ZNTQuery::create(sql);
        runAndWait(query, server->mainConnection());
        EXPECT_FALSE(query->error()) << sql.toStdString();
        const auto results = query->results();
        return results.isEmpty() ? nullptr : results.first()->rows();
    }

    // The copy source of a fetched result, its columns in the order given.
    static ZNTCopySource sourceOf(std::shared_ptr<const RowStore> rows, const QStringList &names,
                                  std::vector<int> order) {
        ZNTCopySource source;
        for (int column : order)
            source.columnNames << names[column];
        source.rowCount = rows->rowCount();
        source.valueAt = [rows, order](qsizetype row, int column) { return rows->valueAt(row, order[size_t(column)]); };
        return source;
    }

    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server = connectedServer(db.name);
};

const QStringList kColumns = {"id", "we\"ird", "b", "flag", "f8", "f4", "n", "big", "ts", "tags"};

// A mismatch in any value, or in the text of any value, is a row of the difference.
const char *const kDifference = R"sql(
SELECT (SELECT count(*) FROM (TABLE public.src EXCEPT ALL TABLE copy.src) a)
     + (SELECT count(*) FROM (TABLE copy.src EXCEPT ALL TABLE public.src) b),
       (SELECT string_agg(s::text, '|' ORDER BY id) FROM public.src s)
     = (SELECT string_agg(c::text, '|' ORDER BY id) FROM copy.src c),
       (SELECT count(*) FROM copy.src)
)sql";
} // namespace

TEST_F(CopyModes, InsertStatementsRunIntoACopyOfTheTableGiveBackEveryValue) {
    const auto rows = fetch("SELECT * FROM src ORDER BY id");
    ASSERT_TRUE(rows);
    // The columns as a user might have dragged them: the statement names them in that order.
    const ZNTCopySource source = sourceOf(rows, kColumns, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
    const QString insert = ZNTCopyText(ZNTCopyModeInsertStatements, "src", source);
    EXPECT_TRUE(insert.startsWith(R"(INSERT INTO "src"("tags","ts","big","n","f4","f8","flag","b","we""ird","id") )"
                                  "VALUES ("))
        << insert.toStdString();
    EXPECT_TRUE(insert.endsWith(");"));
    EXPECT_FALSE(insert.contains('\n') || insert.contains('\r')) << "one line";

    // The statement names the table without its schema: a schema first on the
    // search path receives it.
    db.run("CREATE SCHEMA copy; CREATE TABLE copy.src (LIKE public.src)");
    db.run("SET search_path = copy, public; " + insert);
    EXPECT_EQ(db.run(kDifference), "0|t|5");
}

TEST_F(CopyModes, InsertStatementsLeaveDefaultCellsToTheServer) {
    db.run("CREATE TABLE d (id serial PRIMARY KEY, name text DEFAULT 'unnamed', note text)");
    ZNTCopySource source;
    source.columnNames = {"id", "name", "note"};
    source.rowCount = 2;
    const std::vector<std::vector<Value>> rows = {
        {Value::defaultMarker(), Value::fromString("a"), Value()},
        {Value::defaultMarker(), Value::defaultMarker(), Value::fromString("x")}};
    source.valueAt = [&](qsizetype row, int column) { return rows[size_t(row)][size_t(column)]; };
    const QString insert = ZNTCopyText(ZNTCopyModeInsertStatements, "d", source);
    EXPECT_EQ(insert, R"(INSERT INTO "d"("id","name","note") VALUES (DEFAULT,E'a',NULL), (DEFAULT,DEFAULT,E'x');)");
    db.run(insert);
    EXPECT_EQ(db.run("SELECT id, name, coalesce(note, '-') FROM d ORDER BY id"), "1|a|-\n2|unnamed|x");
}

TEST_F(CopyModes, CsvWithHeaderReadsBackThroughPythonsCsvModule) {
    const auto rows = fetch(R"(SELECT id, "we""ird", b, flag, f8, f4, n, big, tags FROM src ORDER BY id)");
    ASSERT_TRUE(rows);
    const QStringList names = {"id", "we\"ird", "b", "flag", "f8", "f4", "n", "big", "tags"};
    const ZNTCopySource source = sourceOf(rows, names, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    const QString csv = ZNTCopyText(ZNTCopyModeCSVWithHeader, "src", source);
    const QByteArray parsed = runPython("import csv, io, json, sys\n"
                                        "text = io.TextIOWrapper(sys.stdin.buffer, encoding='utf-8', newline='')\n"
                                        "print(json.dumps(list(csv.reader(text))))\n",
                                        {}, csv.toUtf8());
    const QJsonArray expected = QJsonDocument::fromJson(R"json([
        ["id", "we\"ird", "b", "flag", "f8", "f4", "n", "big", "tags"],
        ["1", "it's a \\back\\slash", "", "TRUE", "nan", "inf", "NaN", "9007199254740993", "{1,2}"],
        ["2", "cr lf\nlone cr\ntab\there", "", "FALSE", "-inf", "-inf", "1.50", "-1", ""],
        ["3", "ünïcødé ✓ 😀", "", "", "1e-07", "1.1", "", "", "{}"],
        ["4", "", "", "", "", "", "", "", ""],
        ["5", "", "", "TRUE", "0.1", "-0", "Infinity", "0", "{\"a\\\"b\",NULL}"]
    ])json")
                                    .array();
    EXPECT_EQ(QJsonDocument::fromJson(parsed).array(), expected) << parsed.toStdString();

    // Without the header: the same rows, each ending in a line feed.
    const QString body = ZNTCopyText(ZNTCopyModeCSV, "src", source);
    EXPECT_EQ(csv, csv.left(csv.indexOf('\n') + 1) + body);
    EXPECT_TRUE(body.endsWith('\n'));
}

TEST(CopyText, TextRowsAreSeparatedEvenWhenARowReadsAsNothing) {
    ZNTCopySource source;
    source.columnNames = {"a"};
    source.rowCount = 3;
    const std::vector<Value> values = {Value(), Value::fromString("x"), Value::fromString("y\tz")};
    source.valueAt = [&](qsizetype row, int) { return values[size_t(row)]; };
    EXPECT_EQ(ZNTCopyText(ZNTCopyModeText, "t", source), "\nx\ny z");
    EXPECT_EQ(ZNTCopyText(42, "t", source), "\nx\ny z") << "an unknown mode copies as text";

    // A text that begins with U+FEFF keeps it: it is the value's own character,
    // not a mark of the encoding.
    const std::vector<Value> marked = {Value::fromString(QStringLiteral("\ufeffa")), Value::fromString("b")};
    source.rowCount = 2;
    source.valueAt = [&](qsizetype row, int) { return marked[size_t(row)]; };
    EXPECT_EQ(ZNTCopyText(ZNTCopyModeText, "t", source), QStringLiteral("\ufeffa\nb"));
    EXPECT_EQ(KesCoder::clipboardCoder().encodeObject(marked[0]), QStringLiteral("\ufeffa"));

    source.rowCount = 0;
    for (int mode : {0, 1, 2, 3})
        EXPECT_EQ(ZNTCopyText(mode, "t", source), QString()) << "nothing to copy in mode " << mode;
}
