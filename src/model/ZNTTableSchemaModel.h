#pragma once

#include "ZNTColumnDefinition.h"

#include <QList>
#include <QString>
#include <memory>

class ZNTConstraint;

using ZNTConstraintList = QList<std::shared_ptr<ZNTConstraint>>;

// The structure of a table, view or materialized view as the structure editor
// edits it: names, comment, tablespace, view definition, the columns, and for
// each column the constraints shown under it. The editor keeps the model it
// loaded and an edited copy, and compares the two to know whether there are
// changes.
//
// A copy shares its column definitions and its per-column constraint lists
// with the model it was made from: a change inside a column definition, or an
// entry added to or removed from one column's constraint list, shows in both
// models, while adding, removing or replacing a column (or a whole constraint
// list) changes only the model it is made on. main thread
class ZNTTableSchemaModel {
public:
    using ConstraintLists = QList<std::shared_ptr<ZNTConstraintList>>;

    ZNTTableSchemaModel() = default;
    std::shared_ptr<ZNTTableSchemaModel> copy() const { return std::make_shared<ZNTTableSchemaModel>(*this); }

    // Names and comment alike when both are empty; columns and constraint
    // lists the same lists or equal entry by entry.
    bool isEqual(const ZNTTableSchemaModel &other) const;
    bool operator==(const ZNTTableSchemaModel &other) const { return isEqual(other); }

    QString tableName() const { return m_tableName; }
    void setTableName(const QString &name) { m_tableName = name; }
    QString tableSchemaName() const { return m_tableSchemaName; }
    void setTableSchemaName(const QString &name) { m_tableSchemaName = name; }
    QString tablespaceName() const { return m_tablespaceName; }
    void setTablespaceName(const QString &name) { m_tablespaceName = name; }
    QString tableComment() const { return m_tableComment; }
    void setTableComment(const QString &comment) { m_tableComment = comment; }
    // Null for a table.
    QString viewDefinition() const { return m_viewDefinition; }
    void setViewDefinition(const QString &definition) { m_viewDefinition = definition; }

    // The columns in order; the list is the model's own, its entries shared.
    ZNTColumnDefinitionList &columns() { return m_columns; }
    const ZNTColumnDefinitionList &columns() const { return m_columns; }
    void setColumns(const ZNTColumnDefinitionList &columns) { m_columns = columns; }
    // Index-parallel to columns(): each column's constraint list, shared.
    ConstraintLists &columnConstraints() { return m_columnConstraints; }
    const ConstraintLists &columnConstraints() const { return m_columnConstraints; }
    void setColumnConstraints(const ConstraintLists &lists) { m_columnConstraints = lists; }

private:
    QString m_tableName;
    QString m_tableSchemaName;
    QString m_tablespaceName;
    QString m_tableComment;
    QString m_viewDefinition;
    ZNTColumnDefinitionList m_columns;
    ConstraintLists m_columnConstraints;
};
