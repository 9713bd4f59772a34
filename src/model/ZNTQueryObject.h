#pragma once

#include "ZNTObject.h"

#include <mutex>

class ZNTDatabase;

// The "SQL Query" item of a database: the query editor's page. Any two of one
// database are equal, whatever their names. Name and text may be read and set
// from any thread.
class ZNTQueryObject : public ZNTObject {
public:
    explicit ZNTQueryObject(std::shared_ptr<ZNTDatabase> database) : m_database(std::move(database)) {}

    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    // "SQL Query" at first.
    QString name() const override;
    void setName(const QString &name);
    // The editor's text; null at first.
    QString sql() const;
    void setSql(const QString &sql);
    // The database.
    std::shared_ptr<ZNTObject> parent() const override;
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::QueryObject; }

    bool isEqual(const ZNTObject &other) const override;
    // The database's alone: the name may change and is not part of equality.
    size_t hash() const override;
    // A new item of the same database, with the first name and no text.
    std::shared_ptr<ZNTQueryObject> copy() const { return std::make_shared<ZNTQueryObject>(m_database); }

private:
    const std::shared_ptr<ZNTDatabase> m_database;
    mutable std::mutex m_mutex;
    QString m_name = QStringLiteral("SQL Query");
    QString m_sql;
};
