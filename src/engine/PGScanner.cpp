#include "PGScanner.h"

#include "KesError.h"
#include "platform/Log.h"

namespace {
// Puts the skip set back however the scan ends.
class SkipGuard {
public:
    explicit SkipGuard(PGScanner &scanner) : m_scanner(scanner), m_saved(scanner.charactersToBeSkipped()) {
        m_scanner.setCharactersToBeSkipped({});
    }
    ~SkipGuard() { m_scanner.setCharactersToBeSkipped(m_saved); }

private:
    PGScanner &m_scanner;
    PGScanner::CharacterSet m_saved;
};

PGScanner::CharacterSet charactersIn(const QString &chars) {
    return [chars](QChar c) { return chars.contains(c); };
}
} // namespace

PGScanner::CharacterSet PGScanner::whitespaceAndNewlines() {
    return [](QChar c) { return c.isSpace(); };
}

PGScanner::PGScanner(const QHash<QString, QString> &parameters, const QString &string)
    : PGScanner(string, parameters.value(QStringLiteral("standard_conforming_strings")) == QLatin1String("on")) {}

PGScanner::PGScanner(const QString &string, bool standardConformingStrings)
    : m_string(string), m_standardConformingStrings(standardConformingStrings), m_skip(whitespaceAndNewlines()) {}

void PGScanner::skip() {
    if (!m_skip)
        return;
    while (m_location < m_string.size() && m_skip(m_string.at(m_location)))
        ++m_location;
}

bool PGScanner::isAtEnd() const {
    qsizetype i = m_location;
    if (m_skip)
        while (i < m_string.size() && m_skip(m_string.at(i)))
            ++i;
    return i >= m_string.size();
}

bool PGScanner::scanString(const QString &literal, QString *into) {
    const qsizetype start = m_location;
    skip();
    const Qt::CaseSensitivity cs = m_caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (QStringView(m_string).mid(m_location).startsWith(literal, cs)) {
        if (into)
            *into = m_string.mid(m_location, literal.size());
        m_location += literal.size();
        return true;
    }
    m_location = start;
    return false;
}

bool PGScanner::scanBinaryString(const QString &literal, QString *into) {
    const qsizetype start = m_location;
    skip();
    if (QStringView(m_string).mid(m_location).startsWith(literal, Qt::CaseSensitive)) {
        if (into)
            *into = literal;
        m_location += literal.size();
        return true;
    }
    m_location = start;
    return false;
}

bool PGScanner::scanCharactersFromSet(const CharacterSet &set, QString *into) {
    const qsizetype start = m_location;
    skip();
    const qsizetype from = m_location;
    while (m_location < m_string.size() && set(m_string.at(m_location)))
        ++m_location;
    if (m_location == from) {
        m_location = start;
        return false;
    }
    if (into)
        *into = m_string.mid(from, m_location - from);
    return true;
}

bool PGScanner::scanUpToCharactersFromSet(const CharacterSet &set, QString *into) {
    return scanCharactersFromSet([&set](QChar c) { return !set(c); }, into);
}

bool PGScanner::scanQuotedLiteral(QString *into) {
    const qsizetype start = m_location;
    bool escapes;
    if (scanBinaryString(QStringLiteral("E'")))
        escapes = true;
    else if (scanBinaryString(QStringLiteral("'")))
        escapes = !m_standardConformingStrings;
    else
        return false;
    QString value;
    bool ok;
    {
        SkipGuard noSkipping(*this);
        ok = scanLiteralBody(escapes, &value);
    }
    if (!ok) {
        m_location = start;
        return false;
    }
    if (into)
        *into = value;
    return true;
}

// The inside of a literal after its opening quote, through the closing one.
bool PGScanner::scanLiteralBody(bool escapes, QString *into) {
    const qsizetype size = m_string.size();
    while (true) {
        if (m_location >= size)
            return false; // unterminated
        const qsizetype from = m_location;
        while (m_location < size && m_string.at(m_location) != u'\'' && !(escapes && m_string.at(m_location) == u'\\'))
            ++m_location;
        into->append(QStringView(m_string).mid(from, m_location - from));
        if (m_location >= size)
            return false;
        if (m_string.at(m_location) == u'\\') {
            if (m_location + 1 >= size)
                return false;
            const QChar next = m_string.at(m_location + 1);
            switch (next.unicode()) {
            case 'b':
                into->append(QChar(0x08));
                break;
            case 'f':
                into->append(QChar(0x0C));
                break;
            case 'n':
                into->append(QChar(u'\n'));
                break;
            case 'r':
                into->append(QChar(u'\r'));
                break;
            case 't':
                into->append(QChar(u'\t'));
                break;
            case 'u':
            case 'U':
                Log(QStringLiteral("Unicode escapes not implemented yet."));
                return false;
            case 'x':
                Log(QStringLiteral("Hex escapes not implemented yet."));
                return false;
            default:
                if (next >= u'0' && next <= u'7') {
                    Log(QStringLiteral("Octal escapes not implemented yet."));
                    return false;
                }
                into->append(next);
            }
            m_location += 2;
            continue;
        }
        // A quote: doubled it stands for one, alone it ends the literal.
        if (m_location + 1 < size && m_string.at(m_location + 1) == u'\'') {
            into->append(QChar(u'\''));
            m_location += 2;
            continue;
        }
        ++m_location;
        return true;
    }
}

