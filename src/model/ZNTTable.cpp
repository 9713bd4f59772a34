#include "ZNTTable.h"

#include "ZNTDatabase.h"
#include "ZNTFavoriteHandle.h"
#include "ZNTServer.h"
#include "ZNTTableMetadata.h"

#include <QHash>

namespace {
// Relations are equal across the three classes; the class test is the base's.
} // namespace

ZNTTable::ZNTTable(QString name, QString schemaName, std::shared_ptr<ZNTDatabase> database)
    : m_name(std::move(name)), m_schemaName(std::move(schemaName)), m_database(std::move(database)) {}

std::shared_ptr<ZNTTable> ZNTTable::create(const QString &name, const QString &schemaName,
                                           std::shared_ptr<ZNTDatabase> database) {
    return std::shared_ptr<ZNTTable>(new ZNTTable(name, schemaName, std::move(database)));
}

std::shared_ptr<ZNTTable> ZNTTable::createOfType(Type type, const QString &name, const QString &schemaName,
                                                 std::shared_ptr<ZNTDatabase> database) {
    switch (type) {
    case ZNTTableTypeView:
        return ZNTView::create(name, schemaName, std::move(database));
    case ZNTTableTypeMaterializedView:
        return ZNTMaterializedView::create(name, schemaName, std::move(database));
    default:
        return create(name, schemaName, std::move(database));
    }
}

std::shared_ptr<ZNTView> ZNTView::create(const QString &name, const QString &schemaName,
                                         std::shared_ptr<ZNTDatabase> database) {
    return std::shared_ptr<ZNTView>(new ZNTView(name, schemaName, std::move(database)));
}

std::shared_ptr<ZNTMaterializedView> ZNTMaterializedView::create(const QString &name, const QString &schemaName,
                                                                 std::shared_ptr<ZNTDatabase> database) {
    return std::shared_ptr<ZNTMaterializedView>(new ZNTMaterializedView(name, schemaName, std::move(database)));
}

std::shared_ptr<ZNTObject> ZNTTable::parent() const {
    return m_database;
}

ZNTObjectKind ZNTTable::objectKind() const {
    return ZNTObjectKind::Table;
}
ZNTObjectKind ZNTView::objectKind() const {
    return ZNTObjectKind::View;
}
ZNTObjectKind ZNTMaterializedView::objectKind() const {
    return ZNTObjectKind::MaterializedView;
}

bool ZNTTable::isEqual(const ZNTObject &other) const {
    if (!hasName())
        return &other == this;
    const auto *table = dynamic_cast<const ZNTTable *>(&other);
    return table && table->m_name == m_name && table->m_schemaName == m_schemaName &&
           sameItem(table->m_database, m_database);
}

size_t ZNTTable::hash() const {
    return hasName() ? qHash(m_name) : 0;
}

bool ZNTTable::isSameRelationAs(const ZNTTable &other) const {
    if (isEqual(other))
        return true;
    if (!hasName() || m_name != other.m_name || m_schemaName != other.m_schemaName || !m_database ||
        !other.m_database || m_database->name() != other.m_database->name())
        return false;
    const auto server = m_database->server();
    const auto otherServer = other.m_database->server();
    return server && otherServer && server->reachesSameServerAs(*otherServer);
}

std::shared_ptr<ZNTTable> ZNTTable::copy() {
    if (!hasName())
        return shared_from_this();
    return makeSibling();
}

std::shared_ptr<ZNTTable> ZNTTable::makeSibling() const {
    return create(m_name, m_schemaName, m_database);
}
std::shared_ptr<ZNTTable> ZNTView::makeSibling() const {
    return create(name(), schemaName(), database());
}
std::shared_ptr<ZNTTable> ZNTMaterializedView::makeSibling() const {
    return create(name(), schemaName(), database());
}

std::shared_ptr<ZNTTableMetadata> ZNTTable::metadata() const {
    if (!hasName() || !m_database)
        return nullptr;
    auto self = std::const_pointer_cast<ZNTTable>(shared_from_this());
    return ZNTTableMetadata::metadataForObject(m_database->connection(), self);
}

void ZNTTable::purgeMetadata() const {
    if (!hasName() || !m_database)
        return;
    ZNTTableMetadata::purgeMetadataForObject(m_database->connection(), *this);
}

std::shared_ptr<ZNTPrefContainerHandle> ZNTTable::prefContainerCreateIfNotExists(bool create) {
    if (m_prefContainer || !hasName() || !m_database)
        return m_prefContainer;
    auto server = m_database->server();
    auto favorite = server ? server->favorite() : nullptr;
    if (!favorite)
        return nullptr;
    m_prefContainer = favorite->prefContainerOfType(0, m_database->name(), m_schemaName, m_name, create);
    // Recorded once, when the container is first found: the query editor finds
    // a table's settings by its oid.
    if (m_prefContainer) {
        auto loaded = metadata();
        const qint64 oid = loaded ? loaded->oid() : 0;
        if (oid != 0 && m_prefContainer->oid() != oid)
            m_prefContainer->setOid(oid);
    }
    return m_prefContainer;
}
