#include "ZNTTableSchemaEdits.h"

#include "platform/ProgramError.h"

namespace {

// Where column stands in columns: the same object, else a column of the same
// name (the catalog names a constraint's columns by their attribute numbers,
// and the metadata hands out its own column objects for them); -1 when absent.
qsizetype indexOfColumn(const std::shared_ptr<ZNTColumn> &column, const ZNTColumnList &columns) {
    if (!column)
        return -1;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i] == column)
            return i;
    }
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i] && columns[i]->isEqual(*column))
            return i;
    }
    return -1;
}

bool isInPrimaryKey(const std::shared_ptr<ZNTColumn> &column, const ZNTConstraintList &constraints) {
    for (const auto &constraint : constraints) {
        if (constraint->type() == ZNTConstraint::ZNTConstraintTypePrimaryKey &&
            indexOfColumn(column, constraint->columns()) >= 0)
            return true;
    }
    return false;
}

// The new table's first column: "id", serial, its primary key.
void addIdColumn(ZNTStructureSource &source) {
    auto id = std::make_shared<ZNTColumn>(QStringLiteral("id"));
    id->setTypeName(QStringLiteral("serial"));
    auto key = std::make_shared<ZNTConstraint>();
    key->setType(ZNTConstraint::ZNTConstraintTypePrimaryKey);
    key->setColumns({id});
    source.columns = {id};
    source.constraints = {key};
}

} // namespace

bool sameConstraints(const ZNTConstraintList &a, const ZNTConstraintList &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && (!a[i] || !b[i] || !a[i]->isEqual(*b[i])))
            return false;
    }
    return true;
}

void ZNTTableSchemaEdits::load(const ZNTStructureSource &loaded) {
    ZNTStructureSource source = loaded;
    m_isNewRelation = source.tableName.isEmpty();
    if (m_isNewRelation && source.tableType == 0)
        addIdColumn(source);
    auto original = std::make_shared<ZNTTableSchemaModel>();
    QString name = source.tableName;
    if (name.isEmpty())
        name = source.tableType == 0 ? QStringLiteral("untitled_table") : QStringLiteral("untitled_view");
    original->setTableName(name);
    original->setTableSchemaName(source.schemaName);
    original->setTableComment(source.comment);
    original->setTablespaceName(source.tablespace);
    original->setViewDefinition(source.viewDefinition);
    for (const auto &column : source.columns) {
        original->columns().append(std::make_shared<ZNTColumnDefinition>(*column));
        auto list = std::make_shared<ZNTConstraintList>();
        list->reserve(4);
        original->columnConstraints().append(list);
    }
    m_original = original;
    appendShownConstraints(source);
    m_edited = m_original->copy();
    m_placeholders.clear();
    if (m_isNewRelation) {
        m_placeholders = m_original->columns();
        m_original->setColumns({});
        m_original->setColumnConstraints({});
    }
}

void ZNTTableSchemaEdits::appendShownConstraints(const ZNTStructureSource &source) {
    ZNTColumnDefinitionList &definitions = m_original->columns();
    for (const auto &constraint : source.constraints) {
        const bool shown =
            constraint->columns().size() == 1 ||
            (constraint->type() == ZNTConstraint::ZNTConstraintTypeCheck && !constraint->columns().isEmpty());
        if (!shown)
            continue;
        ZNTColumnList mapped;
        for (const auto &column : constraint->columns()) {
            const qsizetype at = indexOfColumn(column, source.columns);
            if (at < 0)
                break;
            mapped.append(definitions[at]);
        }
        if (mapped.size() != constraint->columns().size())
            continue; // a column the source does not list: nowhere to stand, nothing to map it to
        auto copy = constraint->copy();
        copy->setColumns(mapped);
        m_original->columnConstraints()[indexOfColumn(constraint->columns().first(), source.columns)]->append(copy);
    }
    for (qsizetype i = 0; i < source.columns.size(); ++i) {
        if (!source.columns[i]->notNull() || isInPrimaryKey(source.columns[i], source.constraints))
            continue;
        auto notNull = std::make_shared<ZNTConstraint>();
        notNull->setType(ZNTConstraint::ZNTConstraintTypeNotNull);
        notNull->setColumns({definitions[i]});
        notNull->setSQL(QStringLiteral("NOT NULL"));
        m_original->columnConstraints()[i]->append(notNull);
    }
}

std::optional<ZNTConstraintList> ZNTTableSchemaEdits::originalConstraintsOfColumn(qsizetype i) const {
    if (m_isNewRelation || i < 0 || i >= m_original->columnConstraints().size())
        return std::nullopt;
    return *m_original->columnConstraints()[i];
}

bool ZNTTableSchemaEdits::hasChanges() const {
    return m_isNewRelation || !m_edited->isEqual(*m_original);
}

QString ZNTTableSchemaEdits::text(StepKind kind) const {
    switch (kind) {
    case StepKind::TableName:
        return m_edited->tableName();
    case StepKind::SchemaName:
        return m_edited->tableSchemaName();
    case StepKind::Tablespace:
        return m_edited->tablespaceName();
    case StepKind::ViewDefinition:
        return m_edited->viewDefinition();
    case StepKind::TableComment:
        return m_edited->tableComment();
    default:
        throw ProgramError("IncorrectUsage", "ZNTTableSchemaEdits::text: not a text step");
    }
}

void ZNTTableSchemaEdits::setText(StepKind kind, const QString &text) {
    switch (kind) {
    case StepKind::TableName:
        return m_edited->setTableName(text);
    case StepKind::SchemaName:
        return m_edited->setTableSchemaName(text);
    case StepKind::Tablespace:
        return m_edited->setTablespaceName(text);
    case StepKind::ViewDefinition:
        return m_edited->setViewDefinition(text);
    case StepKind::TableComment:
        return m_edited->setTableComment(text);
    default:
        throw ProgramError("IncorrectUsage", "ZNTTableSchemaEdits::setText: not a text step");
    }
}

