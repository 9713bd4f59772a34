#pragma once

#include "engine/RowStore.h"
#include "engine/Value.h"

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>
#include <vector>

class KesCsvCoder;

// Turns one value, or one row of values, into text of one dialect: the
// clipboard's tab-separated text, CSV, SQL literals, quoted identifiers. A coder
// is only its settings; every dialect is a preset of them. Presets return a new
// coder the caller may change further.
//
// A value is written by its kind:
//   NULL      the NULL text
//   string    stringPrefix, quote, the text with each replacement pair applied
//             in list order (later pairs see what earlier ones wrote), quote
//   boolean   trueValue / falseValue, never quoted
//   number    the server's text of it (Value::description); with decimalMark
//             every "." becomes the mark; a text holding the separator is
//             written as a string. NaN and ±Infinity read nan, inf and -inf,
//             NaN is the NULL text with disableNANs; with quoteSpecialFloats the
//             floats a bare SQL number cannot express (NaN, ±Infinity, -0) are
//             strings in the server's spelling (NaN, Infinity, -Infinity, -0)
//   bytes     the NULL text with disableBinary, else dataPrefix, quote, lower-case
//             hex digits, quote, dataSuffix
//   DEFAULT   defaultValue when it is set
//   other     (MULTIPLE, or DEFAULT without defaultValue) the NULL text, and one
//             line in the log per run of the program
// Coders are not shared between threads; each writer or copy makes its own.
class KesCoder {
public:
    // Every setting empty (null strings, false) except trueValue "TRUE" and
    // falseValue "FALSE".
    KesCoder();

    // TAB between values, no quotes, NULL as nothing, line breaks and TABs in
    // text as one blank, the user's decimal mark, binary values as nothing.
    static KesCoder clipboardCoder();
    // A KesCsvCoder: "," between values, strings in double quotes, inner double
    // quotes doubled, CR LF and CR as LF, NULL and binary values as empty fields.
    static KesCsvCoder csvCoder();
    // PostgreSQL literals: E'...' strings with backslash escapes (CR as \r, LF
    // as \n), DECODE('..','hex') for bytes, NULL, DEFAULT, and NaN, ±Infinity
    // and -0 as quoted literals.
    static KesCoder postgresqlCoder();
    static KesCoder mysqlCoder();
    static KesCoder sqliteCoder();
    // Identifiers: "name" and `name`, the quote doubled inside.
    static KesCoder ansiIdentifierCoder();
    static KesCoder mysqlIdentifierCoder();

    // Appends the encoded value / row (separator between values, no line end).
    void appendObject(const Value &value, QString &out) const;
    void appendRow(const std::vector<Value> &row, QString &out) const;
    QString encodeObject(const Value &value) const;
    QString encodeRow(const std::vector<Value> &row) const;

    // The same as UTF-8, straight from the bytes of a row store (text cells are
    // never decoded): the columns of one stored row, in the order given. Text
    // that is not UTF-8 (a SQL_ASCII database) goes out as received, or with
    // asDecoded as its decoded value reads (replacement characters), the same
    // bytes appendUtf8 writes for the cell's value.
    void appendUtf8(const Value &value, std::string &out) const;
    void appendRowUtf8(const std::vector<Value> &row, std::string &out) const;
    void appendStoredRowUtf8(const RowStore &store, qsizetype row, const std::vector<int> &columns, std::string &out,
                             bool asDecoded = false) const;

    QString quoteCharacter() const { return m_quote.text; }
    void setQuoteCharacter(const QString &text) { m_quote.set(text); }
    QString separator() const { return m_separator.text; }
    void setSeparator(const QString &text) { m_separator.set(text); }
    QString decimalMark() const { return m_decimalMark.text; }
    void setDecimalMark(const QString &text) { m_decimalMark.set(text); }
    QString nullValue() const { return m_null.text; }
    void setNullValue(const QString &text) { m_null.set(text); }
    QString trueValue() const { return m_true.text; }
    void setTrueValue(const QString &text) { m_true.set(text); }
    QString falseValue() const { return m_false.text; }
    void setFalseValue(const QString &text) { m_false.set(text); }
    QString defaultValue() const { return m_default.text; }
    void setDefaultValue(const QString &text) { m_default.set(text); }
    QString dataPrefix() const { return m_dataPrefix.text; }
    void setDataPrefix(const QString &text) { m_dataPrefix.set(text); }
    QString dataSuffix() const { return m_dataSuffix.text; }
    void setDataSuffix(const QString &text) { m_dataSuffix.set(text); }
    QString stringPrefix() const { return m_stringPrefix.text; }
    void setStringPrefix(const QString &text) { m_stringPrefix.set(text); }
    bool disableBinary() const { return m_disableBinary; }
    void setDisableBinary(bool disable) { m_disableBinary = disable; }
    bool disableNANs() const { return m_disableNANs; }
    void setDisableNANs(bool disable) { m_disableNANs = disable; }
    bool quoteSpecialFloats() const { return m_quoteSpecialFloats; }
    void setQuoteSpecialFloats(bool quote) { m_quoteSpecialFloats = quote; }
    // Read in pairs (text to find, its replacement); an unpaired last element
    // is ignored.
    QStringList stringReplacements() const { return m_replacementTexts; }
    void setStringReplacements(const QStringList &pairs);

    QString description() const;

private:
    // A text setting and its UTF-8 bytes, which the encoding works on.
    struct Setting {
        QString text;
        std::string utf8;
        void set(const QString &t) {
            text = t;
            utf8 = t.toStdString();
        }
    };

    void appendString(std::string_view text, std::string &out) const;
    void appendNumber(const Value &value, std::string &out) const;
    void appendBytes(std::string_view bytes, std::string &out) const;
    void appendUnsupported(const Value &value, std::string &out) const;

    Setting m_quote, m_separator, m_decimalMark, m_null, m_true, m_false, m_default;
    Setting m_dataPrefix, m_dataSuffix, m_stringPrefix;
    bool m_disableBinary = false;
    bool m_disableNANs = false;
    bool m_quoteSpecialFloats = false;
    QStringList m_replacementTexts;
    std::vector<std::pair<std::string, std::string>> m_replacements;
    std::string m_firstBytes; // of the texts to find: a text without any needs no replacing
};

// The CSV dialect, with two switches that each set several settings; a later
// switch overwrites what an earlier call set.
class KesCsvCoder : public KesCoder {
public:
    // Double quotes, NULL as the empty text, binary values as empty fields,
    // then continental false and allowNewlines true.
    KesCsvCoder();

    bool continental() const { return m_continental; }
    // true: ";" between values and "," as decimal mark; false: "," and ".".
    void setContinental(bool continental);
    bool allowNewlines() const { return m_allowNewlines; }
    // true: CR LF and CR become LF; false: CR LF, CR and LF each become one blank.
    // Inner double quotes are doubled either way.
    void setAllowNewlines(bool allow);

private:
    bool m_continental = false;
    bool m_allowNewlines = false;
};
