#pragma once

#include "ZNTStructureQuery.h"
#include "model/ZNTTableSchemaModel.h"

class ZNTTable;

// Writes the SQL that creates a new table, view or materialized view from the
// structure editor's new-object page: the sequences the user agreed to create,
// the CREATE statement with its columns and table constraints (or its defining
// query), the tablespace, and the comments of the object, its columns and its
// constraints. A missing sequence names a column's default.
class ZNTCreateTableQuery : public ZNTStructureQuery {
public:
    bool prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) override;
    // "Saving changes to %@ structure…" with the new name.
    QString statusMessage() const override;

    // Of table() only the type is read: 0 table, 1 view, 2 materialized view.
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString schemaName() const { return m_schemaName; }
    void setSchemaName(const QString &name) { m_schemaName = name; }
    QString comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    QString tablespace() const { return m_tablespace; }
    void setTablespace(const QString &name) { m_tablespace = name; }
    ZNTColumnDefinitionList columns() const { return m_columns; }
    void setColumns(const ZNTColumnDefinitionList &columns) { m_columns = columns; }
    // Every column's constraints, flattened; their columns are entries of
    // columns().
    ZNTConstraintList constraints() const { return m_constraints; }
    void setConstraints(const ZNTConstraintList &constraints) { m_constraints = constraints; }
    QString viewDef() const { return m_viewDef; }
    void setViewDef(const QString &definition) { m_viewDef = definition; }

protected:
    ZNTColumnDefinitionList columnsWithNewDefaults() const override { return m_columns; }

private:
    bool appendColumnList(const ZNTConnection &connection, QString &text, ErrorPtr *error) const;
    bool appendComments(const ZNTConnection &connection, const QString &qualified, QString &text,
                        ErrorPtr *error) const;
    int type() const;

    QString m_name;
    QString m_schemaName;
    QString m_comment;
    QString m_tablespace;
    ZNTColumnDefinitionList m_columns;
    ZNTConstraintList m_constraints;
    QString m_viewDef;
};
