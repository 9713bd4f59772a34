#pragma once

#include "engine/Value.h"
#include "engine/ZNTResult.h"
#include "platform/Error.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class ZNTConnection;

// One row as the table browser holds it: a value per column of its page.
using ZNTRowValues = QList<Value>;

// The WHERE conditions that pick given rows of a table by their key values:
// one condition per row, its terms joined with AND, and the conditions of all
// rows joined with OR or, for a table without a usable key, as ctid
// subselects that touch exactly as many identical rows as were picked.
// Pure; the connection only quotes.
namespace ZNTRowMatching {

// Types whose "=" does not mean "shows the same value", or that have no "="
// at all: json and xml have none, the geometric types compare areas or
// lengths (two different boxes of one area are "equal"), and interval calls
// '1 mon' and '30 days' equal. Their rows are matched by their text.
bool comparesAsText(qint64 typeOid);

// name IS NULL, name::TEXT=literal or name=literal.
QString term(const ZNTConnection &connection, const ZNTColumn &column, const Value &value);

// The terms of the key columns joined with " AND "; positions[i] is where the
// value of keyColumns[i] stands in row.
QString condition(const ZNTConnection &connection, const ZNTColumnList &keyColumns, const QList<qsizetype> &positions,
                  const ZNTRowValues &row);

// Where each key column stands among columns (by column equality, i.e. name);
// false with *error "Can't find key column %@" when one is not there.
bool keyPositions(const ZNTColumnList &keyColumns, const ZNTColumnList &columns, QList<qsizetype> *positions,
                  ErrorPtr *error);

// The distinct conditions with how often each occurs, in the order of their
// first occurrence.
QList<QPair<QString, qsizetype>> counted(const QStringList &conditions);

// "ctid IN (SELECT ctid FROM S.T WHERE c LIMIT n[ FOR UPDATE])" for each
// distinct condition, joined with " OR "; qualifiedTable is "S.T", quoted.
QString ctidConditions(const QString &qualifiedTable, const QStringList &conditions, bool forUpdate);

} // namespace ZNTRowMatching
