#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class ZNTColumn;

// The decisions of the query editor that need no widget: the texts of times,
// notifications, the status view, the result selector and the row count,
// sorting by header clicks and the widths of result columns. Pure functions.
namespace QueryPageLogic {

// A running query's time: "2.3 s" (a no-break space before the unit); "" while
// it has not started (0).
QString elapsedText(double seconds);
// A finished query's time: "400 ms" under a second, else "2.3 s".
QString finalTimeText(double seconds);
// The desktop notification at the end of a run: "Query Completed in %1" and
// the SQL cut to its first 1000 characters, every run of white space one blank.
QString notificationTitle(const QString &timeText);
QString notificationBody(const QString &sql);

// What the status view lists of a run: the message of every result, one a
// line; then the run's error when no result tells it (a lost connection, a
// run cancelled before it started, a COPY refused). A result in progress adds
// an empty line. A run that left the connection lost ends saying that Reload
// reconnects: running again does not.
struct ResultMessage {
    QString text;
    bool isError = false; // result type "error"
};
QString statusText(const QList<ResultMessage> &results, const QString &errorDescription, bool connectionLost = false);

// The result selector: "Query Status" (tag -1), then, after a separator,
// "Result 1", "Result 2", ... for the results that return rows, tagged with
// their index among all results; without any, a disabled "No Query Results".
struct SelectorItem {
    enum class Kind { Item, Separator } kind = Kind::Item;
    QString title;
    int tag = -1;
    bool enabled = true;
    bool operator==(const SelectorItem &) const = default;
};
QList<SelectorItem> selectorItems(const std::vector<bool> &resultHasRows);

// "%1 of %2 selected", "1 row", "%1 rows"; "" without a result.
QString rowCountText(bool hasResult, qsizetype rows, qsizetype selectedRows);

// The sort after a click on the header of result column clicked: another
// column sorts ascending, the sort column turns descending, then off (-1).
struct Sort {
    int column = -1;
    bool ascending = false;
    bool operator==(const Sort &) const = default;
};
Sort sortAfterClick(const Sort &current, int clicked);

// The width the table page stored for the table column of attribute number
// attnum: the stored widths (column name -> width) of the names whose stored
// attribute number (column name -> attnum) is attnum; the first usable one,
// else 0. Stored values are checked, never trusted.
double storedWidth(const QVariant &attnums, const QVariant &widths, qint64 attnum);
// A grid column's width: the width recorded for the result at its position,
// else the stored one, else the default by type (as the table page's).
double columnWidth(const ZNTColumn &column, double recordedWidth, double storedWidth);

// Whether a grid can keep its columns for a result: as many columns, none
// moved (logical index i at position i), and at each position the title of
// the result column shown there.
bool keepsColumns(const QStringList &gridTitles, const std::vector<int> &gridLogicalOrder,
                  const QStringList &resultColumnNames, const std::vector<int> &columnIndices);

} // namespace QueryPageLogic