InvalidArrayException::InvalidArrayException(const QString &reason) : std::runtime_error(reason.toStdString()) {}

namespace {
QString quotedArrayElement(PGScanner &scanner) {
    SkipGuard noSkipping(scanner);
    const QString &text = scanner.string();
    QString element;
    qsizetype i = scanner.scanLocation();
    while (true) {
        if (i >= text.size())
            throw InvalidArrayException(QStringLiteral("String ended unexpectedly."));
        const QChar c = text.at(i);
        if (c == u'"') {
            scanner.setScanLocation(i + 1);
            return element;
        }
        if (c == u'\\') {
            if (++i >= text.size())
                throw InvalidArrayException(QStringLiteral("String ended unexpectedly."));
        }
        element.append(text.at(i));
        ++i;
    }
}

// NULL only as a whole element: an unquoted nullable_col is text.
bool scanNullElement(PGScanner &scanner, const QString &delimiter) {
    const qsizetype start = scanner.scanLocation();
    if (scanner.scanString(QStringLiteral("NULL"))) {
        const qsizetype after = scanner.scanLocation();
        if (scanner.scanString(delimiter) || scanner.scanString(QStringLiteral("}"))) {
            scanner.setScanLocation(after);
            return true;
        }
    }
    scanner.setScanLocation(start);
    return false;
}

void skipWhitespace(PGScanner &scanner) {
    scanner.scanCharactersFromSet(PGScanner::whitespaceAndNewlines());
}

// The server keeps arrays to this many dimensions; deeper text is not one of its
// arrays, and each level here is a level of recursion.
constexpr int kMaxArrayDimensions = 6;

QVariantList arrayAtDepth(PGScanner &scanner, const QString &delimiter, int depth) {
    if (!scanner.scanString(QStringLiteral("{")))
        throw InvalidArrayException(QStringLiteral("Expected '{' at position %1.").arg(scanner.scanLocation()));
    if (depth > kMaxArrayDimensions)
        throw InvalidArrayException(QStringLiteral("More than %1 dimensions at position %2.")
                                        .arg(kMaxArrayDimensions)
                                        .arg(scanner.scanLocation() - 1));
    const PGScanner::CharacterSet elementEnd = charactersIn(delimiter + QLatin1Char('}'));
    QVariantList elements;
    while (true) {
        if (scanner.isAtEnd())
            throw InvalidArrayException(QStringLiteral("Expected '}' at end of string."));
        skipWhitespace(scanner);
        const QChar c = scanner.string().at(scanner.scanLocation());
        if (c == u'{') {
            elements.append(QVariant(arrayAtDepth(scanner, delimiter, depth + 1)));
        } else if (scanner.scanString(QStringLiteral("\""))) {
            elements.append(quotedArrayElement(scanner));
        } else if (scanNullElement(scanner, delimiter)) {
            elements.append(QVariant());
        } else {
            QString element;
            if (!scanner.scanUpToCharactersFromSet(elementEnd, &element))
                throw InvalidArrayException(QStringLiteral("No value at position %1.").arg(scanner.scanLocation()));
            elements.append(element);
        }
        if (scanner.scanString(delimiter))
            continue;
        if (scanner.scanString(QStringLiteral("}")))
            return elements;
        throw InvalidArrayException(
            QStringLiteral("Expected delimiter '%1' at position %2.").arg(delimiter).arg(scanner.scanLocation()));
    }
}
} // namespace

QVariantList arrayFromScanner(PGScanner &scanner, const QString &delimiter) {
    return arrayAtDepth(scanner, delimiter, 1);
}

std::optional<QVariantList> arrayFromPostgresWithDelimiter(const QString &text, const QString &delimiter,
                                                           ErrorPtr *error) {
    const QString separator = delimiter.isNull() ? QStringLiteral(",") : delimiter;
    PGScanner scanner(text);
    scanner.setCaseSensitive(false);
    try {
        return arrayFromScanner(scanner, separator);
    } catch (const InvalidArrayException &e) {
        if (error)
            *error = KesError::errorWithFormat(
                QStringLiteral("Could not parse array from string: %1\n%2.").arg(text, e.reason()));
        return std::nullopt;
    }
}
