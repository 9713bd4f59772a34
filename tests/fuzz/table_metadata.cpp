// The four results of a table's structure load (relation, columns, indexes,
// constraints) as a server, honest or not, may answer them: any rows, any
// values, fewer columns or results than asked for. The input is the results'
// fields as text, read by their column's type as the connection would:
// results are separated by 0x1d, rows by 0x1e and fields by 0x1f; a field of
// the single byte 0x01 is NULL; a result of the single byte '!' is a command's
// result with no rows. A result has as many columns as its longest row (at
// most those of the statement), all of them when it has no rows.
#include "FuzzSupport.h"
#include "engine/ValueConversion.h"
#include "engine/ZNTResult.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "model/ZNTTableMetadataReader.h"

namespace {

struct Column {
    const char *name;
    unsigned type;
};
enum Oid : unsigned { Bool = 16, Char = 18, Name = 19, Int2 = 21, Int2Vector = 22, Text = 25, OidType = 26 };
constexpr unsigned Int2Array = 1005, TextArray = 1009;

// The columns of the four statements, by the names and types the server gives them.
const std::vector<Column> kStatements[] = {
    {{"oid", OidType},
     {"comment", Text},
     {"tablespace", Name},
     {"viewdef", Text},
     {"relkind", Char},
     {"relhasrules", Bool},
     {"relrowsecurity", Bool}},
    {{"attnum", Int2},
     {"attname", Name},
     {"atttypid", OidType},
     {"attnotnull", Bool},
     {"format_type", Text},
     {"adsrc", Text},
     {"col_description", Text},
     {"typcategory", Char}},
    {{"oid", OidType},
     {"relname", Name},
     {"indisunique", Bool},
     {"indisprimary", Bool},
     {"indisexclusion", Bool},
     {"indkey", Int2Vector},
     {"definition", Text},
     {"expressions", TextArray},
     {"keycount", Int2}},
    {{"oid", OidType},
     {"conname", Name},
     {"contype", Char},
     {"conkey", Int2Array},
     {"fschema", Name},
     {"ftable", Name},
     {"fkeys", Int2Array},
     {"consrc", Text},
     {"pg_get_constraintdef", Text},
     {"confupdtype", Char},
     {"confdeltype", Char},
     {"obj_description", Text},
     {"condeferrable", Bool},
     {"condeferred", Bool},
     {"connoinherit", Bool},
     {"conparentid", OidType}},
};
constexpr int kMaxRows = 64;

std::shared_ptr<ZNTResult> resultOf(const QByteArray &segment, const std::vector<Column> &statement) {
    if (segment == "!")
        return ZNTResult::commandOkResult();
    QList<QList<QByteArray>> rows;
    if (!segment.isEmpty())
        for (const QByteArray &row : segment.split('\x1e').mid(0, kMaxRows))
            rows << row.split('\x1f');
    qsizetype width = rows.isEmpty() ? qsizetype(statement.size()) : 0;
    for (const auto &row : rows)
        width = std::max(width, std::min(row.size(), qsizetype(statement.size())));
    auto result = ZNTResult::create();
    ZNTColumnList columns;
    for (qsizetype c = 0; c < width; ++c)
        columns << std::make_shared<ZNTColumn>(QString::fromLatin1(statement[size_t(c)].name));
    result->setColumns(columns);
    auto store = std::make_shared<RowStore>(int(width));
    for (const auto &row : rows) {
        std::vector<Value> values;
        for (qsizetype c = 0; c < width; ++c) {
            const QByteArray field = c < row.size() ? row[c] : QByteArray("\x01");
            values.push_back(field == "\x01" ? Value::null()
                                             : ValueConversion::valueFromText(statement[size_t(c)].type,
                                                                              field.constData(), field.size()));
        }
        store->appendRow(values);
    }
    result->setRows(store);
    return result;
}

struct Fixture {
    std::shared_ptr<ZNTServer> server = ZNTServer::create({});
    std::shared_ptr<ZNTTable> table = ZNTTable::create("t", "public", server->mainDatabase());
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Fixture &fixture = *new Fixture; // never destroyed: its connection must not close at exit
    QList<std::shared_ptr<ZNTResult>> results;
    const QList<QByteArray> segments = Fuzz::bytes(data, size).split('\x1d');
    for (qsizetype i = 0; i < segments.size() && i < 5; ++i)
        results << resultOf(segments[i], kStatements[std::min<qsizetype>(i, 3)]);

    auto metadata = ZNTTableMetadata::makeUnloadedForTesting(
        fixture.table, fixture.server->connectionForDatabase(*fixture.server->mainDatabase()));
    const ErrorPtr error = ZNTTableMetadataReader(*metadata).read(results);
    if (error) {
        // A failed read leaves the metadata as it was.
        FUZZ_CHECK(metadata->columns().isEmpty() && metadata->constraints().isEmpty() && metadata->oid() == 0);
        return 0;
    }
    for (const auto &column : metadata->columns())
        FUZZ_CHECK(column && column->attnum() > 0 && metadata->columnForAttnum(column->attnum()));
    if (const auto key = metadata->primaryKeyIndex())
        FUZZ_CHECK(metadata->indexes().contains(key));
    return 0;
}
