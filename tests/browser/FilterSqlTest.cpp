// Row filters as the server sees them: the conditions they write run through
// the table's own page and count queries on the test server.
#include "FilterTestSupport.h"
#include "platform/ProgramError.h"

using namespace filtertest;

namespace {

// Values that LIKE patterns and literal quoting treat specially, and near misses
// of each; the key is the position in this list.
const QList<std::optional<QString>> kAwkwardValues = {
    "'",          "\\",   "%",      "_",    "50%_off", "50x_off",     "50%xoff",    "5000off", "50%_OFF and more",
    "it's",       "a\\b", "a\\\\b", "ab",   "100%",    "under_score", "plain",      "",        std::nullopt,
    "C:\\path\\", "%%",   "__",     "'\\'", "x'y",     "tab\there",   "ünï_cödé %",
};

QString dollarQuoted(const std::optional<QString> &value) {
    return value ? QStringLiteral("$v$%1$v$").arg(*value) : QStringLiteral("NULL");
}

void createAwkwardTable(const ScratchDatabase &db) {
    QStringList rows;
    for (qsizetype i = 0; i < kAwkwardValues.size(); ++i)
        rows << QStringLiteral("(%1, %2)").arg(i).arg(dollarQuoted(kAwkwardValues[i]));
    db.run(R"(CREATE TABLE "fil'ters" (id int PRIMARY KEY, "we""ird" text))");
    db.run(QStringLiteral(R"(INSERT INTO "fil'ters" VALUES %1)").arg(rows.join(u',')));
}

// The keys of the values that op with needle must let through, by the plain
// meaning of the comparison (NULL passes none of them).
QStringList expectedKeys(int op, const QString &needle) {
    QStringList result;
    for (qsizetype i = 0; i < kAwkwardValues.size(); ++i) {
        if (!kAwkwardValues[i])
            continue;
        const QString &value = *kAwkwardValues[i];
        const bool contains = value.contains(needle, Qt::CaseInsensitive);
        bool pass = false;
        switch (op) {
        case ZNTFilter::ZNTFilterOperatorContains:
            pass = contains;
            break;
        case ZNTFilter::ZNTFilterOperatorNotContains:
            pass = !contains;
            break;
        case ZNTFilter::ZNTFilterOperatorEqual:
            pass = value == needle;
            break;
        case ZNTFilter::ZNTFilterOperatorNotEqual:
            pass = value != needle;
            break;
        }
        if (pass)
            result << QString::number(i);
    }
    return result;
}

// Short names: each instance's scratch database is named after it, and
// PostgreSQL cuts names at 63 bytes.
class TypedText : public ::testing::TestWithParam<bool> {};

} // namespace

// Quotes, backslashes and LIKE's own wildcards typed into a filter match
// themselves and nothing else, on a server with either string syntax.
TEST_P(TypedText, CharactersMatchThemselvesExactly) {
    const bool standardStrings = GetParam();
    ScratchDatabase db;
    createAwkwardTable(db);
    if (!standardStrings)
        db.run(QStringLiteral("ALTER DATABASE %1 SET standard_conforming_strings = off").arg(db.name));
    LoadedTable loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "fil'ters"));
    ASSERT_EQ(loaded.connection()->configurationParameterValues().value("standard_conforming_strings"),
              standardStrings ? "on" : "off");
    const auto column = loaded.column("we\"ird");
    ASSERT_TRUE(column);

    const QStringList needles = {"'", "\\", "%", "_", "50%_off", "it's", "a\\b", "%%", "'\\'", "ünï_cödé %"};
    for (const QString &needle : needles) {
        for (int op : {ZNTFilter::ZNTFilterOperatorContains, ZNTFilter::ZNTFilterOperatorNotContains,
                       ZNTFilter::ZNTFilterOperatorEqual, ZNTFilter::ZNTFilterOperatorNotEqual}) {
            SCOPED_TRACE(QStringLiteral("operator %1 with %2").arg(op).arg(needle).toStdString());
            const Outcome outcome = runFiltered(loaded, {makeFilter(ZNTFilter::ZNTFilterTypeText, column, op, needle)});
            EXPECT_EQ(outcome.pageError, "");
            EXPECT_EQ(outcome.countError, "");
            const QStringList expected = expectedKeys(op, needle);
            EXPECT_EQ(keys(outcome.rows), expected);
            EXPECT_EQ(outcome.count, expected.size());
        }
    }
    // Any column searches the text column the same way (and the key as text).
    const Outcome any = runFiltered(loaded, {makeFilter(ZNTFilter::ZNTFilterTypeText, loaded.anyColumn(),
                                                        ZNTFilter::ZNTFilterOperatorContains, "50%_off")});
    EXPECT_EQ(keys(any.rows), expectedKeys(ZNTFilter::ZNTFilterOperatorContains, "50%_off"));
}

INSTANTIATE_TEST_SUITE_P(StandardStrings, TypedText, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "On" : "Off"; });

