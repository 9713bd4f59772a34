#include "ZNTRowDeleteQuery.h"

#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"

ZNTRowDeleteQuery::ZNTRowDeleteQuery(const RowList &rows, std::shared_ptr<ZNTTable> table)
    : m_rows(rows), m_table(std::move(table)) {}

// Keys are found among the display columns; without a primary key or oid the
// whole row is the key, and look-alike rows are deleted through their places so
// that n picked rows delete n rows. A view has no places to pick rows by.
QString ZNTRowDeleteQuery::whereClauseOnConnection(const ZNTConnection &connection, ErrorPtr *error) const {
    const auto metadata = m_table ? m_table->metadata() : nullptr;
    if (!metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        throw ProgramError("MetadataMissing", "Tried to delete rows without table metadata available.");
    ZNTRowMatching::RowKey key;
    if (!ZNTRowMatching::keyOfRelation(*m_table, *metadata, connection, metadata->displayColumns(), &key, error))
        return QString();
    QList<qsizetype> positions;
    if (!ZNTRowMatching::keyPositions(key.columns, metadata->displayColumns(), &positions, error))
        return QString();
    QStringList conditions;
    for (const ZNTRowValues &row : m_rows)
        conditions << ZNTRowMatching::condition(connection, key, positions, row);
    if (key.byLocation) {
        return ZNTRowMatching::locationConditions(Quoting::quoteQualifiedName(m_table->schemaName(), m_table->name()),
                                                  conditions, false);
    }
    QStringList distinct;
    for (const auto &entry : ZNTRowMatching::counted(conditions))
        distinct << entry.first;
    return distinct.join(QStringLiteral(" OR "));
}

void ZNTRowDeleteQuery::executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection) {
    requireMainThread("ZNTRowDeleteQuery::executeInBackgroundOnConnection");
    QString where;
    if (connection)
        where = whereClauseOnConnection(*connection, &m_error);
    else
        m_error = KesError::errorWithFormat(QStringLiteral("The connection was lost."));
    if (where.isNull()) {
        Main::post([self = shared_from_this()] { self->postDone(); });
        return;
    }
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2")
                            .arg(Quoting::quoteQualifiedName(m_table->schemaName(), m_table->name()), where);
    m_sqlQuery = ZNTQuery::create(sql);
    m_sqlQuery->setRefusesUserTransaction(true);
    m_queryObserver = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, m_sqlQuery.get(),
                                                                  [this](const Notification &n) { didFinish(n); });
    m_sqlQuery->executeInBackgroundOnConnection(connection, true);
}

void ZNTRowDeleteQuery::cancel() {
    if (m_sqlQuery)
        m_sqlQuery->cancel();
}

void ZNTRowDeleteQuery::didFinish(const Notification &notification) {
    if (!m_sqlQuery || notification.object.get() != m_sqlQuery.get())
        return;
    const auto results = m_sqlQuery->results();
    if (results.size() == 1 && results.first()->resultType() == QLatin1String("success")) {
        m_success = true;
    } else {
        m_error = m_sqlQuery->error();
        if (!m_error)
            m_error = KesError::errorWithCode(1, QStringLiteral("Delete query returned unexpected result."));
    }
    m_queryObserver.stopObserving();
    m_sqlQuery.reset();
    postDone();
}

void ZNTRowDeleteQuery::postDone() {
    NotificationCenter::defaultCenter().post(ZNTQuery::DoneNotification, shared_from_this());
}
