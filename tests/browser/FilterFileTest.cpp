// Filter files and stored filters: what we write Python's json reads, what
// Python writes loads as the filters it describes, and nothing read from
// outside makes a filter that crashes or writes a condition the server cannot take.
#include "FilterTestSupport.h"
#include "browser/FilterBarModel.h"
#include "browser/ZNTFilterFile.h"

#include <QRandomGenerator>

using namespace filtertest;

namespace {

const char *kTable = R"(CREATE TABLE t (n int PRIMARY KEY, "we""ird" text, name text, flag boolean, photo bytea);
                        INSERT INTO t SELECT g, 'w' || g, 'name ' || g, g % 2 = 0, NULL
                        FROM generate_series(1, 50) g;)";

// Every field of a filter, as one line.
QString describe(const ZNTFilter &filter) {
    const QString column = !filter.column()         ? QStringLiteral("none")
                           : filter.isOnAnyColumn() ? QStringLiteral("any")
                                                    : filter.column()->name();
    return QStringLiteral("type=%1 column=%2 op=%3 value=%4 value2=%5")
        .arg(filter.type())
        .arg(column)
        .arg(filter.filterOperator())
        .arg(filter.stringValue().isNull() ? QStringLiteral("(none)") : filter.stringValue())
        .arg(filter.stringValue2().isNull() ? QStringLiteral("(none)") : filter.stringValue2());
}

// No error, or the server's refusal of a value for its column's type: the
// condition itself is well formed.
bool isOnlyAValueError(const QString &error) {
    return error.isEmpty() || error.contains("invalid input syntax") || error.contains("out of range");
}

QVariant decode(const QByteArray &data) {
    ErrorPtr error;
    const std::optional<QVariant> value = ZNTFilterFile::valueOfData(data, &error);
    EXPECT_TRUE(value) << (error ? error->localizedFailureReason().toStdString() : "");
    return value.value_or(QVariant());
}

} // namespace

TEST(FilterFile, PythonReadsOurFilesAsCompactJSONWithEveryField) {
    ScratchDatabase db;
    db.run(kTable);
    LoadedTable loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "t"));
    using F = ZNTFilter;
    auto any = makeFilter(F::ZNTFilterTypeText, loaded.anyColumn(), F::ZNTFilterOperatorContains, "a \"q\" ü\n\\");
    auto weird =
        makeFilter(F::ZNTFilterTypeNumeric, loaded.column("we\"ird"), F::ZNTFilterOperatorGreaterOrEqual, "30");
    auto expression = makeFilter(F::ZNTFilterTypeExpression, nullptr, F::ZNTFilterOperatorNone, "n < 3 OR n = 7");
    expression->setStringValue2("kept");
    auto flag = makeFilter(F::ZNTFilterTypeBoolean, loaded.column("flag"), F::ZNTFilterOperatorIsTrue);
    auto empty = makeFilter(F::ZNTFilterTypeText, loaded.column("name"), F::ZNTFilterOperatorEqual, "");
    FilterBarModel bar(loaded.table);
    ASSERT_TRUE(bar.loadDictionaryRepresentations(QVariantList{}));
    QVariantList dictionaries;
    for (const auto &filter : {any, weird, expression, flag, empty})
        dictionaries << filter->dictionaryRepresentation();
    const QByteArray file = ZNTFilterFile::dataOfDictionaries(dictionaries);

    const QByteArray python = runPython(R"(
import json, re, sys
data = sys.stdin.buffer.read()
text = data.decode('utf-8')
outside = re.sub(r'"(?:[^"\\]|\\.)*"', '', text)
assert not re.search(r'\s', outside), 'white space outside strings: ' + outside
filters = json.loads(text)
assert isinstance(filters, list)
for f in filters:
    print(json.dumps({k: [type(v).__name__, v] for k, v in f.items()}, sort_keys=True, ensure_ascii=True))
)",
                                        {}, file);
    EXPECT_EQ(
        QString::fromUtf8(python).split(u'\n', Qt::SkipEmptyParts),
        QStringList({
            R"({"anyColumn": ["bool", true], "operator": ["int", 1], "stringValue": ["str", "a \"q\" \u00fc\n\\"], "type": ["int", 1]})",
            R"({"columnName": ["str", "we\"ird"], "operator": ["int", 8], "stringValue": ["str", "30"], "type": ["int", 2]})",
            R"({"stringValue": ["str", "n < 3 OR n = 7"], "stringValue2": ["str", "kept"], "type": ["int", 0]})",
            R"({"columnName": ["str", "flag"], "operator": ["int", 5], "type": ["int", 3]})",
            R"({"columnName": ["str", "name"], "operator": ["int", 2], "stringValue": ["str", ""], "type": ["int", 1]})",
        }));

    // And they come back as the same filters.
    ASSERT_TRUE(bar.loadDictionaryRepresentations(decode(file)));
    QStringList reread;
    for (const auto &filter : bar.filters())
        reread << describe(*filter);
    EXPECT_EQ(reread, QStringList({describe(*any), describe(*weird), describe(*expression), describe(*flag),
                                   describe(*empty)}));
}