QList<ZNTTableSchemaEdits::Step> ZNTTableSchemaEdits::updateModel(const Shown &shown) {
    QList<Step> steps;
    auto compare = [&](StepKind kind, const char *name, const QString &now) {
        const QString before = text(kind);
        if (sameText(now, before))
            return;
        Step step{kind, QString::fromUtf8(name)};
        step.textBefore = before;
        step.textAfter = now;
        steps.append(step);
        setText(kind, now);
    };
    compare(StepKind::TableName, "Edit Table Name", shown.tableName);
    compare(StepKind::SchemaName, "Change Schema", shown.schemaName);
    if (shown.tablespaceName)
        compare(StepKind::Tablespace, "Change Tablespace", *shown.tablespaceName);
    if (shown.viewDefinition)
        compare(StepKind::ViewDefinition, "Edit View Definition", *shown.viewDefinition);
    compare(StepKind::TableComment, "Edit Table Comment", shown.tableComment);

    // Rows added since the last pass join in their order (the page adds one
    // at a time); then every other row, from the last to the first, so that a
    // removed row leaves the indexes still to come as they are.
    const qsizetype known = std::min(m_edited->columns().size(), shown.rows.size());
    for (qsizetype i = known; i < shown.rows.size(); ++i) {
        Step step{StepKind::AddColumn, QStringLiteral("Add Column"), i};
        step.columnAfter = shown.rows[i].column;
        step.constraintsAfter = std::make_shared<ZNTConstraintList>(shown.rows[i].constraints);
        const qsizetype p = i - originalColumnCount();
        step.placeholder = p >= 0 && p < m_placeholders.size() ? m_placeholders[p] : nullptr;
        m_edited->columns().append(step.columnAfter);
        m_edited->columnConstraints().append(step.constraintsAfter);
        steps.append(step);
    }
    for (qsizetype i = known - 1; i >= 0; --i)
        compareRow(shown.rows[i], i, steps);
    return steps;
}

void ZNTTableSchemaEdits::compareRow(const ShownRow &row, qsizetype i, QList<Step> &steps) {
    ZNTColumnDefinitionList &columns = m_edited->columns();
    ZNTTableSchemaModel::ConstraintLists &lists = m_edited->columnConstraints();
    if (row.column->markedForDeletion()) {
        if (i >= originalColumnCount()) {
            Step step{StepKind::DeleteColumn, QStringLiteral("Delete Column"), i};
            const RemovedColumn removed = deleteColumnAtIndex(i);
            step.columnBefore = removed.column;
            step.placeholder = removed.placeholder;
            step.constraintsBefore = removed.constraints;
            steps.append(step);
        } else if (!columns[i]->markedForDeletion()) {
            Step step{StepKind::ReplaceColumn, QStringLiteral("Mark Column for Deletion"), i};
            step.columnBefore = columns[i];
            step.columnAfter = row.column;
            columns[i] = row.column;
            steps.append(step);
        }
        return; // a marked row's constraints go with it
    }
    if (columns[i] != row.column && !columns[i]->isEqual(*row.column)) {
        Step step{StepKind::ReplaceColumn, QStringLiteral("Edit Column"), i};
        step.columnBefore = columns[i];
        step.columnAfter = row.column;
        columns[i] = row.column;
        steps.append(step);
    }
    if (!sameConstraints(*lists[i], row.constraints)) {
        Step step{StepKind::SetConstraints, QStringLiteral("Edit Constraints"), i};
        step.constraintsBefore = lists[i];
        step.constraintsAfter = std::make_shared<ZNTConstraintList>(row.constraints);
        lists[i] = step.constraintsAfter;
        steps.append(step);
    }
}

ZNTTableSchemaEdits::RemovedColumn ZNTTableSchemaEdits::deleteColumnAtIndex(qsizetype i) {
    const qsizetype p = i - originalColumnCount();
    if (p < 0 || i >= m_edited->columns().size() || p >= m_placeholders.size())
        throw ProgramError("IncorrectUsage", "ZNTTableSchemaEdits::deleteColumnAtIndex: not a new column");
    RemovedColumn removed{m_edited->columns().takeAt(i), m_placeholders.takeAt(p),
                          m_edited->columnConstraints().takeAt(i)};
    return removed;
}

void ZNTTableSchemaEdits::insertColumn(const RemovedColumn &column, qsizetype i) {
    const qsizetype p = i - originalColumnCount();
    if (p < 0 || i > m_edited->columns().size() || p > m_placeholders.size())
        throw ProgramError("IncorrectUsage", "ZNTTableSchemaEdits::insertColumn: not a place for a new column");
    m_edited->columns().insert(i, column.column);
    m_edited->columnConstraints().insert(i, column.constraints ? column.constraints
                                                               : std::make_shared<ZNTConstraintList>());
    m_placeholders.insert(p, column.placeholder);
}

void ZNTTableSchemaEdits::replaceColumn(const std::shared_ptr<ZNTColumnDefinition> &column, qsizetype i) {
    m_edited->columns()[i] = column;
}

void ZNTTableSchemaEdits::setConstraints(const std::shared_ptr<ZNTConstraintList> &constraints, qsizetype i) {
    m_edited->columnConstraints()[i] = constraints;
}

void ZNTTableSchemaEdits::appendPlaceholder(const std::shared_ptr<ZNTColumnDefinition> &placeholder) {
    m_placeholders.append(placeholder);
}

QString ZNTTableSchemaEdits::nextColumnName() const {
    return QStringLiteral("column%1").arg(m_edited->columns().size() + 1);
}
