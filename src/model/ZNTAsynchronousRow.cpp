#include "ZNTAsynchronousRow.h"

#include "ZNTDatabase.h"
#include "ZNTIndex.h"
#include "ZNTTable.h"
#include "ZNTTableMetadata.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"

#include <QStringList>

std::shared_ptr<ZNTAsynchronousRow> ZNTAsynchronousRow::create(const std::shared_ptr<ZNTTable> &table,
                                                               const ZNTRowValues &keyValues,
                                                               const QList<qint64> &attnums) {
    if (!Main::isMainThread())
        throw ProgramError("WrongThread",
                           "-initWithTable:withValues:forAttnums: must be called from the main thread only.");
    std::shared_ptr<ZNTAsynchronousRow> row(new ZNTAsynchronousRow);
    row->m_table = table;
    row->m_parent = table;
    row->m_keyValues = keyValues;
    row->m_keyAttnums = attnums;
    row->start();
    return row;
}

ZNTAsynchronousRow::~ZNTAsynchronousRow() {
    m_observer.stopObserving();
    if (m_rowValueQuery)
        m_rowValueQuery->cancel();
}

void ZNTAsynchronousRow::start() {
    const auto metadata = m_table ? m_table->metadata() : nullptr;
    if (!metadata) {
        finish(KesError::errorWithCode(1, QStringLiteral("Failed to load table schema."),
                                       QStringLiteral("The table's database is not connected.")));
        return;
    }
    if (metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateLoaded)
        m_columns = metadata->displayColumns();
    if (metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateNotLoaded)
        metadata->load();
    if (metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoading) {
        metadataReady(metadata);
        return;
    }
    std::weak_ptr<ZNTAsynchronousRow> weakSelf = std::static_pointer_cast<ZNTAsynchronousRow>(shared_from_this());
    m_observer = NotificationCenter::defaultCenter().observe(
        ZNTTableMetadata::DidLoadNotification, metadata.get(), [weakSelf, metadata](const Notification &n) {
            auto self = weakSelf.lock();
            if (!self)
                return;
            // A structure that failed to load gives the row nothing to select:
            // it is done, with that failure, and asks for no new load.
            if (auto error = n.value<ErrorPtr>(ZNTTableMetadata::ErrorKey)) {
                self->m_observer.stopObserving();
                self->finish(*error);
                return;
            }
            self->metadataReady(metadata);
        });
}

void ZNTAsynchronousRow::metadataReady(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    m_observer.stopObserving();
    if (metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded) {
        finish(metadata->error() ? metadata->error()
                                 : KesError::errorWithCode(1, QStringLiteral("Failed to load table schema.")));
        return;
    }
    m_columns = metadata->displayColumns();
    for (const Value &value : m_keyValues)
        if (value.isNull() || value.isDefault() || value.isMultiple()) {
            finish(); // no row has such a key
            return;
        }
    const auto connection = metadata->connection();
    ErrorPtr error;
    const QString sql = connection ? loadSQL(*metadata, *connection, &error) : QString();
    if (sql.isNull()) {
        finish(error ? error : KesError::errorWithCode(1, QStringLiteral("The connection is gone.")));
        return;
    }
    m_rowValueQuery = ZNTQuery::create(sql);
    m_rowValueQuery->setStatusMessage(QStringLiteral("Loading related row from %1…").arg(m_table->name()));
    std::weak_ptr<ZNTAsynchronousRow> weakSelf = std::static_pointer_cast<ZNTAsynchronousRow>(shared_from_this());
    m_observer = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, m_rowValueQuery.get(),
                                                             [weakSelf, metadata](const Notification &) {
                                                                 if (auto self = weakSelf.lock())
                                                                     self->queryDone(metadata);
                                                             });
    m_rowValueQuery->executeInBackgroundOnConnection(connection, true);
}

QString ZNTAsynchronousRow::loadSQL(const ZNTTableMetadata &metadata, const ZNTConnection &connection,
                                    ErrorPtr *error) const {
    QStringList columns, conditions;
    for (const auto &column : metadata.displayColumns())
        columns << connection.quoteIdentifier(column->name());
    for (qsizetype i = 0; i < m_keyAttnums.size() && size_t(i) < m_keyValues.size(); ++i) {
        const auto column = metadata.columnForAttnum(m_keyAttnums[i]);
        if (!column) {
            if (error)
                *error = KesError::errorWithFormat(QStringLiteral("The table %1 has no column number %2.")
                                                       .arg(m_table->name(), QString::number(m_keyAttnums[i])));
            return QString();
        }
        conditions << QStringLiteral("%1=%2").arg(connection.quoteIdentifier(column->name()),
                                                  connection.quoteLiteral(m_keyValues[size_t(i)]));
    }
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 LIMIT 1")
        .arg(columns.join(QStringLiteral(", ")), Quoting::quoteQualifiedName(m_table->schemaName(), m_table->name()),
             conditions.join(QStringLiteral(" AND ")));
}

void ZNTAsynchronousRow::queryDone(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    m_observer.stopObserving();
    const auto query = std::move(m_rowValueQuery);
    const auto results = query->results();
    if (!results.isEmpty() && results[0]->rows() && results[0]->rows()->rowCount() > 0)
        m_values = results[0]->rows()->rowAt(0);
    if (const auto primaryKey = metadata->primaryKeyIndex(); primaryKey && !m_values.empty())
        m_name = titleForKey(primaryKey->keyColumns());
    finish(query->error());
}

void ZNTAsynchronousRow::finish(ErrorPtr error) {
    auto self = shared_from_this(); // an observer may drop the row while it is told
    m_error = std::move(error);
    m_hasLoaded = true;
    NotificationCenter::defaultCenter().post(LoadingDoneNotification, self);
}
