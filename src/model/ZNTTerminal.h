#pragma once

#include "ZNTObject.h"

class ZNTDatabase;

// The "SQL Terminal" item of a database: a transcript of statements run on the
// database's connection. No listing or command makes one; a window shows the
// terminal page for one it is sent to. Any two of one database are equal.
class ZNTTerminal : public ZNTObject {
public:
    explicit ZNTTerminal(std::shared_ptr<ZNTDatabase> database) : m_database(std::move(database)) {}

    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    QString name() const override { return QStringLiteral("SQL Terminal"); }
    // The database.
    std::shared_ptr<ZNTObject> parent() const override;
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Terminal; }

    bool isEqual(const ZNTObject &other) const override;
    // The database's, mixed with "TERM", so that the item and its database
    // land in different buckets.
    size_t hash() const override;

private:
    const std::shared_ptr<ZNTDatabase> m_database;
};
