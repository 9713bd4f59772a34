#include "ZNTConstraintPresentation.h"

#include "model/ZNTTable.h"

namespace ZNTConstraintPresentation {

namespace {

// What a foreign key's definition names between its last parentheses: the
// referenced column in "FOREIGN KEY (a) REFERENCES t(id)".
QString lastParenthesized(const QString &sql) {
    const qsizetype open = sql.lastIndexOf(u'(');
    const qsizetype close = sql.lastIndexOf(u')');
    return open >= 0 && close > open ? sql.mid(open + 1, close - open - 1) : QString();
}

QString foreignKeyTitle(const ZNTConstraint &constraint, const QString &referencedColumnName) {
    const auto table = constraint.foreignTable();
    if (!table)
        return QStringLiteral("➜ …");
    if (constraint.foreignAttnums().size() != 1)
        return QStringLiteral("➜ %1.(…)").arg(table->name());
    const QString column = referencedColumnName.isEmpty() ? lastParenthesized(constraint.SQL()) : referencedColumnName;
    return QStringLiteral("➜ %1.%2").arg(table->name(), column);
}

bool isOneColumnKeyOf(const ZNTColumn &column, const QList<std::shared_ptr<ZNTConstraint>> &constraints) {
    for (const auto &constraint : constraints) {
        const auto type = constraint->type();
        if ((type == ZNTConstraint::ZNTConstraintTypePrimaryKey || type == ZNTConstraint::ZNTConstraintTypeUnique) &&
            constraint->columns().size() == 1 && constraint->columns().first() &&
            constraint->columns().first()->attnum() == column.attnum())
            return true;
    }
    return false;
}

} // namespace

QString title(const ZNTConstraint &constraint, const QString &referencedColumnName) {
    switch (constraint.type()) {
    case ZNTConstraint::ZNTConstraintTypeForeignKey:
        return foreignKeyTitle(constraint, referencedColumnName);
    case ZNTConstraint::ZNTConstraintTypeCheck: {
        const QString check = constraint.check();
        if (check.isEmpty())
            return QStringLiteral("…");
        return check.size() >= 51 ? check.left(30) + QStringLiteral("…") : check;
    }
    case ZNTConstraint::ZNTConstraintTypeNotNull:
        return QStringLiteral("NOT NULL");
    case ZNTConstraint::ZNTConstraintTypePrimaryKey:
        return QStringLiteral("PRIMARY KEY");
    case ZNTConstraint::ZNTConstraintTypeUnique:
        return QStringLiteral("UNIQUE");
    default:
        return constraint.SQL();
    }
}

QString toolTip(const ZNTConstraint &constraint) {
    const QString name = constraint.name();
    const QString comment = constraint.comment();
    if (!name.isEmpty() && !comment.isEmpty())
        return name + u'\n' + comment;
    return name.isEmpty() ? comment : name;
}

QString deleteDescription(int action) {
    switch (action) {
    case ZNTConstraint::ZNTForeignKeyActionNoAction:
        return QStringLiteral("Trying to delete the referenced row will cause an error.");
    case ZNTConstraint::ZNTForeignKeyActionRestrict:
        return QStringLiteral(
            "Trying to delete the referenced row will cause an error immediately, even if the constraint is deferred.");
    case ZNTConstraint::ZNTForeignKeyActionCascade:
        return QStringLiteral(
            "When a row from the referenced table is deleted, all rows referencing it will be deleted as well.");
    case ZNTConstraint::ZNTForeignKeyActionSetNull:
        return QStringLiteral(
            "When a row from the referenced table is deleted, the foreign key field will be set to NULL.");
    case ZNTConstraint::ZNTForeignKeyActionSetDefault:
        return QStringLiteral("When a row from the referenced table is deleted, the foreign key field will be set to "
                              "the default value.");
    default:
        return QString();
    }
}

QString updateDescription(int action) {
    switch (action) {
    case ZNTConstraint::ZNTForeignKeyActionNoAction:
        return QStringLiteral("Trying to update the referenced row will cause an error.");
    case ZNTConstraint::ZNTForeignKeyActionRestrict:
        return QStringLiteral(
            "Trying to update the referenced row will cause an error immediately, even if the constraint is deferred.");
    case ZNTConstraint::ZNTForeignKeyActionCascade:
        return QStringLiteral("When a row from the referenced table is updated, the foreign key fields referencing it "
                              "will be updated accordingly.");
    case ZNTConstraint::ZNTForeignKeyActionSetNull:
        return QStringLiteral(
            "When a row from the referenced table is updated, the foreign key field will be set to NULL.");
    case ZNTConstraint::ZNTForeignKeyActionSetDefault:
        return QStringLiteral("When a row from the referenced table is updated, the foreign key field will be set to "
                              "the default value.");
    default:
        return QString();
    }
}

std::shared_ptr<ZNTConstraint> newConstraint(ZNTConstraint::Type type, const std::shared_ptr<ZNTColumn> &column) {
    auto constraint = std::make_shared<ZNTConstraint>();
    constraint->setType(type);
    constraint->setColumns({column});
    if (type == ZNTConstraint::ZNTConstraintTypeNotNull)
        constraint->setSQL(QStringLiteral("NOT NULL"));
    if (type == ZNTConstraint::ZNTConstraintTypeForeignKey) {
        constraint->setDeleteMode(ZNTConstraint::ZNTForeignKeyActionNoAction);
        constraint->setUpdateMode(ZNTConstraint::ZNTForeignKeyActionNoAction);
        constraint->setValidation(ZNTConstraint::ZNTConstraintValidationNotDeferrable);
    }
    return constraint;
}

bool saysNothing(const ZNTConstraint &constraint) {
    switch (constraint.type()) {
    case ZNTConstraint::ZNTConstraintTypeCheck:
        return constraint.check().trimmed().isEmpty();
    case ZNTConstraint::ZNTConstraintTypeForeignKey:
        return !constraint.foreignTable();
    default:
        return false;
    }
}

Outcome outcomeOfEditing(const ZNTConstraint &edited, qsizetype index, qsizetype loadedCount) {
    const bool empty = edited.blank() || saysNothing(edited);
    if (index < loadedCount) {
        // A loaded constraint marked for deletion is dropped as it was loaded.
        return edited.markedForDeletion() || !empty ? Outcome::Record : Outcome::PutBack;
    }
    return empty || edited.markedForDeletion() ? Outcome::Remove : Outcome::Record;
}

QList<MenuEntry> tableMenu(const ZNTObjectList &schemas,
                           const std::function<std::optional<ZNTObjectList>(const ZNTObject &)> &tablesOf,
                           const std::shared_ptr<ZNTTable> &current, int *selected) {
    QList<MenuEntry> entries;
    entries.append({MenuEntry::Kind::Item, QStringLiteral("Select Table…"), false});
    *selected = 0;
    for (const auto &schema : schemas) {
        const std::optional<ZNTObjectList> tables = tablesOf(*schema);
        if (!tables)
            continue;
        entries.append({MenuEntry::Kind::Separator});
        entries.append({MenuEntry::Kind::Item, schema->name(), false});
        for (const auto &object : *tables) {
            auto table = std::dynamic_pointer_cast<ZNTTable>(object);
            if (!table || table->type() != ZNTTable::ZNTTableTypeTable)
                continue;
            MenuEntry entry{MenuEntry::Kind::Item, table->name(), true, 1, table};
            if (current && table->isEqual(*current))
                *selected = int(entries.size());
            entries.append(entry);
        }
    }
    return entries;
}

QList<MenuEntry> columnMenu(const ZNTColumnList &columns, const QList<std::shared_ptr<ZNTConstraint>> &constraints,
                            const QList<qint64> &foreignAttnums, int *selected, bool *choose) {
    QList<MenuEntry> entries;
    *selected = -1;
    *choose = false;
    for (const auto &column : columns) {
        MenuEntry entry{MenuEntry::Kind::Item, column->name(), isOneColumnKeyOf(*column, constraints)};
        entry.attnum = column->attnum();
        if (!foreignAttnums.isEmpty() && entry.attnum == foreignAttnums.first())
            *selected = int(entries.size());
        entries.append(entry);
    }
    for (qsizetype i = 0; foreignAttnums.isEmpty() && i < entries.size(); ++i) {
        if (entries[i].enabled) {
            *selected = int(i);
            *choose = true;
            break;
        }
    }
    return entries;
}

} // namespace ZNTConstraintPresentation
