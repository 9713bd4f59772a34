#pragma once

#include "engine/Value.h"
#include "engine/ZNTResult.h"
#include "platform/Error.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class ZNTConnection;
class ZNTTable;
class ZNTTableMetadata;

// One row as the table browser holds it: a value per column of its page.
using ZNTRowValues = QList<Value>;

// The WHERE conditions that pick given rows of a table: one condition per row,
// its terms joined with AND, and the conditions of all rows joined with OR or,
// for a table without a key, as subselects of the rows' places (table and ctid)
// that touch exactly as many look-alike rows as were picked. Pure; the
// connection only quotes.
namespace ZNTRowMatching {

// How the rows of one relation are told apart.
struct RowKey {
    // The columns compared.
    ZNTColumnList columns;
    // Without a key every column is compared exactly as the server showed it;
    // then these are the columns' types as the server names them, one per
    // column. Empty: the key's own equality ("=").
    QStringList exactTypes;
    // Rows are picked through their places: (tableoid, ctid).
    bool byLocation = false;
};

// The columns that tell a relation's rows apart: its primary key, else its oid
// column (not on Redshift); empty when it has neither.
ZNTColumnList identifyingKey(const ZNTTableMetadata &metadata, const ZNTConnection &connection);

// The key of a relation whose structure is loaded: its primary key; else its
// oid column (not on Redshift); else all of candidates, compared exactly
// (except on Redshift, whose old PostgreSQL has no collations and no casts of
// every type to text), through their places when the relation is a table that
// has them. False with *error "Can't find key column %@" when a candidate is
// not a column of the relation.
bool keyOfRelation(const ZNTTable &table, const ZNTTableMetadata &metadata, const ZNTConnection &connection,
                   const ZNTColumnList &candidates, RowKey *key, ErrorPtr *error);

// Types whose "=" does not mean "shows the same value", or that have no "="
// at all: json and xml have none, the geometric types compare areas or
// lengths (two different boxes of one area are "equal"), and interval calls
// '1 mon' and '30 days' equal. Their rows are matched by their text. typeOid
// is the base type of a domain.
bool comparesAsText(qint64 typeOid);

// name IS NULL, name::TEXT=literal or name=literal.
QString term(const ZNTConnection &connection, const ZNTColumn &column, const Value &value);

// The value exactly as shown: the column's text against the text of the literal
// read as the column's type, compared byte by byte, so that neither the type's
// "=" (numeric 1.0 = 1.00, float 0 = -0, citext, ranges and arrays of them) nor
// a nondeterministic collation calls two shown values the same; casts with a
// text form of their own (inet, boolean) give it on both sides. NULL is
// "name::text IS NULL", which a composite value of NULL fields is not.
QString exactTerm(const ZNTConnection &connection, const ZNTColumn &column, const QString &typeName,
                  const Value &value);

// The terms of the key columns joined with " AND "; positions[i] is where the
// value of keyColumns[i] stands in row.
QString condition(const ZNTConnection &connection, const ZNTColumnList &keyColumns, const QList<qsizetype> &positions,
                  const ZNTRowValues &row);
// The same with the key's own terms: exact ones when the key says so.
QString condition(const ZNTConnection &connection, const RowKey &key, const QList<qsizetype> &positions,
                  const ZNTRowValues &row);

// Where each key column stands among columns (by column equality, i.e. name);
// false with *error "Can't find key column %@" when one is not there.
bool keyPositions(const ZNTColumnList &keyColumns, const ZNTColumnList &columns, QList<qsizetype> *positions,
                  ErrorPtr *error);

// The distinct conditions with how often each occurs, in the order of their
// first occurrence.
QList<QPair<QString, qsizetype>> counted(const QStringList &conditions);

// "(tableoid, ctid) IN (SELECT tableoid, ctid FROM S.T WHERE c LIMIT n[ FOR
// UPDATE])" for each distinct condition, joined with " OR "; qualifiedTable is
// "S.T", quoted. ctid alone is no row's place: every partition and every child
// of an inheritance parent numbers its rows from (0,1).
QString locationConditions(const QString &qualifiedTable, const QStringList &conditions, bool forUpdate);

} // namespace ZNTRowMatching
