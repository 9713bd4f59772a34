#include "browser/KesCoder.h"

#include "platform/Log.h"

#include <QLocale>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {
const QString kTab = QStringLiteral("\t");
const QString kCR = QStringLiteral("\r");
const QString kLF = QStringLiteral("\n");
const QString kCRLF = QStringLiteral("\r\n");
const QString kNUL = QString(QChar(0));

// The SQL dialects' escapes: the backslash pair comes first, so that the
// backslashes later pairs write are not doubled again.
const QStringList kMysqlReplacements = {"\\", "\\\\", "'", "\\'", kCRLF, "\\n", kCR, "\\n", kLF, "\\n", kNUL, "\\0"};
// PostgreSQL keeps a CR a CR: copied rows read back exactly as they were.
const QStringList kPostgresqlReplacements = {"\\", "\\\\", "'", "\\'", kCR, "\\r", kLF, "\\n", kNUL, "\\0"};

// One line for the whole process, whichever coder and thread meets such a value first.
std::atomic<bool> g_loggedUnsupported{false};

// QString::fromUtf8 drops a leading U+FEFF as a byte-order mark; here it is
// the first character of a value and stays.
QString textOf(const std::string &utf8) {
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder(QByteArrayView(utf8.data(), qsizetype(utf8.size())));
}

bool isFloat(const Value &value) {
    return value.kind() == Value::Kind::Float || value.kind() == Value::Kind::Double;
}

double asDouble(const Value &value) {
    return value.kind() == Value::Kind::Float ? double(value.toFloat()) : value.toDouble();
}

// SQL's numbers are numeric first, which has no negative zero.
bool isNegativeZero(double d) {
    return d == 0 && std::signbit(d);
}
} // namespace

KesCoder::KesCoder() {
    m_true.set(QStringLiteral("TRUE"));
    m_false.set(QStringLiteral("FALSE"));
}

void KesCoder::setStringReplacements(const QStringList &pairs) {
    m_replacementTexts = pairs;
    m_replacements.clear();
    m_firstBytes.clear();
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i].isEmpty()) // an empty text to find has no occurrences
            continue;
        m_replacements.emplace_back(pairs[i].toStdString(), pairs[i + 1].toStdString());
        if (m_firstBytes.find(m_replacements.back().first[0]) == std::string::npos)
            m_firstBytes += m_replacements.back().first[0];
    }
}

QString KesCoder::description() const {
    return QString::asprintf("<KesCoder: %p>", static_cast<const void *>(this));
}

KesCoder KesCoder::clipboardCoder() {
    KesCoder coder;
    coder.setSeparator(kTab);
    coder.setNullValue(QString(""));
    coder.setStringReplacements({kCRLF, " ", kCR, " ", kLF, " ", kTab, " "});
    coder.setDecimalMark(QLocale().decimalPoint());
    coder.setDisableBinary(true);
    return coder;
}

KesCsvCoder KesCoder::csvCoder() {
    return KesCsvCoder();
}

KesCoder KesCoder::postgresqlCoder() {
    KesCoder coder;
    coder.setSeparator(QStringLiteral(","));
    coder.setQuoteCharacter(QStringLiteral("'"));
    coder.setNullValue(QStringLiteral("NULL"));
    coder.setDefaultValue(QStringLiteral("DEFAULT"));
    coder.setStringReplacements(kPostgresqlReplacements);
    coder.setStringPrefix(QStringLiteral("E"));
    coder.setDataPrefix(QStringLiteral("DECODE("));
    coder.setDataSuffix(QStringLiteral(",'hex')"));
    coder.setQuoteSpecialFloats(true);
    return coder;
}

KesCoder KesCoder::mysqlCoder() {
    KesCoder coder;
    coder.setSeparator(QStringLiteral(","));
    coder.setQuoteCharacter(QStringLiteral("'"));
    coder.setNullValue(QStringLiteral("NULL"));
    coder.setStringReplacements(kMysqlReplacements);
    coder.setDataPrefix(QStringLiteral("UNHEX("));
    coder.setDataSuffix(QStringLiteral(")"));
    coder.setDisableNANs(true);
    return coder;
}

