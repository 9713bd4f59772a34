#pragma once

#include "platform/Error.h"

typedef struct pg_result PGresult;

// The error of a failed server statement: domain kBundleIdentifier, code 1,
// description "Query failed", every diagnostic field the result carries under its
// libpq name ("PG_DIAG_SQLSTATE", ...), "query" the SQL text, and the server's own
// words as recovery suggestion. An error libpq raised itself (a lost connection)
// has no fields: its text is kept whole under LibpqMessageKey.
namespace PGError {
inline const QString QueryKey = QStringLiteral("query");
inline const QString LibpqMessageKey = QStringLiteral("libpqMessage");
// The SQLSTATE of a statement sent into a failed transaction ("current transaction
// is aborted"): its error also says whose transaction that is.
inline const QString InFailedTransactionState = QStringLiteral("25P02");
ErrorPtr errorWithPGresult(const PGresult *result, const QString &query);
// Why the connection's session cannot take a statement for the program: the
// user's transaction, begun in the SQL Query page or the terminal, is open or
// has failed.
QString userTransactionReason(bool failed);
// Why a statement failed in the fewest words, for any error: the server's
// primary message; else libpq's own text; else the description, followed by
// the failure reason when there is one.
QString reasonText(const Error &error);
// libpq's own text with the lines it wraps under a tab joined back into
// sentences, one a line.
QString unwrappedLibpqText(const QString &text);
// Set by the engine on the error of a statement that ended with its connection
// lost, so that what shows the error, later, can say that Reload reconnects.
inline const QString ConnectionLostKey = QStringLiteral("connectionLost");
ErrorPtr withConnectionLost(const ErrorPtr &error);
// Whether error, or one under it, ended with its connection lost.
bool reportsLostConnection(const Error &error);
// text, then that Reload brings a lost connection back; "The connection was
// lost." is said once.
QString withReconnectAdvice(const QString &text);
} // namespace PGError
