// The connection and query engine: connections and their states, the SSH tunnel,
// name resolution, certificate trust, secrets, query execution and results,
// server errors, and PostgreSQL's text syntax. QtCore only.
#pragma once

#include "platform/Error.h"

// Factories of the program's own errors (domain kBundleIdentifier). A null
// string argument ends the user info there: the keys after it are absent.
namespace KesError {
ErrorPtr errorWithCode(int code, const QString &description);
ErrorPtr errorWithCode(int code, const QString &description, const ErrorPtr &underlying);
ErrorPtr errorWithCode(int code, const QString &description, const QString &reason);
ErrorPtr errorWithCode(int code, const QString &description, const QString &reason, const ErrorPtr &underlying);
// Code 1 with the text as description; callers format with QString::arg.
ErrorPtr errorWithFormat(const QString &description);
} // namespace KesError
