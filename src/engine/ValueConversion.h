#pragma once

#include "RowStore.h"
#include "Value.h"

#include <string>
#include <vector>

typedef struct pg_result PGresult;

// Turns the server's text form of a field into a row value by the column's type
// OID: boolean (16) → bool, bytea (17) → bytes, int8/int2/int4 (20, 21, 23) →
// integer, float4 (700) → float, float8 (701) → double (NaN and the infinities
// included); every other type, numeric among them, and any text that does not
// parse as its type stays text. Numbers are read with std::from_chars, so the
// user's locale never changes how "1.5" reads.
namespace ValueConversion {
Value valueFromText(unsigned typeOid, const char *text, qsizetype length);

// Appends rows of a libpq result to a store, converting as above without
// building Values on the way. connection queue.
class RowAppender {
public:
    explicit RowAppender(const PGresult *result);
    ~RowAppender();
    RowAppender(const RowAppender &) = delete;
    RowAppender &operator=(const RowAppender &) = delete;
    // Appends row `tuple` of `result` (a result with the same columns).
    void appendRow(RowStore &store, const PGresult *result, int tuple);

private:
    std::vector<unsigned> m_types;
    std::vector<unsigned char *> m_unescaped; // libpq's bytea buffers, freed after each row
    std::vector<std::string> m_scratch;       // decoded bytea, one buffer per column
};
} // namespace ValueConversion
