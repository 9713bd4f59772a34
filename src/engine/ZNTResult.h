#pragma once

#include "RowStore.h"
#include "ZNTColumn.h"

#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <mutex>

using ZNTColumnList = QList<std::shared_ptr<ZNTColumn>>;

// The session's settings that decide how dates, times and intervals are
// written as text, as the server reported them when a query was sent; empty
// where it reported none. Such a text read back means the same value only
// under the settings it was written with.
struct ZNTValueStyles {
    QString dateStyle;     // DateStyle
    QString intervalStyle; // IntervalStyle
};

// One result of a query: a row result (columns and rows, no result type) or a
// command, notice or error result (message and type "success", "notice" or
// "error"). The connection queue fills it while the main thread reads it, so
// every field is read and written under the result's own lock; rows are a
// RowStore, safe to read while they grow.
class ZNTResult {
public:
    static inline const QString NewRowNotification = QStringLiteral("norvane.voskel.ZNTResultNewRowNotification");
    static inline const QString DoneNotification = QStringLiteral("norvane.voskel.ZNTResultDoneNotification");
    static constexpr qsizetype NotFound = -1;

    // An empty result: no columns, no rows, no type (a row result to be).
    static std::shared_ptr<ZNTResult> create();
    static std::shared_ptr<ZNTResult> emptyQueryResult(); // "The query was empty.", "error"
    static std::shared_ptr<ZNTResult> fatalErrorResult(); // "A fatal error occurred.", "error"
    static std::shared_ptr<ZNTResult> noticeResult();     // "A notice occurred.", "notice"
    static std::shared_ptr<ZNTResult> commandOkResult();  // "The command was executed successfully.", "success"
    static std::shared_ptr<ZNTResult> invalidResult();    // "Invalid result returned.", "error"

    // The first column of that name, or NotFound. Hits are cached, misses not.
    qsizetype columnNumberForName(const QString &name) const;

    // Stored without white space or newlines at either end.
    QString string() const;
    void setString(const QString &string);
    ZNTColumnList columns() const;
    void setColumns(const ZNTColumnList &columns);
    // Null for results that return no rows; empty when the query kept no rows.
    std::shared_ptr<const RowStore> rows() const;
    void setRows(std::shared_ptr<const RowStore> rows);
    QString resultType() const; // null for a row result
    void setResultType(const QString &type);
    qint64 affectedRows() const;
    void setAffectedRows(qint64 rows);
    // An error result whose message libpq wrote itself (a lost connection),
    // not the server: its long lines are wrapped under a tab.
    bool isLibpqError() const;
    void setLibpqError(bool libpq);
    // A row result's: those its query was sent under.
    ZNTValueStyles valueStyles() const;
    void setValueStyles(const ZNTValueStyles &styles);

    // "<ZNTResult: 0x... message=... numRows=...>"
    QString description() const;

    ZNTResult() = default;

private:
    static std::shared_ptr<ZNTResult> make(const QString &message, const QString &type);

    mutable std::mutex m_mutex;
    mutable QHash<QString, qsizetype> m_columnNumbersForNames;
    QString m_string;
    ZNTColumnList m_columns;
    std::shared_ptr<const RowStore> m_rows;
    QString m_resultType;
    qint64 m_affectedRows = 0;
    bool m_libpqError = false;
    ZNTValueStyles m_valueStyles;
};
