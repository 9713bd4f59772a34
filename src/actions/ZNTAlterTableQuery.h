#pragma once

#include "ZNTStructureQuery.h"
#include "model/ZNTTableSchemaModel.h"

class ZNTTable;

// Turns a structure edit of an existing table, view or materialized view into
// SQL: renames, schema move, comments, dropped and changed columns and
// constraints, new columns and constraints, tablespace and view definition,
// carried from the before values to the after values in a fixed order, as one
// text run as one query. A missing sequence names a changed or new column's
// default. A materialized view's query cannot be replaced: a changed definition
// of one fails the preparation.
//
// The first entries of columnsAfter (as many as columnsBefore has) pair with
// columnsBefore; a dropped column stays in place, marked for deletion; new
// columns follow. Constraints pair the same way. A constraint's columns are
// entries of the column list of its side.
class ZNTAlterTableQuery : public ZNTStructureQuery {
public:
    bool prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) override;
    // "Saving changes to %@ structure…"
    QString statusMessage() const override;

    QString nameAfter() const { return m_nameAfter; }
    void setNameAfter(const QString &name) { m_nameAfter = name; }
    QString schemaNameAfter() const { return m_schemaNameAfter; }
    void setSchemaNameAfter(const QString &name) { m_schemaNameAfter = name; }
    QString commentBefore() const { return m_commentBefore; }
    void setCommentBefore(const QString &comment) { m_commentBefore = comment; }
    QString commentAfter() const { return m_commentAfter; }
    void setCommentAfter(const QString &comment) { m_commentAfter = comment; }
    QString tablespaceBefore() const { return m_tablespaceBefore; }
    void setTablespaceBefore(const QString &name) { m_tablespaceBefore = name; }
    QString tablespaceAfter() const { return m_tablespaceAfter; }
    void setTablespaceAfter(const QString &name) { m_tablespaceAfter = name; }
    ZNTColumnDefinitionList columnsBefore() const { return m_columnsBefore; }
    void setColumnsBefore(const ZNTColumnDefinitionList &columns) { m_columnsBefore = columns; }
    ZNTColumnDefinitionList columnsAfter() const { return m_columnsAfter; }
    void setColumnsAfter(const ZNTColumnDefinitionList &columns) { m_columnsAfter = columns; }
    ZNTConstraintList constraintsBefore() const { return m_constraintsBefore; }
    void setConstraintsBefore(const ZNTConstraintList &constraints) { m_constraintsBefore = constraints; }
    ZNTConstraintList constraintsAfter() const { return m_constraintsAfter; }
    void setConstraintsAfter(const ZNTConstraintList &constraints) { m_constraintsAfter = constraints; }
    QString viewDefBefore() const { return m_viewDefBefore; }
    void setViewDefBefore(const QString &definition) { m_viewDefBefore = definition; }
    QString viewDefAfter() const { return m_viewDefAfter; }
    void setViewDefAfter(const QString &definition) { m_viewDefAfter = definition; }

protected:
    ZNTColumnDefinitionList columnsWithNewDefaults() const override;

private:
    struct Text;
    void writeRenames(Text &t) const;
    void writeColumnChanges(Text &t) const;
    void writeKeptConstraintChanges(Text &t) const;
    void collectDrops(Text &t) const;
    void collectColumnAlterations(Text &t) const;
    void collectNewColumns(Text &t) const;
    bool collectNewConstraints(Text &t, ErrorPtr *error) const;
    // Whether the after constraint at j replaces its loaded one (dropped, then
    // added).
    bool isReplaced(qsizetype j) const;
    bool isKept(qsizetype j) const;

    QString m_nameAfter;
    QString m_schemaNameAfter;
    QString m_commentBefore;
    QString m_commentAfter;
    QString m_tablespaceBefore;
    QString m_tablespaceAfter;
    ZNTColumnDefinitionList m_columnsBefore;
    ZNTColumnDefinitionList m_columnsAfter;
    ZNTConstraintList m_constraintsBefore;
    ZNTConstraintList m_constraintsAfter;
    QString m_viewDefBefore;
    QString m_viewDefAfter;
};
