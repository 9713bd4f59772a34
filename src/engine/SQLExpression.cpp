#include "SQLExpression.h"

#include "PGScanner.h"
#include "ZNTConnection.h"

SQLExpression SQLExpression::withSrc(const QString &src, const QString &typeName, const ZNTConnection &connection) {
    if (src.isEmpty())
        return SQLExpression();
    PGScanner scanner = connection.scannerForString(src);
    return classify(src, typeName, scanner);
}

SQLExpression SQLExpression::withSrc(const QString &src, const QString &typeName,
                                     const QHash<QString, QString> &parameters) {
    if (src.isEmpty())
        return SQLExpression();
    PGScanner scanner(parameters, src);
    return classify(src, typeName, scanner);
}

SQLExpression SQLExpression::classify(const QString &src, const QString &typeName, PGScanner &scanner) {
    QString value;
    if (scanner.scanBinaryString(QStringLiteral("nextval(")) && scanner.scanQuotedLiteral(&value) &&
        scanner.scanBinaryString(QStringLiteral("::regclass)")) && scanner.isAtEnd())
        return SQLExpression(src, value, SQLExpressionKindSequence);

    scanner.setScanLocation(0);
    if (scanner.scanQuotedLiteral(&value)) {
        if (scanner.isAtEnd())
            return SQLExpression(src, value, SQLExpressionKindConstant);
        if (scanner.scanBinaryString(QStringLiteral("::")) && scanner.scanBinaryString(typeName) && scanner.isAtEnd())
            return SQLExpression(src, value, SQLExpressionKindConstant);
    }
    return SQLExpression(src, src, SQLExpressionKindExpression);
}

SQLExpression SQLExpression::withString(const QString &string, Kind kind, const ZNTConnection &connection) {
    switch (kind) {
    case SQLExpressionKindConstant:
        return SQLExpression(connection.quoteLiteral(Value::fromString(string)), string, kind);
    case SQLExpressionKindExpression:
        return SQLExpression(string, string, kind);
    case SQLExpressionKindSequence:
        return SQLExpression(
            QStringLiteral("nextval(%1::regclass)").arg(connection.quoteLiteral(Value::fromString(string))), string,
            kind);
    case SQLExpressionKindNoDefault:
        break;
    }
    return SQLExpression(QString(), string, SQLExpressionKindNoDefault);
}

bool SQLExpression::isEqual(const SQLExpression &other) const {
    if (m_kind != other.m_kind)
        return false;
    if (m_string.isEmpty() && other.m_string.isEmpty())
        return true;
    return m_string == other.m_string;
}

PGScanner ZNTConnection::scannerForString(const QString &string) const {
    return PGScanner(configurationParameterValues(), string);
}
