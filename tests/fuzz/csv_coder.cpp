// CSV export: the values of a server's rows (text of any content, numbers of
// any value, NULLs, binary data) as the exporter writes them. The input chooses
// the dialect (first byte: bit 0 continental, bit 1 line breaks kept) and the
// rows: rows are separated by 0x1e and values by 0x1f, each value a kind byte
// ('n' NULL, 't' / 'f' a boolean, 'i' an integer, 'd' a double and 'r' a float
// from eight or four raw bytes, 'x' binary data) and its bytes, any other kind
// byte starting a text. The file is written from the values and from a row
// store holding them, alike, and read back by the RFC 4180 reader below: each
// value is the field it was written as.
#include "FuzzSupport.h"
#include "browser/KesCoder.h"
#include "engine/RowStore.h"
#include "engine/Value.h"

#include <cmath>
#include <cstring>
#include <numeric>

namespace {

struct Field {
    QString text;
    bool quoted = false;
};

// RFC 4180 with the dialect's separator and LF line ends; nothing when the
// text is not well formed (a quote inside an unquoted field, text after a
// closing quote, a quoted field left open).
std::optional<QList<QList<Field>>> readCsv(const QString &csv, QChar separator) {
    QList<QList<Field>> records;
    QList<Field> record;
    qsizetype i = 0;
    while (i < csv.size()) {
        Field field;
        if (csv[i] == u'"') {
            field.quoted = true;
            for (++i;; ++i) {
                if (i >= csv.size())
                    return std::nullopt;
                if (csv[i] == u'"') {
                    if (i + 1 < csv.size() && csv[i + 1] == u'"')
                        ++i;
                    else
                        break;
                }
                field.text += csv[i];
            }
            ++i;
        } else {
            for (; i < csv.size() && csv[i] != separator && csv[i] != u'\n'; ++i) {
                if (csv[i] == u'"')
                    return std::nullopt;
                field.text += csv[i];
            }
        }
        record << field;
        if (i >= csv.size())
            return std::nullopt; // every record ends with its line end
        if (csv[i] == u'\n') {
            records << record;
            record.clear();
        } else if (csv[i] != separator) {
            return std::nullopt;
        }
        ++i;
    }
    return records;
}

Value valueOf(const QByteArray &bytes) {
    const char kind = bytes.isEmpty() ? 's' : bytes[0];
    const QByteArray rest = bytes.mid(1);
    switch (kind) {
    case 'n':
        return Value::null();
    case 't':
        return Value::fromBool(true);
    case 'f':
        return Value::fromBool(false);
    case 'i':
        return Value::fromInt(rest.toLongLong());
    case 'd': {
        double d = 0;
        std::memcpy(&d, rest.leftJustified(sizeof d, '\0').constData(), sizeof d);
        return Value::fromDouble(d);
    }
    case 'r': {
        float f = 0;
        std::memcpy(&f, rest.leftJustified(sizeof f, '\0').constData(), sizeof f);
        return Value::fromFloat(f);
    }
    case 'x':
        return Value::fromBytes(rest);
    default:
        return Value::fromString(QString::fromUtf8(bytes));
    }
}

// A number read back as the type it was written from.
template <class F> bool sameNumber(F number, QString text, bool continental) {
    if (continental)
        text.replace(u',', u'.');
    if (std::isnan(number))
        return text == QLatin1String("nan");
    if (std::isinf(number))
        return text == (number > 0 ? QLatin1String("inf") : QLatin1String("-inf"));
    bool ok = false;
    const double read = text.toDouble(&ok);
    return ok && F(read) == number && std::signbit(F(read)) == std::signbit(number);
}

bool fieldIs(const Field &field, const Value &value, const KesCsvCoder &coder) {
    switch (value.kind()) {
    case Value::Kind::Null:
    case Value::Kind::Bytes:
        return !field.quoted && field.text.isEmpty();
    case Value::Kind::Bool:
        return !field.quoted && field.text == (value.toBool() ? QLatin1String("TRUE") : QLatin1String("FALSE"));
    case Value::Kind::Int:
        return !field.quoted && field.text == QString::number(value.toInt());
    case Value::Kind::Double:
        return !field.quoted && sameNumber(value.toDouble(), field.text, coder.continental());
    case Value::Kind::Float:
        return !field.quoted && sameNumber(value.toFloat(), field.text, coder.continental());
    case Value::Kind::String: {
        QString text = value.toString();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(u'\r', u'\n');
        if (!coder.allowNewlines())
            text.replace(u'\n', u' ');
        return field.quoted && field.text == text;
    }
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    KesCsvCoder coder;
    coder.setContinental(data[0] & 1);
    coder.setAllowNewlines(data[0] & 2);

    std::vector<std::vector<Value>> rows;
    size_t width = 1;
    for (const QByteArray &line : Fuzz::bytes(data + 1, size - 1).split('\x1e').mid(0, 64)) {
        std::vector<Value> row;
        for (const QByteArray &bytes : line.split('\x1f').mid(0, 32))
            row.push_back(valueOf(bytes));
        width = std::max(width, row.size());
        rows.push_back(std::move(row));
    }
    RowStore store{int(width)};
    std::vector<int> columns(width);
    std::iota(columns.begin(), columns.end(), 0);
    std::string written, fromStore;
    for (auto &row : rows) {
        row.resize(width); // NULLs
        store.appendRow(row);
        coder.appendRowUtf8(row, written);
        written += '\n';
        coder.appendStoredRowUtf8(store, store.rowCount() - 1, columns, fromStore);
        fromStore += '\n';
    }
    FUZZ_CHECK(written == fromStore);

    const auto records = readCsv(QString::fromStdString(written), coder.separator().at(0));
    FUZZ_CHECK(records && records->size() == qsizetype(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
        FUZZ_CHECK((*records)[qsizetype(r)].size() == qsizetype(width));
        for (size_t c = 0; c < width; ++c)
            FUZZ_CHECK(fieldIs((*records)[qsizetype(r)][qsizetype(c)], rows[r][c], coder));
    }
    return 0;
}
