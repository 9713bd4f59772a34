#pragma once

#include "ZNTRowMatching.h"
#include "engine/ZNTQuery.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QList>
#include <memory>

class ZNTTable;

// Deletes given rows of one table with one DELETE statement whose WHERE clause
// picks each row by its key values. No sheets: run it on a connection and wait
// for ZNTQuery::DoneNotification with this object as object. Hold it until
// then: it is not kept alive by its query.
//
// Rows are value lists in the order of the table's display columns; the
// table's structure must be loaded. main thread
class ZNTRowDeleteQuery : public std::enable_shared_from_this<ZNTRowDeleteQuery> {
public:
    using RowList = QList<ZNTRowValues>;

    ZNTRowDeleteQuery(const RowList &rows, std::shared_ptr<ZNTTable> table);

    void executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection);
    void cancel();
    // Null with *error set when a key column is not among the display columns.
    QString whereClauseOnConnection(const ZNTConnection &connection, ErrorPtr *error) const;

    RowList rows() const { return m_rows; }
    void setRows(const RowList &rows) { m_rows = rows; }
    std::shared_ptr<ZNTTable> table() const { return m_table; }
    void setTable(const std::shared_ptr<ZNTTable> &table) { m_table = table; }
    // True when the DELETE came back as one command result.
    bool success() const { return m_success; }
    ErrorPtr error() const { return m_error; }
    std::shared_ptr<ZNTQuery> sqlQuery() const { return m_sqlQuery; }

private:
    void didFinish(const Notification &notification);
    void postDone();

    std::shared_ptr<ZNTQuery> m_sqlQuery;
    bool m_success = false;
    RowList m_rows;
    std::shared_ptr<ZNTTable> m_table;
    ErrorPtr m_error;
    ObserverToken m_queryObserver;
};
