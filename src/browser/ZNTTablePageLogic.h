#pragma once

#include "platform/Error.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <optional>

class ZNTColumn;

// The decisions of the table page that need no widget: paging arithmetic,
// status and pager texts, default column widths, the column order, sorting by
// header clicks and the texts of pending changes. Pure functions.
namespace ZNTTablePageLogic {

// "TableViewRowsPerPage" as stored: below 1 (or missing) reads as 1000.
qint64 rowsPerPageFromSetting(qint64 stored);

// The highest page index whose rows can all be numbered: index * rowsPerPage
// + rowsPerPage stays within a signed 64-bit number (the server's OFFSET and
// the row numbers of the status text).
qint64 maxPageIndex(qint64 rowsPerPage);
// A page the user asked for, clamped to 0..maxPageIndex.
qint64 clampPageIndex(qint64 pageIndex, qint64 rowsPerPage);
// The page that shows the same first row after rows per page changed from
// oldRowsPerPage to newRowsPerPage (clamped as above).
qint64 pageIndexForRowsPerPage(qint64 oldRowsPerPage, qint64 pageIndex, qint64 newRowsPerPage);
// What the go-to-page field holds, as a page index: the number less one; a
// number beyond 64 bits is the largest; no number is nothing.
std::optional<qint64> pageIndexFromText(const QString &text);

// totalRows -1: not counted. resultRows: rows of the page query's result.
// loadFailed: the page's rows could not be loaded; with none shown there is no
// page to step from, and only a reload tries again.
struct PagerState {
    bool previousEnabled = false;
    bool nextEnabled = false;
    bool labelEnabled = true; // opens the go-to-page popover
    QString label;            // "Page 3 of 9", "Page 3"
};
PagerState pagerState(qint64 pageIndex, qint64 rowsPerPage, qint64 totalRows, bool loadFailed = false);
// The line under the grid; hasResult false: "".
QString statusText(bool hasResult, qint64 totalRows, qint64 resultRows, qint64 rowsPerPage, qint64 pageIndex);

// The width a column gets without a stored one (0 stored means none).
double defaultWidth(const ZNTColumn &column);
double columnWidth(const ZNTColumn &column, double storedWidth);

// The display columns in the order they are shown: the stored order's names
// that are display columns (each once), then the others in display order.
// storedOrder is whatever was stored; anything but a list of texts is ignored.
QStringList orderedColumnNames(const QStringList &displayNames, const QVariant &storedOrder);

// After a click on the header of column clicked, with the sort now on sorted
// (empty: none) in direction ascending: the new sort column (empty: none) and
// direction. The same column goes ascending, descending, then back to none.
struct Sort {
    QString column;
    bool ascending = true;
    bool operator==(const Sort &) const = default;
};
Sort sortAfterHeaderClick(const Sort &current, const QString &clicked);

// "2 new rows, 1 edited row, 3 deleted rows" (parts that are 0 left out).
QString pendingChangesText(qint64 newRows, qint64 editedRows, qint64 deletedRows);
QString deleteActionName(qint64 rows); // "Delete Row", "Delete %d rows"
QString editActionName(qint64 rows);   // "Edit Row", "Edit %d rows"

// The server's words of a failed statement: "The server said: %1", then
// "\nDetail: %1" and "\nHint: %1" when given; without them libpq's own text (a
// lost connection), else the error's description and failure reason. An error
// that ended with its connection lost ends saying that Reload reconnects.
QString informativeTextForError(const ErrorPtr &error);
// What happened to the changes of a save that may have been committed: the
// rows whose changes are held until the rows load again (with those held over
// an earlier such save), those left out (no key to find their rows by, a save
// that left their rows in doubt, or rows held before that the save changed
// again) and the new rows, which are not kept.
struct HeldChanges {
    qint64 kept = 0;
    qint64 withoutKey = 0;
    qint64 uncertain = 0;
    qint64 changedAgain = 0;
    qint64 newRows = 0;
};
// The informative text after a save that may have been committed; reason says why.
QString unsettledSaveText(const QString &reason, const HeldChanges &held);
// Why a save of held changes did not run: rows' changes that did not go back.
QString notPutBackText(qint64 rows);
// The same told after a load that no save waited for: nothing was being saved.
QString notPutBackNoticeText(qint64 rows);

} // namespace ZNTTablePageLogic