// The conditions as the filters write them, for a connection that quotes as
// libpq does.
TEST(FilterSql, ConditionsAreWrittenInTheServersSyntax) {
    ScratchDatabase db;
    db.run(R"(CREATE TABLE t (id integer, name text, active boolean, photo bytea))");
    LoadedTable loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "t"));
    const ZNTConnection &c = *loaded.connection();
    using F = ZNTFilter;

    EXPECT_EQ(makeFilter(F::ZNTFilterTypeText, loaded.column("name"), F::ZNTFilterOperatorContains, "it's")
                  ->sqlForConnection(c),
              R"("name" ILIKE '%it''s%')");
    EXPECT_EQ(
        makeFilter(F::ZNTFilterTypeText, loaded.column("id"), F::ZNTFilterOperatorEqual, "42")->sqlForConnection(c),
        R"("id"::TEXT = '42')");
    EXPECT_EQ(makeFilter(F::ZNTFilterTypeNumeric, loaded.column("id"), F::ZNTFilterOperatorGreaterOrEqual, "42")
                  ->sqlForConnection(c),
              R"("id" >= '42')");
    EXPECT_EQ(
        makeFilter(F::ZNTFilterTypeBoolean, loaded.column("active"), F::ZNTFilterOperatorIsFalse)->sqlForConnection(c),
        R"("active" = false)");
    EXPECT_EQ(
        makeFilter(F::ZNTFilterTypeText, loaded.anyColumn(), F::ZNTFilterOperatorContains, "x")->sqlForConnection(c),
        R"(("id"::TEXT ILIKE '%x%' OR "name" ILIKE '%x%' OR "active"::TEXT ILIKE '%x%'))")
        << "every column but the string ones is cast, the bytea column left out";
    // A backslash is doubled for LIKE, then again by the E'' literal.
    EXPECT_EQ(makeFilter(F::ZNTFilterTypeText, loaded.column("name"), F::ZNTFilterOperatorContains, "a\\b")
                  ->sqlForConnection(c),
              R"("name" ILIKE  E'%a\\\\b%')");
    // A value that looks like an argument of a format stays as it is.
    EXPECT_EQ(makeFilter(F::ZNTFilterTypeText, loaded.column("name"), F::ZNTFilterOperatorEqual, "%1 %2")
                  ->sqlForConnection(c),
              R"("name" = '%1 %2')");
}

// Each kind of column gets the filter type the bar gives it, and the filter
// the bar would make on it selects what the same test in psql selects.
TEST(FilterSql, EachKindOfColumnIsTestedAsPsqlTestsIt) {
    ScratchDatabase db;
    db.run(R"(CREATE TYPE mood AS ENUM ('sad', 'ok', 'happy');
              CREATE TABLE k (n int PRIMARY KEY, label varchar(20), amount numeric, day date, span interval,
                              flag boolean, u uuid, m mood, data bytea);
              INSERT INTO k SELECT g, 'L' || g, g * 1.5, date '2024-01-01' + g, g * interval '1 hour',
                                   CASE WHEN g % 3 = 0 THEN NULL ELSE g % 2 = 0 END,
                                   ('00000000-0000-0000-0000-0000000000' || lpad(g::text, 2, '0'))::uuid,
                                   (enum_range(NULL::mood))[g % 3 + 1],
                                   CASE WHEN g % 4 = 0 THEN NULL ELSE decode(lpad(g::text, 2, '0'), 'hex') END
                            FROM generate_series(1, 40) g;)");
    LoadedTable loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "k"));
    using F = ZNTFilter;
    struct Case {
        QString column;
        int expectedType;
        int op;
        QString value;
        QString psqlCondition;
    };
    const QList<Case> cases = {
        {"n", F::ZNTFilterTypeNumeric, F::ZNTFilterOperatorGreater, "17", "n > 17"},
        {"label", F::ZNTFilterTypeText, F::ZNTFilterOperatorContains, "l1", "label ILIKE '%l1%'"},
        {"amount", F::ZNTFilterTypeNumeric, F::ZNTFilterOperatorLessOrEqual, "7.5", "amount <= 7.5"},
        {"day", F::ZNTFilterTypeNumeric, F::ZNTFilterOperatorGreaterOrEqual, "2024-02-01", "day >= '2024-02-01'"},
        {"span", F::ZNTFilterTypeNumeric, F::ZNTFilterOperatorLess, "5 hours", "span < '5 hours'"},
        {"flag", F::ZNTFilterTypeBoolean, F::ZNTFilterOperatorIsTrue, "", "flag = true"},
        {"flag", F::ZNTFilterTypeBoolean, F::ZNTFilterOperatorIsNull, "", "flag IS NULL"},
        {"u", F::ZNTFilterTypeText, F::ZNTFilterOperatorContains, "0001", "u::text ILIKE '%0001%'"},
        {"m", F::ZNTFilterTypeText, F::ZNTFilterOperatorEqual, "happy", "m::text = 'happy'"},
        {"m", F::ZNTFilterTypeText, F::ZNTFilterOperatorNotEqual, "happy", "m::text <> 'happy'"},
        {"data", F::ZNTFilterTypeIsNull, F::ZNTFilterOperatorIsNotNull, "", "data IS NOT NULL"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.psqlCondition.toStdString());
        const auto column = loaded.column(test.column);
        ASSERT_TRUE(column);
        EXPECT_EQ(F::typeForColumn(column.get()), test.expectedType);
        const auto filter = makeFilter(test.expectedType, column, test.op, test.value);
        const Outcome outcome = runFiltered(loaded, {filter});
        EXPECT_EQ(outcome.pageError, "");
        const QString expected = db.run("SELECT n FROM k WHERE " + test.psqlCondition + " ORDER BY n");
        EXPECT_EQ(keys(outcome.rows).join(u'\n'), expected);
        EXPECT_EQ(outcome.count, expected.isEmpty() ? 0 : expected.count(u'\n') + 1);
    }
    // Two filters narrow each other.
    const Outcome both =
        runFiltered(loaded, {makeFilter(F::ZNTFilterTypeNumeric, loaded.column("n"), F::ZNTFilterOperatorGreater, "10"),
                             makeFilter(F::ZNTFilterTypeBoolean, loaded.column("flag"), F::ZNTFilterOperatorIsFalse)});
    EXPECT_EQ(keys(both.rows).join(u'\n'), db.run("SELECT n FROM k WHERE n > 10 AND flag = false ORDER BY n"));
}

