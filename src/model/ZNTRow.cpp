#include "ZNTRow.h"

#include "ZNTDatabase.h"
#include "ZNTIndex.h"
#include "ZNTTable.h"
#include "ZNTTableMetadata.h"
#include "engine/ZNTConnection.h"
#include "platform/ProgramError.h"

#include <QStringList>

std::shared_ptr<ZNTRow> ZNTRow::create(const std::shared_ptr<ZNTTable> &table, const ZNTColumnList &columns,
                                       const QList<std::shared_ptr<ZNTConstraint>> &constraints,
                                       const ZNTColumnList &keyColumns, bool pseudoKey, const ZNTRowValues &values) {
    std::shared_ptr<ZNTRow> row(new ZNTRow);
    row->m_table = table;
    row->m_columns = columns;
    row->m_constraints = constraints;
    row->m_keyColumns = keyColumns;
    row->m_values = values;
    row->m_usePseudoKey = pseudoKey;
    if (!keyColumns.isEmpty() && !pseudoKey)
        row->m_name = row->titleForKey(keyColumns);
    row->m_isReadOnly = std::dynamic_pointer_cast<ZNTView>(table) != nullptr;
    row->m_parent = table;
    return row;
}

std::shared_ptr<ZNTRow> ZNTRow::createWithTable(const std::shared_ptr<ZNTTable> &table, const ZNTRowValues &values,
                                                const std::shared_ptr<ZNTTableMetadata> &given) {
    const auto metadata = given ? given : table ? table->metadata() : nullptr;
    if (!table || !metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        throw ProgramError("MetadataMissing", "Tried to init ZNTColumn without table metadata available.");
    const auto primaryKey = metadata->primaryKeyIndex();
    ZNTColumnList key = primaryKey ? primaryKey->keyColumns() : ZNTColumnList();
    bool pseudoKey = false;
    if (key.isEmpty()) {
        const auto connection = table->database() ? table->database()->connection() : nullptr;
        if (metadata->hasOids() && !(connection && connection->isRedshift())) {
            key = {metadata->oidColumn()};
        } else {
            key = metadata->displayColumns();
            pseudoKey = true;
        }
    }
    return create(table, metadata->displayColumns(), metadata->constraints(), key, pseudoKey, values);
}

std::shared_ptr<ZNTRow> ZNTRow::createDuplicate(const std::shared_ptr<ZNTTable> &table, const ZNTRowValues &values,
                                                const std::shared_ptr<ZNTTableMetadata> &metadata) {
    auto row = createWithTable(table, values, metadata);
    if (!row->m_name.isEmpty())
        row->m_name = QStringLiteral("Duplicate of ") + row->m_name;
    if (!row->m_usePseudoKey) {
        for (const auto &column : row->m_keyColumns) {
            const qsizetype i = row->indexOfColumn(*column);
            if (i >= 0 && size_t(i) < row->m_values.size())
                row->m_values[size_t(i)] = Value::defaultMarker();
        }
    }
    // The server refuses a value of its own for a generated column, and for an
    // identity column that is GENERATED ALWAYS.
    for (qsizetype i = 0; i < row->m_columns.size() && size_t(i) < row->m_values.size(); ++i) {
        const auto &column = row->m_columns[i];
        if (column && (column->isGenerated() || column->isIdentityAlways()))
            row->m_values[size_t(i)] = Value::defaultMarker();
    }
    row->m_isNewRow = true;
    return row;
}

std::shared_ptr<ZNTRow> ZNTRow::createWithColumns(const ZNTColumnList &columns, const ZNTRowValues &values,
                                                  const std::shared_ptr<ZNTObject> &parent) {
    std::shared_ptr<ZNTRow> row(new ZNTRow);
    row->m_columns = columns;
    row->m_values = values;
    row->m_isReadOnly = true;
    row->m_parent = parent;
    return row;
}

qsizetype ZNTRow::indexOfColumn(const ZNTColumn &column) const {
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        if (m_columns[i] && m_columns[i]->isEqual(column))
            return i;
    return -1;
}

QString ZNTRow::titleForKey(const ZNTColumnList &key) const {
    QStringList pieces;
    for (const auto &column : key) {
        const qsizetype i = column ? indexOfColumn(*column) : -1;
        if (i < 0 || size_t(i) >= m_values.size())
            return QString();
        pieces << QStringLiteral("%1 %2").arg(column->name(), m_values[size_t(i)].description());
    }
    return pieces.join(QStringLiteral(", "));
}