KesCoder KesCoder::sqliteCoder() {
    KesCoder coder;
    coder.setSeparator(QStringLiteral(","));
    coder.setQuoteCharacter(QStringLiteral("'"));
    coder.setNullValue(QStringLiteral("NULL"));
    // A lone CR stays as it is: SQLite strings hold any character but NUL.
    coder.setStringReplacements({"'", "''", kCRLF, kLF, kNUL, "'||X'00'||'"});
    coder.setDataPrefix(QStringLiteral("X"));
    coder.setDisableNANs(true);
    coder.setTrueValue(QStringLiteral("1"));
    coder.setFalseValue(QStringLiteral("0"));
    return coder;
}

KesCoder KesCoder::ansiIdentifierCoder() {
    KesCoder coder;
    coder.setSeparator(QStringLiteral(","));
    coder.setQuoteCharacter(QStringLiteral("\""));
    coder.setNullValue(QStringLiteral("\"\""));
    coder.setStringReplacements({"\"", "\"\""});
    coder.setDisableBinary(true);
    return coder;
}

KesCoder KesCoder::mysqlIdentifierCoder() {
    KesCoder coder;
    coder.setSeparator(QStringLiteral(","));
    coder.setQuoteCharacter(QStringLiteral("`"));
    coder.setNullValue(QStringLiteral("``"));
    coder.setStringReplacements({"`", "``"});
    coder.setDisableBinary(true);
    return coder;
}

void KesCoder::appendObject(const Value &value, QString &out) const {
    std::string utf8;
    appendUtf8(value, utf8);
    out += textOf(utf8);
}

void KesCoder::appendRow(const std::vector<Value> &row, QString &out) const {
    std::string utf8;
    appendRowUtf8(row, utf8);
    out += textOf(utf8);
}

void KesCoder::appendRowUtf8(const std::vector<Value> &row, std::string &out) const {
    for (size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            out += m_separator.utf8;
        appendUtf8(row[i], out);
    }
}

QString KesCoder::encodeObject(const Value &value) const {
    QString text;
    appendObject(value, text);
    return text;
}

QString KesCoder::encodeRow(const std::vector<Value> &row) const {
    QString text;
    appendRow(row, text);
    return text;
}

void KesCoder::appendUtf8(const Value &value, std::string &out) const {
    switch (value.kind()) {
    case Value::Kind::Null:
        out += m_null.utf8;
        return;
    case Value::Kind::String: {
        const QByteArray utf8 = value.toString().toUtf8();
        appendString(std::string_view(utf8.constData(), size_t(utf8.size())), out);
        return;
    }
    case Value::Kind::Bool:
        out += value.toBool() ? m_true.utf8 : m_false.utf8;
        return;
    case Value::Kind::Int:
    case Value::Kind::Float:
    case Value::Kind::Double:
        appendNumber(value, out);
        return;
    case Value::Kind::Bytes:
        appendBytes(std::string_view(value.toBytes().constData(), size_t(value.toBytes().size())), out);
        return;
    case Value::Kind::Default:
        if (!m_default.text.isNull()) {
            out += m_default.utf8;
            return;
        }
        break;
    case Value::Kind::Multiple:
        break;
    }
    appendUnsupported(value, out);
}

void KesCoder::appendStoredRowUtf8(const RowStore &store, qsizetype row, const std::vector<int> &columns,
                                   std::string &out, bool asDecoded) const {
    // One look-up for the row; numbers are written straight from their cells.
    RowStore::Cell local[16];
    std::vector<RowStore::Cell> many;
    RowStore::Cell *cells = local;
    if (store.columnCount() > 16) {
        many.resize(size_t(store.columnCount()));
        cells = many.data();
    }
    store.cellsOfRow(row, cells);
    bool first = true;
    for (int column : columns) {
        if (!first)
            out += m_separator.utf8;
        first = false;
        const RowStore::Cell &cell = cells[column];
        if (cell.kind == RowStore::CellKind::Text && (!asDecoded || QByteArrayView(cell.data, cell.size).isValidUtf8()))
            appendString(std::string_view(cell.data, size_t(cell.size)), out);
        else if (cell.kind == RowStore::CellKind::Bytes)
            appendBytes(std::string_view(cell.data, size_t(cell.size)), out);
        else
            appendUtf8(RowStore::valueOf(cell), out);
    }
}

