#pragma once

#include "ZNTTableSchemaEdits.h"

#include <memory>

class ZNTStructureQuery;
class ZNTTable;

// The change statement of a structure page: what its edits become when it is
// saved or its SQL previewed. Widget-free. main thread
namespace ZNTTableSchemaStatements {

// Which of the optional controls the page has: only those are written.
struct Controls {
    bool tablespacePopup = false;
    bool viewDefinitionField = false;
};

// A new, unstarted statement object: a ZNTCreateTableQuery for a relation
// without name, else a ZNTAlterTableQuery. The loaded constraints of each
// column pair by position with the first of its edited ones; the rest are
// new. Every constraint of the statement names the edited definitions of its
// columns. A shown constraint that says nothing (a CHECK without expression, a
// foreign key without table) never reaches the statement: a loaded one stays
// as it was loaded (dropped when marked), a new one is left out.
std::shared_ptr<ZNTStructureQuery> saveChangesQuery(const std::shared_ptr<ZNTTable> &table,
                                                    const ZNTTableSchemaEdits &edits, Controls controls);

// A copy of constraint naming, in place of an original model's column or a
// new column's placeholder, the edited definition at the same place.
std::shared_ptr<ZNTConstraint> remapped(const ZNTConstraint &constraint, const ZNTTableSchemaEdits &edits);

} // namespace ZNTTableSchemaStatements
