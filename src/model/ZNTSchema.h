#pragma once

#include "ZNTObject.h"

class ZNTDatabase;

// A schema of a database, as an item of the object tree. Equal to another schema
// of the same name in an equal database. Make it with std::make_shared: its
// listing holds the item.
class ZNTSchema : public ZNTObject, public std::enable_shared_from_this<ZNTSchema> {
public:
    ZNTSchema(QString name, std::shared_ptr<ZNTDatabase> database)
        : m_name(std::move(name)), m_database(std::move(database)) {}

    QString name() const override { return m_name; }
    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    // The database.
    std::shared_ptr<ZNTObject> parent() const override;
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Schema; }
    // The tables, views and materialized views of the schema, by name.
    std::shared_ptr<ZNTObjectQuery> descendantQuery() override;

    bool isEqual(const ZNTObject &other) const override;
    size_t hash() const override;
    std::shared_ptr<ZNTSchema> copy() const { return std::make_shared<ZNTSchema>(m_name, m_database); }

private:
    const QString m_name;
    const std::shared_ptr<ZNTDatabase> m_database;
};
