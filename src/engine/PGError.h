#pragma once

#include "platform/Error.h"

typedef struct pg_result PGresult;

// The error of a failed server statement: domain kBundleIdentifier, code 1,
// description "Query failed", every diagnostic field the result carries under its
// libpq name ("PG_DIAG_SQLSTATE", ...), "query" the SQL text, and the server's own
// words as recovery suggestion.
namespace PGError {
inline const QString QueryKey = QStringLiteral("query");
ErrorPtr errorWithPGresult(const PGresult *result, const QString &query);
} // namespace PGError
