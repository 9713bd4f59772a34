#pragma once

#include "engine/ZNTResult.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class Tablespace;
class ZNTConnection;
class ZNTConstraint;
class ZNTIndex;
class ZNTObject;
class ZNTQuery;
class ZNTTable;

// The structure of one table, view or materialized view as one connection sees
// it: oid, comment, tablespace, view definition, columns (user and system),
// indexes with the primary key, and constraints. Main thread only.
//
// Get it from the relation (ZNTTable::metadata()), which asks the connection's
// cache: equal relations share one object until it is purged. Then:
//   - metadataState() NotLoaded: call load();
//   - not Loaded: observe DidLoadNotification with the metadata as object; it
//     arrives once per load, with ErrorKey (an ErrorPtr) in the user info when
//     the load failed;
//   - Loaded: read the fields.
// A failed load keeps its error() and goes back to NotLoaded, so a later caller
// may try again; never call load() from the failure notification itself, or a
// table that cannot be read is asked for forever.
class ZNTTableMetadata : public std::enable_shared_from_this<ZNTTableMetadata> {
public:
    enum State : int {
        ZNTMetadataStateNotLoaded = 0,
        ZNTMetadataStateLoading = 1,
        ZNTMetadataStateLoaded = 2,
    };
    static inline const QString DidLoadNotification = QStringLiteral("norvane.Trellan.ZNTTableMetadataDidLoad");
    static inline const QString ErrorKey = QStringLiteral("error");

    // The connection's cached metadata of a relation, made (not loaded) on first
    // request; null for anything that is not a named relation, or without a
    // connection.
    static std::shared_ptr<ZNTTableMetadata> metadataForObject(const std::shared_ptr<ZNTConnection> &connection,
                                                               const std::shared_ptr<ZNTObject> &object);
    static void purgeMetadataForObject(const std::shared_ptr<ZNTConnection> &connection, const ZNTObject &object);
    // The cache key: schema and name, each quoted as an identifier, so that
    // schema "a.b" table "c" and schema "a" table "b.c" never meet.
    static QString cacheKey(const ZNTTable &table);

    // The oid system column: attribute number -2 and named "oid". Servers from
    // PostgreSQL 12 on have no oid column, and -2 is xmin there, which must never
    // serve as a row's key.
    static bool isOidColumn(const ZNTColumn &column);

    ~ZNTTableMetadata();

    // Starts loading; "WrongThread" off the main thread, "DoubleLoad" while a
    // load runs.
    void load();

    State metadataState() const { return m_state; }
    // The error of the last failed load, until the next load starts.
    ErrorPtr error() const { return m_error; }
    std::shared_ptr<ZNTTable> table() const { return m_table; }
    std::shared_ptr<ZNTConnection> connection() const { return m_connection.lock(); }

    qint64 oid() const { return m_oid; }
    QString comment() const { return m_comment; }
    // The relation's tablespace, else the database's default one.
    std::shared_ptr<Tablespace> tablespace() const { return m_tablespace; }
    QString viewDef() const { return m_viewDef; }
    // pg_class.relkind: 'r' table, 'p' partitioned table, 'v' view, 'm'
    // materialized view, 'f' foreign table; 0 when not loaded.
    char relationKind() const { return m_relationKind; }
    // Whether rules rewrite statements on the relation.
    bool hasRules() const { return m_hasRules; }
    // Whether row-level security is on (never before PostgreSQL 9.5, which
    // brought it); none where the server does not say, or not loaded.
    std::optional<bool> rowSecurity() const { return m_rowSecurity; }
    // User columns (attribute number > 0) in attribute-number order. A column of
    // a domain has the domain's base type (through domains over domains) as its
    // typeOid, as query results have it, and the domain's name as its typeName.
    const ZNTColumnList &columns() const { return m_columns; }
    // Attribute number <= 0: ctid, xmin, ...
    const ZNTColumnList &systemColumns() const { return m_systemColumns; }
    // What the browser shows: the oid column first when there is one (and the
    // server is not Redshift), then the user columns.
    const ZNTColumnList &displayColumns() const { return m_displayColumns; }
    const QHash<qint64, std::shared_ptr<ZNTColumn>> &columnsForAttnum() const { return m_columnsForAttnum; }
    std::shared_ptr<ZNTColumn> columnForAttnum(qint64 attnum) const { return m_columnsForAttnum.value(attnum); }
    const QList<std::shared_ptr<ZNTIndex>> &indexes() const { return m_indexes; }
    std::shared_ptr<ZNTIndex> primaryKeyIndex() const { return m_primaryKeyIndex; }
    const QList<std::shared_ptr<ZNTConstraint>> &constraints() const { return m_constraints; }
    bool hasOids() const { return m_oidColumn != nullptr; }
    // The oid column, or null (see isOidColumn).
    std::shared_ptr<ZNTColumn> oidColumn() const { return m_oidColumn; }

    // What the server fills itself when rows are written to the named columns:
    // for each name, whether it is a generated column (computed on every write,
    // refusing a given value); and whether one of them is an identity column
    // that keeps a given value only with OVERRIDING SYSTEM VALUE. A name the
    // table lacks is neither. The one answer for saving rows and for copying
    // them as INSERT statements.
    struct ServerFilledColumns {
        QList<bool> generated;
        bool overridingSystemValue = false;
    };
    ServerFilledColumns serverFilledColumns(const QStringList &names) const;

    // The four statements of a load.
    static QString loadSQL(const ZNTConnection &connection, quint64 serverVersion, const ZNTTable &table);

    // A metadata of the table that is not loaded and not in any connection's
    // cache, for reading results made without a server. Tests only.
    static std::shared_ptr<ZNTTableMetadata> makeUnloadedForTesting(std::shared_ptr<ZNTTable> table,
                                                                    std::weak_ptr<ZNTConnection> connection);

private:
    friend class ZNTTableMetadataReader;
    ZNTTableMetadata(std::shared_ptr<ZNTTable> table, std::weak_ptr<ZNTConnection> connection);
    void stopQuery();
    void queryDone();
    void finishWithError(ErrorPtr error);

    std::shared_ptr<ZNTQuery> m_columnInfoQuery;
    ObserverToken m_queryObserver;
    State m_state = ZNTMetadataStateNotLoaded;
    ErrorPtr m_error;
    std::shared_ptr<ZNTTable> m_table;
    std::weak_ptr<ZNTConnection> m_connection;

    qint64 m_oid = 0;
    QString m_comment;
    std::shared_ptr<Tablespace> m_tablespace;
    QString m_viewDef;
    char m_relationKind = 0;
    bool m_hasRules = false;
    std::optional<bool> m_rowSecurity;
    ZNTColumnList m_columns;
    ZNTColumnList m_systemColumns;
    ZNTColumnList m_displayColumns;
    QHash<qint64, std::shared_ptr<ZNTColumn>> m_columnsForAttnum;
    QList<std::shared_ptr<ZNTIndex>> m_indexes;
    std::shared_ptr<ZNTIndex> m_primaryKeyIndex;
    QList<std::shared_ptr<ZNTConstraint>> m_constraints;
    std::shared_ptr<ZNTColumn> m_oidColumn;
};
