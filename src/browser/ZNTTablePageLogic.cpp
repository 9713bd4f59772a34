#include "ZNTTablePageLogic.h"

#include "engine/PGError.h"
#include "engine/ZNTColumn.h"

#include <QRegularExpression>
#include <QSet>
#include <limits>

namespace ZNTTablePageLogic {

namespace {
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

// ceil(total / perPage) without overflow.
qint64 pageCount(qint64 total, qint64 perPage) {
    return total / perPage + (total % perPage != 0 ? 1 : 0);
}

QString counted(qint64 n, const char *one, const char *many) {
    return n == 1 ? QString::fromUtf8(one) : QString::fromUtf8(many).arg(n);
}
} // namespace

qint64 rowsPerPageFromSetting(qint64 stored) {
    return stored < 1 ? 1000 : stored;
}

qint64 maxPageIndex(qint64 rowsPerPage) {
    const qint64 perPage = rowsPerPageFromSetting(rowsPerPage);
    return kMax / perPage - 1;
}

qint64 clampPageIndex(qint64 pageIndex, qint64 rowsPerPage) {
    return std::clamp<qint64>(pageIndex, 0, maxPageIndex(rowsPerPage));
}

qint64 pageIndexForRowsPerPage(qint64 oldRowsPerPage, qint64 pageIndex, qint64 newRowsPerPage) {
    const __int128 firstRow = __int128(rowsPerPageFromSetting(oldRowsPerPage)) * std::max<qint64>(0, pageIndex);
    const __int128 page = firstRow / rowsPerPageFromSetting(newRowsPerPage);
    return clampPageIndex(page > kMax ? kMax : qint64(page), newRowsPerPage);
}

std::optional<qint64> pageIndexFromText(const QString &text) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    const qint64 page = trimmed.toLongLong(&ok);
    if (ok)
        return page > std::numeric_limits<qint64>::min() ? page - 1 : page;
    // Digits too many for 64 bits: the last page there can be.
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!digits.match(trimmed).hasMatch())
        return std::nullopt;
    return trimmed.startsWith(u'-') ? qint64(-1) : kMax - 1;
}

PagerState pagerState(qint64 pageIndex, qint64 rowsPerPage, qint64 totalRows, bool loadFailed) {
    PagerState state;
    state.previousEnabled = pageIndex > 0;
    if (totalRows < 0) {
        state.nextEnabled = pageIndex < maxPageIndex(rowsPerPage);
        state.label = QStringLiteral("Page %1").arg(pageIndex + 1);
    } else {
        const qint64 pages = pageCount(totalRows, rowsPerPage);
        state.nextEnabled = pages > pageIndex + 1;
        state.label = QStringLiteral("Page %1 of %2").arg(pageIndex + 1).arg(std::max<qint64>(pages, 1));
    }
    if (loadFailed)
        state.previousEnabled = state.nextEnabled = state.labelEnabled = false;
    return state;
}

QString statusText(bool hasResult, qint64 totalRows, qint64 resultRows, qint64 rowsPerPage, qint64 pageIndex) {
    if (!hasResult)
        return QString();
    if (totalRows == 1)
        return QStringLiteral("1 row");
    if (totalRows >= 0 && totalRows <= rowsPerPage)
        return QStringLiteral("%1 rows").arg(totalRows);
    // The page index is clamped, so these stay within 64 bits.
    const qint64 first = pageIndex * rowsPerPage + 1;
    const qint64 last = pageIndex * rowsPerPage + resultRows;
    if (resultRows > 0 && totalRows < 1)
        return QStringLiteral("Rows %1-%2").arg(first).arg(last);
    if (resultRows > 0)
        return QStringLiteral("Rows %1-%2 of %3").arg(first).arg(last).arg(totalRows);
    return QStringLiteral("No rows");
}

double defaultWidth(const ZNTColumn &column) {
    if (column.isNumeric())
        return 60;
    if (column.typeCategory() == 'B')
        return 45;
    if (column.typeCategory() == 'D')
        return 110;
    if (column.typeOid() == 25)
        return 250;
    return 150;
}

double columnWidth(const ZNTColumn &column, double storedWidth) {
    return storedWidth > 0 ? storedWidth : defaultWidth(column);
}

QStringList orderedColumnNames(const QStringList &displayNames, const QVariant &storedOrder) {
    QStringList ordered;
    QSet<QString> used;
    if (storedOrder.typeId() == QMetaType::QVariantList || storedOrder.typeId() == QMetaType::QStringList) {
        for (const QVariant &entry : storedOrder.toList()) {
            if (entry.typeId() != QMetaType::QString)
                continue;
            const QString name = entry.toString();
            if (displayNames.contains(name) && !used.contains(name)) {
                ordered << name;
                used.insert(name);
            }
        }
    }
    for (const QString &name : displayNames) {
        if (!used.contains(name)) {
            ordered << name;
            used.insert(name);
        }
    }
    return ordered;
}

