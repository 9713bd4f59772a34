#pragma once

#include "ZNTRow.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

class ZNTConnection;
class ZNTQuery;
class ZNTTableMetadata;

// A row that loads itself in the background from key values: the row a
// foreign key of another row points to. Main thread only ("WrongThread"
// elsewhere).
//
// Make it with create(); when hasLoaded() is already true the row is done (a
// NULL, DEFAULT or MULTIPLE key value: nothing to load). Otherwise observe
// LoadingDoneNotification with the row as object; it is posted once. Then
// values() holds the row (empty when no row has that key) and error() what
// failed: the SELECT, or the loading of the table's structure.
class ZNTAsynchronousRow : public ZNTRow {
public:
    static inline const QString LoadingDoneNotification = QStringLiteral("ZNTAsynchronousRowLoadingDone");

    // The row of table whose columns with the attribute numbers attnums hold
    // keyValues (both in the same order).
    static std::shared_ptr<ZNTAsynchronousRow> create(const std::shared_ptr<ZNTTable> &table,
                                                      const ZNTRowValues &keyValues, const QList<qint64> &attnums);
    ~ZNTAsynchronousRow() override;

    bool hasLoaded() const { return m_hasLoaded; }
    ErrorPtr error() const { return m_error; }
    // The statement that loads the row, for the columns of loaded metadata; null
    // with *error set when a key column is unknown.
    QString loadSQL(const ZNTTableMetadata &metadata, const ZNTConnection &connection, ErrorPtr *error) const;

private:
    ZNTAsynchronousRow() = default;
    void start();
    void metadataReady(const std::shared_ptr<ZNTTableMetadata> &metadata);
    void queryDone(const std::shared_ptr<ZNTTableMetadata> &metadata);
    void finish(ErrorPtr error = nullptr);

    ZNTRowValues m_keyValues;
    QList<qint64> m_keyAttnums;
    std::shared_ptr<ZNTQuery> m_rowValueQuery;
    ObserverToken m_observer;
    bool m_hasLoaded = false;
    ErrorPtr m_error;
};
