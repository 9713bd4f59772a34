#pragma once

#include "platform/Error.h"

#include <QHash>
#include <QString>
#include <QVariantList>
#include <functional>
#include <optional>
#include <stdexcept>

// A scanner over a text that also reads PostgreSQL's quoted string literals
// ('...' and E'...'), honouring the server's standard_conforming_strings: with
// it on, a backslash inside a plain '...' literal is an ordinary character.
// Positions count UTF-16 units.
class PGScanner {
public:
    using CharacterSet = std::function<bool(QChar)>;
    static CharacterSet whitespaceAndNewlines();

    // Skips white space and newlines, matches case-sensitively; backslash
    // escapes in '...' follow the parameter "standard_conforming_strings"
    // (absent counts as off).
    PGScanner(const QHash<QString, QString> &parameters, const QString &string);
    explicit PGScanner(const QString &string, bool standardConformingStrings = true);

    const QString &string() const { return m_string; }
    qsizetype scanLocation() const { return m_location; }
    void setScanLocation(qsizetype location) { m_location = location; }
    bool isAtEnd() const;
    bool caseSensitive() const { return m_caseSensitive; }
    void setCaseSensitive(bool caseSensitive) { m_caseSensitive = caseSensitive; }
    bool standardConformingStrings() const { return m_standardConformingStrings; }
    void setStandardConformingStrings(bool on) { m_standardConformingStrings = on; }
    const CharacterSet &charactersToBeSkipped() const { return m_skip; }
    void setCharactersToBeSkipped(CharacterSet skip) { m_skip = std::move(skip); }

    // After skipping, matches literal (case-insensitively unless caseSensitive)
    // and advances past it. On a miss the location stays where it was.
    bool scanString(const QString &literal, QString *into = nullptr);
    // The same, always code unit by code unit: no case folding.
    bool scanBinaryString(const QString &literal, QString *into = nullptr);
    // After skipping, the longest run of characters in set (none: false).
    bool scanCharactersFromSet(const CharacterSet &set, QString *into = nullptr);
    // After skipping, everything up to the first character in set or the end
    // (nothing: false).
    bool scanUpToCharactersFromSet(const CharacterSet &set, QString *into = nullptr);
    // One quoted literal into its value. Unicode, hex and octal escapes are not
    // read: they fail, as does an unterminated literal; on failure the location
    // is where the call began.
    bool scanQuotedLiteral(QString *into);

private:
    void skip();
    bool scanLiteralBody(bool escapes, QString *into);

    QString m_string;
    qsizetype m_location = 0;
    bool m_caseSensitive = true;
    bool m_standardConformingStrings = false;
    CharacterSet m_skip;
};

// Thrown by arrayFromScanner for malformed array text.
class InvalidArrayException : public std::runtime_error {
public:
    explicit InvalidArrayException(const QString &reason);
    QString reason() const { return QString::fromStdString(what()); }
};

// The text form of a PostgreSQL array ({a,b,{c,NULL}}) as nested lists: each
// element is a QString (numbers stay text), an invalid QVariant for NULL, or a
// QVariantList for a nested array. A null delimiter means ",". Text nested
// deeper than the server's 6 dimensions is refused.
std::optional<QVariantList> arrayFromPostgresWithDelimiter(const QString &text, const QString &delimiter,
                                                           ErrorPtr *error = nullptr);
// The same on a scanner standing at the opening brace; throws
// InvalidArrayException.
QVariantList arrayFromScanner(PGScanner &scanner, const QString &delimiter);