Sort sortAfterHeaderClick(const Sort &current, const QString &clicked) {
    if (!current.column.isEmpty() && current.column == clicked)
        return current.ascending ? Sort{clicked, false} : Sort{QString(), true};
    return Sort{clicked, true};
}

QString pendingChangesText(qint64 newRows, qint64 editedRows, qint64 deletedRows) {
    QStringList parts;
    if (newRows > 0)
        parts << counted(newRows, "1 new row", "%1 new rows");
    if (editedRows > 0)
        parts << counted(editedRows, "1 edited row", "%1 edited rows");
    if (deletedRows > 0)
        parts << counted(deletedRows, "1 deleted row", "%1 deleted rows");
    return parts.join(QStringLiteral(", "));
}

QString deleteActionName(qint64 rows) {
    return counted(rows, "Delete Row", "Delete %1 rows");
}

QString editActionName(qint64 rows) {
    return counted(rows, "Edit Row", "Edit %1 rows");
}

QString informativeTextForError(const ErrorPtr &error) {
    if (!error)
        return QString();
    const QVariantMap &info = error->userInfo();
    QString text;
    if (info.contains(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")))
        text =
            QStringLiteral("The server said: %1").arg(info.value(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")).toString());
    const QString detail = info.value(QStringLiteral("PG_DIAG_MESSAGE_DETAIL")).toString();
    if (!detail.isEmpty())
        text += QStringLiteral("\nDetail: %1").arg(detail);
    const QString hint = info.value(QStringLiteral("PG_DIAG_MESSAGE_HINT")).toString();
    if (!hint.isEmpty())
        text += QStringLiteral("\nHint: %1").arg(hint);
    if (info.value(QStringLiteral("PG_DIAG_SQLSTATE")).toString() == PGError::InFailedTransactionState)
        text += QStringLiteral("\n\n") + PGError::userTransactionReason(true);
    if (text.isEmpty())
        text = PGError::reasonText(*error);
    return PGError::reportsLostConnection(*error) ? PGError::withReconnectAdvice(text) : text;
}

QString unsettledSaveText(const QString &reason, const HeldChanges &held) {
    const auto rows = [](qint64 n) { return counted(n, "1 row", "%1 rows"); };
    QString text = reason + QStringLiteral("\n\nThe rows are being loaded again as the table holds them now.");
    if (held.kept > 0)
        text += QStringLiteral(" Your changes to %1 are kept and put back over those rows once they have loaded (a "
                               "change whose row is no longer there, or has changed since, is dropped).")
                    .arg(rows(held.kept));
    if (held.withoutKey > 0)
        text += QStringLiteral(" The changes to %1 are not put back: the table has no primary key, so a row that "
                               "looks the same could take them.")
                    .arg(rows(held.withoutKey));
    if (held.uncertain > 0)
        text += QStringLiteral(" The changes to %1 are not put back: a save added a row or wrote a key, or its rows "
                               "did not come back as the server stored them, or the table's key changed, so they "
                               "could not be put back with certainty.")
                    .arg(rows(held.uncertain));
    if (held.changedAgain > 0)
        text += counted(held.changedAgain,
                        " The changes held for 1 row since an earlier save are not put back: this save changed "
                        "that row again.",
                        " The changes held for %1 rows since an earlier save are not put back: this save changed "
                        "those rows again.");
    if (held.newRows > 0)
        text += counted(held.newRows, " The new row is no longer pending, so that it is not added twice.",
                        " The %1 new rows are no longer pending, so that none is added twice.");
    return text + QStringLiteral(" Reload (F5) and look at the table before you make any of these changes again.");
}

namespace {
// Why a change did not go back is not known: only that its row is not there as
// it was, or that a later save left in doubt which row it is. The save itself
// may have written it.
QString notPutBackReason(qint64 rows) {
    const QString why =
        rows == 1
            ? QStringLiteral("The changes to 1 row could not be put back with certainty: that row is not among the "
                             "rows loaded now, holds other values than when the change was made, or you changed it "
                             "since; or a later save added a row, wrote a key, or did not get its rows back as the "
                             "server stored them. A save whose outcome was not known could have written it after "
                             "all, another save of this page or another session could have changed or deleted it, "
                             "or it is on another page or left out by the filter.")
            : QStringLiteral("The changes to %1 rows could not be put back with certainty: those rows are not among "
                             "the rows loaded now, hold other values than when the changes were made, or you changed "
                             "them since; or a later save added a row, wrote a key, or did not get its rows back as "
                             "the server stored them. A save whose outcome was not known could have written them "
                             "after all, another save of this page or another session could have changed or deleted "
                             "them, or they are on another page or left out by the filter.")
                  .arg(rows);
    return why;
}
} // namespace

QString notPutBackText(qint64 rows) {
    return notPutBackReason(rows) + QStringLiteral(" Nothing was saved. Look at the rows before you save again.");
}

QString notPutBackNoticeText(qint64 rows) {
    return notPutBackReason(rows) + QStringLiteral(" Look at the rows before you make these changes again.");
}

} // namespace ZNTTablePageLogic
