#include "ValueConversion.h"

#include <array>
#include <charconv>
#include <libpq-fe.h>
#include <string>

namespace {
enum TypeOid : unsigned { Bool = 16, Bytea = 17, Int8 = 20, Int2 = 21, Int4 = 23, Float4 = 700, Float8 = 701 };

// Integers as the server writes them: an optional minus and up to 18 digits
// read in one pass; anything else (longer, or not digits) goes to from_chars.
bool parseInteger(const char *text, qsizetype length, int64_t &out) {
    const bool negative = length > 0 && text[0] == '-';
    const qsizetype digits = length - negative;
    if (digits <= 0 || digits > 18)
        return false;
    int64_t value = 0;
    for (const char *p = text + negative, *end = text + length; p != end; ++p) {
        const unsigned digit = unsigned(*p) - '0';
        if (digit > 9)
            return false;
        value = value * 10 + digit;
    }
    out = negative ? -value : value;
    return true;
}

// bytea's hex output: two hex digits per byte. False for anything else.
bool decodeHex(const char *hex, qsizetype length, char *out) {
    static const auto table = [] {
        std::array<int8_t, 256> t;
        t.fill(-1);
        for (int i = 0; i < 10; ++i)
            t['0' + i] = int8_t(i);
        for (int i = 0; i < 6; ++i)
            t['a' + i] = t['A' + i] = int8_t(10 + i);
        return t;
    }();
    if (length % 2)
        return false;
    for (qsizetype i = 0; i < length; i += 2) {
        const int high = table[uint8_t(hex[i])], low = table[uint8_t(hex[i + 1])];
        if (high < 0 || low < 0)
            return false;
        *out++ = char(high << 4 | low);
    }
    return true;
}

bool isHexBytea(const char *text, qsizetype length) {
    return length >= 2 && text[0] == '\\' && text[1] == 'x';
}

template <class T> bool parseWhole(const char *text, qsizetype length, T &out) {
    if (length <= 0)
        return false;
    const auto [end, ec] = std::from_chars(text, text + length, out);
    return ec == std::errc() && end == text + length;
}

// The one place that decides a field's kind; `sink` receives it.
template <class Sink> void convert(unsigned typeOid, const char *text, qsizetype length, Sink &&sink) {
    switch (typeOid) {
    case Bool:
        if (length > 0 && text[0] == 't')
            return sink.boolean(true);
        if (length > 0 && text[0] == 'f')
            return sink.boolean(false);
        break;
    case Bytea: {
        // The hex form (the server's default) is decoded here without a
        // buffer of libpq's per value; the old escape form goes to libpq.
        if (isHexBytea(text, length) && sink.hexBytes(text + 2, length - 2))
            return;
        size_t size = 0;
        unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(text), &size);
        if (bytes)
            return sink.bytes(bytes, size);
        break;
    }
    case Int8:
    case Int2:
    case Int4: {
        int64_t i;
        if (parseInteger(text, length, i) || parseWhole(text, length, i))
            return sink.integer(i);
        break;
    }
    case Float4: {
        float f;
        if (parseWhole(text, length, f))
            return sink.single(f);
        break;
    }
    case Float8: {
        double d;
        if (parseWhole(text, length, d))
            return sink.dbl(d);
        break;
    }
    default:
        break;
    }
    sink.text(text, length);
}

struct ValueSink {
    Value value;
    bool hexBytes(const char *hex, qsizetype length) {
        QByteArray bytes(length / 2, Qt::Uninitialized);
        if (!decodeHex(hex, length, bytes.data()))
            return false;
        value = Value::fromBytes(std::move(bytes));
        return true;
    }
    void boolean(bool b) { value = Value::fromBool(b); }
    void bytes(unsigned char *p, size_t size) {
        value = Value::fromBytes(QByteArray(reinterpret_cast<const char *>(p), qsizetype(size)));
        PQfreemem(p);
    }
    void integer(int64_t i) { value = Value::fromInt(i); }
    void single(float f) { value = Value::fromFloat(f); }
    void dbl(double d) { value = Value::fromDouble(d); }
    void text(const char *t, qsizetype length) { value = Value::fromString(RowStore::decodeText(t, length)); }
};

struct StoreSink {
    RowStore &store;
    std::vector<unsigned char *> &unescaped;
    std::string &scratch; // this column's buffer, kept from row to row
    bool hexBytes(const char *hex, qsizetype length) {
        scratch.resize(size_t(length / 2));
        if (!decodeHex(hex, length, scratch.data()))
            return false;
        store.addBytes(scratch.data(), qsizetype(scratch.size()));
        return true;
    }
    void boolean(bool b) { store.addBool(b); }
    void bytes(unsigned char *p, size_t size) {
        unescaped.push_back(p);
        store.addBytes(reinterpret_cast<const char *>(p), qsizetype(size));
    }
    void integer(int64_t i) { store.addInt(i); }
    void single(float f) { store.addFloat(f); }
    void dbl(double d) { store.addDouble(d); }
    // Kept as the server's bytes; decoded when read.
    void text(const char *t, qsizetype length) { store.addText(t, length); }
};
} // namespace

namespace ValueConversion {

Value valueFromText(unsigned typeOid, const char *text, qsizetype length) {
    ValueSink sink;
    convert(typeOid, text, length, sink);
    return sink.value;
}

RowAppender::RowAppender(const PGresult *result) {
    const int fields = PQnfields(result);
    m_types.reserve(size_t(fields));
    for (int f = 0; f < fields; ++f)
        m_types.push_back(PQftype(result, f));
    m_scratch.resize(size_t(fields));
}

RowAppender::~RowAppender() {
    for (unsigned char *p : m_unescaped)
        PQfreemem(p);
}

void RowAppender::appendRow(RowStore &store, const PGresult *result, int tuple) {
    const int fields = int(m_types.size());
    for (int f = 0; f < fields; ++f) {
        const int length = PQgetlength(result, tuple, f);
        // Only an empty field can be NULL; asking costs a call per field.
        if (length == 0 && PQgetisnull(result, tuple, f)) {
            store.addNull();
            continue;
        }
        StoreSink sink{store, m_unescaped, m_scratch[size_t(f)]};
        convert(m_types[size_t(f)], PQgetvalue(result, tuple, f), length, sink);
    }
    store.endRow();
    for (unsigned char *p : m_unescaped)
        PQfreemem(p);
    m_unescaped.clear();
}

} // namespace ValueConversion