TEST(FilterFile, PythonsFilesLoadAsTheFiltersTheyDescribe) {
    ScratchDatabase db;
    db.run(kTable);
    LoadedTable loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "t"));
    const QByteArray file = runPython(R"(
import json, sys
filters = [
    {"type": 1, "columnName": "name", "stringValue": "x"},
    {"type": 0, "stringValue": "n > 3"},
    {"type": 2, "anyColumn": False, "columnName": "n", "operator": 8, "stringValue": "30"},
    42,
    {"type": 1, "columnName": "gone", "operator": 12, "stringValue": "y"},
    {"type": 2.0, "columnName": "n", "operator": 99},
    {"type": 7, "columnName": "flag"},
    {"type": "1", "columnName": "name", "operator": "3"},
    {"type": 1, "anyColumn": True, "operator": 1, "stringValue": "abc", "stringValue2": "keep"},
    {"type": 4},
    {"type": 1, "columnName": "name", "anyColumn": 1},
    [],
    {"type": True, "stringValue": "flag"},
    {"type": 3, "columnName": "flag", "operator": 1.5},
    {"type": 1, "columnName": "we\"ird", "operator": 9, "stringValue": "w5", "extra": {"a": [1]}},
]
sys.stdout.write(json.dumps(filters, indent=2))
)");
    FilterBarModel bar(loaded.table);
    ASSERT_TRUE(bar.loadDictionaryRepresentations(decode(file)));
    QStringList loadedFilters;
    for (const auto &filter : bar.filters())
        loadedFilters << describe(*filter);
    EXPECT_EQ(loadedFilters, QStringList({
                                 "type=1 column=name op=1 value=x value2=(none)",      // no operator: the type's
                                 "type=0 column=none op=0 value=n > 3 value2=(none)",  // an expression has none
                                 "type=2 column=n op=8 value=30 value2=(none)",        // "anyColumn": false
                                 "type=0 column=none op=0 value=(none) value2=(none)", // not a dictionary
                                 "type=1 column=any op=12 value=y value2=(none)",      // a column that is gone
                                 "type=2 column=n op=2 value=(none) value2=(none)",    // unknown operator
                                 "type=3 column=flag op=5 value=(none) value2=(none)", // unknown type
                                 "type=0 column=name op=0 value=(none) value2=(none)", // texts for numbers
                                 "type=1 column=any op=1 value=abc value2=keep",
                                 "type=4 column=any op=4 value=(none) value2=(none)", // a test of no column
                                 "type=1 column=any op=1 value=(none) value2=(none)",
                                 "type=0 column=none op=0 value=(none) value2=(none)",
                                 "type=0 column=none op=0 value=flag value2=(none)", // a boolean is no type
                                 "type=3 column=flag op=5 value=(none) value2=(none)",
                                 "type=1 column=we\"ird op=9 value=w5 value2=(none)",
                             }));
    // Every one of them makes a well-formed condition: the server takes it, or
    // refuses only a value that does not fit the column (an empty number).
    for (const auto &filter : bar.filters()) {
        const Outcome outcome = runFiltered(loaded, {filter});
        EXPECT_TRUE(isOnlyAValueError(outcome.pageError)) << outcome.pageError.toStdString();
        EXPECT_TRUE(isOnlyAValueError(outcome.countError)) << outcome.countError.toStdString();
    }
    // A value no operator reads survives a load and a save.
    EXPECT_EQ(bar.dictionaryRepresentations().at(8).toMap().value("stringValue2"), "keep");
}

