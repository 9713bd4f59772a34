#pragma once

#include "engine/ZNTResult.h"

#include <QList>
#include <QString>
#include <memory>

// One index of a table as the table metadata loaded it. A plain value.
class ZNTIndex {
public:
    enum Type : int {
        ZNTIndexTypePlain = 1,
        ZNTIndexTypeUnique = 2,
        ZNTIndexTypePrimary = 3,
        ZNTIndexTypeExclusion = 4,
    };

    // One key position: the indexed column, or for an expression position the
    // expression's text (and no column).
    struct Part {
        std::shared_ptr<ZNTColumn> column;
        QString expression;
        bool isExpression() const { return !column; }
    };

    qint64 oid() const { return m_oid; }
    void setOid(qint64 oid) { m_oid = oid; }
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    Type type() const { return m_type; }
    void setType(Type type) { m_type = type; }
    // The key positions in index order. Columns an index only INCLUDEs are no
    // key positions and are not listed.
    const QList<Part> &columns() const { return m_columns; }
    void setColumns(const QList<Part> &columns) { m_columns = columns; }
    // The columns of the key positions that are columns, in order: for a primary
    // key, the key of a row.
    ZNTColumnList keyColumns() const;
    // The server's definition.
    QString SQL() const { return m_SQL; }
    void setSQL(const QString &sql) { m_SQL = sql; }

private:
    qint64 m_oid = 0;
    QString m_name;
    Type m_type = ZNTIndexTypePlain;
    QList<Part> m_columns;
    QString m_SQL;
};
