#pragma once

#include <QHash>
#include <QString>
#include <cstdint>

class ZNTConnection;
class PGScanner;

// A column's DEFAULT as the structure editor shows and edits it: nothing, a
// constant, a free SQL expression or a sequence. Immutable; copies are cheap.
class SQLExpression {
public:
    enum Kind : uint64_t {
        SQLExpressionKindNoDefault = 0,
        SQLExpressionKindConstant = 1,
        SQLExpressionKindExpression = 2,
        SQLExpressionKindSequence = 3,
    };

    SQLExpression() = default; // no default

    // Classifies a default as the catalog gives it: nextval('seq'::regclass) is
    // a sequence, a quoted literal alone or cast to exactly the column's type a
    // constant, anything else an expression; empty text is no default.
    static SQLExpression withSrc(const QString &src, const QString &typeName, const ZNTConnection &connection);
    // The same with the server's configuration parameters in place of a
    // connection (only standard_conforming_strings matters).
    static SQLExpression withSrc(const QString &src, const QString &typeName,
                                 const QHash<QString, QString> &parameters);
    // Builds the SQL for what the user typed: a constant is quoted with the
    // connection's quoteLiteral, an expression taken as it is, a sequence
    // becomes nextval('name'::regclass).
    static SQLExpression withString(const QString &string, Kind kind, const ZNTConnection &connection);

    const QString &src() const { return m_src; }
    const QString &string() const { return m_string; }
    Kind kind() const { return m_kind; }

    // Same kind and the same shown value (null and empty alike); src is not compared.
    bool isEqual(const SQLExpression &other) const;
    bool operator==(const SQLExpression &other) const { return isEqual(other); }

private:
    SQLExpression(QString src, QString string, Kind kind)
        : m_src(std::move(src)), m_string(std::move(string)), m_kind(kind) {}
    static SQLExpression classify(const QString &src, const QString &typeName, PGScanner &scanner);

    QString m_src;
    QString m_string;
    Kind m_kind = SQLExpressionKindNoDefault;
};
