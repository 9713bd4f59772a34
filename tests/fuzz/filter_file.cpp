// Filter files (".pfltr"): a file from a shared folder or a colleague is loaded
// into the filter bar of a table, whose filters become SQL conditions of the
// page and count queries. The input is the file. It is decoded as the bar's
// "Load" decodes it and loaded into the bar of a table of every kind of column.
// Each filter writes one condition, in which nothing from the file reaches the
// SQL outside a quoted literal or identifier unless the filter is one the user
// types as SQL; each filter's dictionary makes the same filter again, and the
// file the bar would save loads as the same filters.
#include "FuzzSupport.h"
#include "browser/FilterBarModel.h"
#include "browser/ZNTFilter.h"
#include "browser/ZNTFilterFile.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTResult.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "model/ZNTTableMetadataReader.h"

namespace {

std::shared_ptr<ZNTResult> resultOf(const QStringList &names, const std::vector<std::vector<Value>> &rows) {
    auto result = ZNTResult::create();
    ZNTColumnList columns;
    for (const QString &name : names)
        columns << std::make_shared<ZNTColumn>(name);
    result->setColumns(columns);
    auto store = std::make_shared<RowStore>(int(names.size()));
    for (const auto &row : rows)
        store->appendRow(row);
    result->setRows(store);
    return result;
}

// A column row of the structure load: attnum, name, type oid and name, category.
std::vector<Value> columnRow(int attnum, const char *name, int type, const char *typeName, const char *category) {
    return {Value::fromInt(attnum),
            Value::fromString(QString::fromUtf8(name)),
            Value::fromInt(type),
            Value::fromBool(false),
            Value::fromString(typeName),
            Value(),
            Value(),
            Value::fromString(category),
            Value()};
}

struct Fixture {
    Fixture() {
        const QList<std::shared_ptr<ZNTResult>> results{
            resultOf({"oid", "comment", "tablespace", "viewdef"}, {{Value::fromInt(16384), Value(), Value(), Value()}}),
            resultOf({"attnum", "attname", "atttypid", "attnotnull", "format_type", "adsrc", "col_description",
                      "typcategory", "basetypid"},
                     {columnRow(1, "id", 23, "integer", "N"), columnRow(2, "we\"ird", 25, "text", "S"),
                      columnRow(3, "name", 1043, "character varying", "S"), columnRow(4, "flag", 16, "boolean", "B"),
                      columnRow(5, "photo", 17, "bytea", "U"),
                      columnRow(6, "at", 1184, "timestamp with time zone", "D"),
                      columnRow(7, "amount", 1700, "numeric", "N"), columnRow(8, "tags", 1009, "text[]", "A")}),
            resultOf({"oid"}, {}),
            resultOf({"oid"}, {}),
        };
        FUZZ_CHECK(ZNTTableMetadataReader(*table->metadata()).read(results) == nullptr);
        FUZZ_CHECK(table->metadata()->columns().size() == 8);
    }
    std::shared_ptr<ZNTServer> server = ZNTServer::create({});
    std::shared_ptr<ZNTTable> table = ZNTTable::create("t", "public", server->mainDatabase());
    std::shared_ptr<ZNTConnection> connection = server->mainDatabase()->connection();
};

// The SQL outside its string literals ('…', E'…' with backslash escapes) and
// quoted identifiers ("…"), each of which is replaced by a single "?";
// nothing when one of them is left open.
std::optional<QString> outsideQuotes(const QString &sql) {
    QString outside;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c != u'\'' && c != u'"') {
            outside += c;
            continue;
        }
        const bool escapes = c == u'\'' && i > 0 && (sql[i - 1] == u'E' || sql[i - 1] == u'e');
        qsizetype j = i + 1;
        for (; j < sql.size(); ++j) {
            if (escapes && sql[j] == u'\\') {
                ++j;
            } else if (sql[j] == c) {
                if (j + 1 < sql.size() && sql[j + 1] == c)
                    ++j; // doubled: part of the text
                else
                    break;
            }
        }
        if (j >= sql.size())
            return std::nullopt;
        outside += u'?';
        i = j;
    }
    return outside;
}

void checkFilter(const ZNTFilter &filter, const Fixture &fixture) {
    const QString sql = filter.sqlForConnection(*fixture.connection);
    FUZZ_CHECK(!sql.isEmpty());
    if (filter.type() != ZNTFilter::ZNTFilterTypeExpression) {
        const std::optional<QString> outside = outsideQuotes(sql);
        FUZZ_CHECK(outside);
        FUZZ_CHECK(!outside->contains(u';') && !outside->contains(QStringLiteral("--")) &&
                   !outside->contains(QStringLiteral("/*")));
    }
    // A filter's dictionary describes it whole: the filter it makes is the same.
    const QVariantMap dictionary = filter.dictionaryRepresentation();
    const auto again = ZNTFilter::filterFromDictionaryRepresentation(dictionary, fixture.table);
    FUZZ_CHECK(again->dictionaryRepresentation() == dictionary);
    FUZZ_CHECK(again->sqlForConnection(*fixture.connection) == sql);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Fixture &fixture = *new Fixture; // never destroyed: its connection must not close at exit
    const QByteArray file = Fuzz::bytes(data, size);
    ErrorPtr error;
    const std::optional<QVariant> value = ZNTFilterFile::valueOfData(file, &error);
    if (!value) {
        FUZZ_CHECK(error && !error->localizedFailureReason().isEmpty());
        return 0;
    }
    FUZZ_CHECK(file.size() <= ZNTFilterFile::kMaxFileSize);
    FilterBarModel bar(fixture.table);
    if (!bar.loadDictionaryRepresentations(*value))
        return 0;
    QVariantList dictionaries;
    for (const auto &filter : bar.filters()) {
        checkFilter(*filter, fixture);
        dictionaries << filter->dictionaryRepresentation();
    }
    // What the bar saves loads as the same filters.
    const QByteArray saved = ZNTFilterFile::dataOfDictionaries(dictionaries);
    const std::optional<QVariant> reread = ZNTFilterFile::valueOfData(saved, &error);
    FUZZ_CHECK(reread);
    FilterBarModel reloaded(fixture.table);
    FUZZ_CHECK(reloaded.loadDictionaryRepresentations(*reread));
    FUZZ_CHECK(reloaded.filters().size() == bar.filters().size());
    for (qsizetype i = 0; i < bar.filters().size(); ++i)
        FUZZ_CHECK(reloaded.filters()[i]->dictionaryRepresentation() == dictionaries[i]);
    return 0;
}
