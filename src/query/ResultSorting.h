#pragma once

#include "engine/RowStore.h"

#include <QByteArrayView>
#include <vector>

// Sorting a fetched result on the client, as the query editor and the
// terminal do when a column header is clicked: the rows stay where they are
// in their row store and the sort is a permutation of their indexes.
//
// Order of a column's values, ascending: numbers (and booleans, false before
// true) by value; text case-insensitively, digit runs by their value, so a9
// comes before a10 and A9 before a10; numeric values (type OID 1700, which
// arrive as the server's text) by their exact decimal value, -Infinity first
// and NaN last, as the server orders them; NULL and binary values after all
// others. Descending reverses all of it (NULL first). Equal values keep the
// order they arrived in. Pure; any thread.
namespace ResultSorting {

constexpr qint64 kNumericTypeOid = 1700;

// <0, 0, >0 as a sorts before, with or after b.
int compareNumericText(QByteArrayView a, QByteArrayView b);
int compareTextNaturally(QByteArrayView a, QByteArrayView b);
// Two cells of one column of type typeOid, in ascending order.
int compareCells(const RowStore::Cell &a, const RowStore::Cell &b, qint64 typeOid);

// The store rows 0..rowCount-1 (all below store.rowCount()) in the order of
// column, each once: order[i] is the row shown at i. Up to threads threads
// share the work; the result does not depend on how many.
std::vector<qsizetype> sortedRowOrder(const RowStore &store, qsizetype rowCount, int column, qint64 typeOid,
                                      bool ascending, int threads = 1);

} // namespace ResultSorting
