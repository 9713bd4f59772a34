#include "ZNTTableSchemaStatements.h"

#include "ZNTConstraintPresentation.h"
#include "actions/ZNTAlterTableQuery.h"
#include "actions/ZNTCreateTableQuery.h"
#include "model/ZNTTable.h"

using ZNTConstraintPresentation::saysNothing;

namespace ZNTTableSchemaStatements {

std::shared_ptr<ZNTConstraint> remapped(const ZNTConstraint &constraint, const ZNTTableSchemaEdits &edits) {
    const ZNTColumnDefinitionList &original = edits.originalModel().columns();
    const ZNTColumnDefinitionList &edited = edits.editedModel().columns();
    const ZNTColumnDefinitionList &placeholders = edits.newColumnPlaceholders();
    ZNTColumnList columns = constraint.columns();
    for (auto &column : columns) {
        for (qsizetype k = 0; k < original.size() && k < edited.size(); ++k) {
            if (column == original[k]) {
                column = edited[k];
                break;
            }
        }
        for (qsizetype k = 0; k < placeholders.size() && original.size() + k < edited.size(); ++k) {
            if (column == placeholders[k]) {
                column = edited[original.size() + k];
                break;
            }
        }
    }
    auto copy = constraint.copy();
    copy->setColumns(columns);
    return copy;
}

namespace {

// All edited constraints, column by column, for a new relation.
ZNTConstraintList allConstraints(const ZNTTableSchemaEdits &edits) {
    ZNTConstraintList constraints;
    for (const auto &list : edits.editedModel().columnConstraints()) {
        for (const auto &constraint : *list) {
            if (!saysNothing(*constraint))
                constraints.append(remapped(*constraint, edits));
        }
    }
    return constraints;
}

std::shared_ptr<ZNTStructureQuery> createQuery(const std::shared_ptr<ZNTTable> &table, const ZNTTableSchemaEdits &edits,
                                               Controls controls) {
    const ZNTTableSchemaModel &model = edits.editedModel();
    auto query = std::make_shared<ZNTCreateTableQuery>();
    query->setTable(table);
    query->setName(model.tableName());
    query->setSchemaName(model.tableSchemaName());
    query->setComment(model.tableComment());
    if (controls.tablespacePopup)
        query->setTablespace(model.tablespaceName());
    if (controls.viewDefinitionField)
        query->setViewDef(model.viewDefinition());
    query->setColumns(model.columns());
    query->setConstraints(allConstraints(edits));
    return query;
}

// Before and after lists: loaded constraints paired with the edited ones at
// the same place of the same column, then the new ones.
void pairConstraints(const ZNTTableSchemaEdits &edits, ZNTConstraintList &before, ZNTConstraintList &after) {
    const ZNTTableSchemaModel &original = edits.originalModel();
    const ZNTTableSchemaModel &edited = edits.editedModel();
    ZNTConstraintList paired, extra;
    for (qsizetype i = 0; i < edited.columnConstraints().size(); ++i) {
        const ZNTConstraintList loaded =
            i < original.columnConstraints().size() ? *original.columnConstraints()[i] : ZNTConstraintList();
        const ZNTConstraintList &now = *edited.columnConstraints()[i];
        for (qsizetype j = 0; j < now.size(); ++j) {
            if (j < loaded.size()) {
                before.append(loaded[j]);
                if (!saysNothing(*now[j])) {
                    paired.append(remapped(*now[j], edits));
                } else {
                    // Kept as loaded; only a deletion mark counts.
                    auto kept = remapped(*loaded[j], edits);
                    kept->setMarkedForDeletion(now[j]->markedForDeletion());
                    paired.append(kept);
                }
            } else if (!saysNothing(*now[j])) {
                extra.append(remapped(*now[j], edits));
            }
        }
    }
    after = paired + extra;
}

std::shared_ptr<ZNTStructureQuery> alterQuery(const std::shared_ptr<ZNTTable> &table, const ZNTTableSchemaEdits &edits,
                                              Controls controls) {
    const ZNTTableSchemaModel &original = edits.originalModel();
    const ZNTTableSchemaModel &edited = edits.editedModel();
    auto query = std::make_shared<ZNTAlterTableQuery>();
    query->setTable(table);
    query->setNameAfter(edited.tableName());
    query->setSchemaNameAfter(edited.tableSchemaName());
    query->setCommentBefore(original.tableComment());
    query->setCommentAfter(edited.tableComment());
    if (controls.tablespacePopup) {
        query->setTablespaceBefore(original.tablespaceName());
        query->setTablespaceAfter(edited.tablespaceName());
    }
    if (controls.viewDefinitionField) {
        query->setViewDefBefore(original.viewDefinition());
        query->setViewDefAfter(edited.viewDefinition());
    }
    query->setColumnsBefore(original.columns());
    query->setColumnsAfter(edited.columns());
    ZNTConstraintList before, after;
    pairConstraints(edits, before, after);
    query->setConstraintsBefore(before);
    query->setConstraintsAfter(after);
    return query;
}

} // namespace

std::shared_ptr<ZNTStructureQuery> saveChangesQuery(const std::shared_ptr<ZNTTable> &table,
                                                    const ZNTTableSchemaEdits &edits, Controls controls) {
    if (!table->hasName())
        return createQuery(table, edits, controls);
    return alterQuery(table, edits, controls);
}

} // namespace ZNTTableSchemaStatements
