#include "ZNTTableMetadata.h"

#include "ZNTDatabase.h"
#include "ZNTTable.h"
#include "ZNTTableMetadataReader.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"

ZNTTableMetadata::ZNTTableMetadata(std::shared_ptr<ZNTTable> table, std::weak_ptr<ZNTConnection> connection)
    : m_table(std::move(table)), m_connection(std::move(connection)) {}

ZNTTableMetadata::~ZNTTableMetadata() {
    if (m_columnInfoQuery) {
        m_queryObserver.stopObserving();
        m_columnInfoQuery->cancel();
        Log(QStringLiteral("Deallocated %1 before column query was done.")
                .arg(QString::asprintf("<ZNTTableMetadata: %p>", static_cast<const void *>(this))));
    }
}

QString ZNTTableMetadata::cacheKey(const ZNTTable &table) {
    return Quoting::quoteQualifiedName(table.schemaName(), table.name());
}

bool ZNTTableMetadata::isOidColumn(const ZNTColumn &column) {
    return column.attnum() == -2 && column.name() == u"oid";
}

ZNTTableMetadata::ServerFilledColumns ZNTTableMetadata::serverFilledColumns(const QStringList &names) const {
    ServerFilledColumns filled;
    for (const QString &name : names) {
        bool generated = false;
        for (const auto &column : m_columns) {
            if (column->name() != name)
                continue;
            generated = column->isGenerated();
            filled.overridingSystemValue = filled.overridingSystemValue || column->isIdentityAlways();
        }
        filled.generated << generated;
    }
    return filled;
}

std::shared_ptr<ZNTTableMetadata> ZNTTableMetadata::metadataForObject(const std::shared_ptr<ZNTConnection> &connection,
                                                                      const std::shared_ptr<ZNTObject> &object) {
    auto table = std::dynamic_pointer_cast<ZNTTable>(object);
    if (!connection || !table || !table->hasName())
        return nullptr;
    const QString key = cacheKey(*table);
    if (auto cached = connection->cachedMetadata(key))
        return std::static_pointer_cast<ZNTTableMetadata>(cached);
    std::shared_ptr<ZNTTableMetadata> metadata(new ZNTTableMetadata(table, connection));
    connection->setCachedMetadata(key, metadata);
    return metadata;
}

std::shared_ptr<ZNTTableMetadata> ZNTTableMetadata::makeUnloadedForTesting(std::shared_ptr<ZNTTable> table,
                                                                           std::weak_ptr<ZNTConnection> connection) {
    return std::shared_ptr<ZNTTableMetadata>(new ZNTTableMetadata(std::move(table), std::move(connection)));
}

void ZNTTableMetadata::purgeMetadataForObject(const std::shared_ptr<ZNTConnection> &connection,
                                              const ZNTObject &object) {
    const auto *table = dynamic_cast<const ZNTTable *>(&object);
    if (connection && table && table->hasName())
        connection->purgeMetadataForKey(cacheKey(*table));
}

void ZNTTableMetadata::load() {
    if (!Main::isMainThread())
        throw ProgramError("WrongThread", "-load must be called from the main thread only.");
    if (m_state == ZNTMetadataStateLoading)
        throw ProgramError("DoubleLoad", "-load called when metadata is already loading...");
    m_state = ZNTMetadataStateLoading;
    m_error.reset();
    stopQuery();

    const auto connection = m_connection.lock();
    const auto database = m_table->database();
    const QString sql = connection && database ? loadSQL(*connection, database->serverVersion(), *m_table) : QString();
    m_columnInfoQuery = ZNTQuery::create(sql);
    m_columnInfoQuery->setStatusMessage(QStringLiteral("Loading %1 structure…").arg(m_table->name()));
    std::weak_ptr<ZNTTableMetadata> weakSelf = weak_from_this();
    m_queryObserver = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, m_columnInfoQuery.get(),
                                                                  [weakSelf](const Notification &) {
                                                                      if (auto self = weakSelf.lock())
                                                                          self->queryDone();
                                                                  });
    // Without a connection the query reports its own failure, as it does for a
    // connection that cannot connect.
    m_columnInfoQuery->executeInBackgroundOnConnection(connection, true);
}

void ZNTTableMetadata::stopQuery() {
    m_queryObserver.stopObserving();
    if (m_columnInfoQuery) {
        m_columnInfoQuery->cancel();
        m_columnInfoQuery.reset();
    }
}

void ZNTTableMetadata::queryDone() {
    auto self = shared_from_this(); // an observer may purge this metadata while it is told
    const auto query = std::move(m_columnInfoQuery);
    m_queryObserver.stopObserving();
    if (ErrorPtr error = query->error()) {
        finishWithError(KesError::errorWithCode(1, QStringLiteral("Failed to load table schema."), error));
        return;
    }
    if (ErrorPtr error = ZNTTableMetadataReader(*this).read(query->results())) {
        finishWithError(error);
        return;
    }
    m_state = ZNTMetadataStateLoaded;
    NotificationCenter::defaultCenter().post(DidLoadNotification, self);
}

// A failed load is over: back to not loaded, so that the next caller may try
// again instead of waiting for a load that never ends.
void ZNTTableMetadata::finishWithError(ErrorPtr error) {
    m_error = error;
    m_state = ZNTMetadataStateNotLoaded;
    NotificationCenter::defaultCenter().post(DidLoadNotification, shared_from_this(), {{ErrorKey, error}});
}
