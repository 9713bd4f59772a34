#pragma once

#include "model/ZNTConstraint.h"
#include "model/ZNTObject.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class ZNTTable;

// What the constraint pills and their popover show and decide, without
// widgets: titles and tool tips, the sentences that explain a foreign key's
// actions, what becomes of a pill whose editing ended, and the entries of the
// popover's table and column popups. main thread
namespace ZNTConstraintPresentation {

// The pill's title: "NOT NULL", "PRIMARY KEY", "UNIQUE", the check expression
// (cut to 30 characters and "…" from 51 on; "…" when empty), "➜ table.column"
// for a foreign key; referencedColumnName is the referenced column's name when
// its table's structure is loaded, else empty.
QString title(const ZNTConstraint &constraint, const QString &referencedColumnName);
// Name and comment on two lines, either alone, or nothing.
QString toolTip(const ZNTConstraint &constraint);

// What ON DELETE / ON UPDATE with that action does (1 NO ACTION ... 5 SET
// DEFAULT); null for any other value.
QString deleteDescription(int action);
QString updateDescription(int action);

// A constraint the add menu makes for the column that column stands for:
// NOT NULL, primary key, unique, foreign key (NO ACTION both ways, not
// deferrable) or check.
std::shared_ptr<ZNTConstraint> newConstraint(ZNTConstraint::Type type, const std::shared_ptr<ZNTColumn> &column);

// A CHECK without expression or a foreign key without table: a statement
// could only write an empty clause for it.
bool saysNothing(const ZNTConstraint &constraint);

// What a row does when the editing of its pill at index ended.
enum class Outcome {
    Record,  // the page records the row's constraints
    Remove,  // a new pill left blank or marked: it goes, then the page records
    PutBack, // a loaded constraint left saying nothing: it takes its former values, with a beep
};
Outcome outcomeOfEditing(const ZNTConstraint &edited, qsizetype index, qsizetype loadedCount);

// One entry of the table or column popup of the foreign-key popover.
struct MenuEntry {
    enum class Kind { Item, Separator };
    Kind kind = Kind::Item;
    QString title;
    bool enabled = true;
    int indentation = 0;
    std::shared_ptr<ZNTTable> table; // a table entry
    qint64 attnum = 0;               // a column entry
};

// The table popup: "Select Table…", then for each schema that has a listing a
// separator, its name and its tables (views and materialized views left
// out). tablesOf answers a schema's listing so far, or nothing when it has
// none. *selected becomes the index of the entry equal to current, else 0.
QList<MenuEntry> tableMenu(const ZNTObjectList &schemas,
                           const std::function<std::optional<ZNTObjectList>(const ZNTObject &)> &tablesOf,
                           const std::shared_ptr<ZNTTable> &current, int *selected);

// The column popup of a loaded foreign table (its columns and constraints):
// every column, enabled when a primary key or unique constraint of that table
// has exactly that column.
// *selected is the entry of the first referenced column, else, when nothing is
// referenced yet, the first enabled entry (*choose then says to reference it),
// else -1.
QList<MenuEntry> columnMenu(const ZNTColumnList &columns, const QList<std::shared_ptr<ZNTConstraint>> &constraints,
                            const QList<qint64> &foreignAttnums, int *selected, bool *choose);

} // namespace ZNTConstraintPresentation
