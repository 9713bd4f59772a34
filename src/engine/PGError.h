#pragma once

#include "platform/Error.h"

typedef struct pg_result PGresult;

// The error of a failed server statement: domain kBundleIdentifier, code 1,
// description "Query failed", every diagnostic field the result carries under its
// libpq name ("PG_DIAG_SQLSTATE", ...), "query" the SQL text, and the server's own
// words as recovery suggestion.
namespace PGError {
inline const QString QueryKey = QStringLiteral("query");
// The SQLSTATE of a statement sent into a failed transaction ("current transaction
// is aborted"): its error also says whose transaction that is.
inline const QString InFailedTransactionState = QStringLiteral("25P02");
ErrorPtr errorWithPGresult(const PGresult *result, const QString &query);
// Why the connection's session cannot take a statement for the program: the
// user's transaction, begun in the SQL Query page or the terminal, is open or
// has failed.
QString userTransactionReason(bool failed);
} // namespace PGError