// No filter hands the page query an empty condition, which it would write as
// "()": an expression without text lets every row through, a search of any
// column of a table with nothing to search lets none through.
TEST(FilterSql, FiltersWithNothingToTestStillMakeAQueryThatRuns) {
    ScratchDatabase db;
    db.run("CREATE TABLE blobs (a bytea, b bytea); INSERT INTO blobs VALUES ('\\x01', NULL), (NULL, '\\x02');"
           "CREATE TABLE words (n int PRIMARY KEY, w text);"
           "INSERT INTO words SELECT g, 'w' || g FROM generate_series(1, 30) g;");
    LoadedTable blobs;
    ASSERT_NO_FATAL_FAILURE(blobs = loadTable(db.name, "blobs"));
    using F = ZNTFilter;
    auto any = makeFilter(F::ZNTFilterTypeText, blobs.anyColumn(), F::ZNTFilterOperatorContains, "x");
    EXPECT_EQ(any->sqlForConnection(*blobs.connection()), "FALSE");
    Outcome outcome = runFiltered(blobs, {any});
    EXPECT_EQ(outcome.pageError, "");
    EXPECT_EQ(outcome.count, 0);

    LoadedTable words;

    ASSERT_NO_FATAL_FAILURE(words = loadTable(db.name, "words"));
    for (const QString &text : {QString(), QString(""), QString("  \n\t ")}) {
        auto expression = std::make_shared<ZNTFilter>(F::ZNTFilterTypeExpression);
        expression->setStringValue(text);
        EXPECT_EQ(expression->sqlForConnection(*words.connection()), "TRUE");
        outcome = runFiltered(words, {expression});
        EXPECT_EQ(outcome.countError, "");
        EXPECT_EQ(outcome.count, 30);
    }
    // An expression ending in a line comment keeps the page's ORDER BY and LIMIT.
    auto commented = std::make_shared<ZNTFilter>(F::ZNTFilterTypeExpression);
    commented->setStringValue("n > 5 -- the later ones");
    auto page = words.table->queryWithOffset(0, 3, nullptr, false, filterConditions({commented}));
    runAndWait(page, words.connection());
    EXPECT_EQ(page->error(), nullptr) << page->sql().toStdString();
    EXPECT_EQ(keys(rowTexts(page)), QStringList({"28", "29", "30"}));
    // An expression is the user's SQL, unchanged otherwise.
    commented->setStringValue("w = 'w7' OR n < 2");
    EXPECT_EQ(commented->sqlForConnection(*words.connection()), "w = 'w7' OR n < 2");
    EXPECT_EQ(keys(runFiltered(words, {commented}).rows), QStringList({"1", "7"}));
}

TEST(FilterSql, AnOperatorOutsideTheTableIsAProgramError) {
    auto connection = ZNTConnection::create({});
    auto filter = makeFilter(ZNTFilter::ZNTFilterTypeText, std::make_shared<ZNTColumn>("c"), 13, "x");
    try {
        filter->sqlForConnection(*connection);
        ADD_FAILURE() << "no exception";
    } catch (const ProgramError &e) {
        EXPECT_EQ(e.name(), "ZNTColumnCompareFilterException");
        EXPECT_STREQ(e.what(), "ZNTColumnCompareFilterException: Invalid operator: 13");
    }
}
