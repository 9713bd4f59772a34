#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Quoting of SQL literals and identifiers, written to give the very bytes that
// libpq's PQescapeLiteral, PQescapeIdentifier and PQescapeByteaConn give on a
// connection whose client encoding is UTF-8 — without needing a live handle, so
// any thread can quote. Pure functions.
namespace Quoting {
// 'text' with quotes doubled; text holding a backslash becomes " E'...'" with the
// backslashes doubled (the leading blank keeps it apart from a preceding
// identifier). The input ends at its first NUL byte. Nothing on a multibyte
// character cut short by the end of the input.
std::optional<QByteArray> escapeLiteral(const QByteArray &utf8);
// "text" with double quotes doubled; same NUL and multibyte rules.
std::optional<QByteArray> escapeIdentifier(const QByteArray &utf8);
// The hex form \x0a1b... of bytea (no surrounding quotes); with
// standard_conforming_strings off the leading backslash is doubled.
QByteArray escapeBytea(const QByteArray &bytes, bool standardConformingStrings);

// escapeIdentifier on text; a null string, logged, where that gives nothing.
QString quoteIdentifier(const QString &identifier);
// "schema"."name", as statements name a relation.
QString quoteQualifiedName(const QString &schema, const QString &name);
} // namespace Quoting