// UTF-8 never has one character's bytes inside another's, so finding the pairs'
// bytes finds exactly their characters. Most texts hold none of the pairs'
// first bytes and are copied as they are.
void KesCoder::appendString(std::string_view text, std::string &out) const {
    out += m_stringPrefix.utf8;
    out += m_quote.utf8;
    const bool mayMatch = std::any_of(m_firstBytes.begin(), m_firstBytes.end(),
                                      [&](char c) { return std::memchr(text.data(), c, text.size()) != nullptr; });
    if (!mayMatch) {
        out += text;
    } else {
        std::string current;
        for (const auto &[find, replacement] : m_replacements) {
            if (text.find(find) == std::string_view::npos)
                continue;
            std::string next;
            next.reserve(text.size() + text.size() / 8 + 8);
            for (size_t at = 0;;) {
                const size_t hit = text.find(find, at);
                next.append(text.substr(at, hit == std::string_view::npos ? std::string_view::npos : hit - at));
                if (hit == std::string_view::npos)
                    break;
                next += replacement;
                at = hit + find.size();
            }
            current = std::move(next);
            text = current;
        }
        out += text;
    }
    out += m_quote.utf8;
}

void KesCoder::appendNumber(const Value &value, std::string &out) const {
    const double d = isFloat(value) ? asDouble(value) : 0;
    if (m_disableNANs && std::isnan(d)) {
        out += m_null.utf8;
        return;
    }
    if (m_quoteSpecialFloats && (!std::isfinite(d) || isNegativeZero(d))) {
        appendString(value.description().toStdString(), out); // NaN, Infinity, -Infinity, -0
        return;
    }
    std::string text;
    if (value.kind() == Value::Kind::Int) {
        char digits[24];
        text.assign(digits, std::to_chars(digits, digits + sizeof digits, value.toInt()).ptr);
    } else if (!std::isfinite(d)) {
        text = std::isnan(d) ? "nan" : d > 0 ? "inf" : "-inf";
    } else {
        text = value.description().toStdString();
        if (!m_decimalMark.text.isNull() && m_decimalMark.utf8 != ".") {
            for (size_t dot; (dot = text.find('.')) != std::string::npos;)
                text.replace(dot, 1, m_decimalMark.utf8);
        }
    }
    if (!m_separator.utf8.empty() && text.find(m_separator.utf8) != std::string::npos)
        appendString(text, out);
    else
        out += text;
}

void KesCoder::appendBytes(std::string_view bytes, std::string &out) const {
    if (m_disableBinary) {
        out += m_null.utf8;
        return;
    }
    static const char kDigits[] = "0123456789abcdef";
    out += m_dataPrefix.utf8;
    out += m_quote.utf8;
    out.reserve(out.size() + bytes.size() * 2);
    for (const char byte : bytes) {
        out += kDigits[uint8_t(byte) >> 4];
        out += kDigits[uint8_t(byte) & 15];
    }
    out += m_quote.utf8;
    out += m_dataSuffix.utf8;
}

void KesCoder::appendUnsupported(const Value &value, std::string &out) const {
    if (!g_loggedUnsupported.exchange(true))
        Log(QStringLiteral("Coder %1 can't encode object: %2").arg(description(), value.description()));
    out += m_null.utf8;
}

KesCsvCoder::KesCsvCoder() {
    setQuoteCharacter(QStringLiteral("\""));
    setNullValue(QString(""));
    setDisableBinary(true);
    setContinental(false);
    setAllowNewlines(true);
}

void KesCsvCoder::setContinental(bool continental) {
    m_continental = continental;
    setSeparator(continental ? QStringLiteral(";") : QStringLiteral(","));
    setDecimalMark(continental ? QStringLiteral(",") : QStringLiteral("."));
}

void KesCsvCoder::setAllowNewlines(bool allow) {
    m_allowNewlines = allow;
    if (allow)
        setStringReplacements({"\"", "\"\"", kCRLF, kLF, kCR, kLF});
    else
        setStringReplacements({"\"", "\"\"", kCRLF, " ", kCR, " ", kLF, " "});
}
