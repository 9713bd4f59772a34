// Field values as a server sends them in text form, by their column's type:
// boolean, bytea (hex and escape forms), int2/4/8, float4/8, numeric and text,
// converted one by one and as a row appended to a row store, then shown in
// cells with a length cap (where broken UTF-8 must cost no more than the cap).
//
// The first byte picks the first column's type (the next columns take the types
// after it in turn) and, in its high bits, the cap; the rest is the row's fields
// separated by NUL bytes, as libpq's values are NUL-terminated. A field of the
// single byte 0x01 is NULL.
#include "FuzzSupport.h"
#include "engine/RowStore.h"
#include "engine/ValueConversion.h"

#include <libpq-fe.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned kTypes[] = {16, 17, 20, 21, 23, 700, 701, 1700, 25};
constexpr int kTypeCount = int(std::size(kTypes));
constexpr int kMaxColumns = 32;

struct Field {
    bool null = false;
    std::string text;
};

std::vector<Field> fieldsOf(const uint8_t *data, size_t size) {
    std::vector<Field> fields;
    size_t start = 0;
    for (size_t i = 0; i <= size && fields.size() < kMaxColumns; ++i) {
        if (i < size && data[i] != 0)
            continue;
        Field field;
        field.text.assign(reinterpret_cast<const char *>(data + start), i - start);
        field.null = field.text == "\x01";
        fields.push_back(std::move(field));
        start = i + 1;
    }
    return fields;
}

struct ResultFree {
    void operator()(PGresult *result) const { PQclear(result); }
};

// One row of a result as libpq would hold it, without a server.
std::unique_ptr<PGresult, ResultFree> resultWithRow(const std::vector<Field> &fields, int firstType) {
    std::unique_ptr<PGresult, ResultFree> result(PQmakeEmptyPGresult(nullptr, PGRES_TUPLES_OK));
    std::vector<PGresAttDesc> attributes(fields.size());
    std::vector<std::string> names(fields.size());
    for (size_t c = 0; c < fields.size(); ++c) {
        names[c] = "c" + std::to_string(c);
        attributes[c] = PGresAttDesc{names[c].data(), 0, 0, 0, kTypes[(firstType + c) % kTypeCount], -1, -1};
    }
    FUZZ_CHECK(PQsetResultAttrs(result.get(), int(fields.size()), attributes.data()));
    for (size_t c = 0; c < fields.size(); ++c) {
        const Field &f = fields[c];
        FUZZ_CHECK(PQsetvalue(result.get(), 0, int(c), f.null ? nullptr : const_cast<char *>(f.text.c_str()),
                              f.null ? -1 : int(f.text.size())));
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const int firstType = data[0] % kTypeCount;
    const qsizetype cap = (data[0] >> 4) * 3;
    const std::vector<Field> fields = fieldsOf(data + 1, size - 1);
    const auto result = resultWithRow(fields, firstType);

    RowStore store(int(fields.size()));
    ValueConversion::RowAppender appender(result.get());
    appender.appendRow(store, result.get(), 0);
    FUZZ_CHECK(store.rowCount() == 1);

    for (size_t c = 0; c < fields.size(); ++c) {
        const Field &f = fields[c];
        const int column = int(c);
        const Value stored = store.valueAt(0, column);
        if (f.null) {
            FUZZ_CHECK(stored.isNull());
            continue;
        }
        // The store's way and the one-value way read a field alike.
        const Value single = ValueConversion::valueFromText(kTypes[(firstType + c) % kTypeCount], f.text.c_str(),
                                                            qsizetype(f.text.size()));
        FUZZ_CHECK(single.kind() == stored.kind());
        FUZZ_CHECK(single.description() == stored.description());
        const QString whole = store.displayText(0, column);
        FUZZ_CHECK(whole == stored.description());
        // A capped cell is the start of the whole text, however the cap cuts it.
        const QString capped = store.displayText(0, column, cap);
        FUZZ_CHECK(capped.size() <= cap);
        FUZZ_CHECK(capped == whole.left(cap));
    }
    return 0;
}
