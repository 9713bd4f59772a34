// The table structure editor: the structure page of a table, view or
// materialized view (or of a new one), its edit model with undo, the column
// rows with their constraint pills and popover, and saving.
#pragma once

#include "model/ZNTConstraint.h"
#include "model/ZNTTableSchemaModel.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

// What the structure page loaded of a relation: its names and the parts of its
// metadata the page shows. tableName empty: a relation not created yet.
struct ZNTStructureSource {
    QString tableName;
    QString schemaName;
    int tableType = 0; // ZNTTable::Type
    QString comment;
    QString tablespace;
    QString viewDefinition;
    ZNTColumnList columns;
    ZNTConstraintList constraints;
};

// The two models of the structure page and the steps between them, without
// widgets: the model as loaded (original), the model as edited, and for each
// column added since, the definition its row was first made with (its
// placeholder), which the constraints made on that row name.
//
// Constraints name their columns by identity: under a loaded column the
// original model's definition, under a new column its placeholder; the
// statement builder maps them to the edited definitions.
//
// updateModel() compares what the page shows with the edited model, stores
// the differences and hands back one step per difference, each with what it
// takes to undo and redo it; the page records them. main thread
class ZNTTableSchemaEdits {
public:
    enum class StepKind {
        TableName,
        SchemaName,
        Tablespace,
        ViewDefinition,
        TableComment,
        AddColumn,      // a row appended: undo deletes it
        DeleteColumn,   // a new column's row removed: undo inserts it again
        ReplaceColumn,  // a column edited, or marked or unmarked for deletion
        SetConstraints, // a column's constraint list
    };
    struct Step {
        StepKind kind;
        QString actionName;
        qsizetype index = -1;
        QString textBefore, textAfter;
        std::shared_ptr<ZNTColumnDefinition> columnBefore, columnAfter, placeholder;
        std::shared_ptr<ZNTConstraintList> constraintsBefore, constraintsAfter;
    };

    // One column row as the page shows it now.
    struct ShownRow {
        std::shared_ptr<ZNTColumnDefinition> column; // made afresh from the row's fields
        ZNTConstraintList constraints;               // fresh copies of the row's constraints
    };
    // The page as it shows now; an absent text is a control the page lacks
    // (a view has no tablespace), never compared.
    struct Shown {
        QString tableName;
        QString schemaName;
        std::optional<QString> tablespaceName;
        std::optional<QString> viewDefinition;
        QString tableComment;
        QList<ShownRow> rows;
    };

    // A column taken out of the model, to be put back by insertColumn.
    struct RemovedColumn {
        std::shared_ptr<ZNTColumnDefinition> column;
        std::shared_ptr<ZNTColumnDefinition> placeholder;
        std::shared_ptr<ZNTConstraintList> constraints;
    };

    // Builds both models from source: one definition per column, and under
    // each column the constraints that name exactly that column, and every
    // CHECK under its first column; a NOT NULL column not in a primary key
    // gets a NOT NULL constraint. A constraint naming no column, or a column
    // the source does not list, is left out: the page neither shows nor
    // changes it. A new table starts with a serial "id" primary key, and in a
    // new relation every column counts as new.
    void load(const ZNTStructureSource &source);

    bool isNewRelation() const { return m_isNewRelation; }
    const ZNTTableSchemaModel &originalModel() const { return *m_original; }
    const ZNTTableSchemaModel &editedModel() const { return *m_edited; }
    const ZNTColumnDefinitionList &newColumnPlaceholders() const { return m_placeholders; }
    qsizetype originalColumnCount() const { return m_original->columns().size(); }
    // The constraints a row of column i pairs its first pills with: the loaded
    // ones of a loaded column; none for a new column.
    std::optional<ZNTConstraintList> originalConstraintsOfColumn(qsizetype i) const;
    // A new relation always; else whether the models differ.
    bool hasChanges() const;

    // Stores what differs between shown and the edited model, in this order:
    // name, schema, tablespace, view definition, comment, then the rows from
    // the last to the first; the steps in that order.
    QList<Step> updateModel(const Shown &shown);

    // The primitives, as undo and redo run them.
    void setText(StepKind kind, const QString &text);
    QString text(StepKind kind) const;
    // A new column only ("IncorrectUsage" for a loaded one: those are marked).
    RemovedColumn deleteColumnAtIndex(qsizetype i);
    void insertColumn(const RemovedColumn &column, qsizetype i);
    void replaceColumn(const std::shared_ptr<ZNTColumnDefinition> &column, qsizetype i);
    void setConstraints(const std::shared_ptr<ZNTConstraintList> &constraints, qsizetype i);
    // The definition a row added by the user was made with.
    void appendPlaceholder(const std::shared_ptr<ZNTColumnDefinition> &placeholder);
    // The name of a column added now: "column%d" with the count of columns + 1.
    QString nextColumnName() const;

private:
    void appendShownConstraints(const ZNTStructureSource &source);
    void compareRow(const ShownRow &row, qsizetype i, QList<Step> &steps);

    std::shared_ptr<ZNTTableSchemaModel> m_original = std::make_shared<ZNTTableSchemaModel>();
    std::shared_ptr<ZNTTableSchemaModel> m_edited = std::make_shared<ZNTTableSchemaModel>();
    ZNTColumnDefinitionList m_placeholders;
    bool m_isNewRelation = false;
};

// Whether two constraint lists say the same, entry by entry.
bool sameConstraints(const ZNTConstraintList &a, const ZNTConstraintList &b);