TEST(FilterFile, OutsideInputIsBoundedBeforeItIsParsed) {
    ErrorPtr error;
    QByteArray large = "[{\"type\":0,\"stringValue\":\"" + QByteArray(ZNTFilterFile::kMaxFileSize, 'x') + "\"}]";
    EXPECT_FALSE(ZNTFilterFile::valueOfData(large, &error));
    EXPECT_EQ(error->localizedDescription(), "The filter file is too large.");

    const int limit = ZNTFilterFile::kMaxNestingDepth;
    const QByteArray deepest = QByteArray(limit, '[') + QByteArray(limit, ']');
    EXPECT_TRUE(ZNTFilterFile::valueOfData(deepest, &error));
    const QByteArray tooDeep = QByteArray(limit + 1, '[') + QByteArray(limit + 1, ']');
    EXPECT_FALSE(ZNTFilterFile::valueOfData(tooDeep, &error));
    EXPECT_EQ(error->localizedFailureReason(), "Its values are nested more than 16 deep.");
    // Unbalanced nesting is counted as it opens, however it would end.
    EXPECT_FALSE(ZNTFilterFile::valueOfData(QByteArray(100000, '{'), &error));
    // Brackets inside strings, escaped quotes included, are text.
    EXPECT_TRUE(ZNTFilterFile::valueOfData(R"([{"stringValue":"\"[[[[[[[[[[[[[[[[[[[[[[[[{{{{{{{{{{{"}])", &error));

    EXPECT_FALSE(ZNTFilterFile::valueOfData("[{\"type\": 1,}]", &error));
    EXPECT_EQ(error->localizedDescription(), "The filter file isn’t in the correct format.");
    EXPECT_TRUE(error->localizedFailureReason().contains("at byte 13"))
        << error->localizedFailureReason().toStdString();
    EXPECT_FALSE(ZNTFilterFile::valueOfData("[1] [2]", &error));
    EXPECT_FALSE(ZNTFilterFile::valueOfData("1, 2", &error));
    EXPECT_FALSE(ZNTFilterFile::valueOfData("", &error));
    EXPECT_FALSE(ZNTFilterFile::valueOfData("[\"\xff\xfe\"]", &error)) << "not UTF-8";

    // JSON that is no list of filters, or too long a list, loads nothing.
    FilterBarModel bar(nullptr);
    bar.filterColumn(nullptr);
    for (const QByteArray &notAList : {QByteArray("\"abc\""), QByteArray("{\"type\":1}"), QByteArray("null")})
        EXPECT_FALSE(bar.loadDictionaryRepresentations(decode(notAList))) << notAList.constData();
    QByteArray many = "[" + QByteArray("{},").repeated(ZNTFilterFile::kMaxFilterCount) + "{}]";
    EXPECT_FALSE(bar.loadDictionaryRepresentations(decode(many)));
    EXPECT_EQ(bar.filters().size(), 1) << "a refused file changes nothing";
    many = "[" + QByteArray("{},").repeated(ZNTFilterFile::kMaxFilterCount - 1) + "{}]";
    EXPECT_TRUE(bar.loadDictionaryRepresentations(decode(many)));
    EXPECT_EQ(bar.filters().size(), ZNTFilterFile::kMaxFilterCount);
}

// Whatever a file or the settings hold, the filters made from it write a
// condition and never throw: random dictionaries of the known keys with values
// of every kind, and random bytes.
TEST(FilterFile, NoDictionaryMakesAFilterThatFailsToWriteItsCondition) {
    ScratchDatabase db;
    db.run(kTable);
    LoadedTable loaded;
    ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "t"));
    QRandomGenerator random(20240611);
    const QStringList keys = {"type", "operator", "columnName", "anyColumn", "stringValue", "stringValue2", "other"};
    auto randomValue = [&]() -> QVariant {
        switch (random.bounded(12)) {
        case 0:
            return QVariant::fromValue(qint64(random.bounded(-3, 16)));
        case 1:
            return double(random.bounded(-30, 30)) / 2;
        case 2:
            return random.bounded(2) == 1;
        case 3:
            return QVariant::fromValue(nullptr);
        case 4:
            return QVariantList{1, "a"};
        case 5:
            return QVariantMap{{"type", 1}};
        case 6:
            return QStringList({"n", "we\"ird", "gone", "", "photo"}).at(random.bounded(5));
        case 7:
            return QVariant::fromValue(std::numeric_limits<qint64>::max());
        case 8:
            return 1e300;
        case 9:
            return QString("x'\\%_");
        default:
            return QVariant::fromValue(qint64(random.bounded(0, 13)));
        }
    };
    auto connection = loaded.connection();
    QList<std::shared_ptr<ZNTFilter>> sample;
    for (int round = 0; round < 3000; ++round) {
        QVariantMap dictionary;
        for (const QString &key : keys)
            if (random.bounded(3) > 0)
                dictionary.insert(key, randomValue());
        const QVariant element = random.bounded(20) == 0 ? randomValue() : QVariant(dictionary);
        const auto filter = ZNTFilter::filterFromDictionaryRepresentation(element, loaded.table);
        QString sql;
        EXPECT_NO_THROW(sql = filter->sqlForConnection(*connection)) << describe(*filter).toStdString();
        EXPECT_FALSE(sql.trimmed().isEmpty()) << describe(*filter).toStdString();
        EXPECT_FALSE(filter->nibName().isEmpty()) << describe(*filter).toStdString();
        if (round % 150 == 0)
            sample << filter;
    }
    // A sample of them runs on the server: malformed SQL would fail here.
    for (const auto &filter : sample) {
        if (filter->type() == ZNTFilter::ZNTFilterTypeExpression)
            continue; // its text is the user's SQL
        const QString error = runFiltered(loaded, {filter}).pageError;
        EXPECT_TRUE(isOnlyAValueError(error) || error.contains("operator does not exist")) << error.toStdString();
    }
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(random.bounded(0, 64), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = "[]{}\",:0123456789truefalsnul \\x\xc3\xa9"[random.bounded(34)];
        ErrorPtr error;
        if (const auto value = ZNTFilterFile::valueOfData(bytes, &error)) {
            FilterBarModel bar(loaded.table);
            if (bar.loadDictionaryRepresentations(*value))
                for (const auto &filter : bar.filters())
                    EXPECT_NO_THROW(filter->sqlForConnection(*connection));
        } else {
            EXPECT_TRUE(error);
        }
    }
}
