#include "ZNTRowEditorModel.h"

#include "model/ZNTAsynchronousRow.h"
#include "model/ZNTConstraint.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"

namespace {
constexpr qint64 kBooleanOid = 16;
constexpr int kUnmeasuredByteaHeight = 80;
} // namespace

void ZNTRowEditorModel::setRow(const std::shared_ptr<ZNTRow> &row) {
    m_row = row;
    m_newValues = row ? row->values() : ZNTRowValues();
    searchForeignKeys();
}

std::shared_ptr<ZNTColumn> ZNTRowEditorModel::columnAt(int index) const {
    if (!m_row || index < 0 || index >= count())
        return nullptr;
    return m_row->columns()[index];
}

Value ZNTRowEditorModel::valueAt(int index) const {
    return index >= 0 && size_t(index) < m_newValues.size() ? m_newValues[size_t(index)] : Value::null();
}

// Only a foreign key over one column gets a cell of its own; the columns of a
// key over several columns show text cells.
void ZNTRowEditorModel::searchForeignKeys() {
    m_foreignRows.clear();
    m_constraints.clear();
    if (!m_row)
        return;
    for (const auto &constraint : m_row->constraints()) {
        if (!constraint || constraint->type() != ZNTConstraint::ZNTConstraintTypeForeignKey ||
            constraint->columns().size() != 1 || !constraint->foreignTable() || !constraint->columns().front())
            continue;
        const qsizetype index = m_row->indexOfColumn(*constraint->columns().front());
        if (index < 0)
            continue;
        m_constraints.insert(int(index), constraint);
        m_foreignRows.insert(int(index), makeForeignRow(*constraint));
    }
}

std::shared_ptr<ZNTRow> ZNTRowEditorModel::makeForeignRow(const ZNTConstraint &constraint) const {
    ZNTRowValues keyValues;
    for (const auto &column : constraint.columns()) {
        const qsizetype index = column ? m_row->indexOfColumn(*column) : -1;
        keyValues.push_back(valueAt(int(index)));
    }
    auto foreign = ZNTAsynchronousRow::create(constraint.foreignTable(), keyValues, constraint.foreignAttnums());
    foreign->setParent(m_row);
    return foreign;
}

ZNTRowEditorModel::CellKind ZNTRowEditorModel::cellKind(int index) const {
    const auto column = columnAt(index);
    if (column && column->isBytea())
        return CellKind::Bytea;
    if (column && column->typeOid() == kBooleanOid)
        return CellKind::Boolean;
    if (m_foreignRows.contains(index))
        return CellKind::ForeignKey;
    return CellKind::Text;
}

// A bytea column that is also a foreign key shows the bytea cell at the
// foreign-key cell's height: the order of these tests is not that of cellKind.
int ZNTRowEditorModel::heightOfRow(int index, int foreignKeyHeight, int textHeight) const {
    const auto column = columnAt(index);
    if (column && column->typeOid() == kBooleanOid)
        return kBooleanHeight;
    if (m_foreignRows.contains(index))
        return foreignKeyHeight;
    if (const int stored = storedHeight(index); stored > 0)
        return stored;
    if (column && column->isBytea())
        return kUnmeasuredByteaHeight;
    return textHeight;
}

bool ZNTRowEditorModel::sameValue(const Value &current, const Value &candidate) {
    if (current == candidate)
        return true;
    switch (current.kind()) {
    case Value::Kind::Bool:
    case Value::Kind::Int:
    case Value::Kind::Float:
    case Value::Kind::Double:
        return candidate.kind() == Value::Kind::String && candidate.toString() == current.description();
    default:
        return false;
    }
}

bool ZNTRowEditorModel::setValue(int index, const Value &value) {
    if (index < 0 || index >= count() || sameValue(valueAt(index), value))
        return false;
    if (m_newValues.size() < size_t(count()))
        m_newValues.resize(size_t(count()));
    m_newValues[size_t(index)] = value;
    if (const auto constraint = m_constraints.value(index))
        m_foreignRows.insert(index, makeForeignRow(*constraint));
    return true;
}

QList<int> ZNTRowEditorModel::pickRow(int index, const std::shared_ptr<ZNTRow> &picked) {
    const auto constraint = m_constraints.value(index);
    if (!constraint || !picked)
        return {};
    picked->setParent(m_row);
    const auto metadata = constraint->foreignTable()->metadata();
    if (!metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        return {};
    QList<int> changed;
    for (qsizetype k = 0; k < constraint->columns().size() && k < constraint->foreignAttnums().size(); ++k) {
        const auto column = constraint->columns()[k];
        const qsizetype j = column ? m_row->indexOfColumn(*column) : -1;
        const auto referenced = metadata->columnForAttnum(constraint->foreignAttnums()[k]);
        const qsizetype p = referenced ? picked->indexOfColumn(*referenced) : -1;
        if (j < 0 || p < 0 || size_t(p) >= picked->values().size())
            continue;
        const Value &pickedValue = picked->values()[size_t(p)];
        if (pickedValue == valueAt(int(j)))
            continue;
        if (m_newValues.size() < size_t(count()))
            m_newValues.resize(size_t(count()));
        m_newValues[size_t(j)] = pickedValue;
        changed << int(j);
    }
    if (!changed.isEmpty())
        m_foreignRows.insert(index, picked);
    return changed;
}
