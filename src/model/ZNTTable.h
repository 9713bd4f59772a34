#pragma once

#include "ZNTObject.h"

#include <QList>
#include <QString>
#include <memory>

class ZNTColumn;
class ZNTConnection;
class ZNTDatabase;
class ZNTFilterCondition;
class ZNTPrefContainerHandle;
class ZNTQuery;
class ZNTTableMetadata;

// A table, view or materialized view of a database, as an item of the object
// tree. Made with create() (or ZNTView::create, ZNTMaterializedView::create);
// main thread.
//
// Identity: two relations are equal when name, schema name and database are
// equal, whatever their classes, so a view equals a table of the same name and a
// relation listed by one catalog query finds the one another listed. A relation
// without a name (a new one the structure editor has not saved yet) equals only
// itself. Use ZNTObjectKey to key containers by relations.
//
// The item knows its schema only by name; its parent is the database. The
// structure (columns, keys, constraints) is not kept here but in the database
// connection's metadata cache, reached through metadata().
class ZNTTable : public ZNTObject, public std::enable_shared_from_this<ZNTTable> {
public:
    enum Type : int {
        ZNTTableTypeTable = 0,
        ZNTTableTypeView = 1,
        ZNTTableTypeMaterializedView = 2,
    };

    // name empty: a new relation not yet saved.
    static std::shared_ptr<ZNTTable> create(const QString &name, const QString &schemaName,
                                            std::shared_ptr<ZNTDatabase> database);
    // A relation of the given type (what the catalog's objectType column says).
    static std::shared_ptr<ZNTTable> createOfType(Type type, const QString &name, const QString &schemaName,
                                                  std::shared_ptr<ZNTDatabase> database);

    QString name() const override { return m_name; }
    bool hasName() const { return !m_name.isEmpty(); }
    QString schemaName() const { return m_schemaName; }
    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    // The database.
    std::shared_ptr<ZNTObject> parent() const override;
    ZNTObjectKind objectKind() const override;
    virtual Type type() const { return ZNTTableTypeTable; }
    // "Table", "View" or "Materialized View".
    virtual QString kind() const { return QStringLiteral("Table"); }

    bool isEqual(const ZNTObject &other) const override;
    size_t hash() const override;
    // Whether other is this relation also where another server object (another
    // favorite) reaches it: equal, or of the same schema and name in a database
    // of the same name on the same server (ZNTServer::reachesSameServerAs).
    bool isSameRelationAs(const ZNTTable &other) const;
    // A nameless relation is its own copy; otherwise a new item of the same class
    // with the same name, schema and database, estimates 0 and no container.
    std::shared_ptr<ZNTTable> copy();

    // Estimates of the database page's listing (pg_class); 0 for relations other
    // listings made. approxNumRows is -1 for a table the server has never
    // analysed (PostgreSQL 14 and later), which the pages show as unknown.
    qint64 approxNumRows() const { return m_approxNumRows; }
    void setApproxNumRows(qint64 rows) { m_approxNumRows = rows; }
    qint64 approxPages() const { return m_approxPages; }
    void setApproxPages(qint64 pages) { m_approxPages = pages; }
    qint64 approxIndexPages() const { return m_approxIndexPages; }
    void setApproxIndexPages(qint64 pages) { m_approxIndexPages = pages; }

    // The connection's cached structure of this relation, the same object on
    // every call until it is purged; it may not be loaded yet (see
    // ZNTTableMetadata). Null for a nameless relation or once the server is gone.
    std::shared_ptr<ZNTTableMetadata> metadata() const;
    // Drops the cached structure, so that the next metadata() is a fresh,
    // unloaded object. Nothing for a nameless relation.
    void purgeMetadata() const;

    // The favorite's view settings of this relation (column widths, sort,
    // filters), made when create is true and there is none. The first call that
    // finds one records the relation's oid in it when the loaded structure shows
    // a different one. Null for a nameless relation, without a favorite, or when
    // there is none (a later call asks again).
    std::shared_ptr<ZNTPrefContainerHandle> prefContainerCreateIfNotExists(bool create);

    // The page of rows the table browser shows: offset and limit in rows (0: none),
    // ordered by orderBy (may be null) then by the key, in one direction, with the
    // filters ANDed. The structure must be loaded: otherwise "IncorrectUsage" is
    // thrown. Not started: run it on database()->connection().
    std::shared_ptr<ZNTQuery> queryWithOffset(quint64 offset, quint64 limit, const std::shared_ptr<ZNTColumn> &orderBy,
                                              bool ascending,
                                              const QList<std::shared_ptr<ZNTFilterCondition>> &filters) const;
    // SELECT COUNT(1) of the rows the filters let through; needs no structure.
    std::shared_ptr<ZNTQuery> countQueryWithFilters(const QList<std::shared_ptr<ZNTFilterCondition>> &filters) const;

protected:
    ZNTTable(QString name, QString schemaName, std::shared_ptr<ZNTDatabase> database);
    virtual std::shared_ptr<ZNTTable> makeSibling() const;

private:
    QString m_name;
    QString m_schemaName;
    std::shared_ptr<ZNTDatabase> m_database;
    std::shared_ptr<ZNTPrefContainerHandle> m_prefContainer;
    qint64 m_approxNumRows = 0;
    qint64 m_approxPages = 0;
    qint64 m_approxIndexPages = 0;
};

// A view: a relation whose rows are read-only in the browser.
class ZNTView : public ZNTTable {
public:
    static std::shared_ptr<ZNTView> create(const QString &name, const QString &schemaName,
                                           std::shared_ptr<ZNTDatabase> database);
    ZNTObjectKind objectKind() const override;
    Type type() const override { return ZNTTableTypeView; }
    QString kind() const override { return QStringLiteral("View"); }

protected:
    using ZNTTable::ZNTTable;
    std::shared_ptr<ZNTTable> makeSibling() const override;
};

class ZNTMaterializedView : public ZNTView {
public:
    static std::shared_ptr<ZNTMaterializedView> create(const QString &name, const QString &schemaName,
                                                       std::shared_ptr<ZNTDatabase> database);
    ZNTObjectKind objectKind() const override;
    Type type() const override { return ZNTTableTypeMaterializedView; }
    QString kind() const override { return QStringLiteral("Materialized View"); }

protected:
    using ZNTView::ZNTView;
    std::shared_ptr<ZNTTable> makeSibling() const override;
};

// What the page and count queries need of a row filter of the table browser:
// one boolean SQL condition, without WHERE, with identifiers and values quoted
// for the connection.
class ZNTFilterCondition {
public:
    virtual ~ZNTFilterCondition() = default;
    virtual QString sqlForConnection(const ZNTConnection &connection) const = 0;
};
