#include "PGError.h"

#include <libpq-fe.h>

namespace {
struct DiagnosticField {
    int code;
    const char *name;
};

// In the order callers list them; the names are libpq's own macro names.
constexpr DiagnosticField kFields[] = {
    {PG_DIAG_SEVERITY, "PG_DIAG_SEVERITY"},
    {PG_DIAG_SQLSTATE, "PG_DIAG_SQLSTATE"},
    {PG_DIAG_MESSAGE_PRIMARY, "PG_DIAG_MESSAGE_PRIMARY"},
    {PG_DIAG_MESSAGE_DETAIL, "PG_DIAG_MESSAGE_DETAIL"},
    {PG_DIAG_MESSAGE_HINT, "PG_DIAG_MESSAGE_HINT"},
    {PG_DIAG_STATEMENT_POSITION, "PG_DIAG_STATEMENT_POSITION"},
    {PG_DIAG_INTERNAL_POSITION, "PG_DIAG_INTERNAL_POSITION"},
    {PG_DIAG_INTERNAL_QUERY, "PG_DIAG_INTERNAL_QUERY"},
    {PG_DIAG_CONTEXT, "PG_DIAG_CONTEXT"},
    {PG_DIAG_SCHEMA_NAME, "PG_DIAG_SCHEMA_NAME"},
    {PG_DIAG_TABLE_NAME, "PG_DIAG_TABLE_NAME"},
    {PG_DIAG_COLUMN_NAME, "PG_DIAG_COLUMN_NAME"},
    {PG_DIAG_DATATYPE_NAME, "PG_DIAG_DATATYPE_NAME"},
    {PG_DIAG_CONSTRAINT_NAME, "PG_DIAG_CONSTRAINT_NAME"},
    {PG_DIAG_SOURCE_FILE, "PG_DIAG_SOURCE_FILE"},
    {PG_DIAG_SOURCE_LINE, "PG_DIAG_SOURCE_LINE"},
    {PG_DIAG_SOURCE_FUNCTION, "PG_DIAG_SOURCE_FUNCTION"},
};

QString recoverySuggestion(const PGresult *result, const QVariantMap &info) {
    QString primary = info.value(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")).toString();
    // Errors raised by libpq itself (a lost connection) carry no fields, only text.
    if (!info.contains(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")))
        primary = QString::fromUtf8(PQresultErrorMessage(result));
    QString text = QStringLiteral("PostgreSQL said: %1").arg(primary);
    const QString detail = info.value(QStringLiteral("PG_DIAG_MESSAGE_DETAIL")).toString();
    if (!detail.isEmpty())
        text += QStringLiteral("\nDetail: %1").arg(detail);
    const QString hint = info.value(QStringLiteral("PG_DIAG_MESSAGE_HINT")).toString();
    if (!hint.isEmpty())
        text += QStringLiteral("\nHint: %1").arg(hint);
    // Pages share the session with the SQL Query page and the terminal: a failed
    // transaction there fails everything else until the user ends it.
    if (info.value(QStringLiteral("PG_DIAG_SQLSTATE")).toString() == PGError::InFailedTransactionState)
        text += QStringLiteral("\n\n") + PGError::userTransactionReason(true);
    return text;
}
} // namespace

namespace PGError {

ErrorPtr errorWithPGresult(const PGresult *result, const QString &query) {
    QVariantMap info;
    info.insert(Error::DescriptionKey, QStringLiteral("Query failed"));
    for (const DiagnosticField &field : kFields) {
        if (const char *value = PQresultErrorField(result, field.code))
            info.insert(QString::fromLatin1(field.name), QString::fromUtf8(value));
    }
    if (!info.contains(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")))
        info.insert(LibpqMessageKey, QString::fromUtf8(PQresultErrorMessage(result)).trimmed());
    info.insert(QueryKey, query);
    info.insert(Error::RecoverySuggestionKey, recoverySuggestion(result, info));
    return Error::make(kBundleIdentifier, 1, info);
}

QString userTransactionReason(bool failed) {
    if (failed)
        return QStringLiteral("The connection has a failed transaction, begun in the SQL Query page or the terminal. "
                              "Roll it back there first.");
    return QStringLiteral("The connection has an open transaction, begun in the SQL Query page or the terminal. "
                          "Commit or roll it back there first.");
}

// libpq wraps a long message over lines indented by a tab ("server closed
// the connection unexpectedly\n\tThis probably means ..."): a sentence a
// line again, without the indents, so that a dialog wraps it to its width.
QString unwrappedLibpqText(const QString &text) {
    QString out;
    for (const QString &raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const bool wrapped = raw.front().isSpace() && line.front().isLower();
        out += out.isEmpty() ? line : (wrapped ? u' ' : u'\n') + line;
    }
    return out;
}

QString reasonText(const Error &error) {
    const QVariantMap &info = error.userInfo();
    if (const QString primary = info.value(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")).toString(); !primary.isEmpty())
        return primary;
    if (const QString libpq = unwrappedLibpqText(info.value(LibpqMessageKey).toString()); !libpq.isEmpty())
        return libpq;
    const QString description = error.localizedDescription();
    const QString reason = unwrappedLibpqText(error.localizedFailureReason());
    return reason.isEmpty() || description.contains(reason) ? description : description + u'\n' + reason;
}

ErrorPtr withConnectionLost(const ErrorPtr &error) {
    if (!error || error->userInfo().contains(ConnectionLostKey))
        return error;
    QVariantMap info = error->userInfo();
    info.insert(ConnectionLostKey, true);
    return Error::make(error->domain(), error->code(), info, error->underlyingError());
}

bool reportsLostConnection(const Error &error) {
    for (const Error *e = &error; e; e = e->underlyingError().get()) {
        if (e->userInfo().value(ConnectionLostKey).toBool())
            return true;
    }
    return false;
}

QString withReconnectAdvice(const QString &text) {
    const QString lost = QStringLiteral("The connection was lost.");
    const QString advice = QStringLiteral("Choose Reload to reconnect.");
    if (text.isEmpty())
        return lost + u' ' + advice;
    return text + QStringLiteral("\n\n") + (text.contains(lost) ? advice : lost + u' ' + advice);
}

} // namespace PGError
