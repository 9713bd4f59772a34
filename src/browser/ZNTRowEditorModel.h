#pragma once

#include "model/ZNTRow.h"

#include <QHash>
#include <QList>
#include <memory>

class ZNTConstraint;

// What the row editor holds and decides, without its widgets: the row, the
// values as edited, the referenced row of each column that is the single
// column of a foreign key, which cell each column gets and how high its row
// is. Edits that set an equal value change nothing. main thread
class ZNTRowEditorModel {
public:
    enum class CellKind { Text, Bytea, Boolean, ForeignKey };

    // Row heights of the cells that do not measure themselves.
    static constexpr int kBooleanHeight = 41;

    // A new row replaces every edited value and every referenced row; the
    // referenced rows start loading. Heights a cell measured stay.
    void setRow(const std::shared_ptr<ZNTRow> &row);
    std::shared_ptr<ZNTRow> row() const { return m_row; }
    int count() const { return m_row ? int(m_row->columns().size()) : 0; }
    std::shared_ptr<ZNTColumn> columnAt(int index) const;
    // The edited value; NULL past the values the row has.
    Value valueAt(int index) const;
    const ZNTRowValues &newValues() const { return m_newValues; }

    CellKind cellKind(int index) const;
    // foreignKeyHeight and textHeight are the cells' own default heights.
    int heightOfRow(int index, int foreignKeyHeight, int textHeight) const;
    int storedHeight(int index) const { return m_rowHeights.value(index, 0); }
    void setStoredHeight(int index, int height) { m_rowHeights.insert(index, height); }

    // The referenced row of a foreign-key column, and its constraint; null for
    // any other column.
    std::shared_ptr<ZNTRow> foreignRow(int index) const { return m_foreignRows.value(index); }
    std::shared_ptr<ZNTConstraint> foreignKeyConstraint(int index) const { return m_constraints.value(index); }
    bool hasForeignKeys() const { return !m_constraints.isEmpty(); }

    // Stores a value the user set. False when it equals the edited value
    // (typed text that reads as the value it stands in for counts as equal).
    // A foreign-key column then references a new row, loading in the
    // background.
    bool setValue(int index, const Value &value);

    // Takes the row picked for foreign-key column index: its referenced value
    // becomes the key, and the picked row (loaded already) is shown for it.
    // The indexes whose value changed; none when the picked row is the one
    // referenced, or when the referenced column cannot be found.
    QList<int> pickRow(int index, const std::shared_ptr<ZNTRow> &picked);

    // Whether a value stands for what current holds: equal, or text equal to
    // current's text as the server writes it.
    static bool sameValue(const Value &current, const Value &candidate);

private:
    void searchForeignKeys();
    std::shared_ptr<ZNTRow> makeForeignRow(const ZNTConstraint &constraint) const;

    std::shared_ptr<ZNTRow> m_row;
    ZNTRowValues m_newValues;
    QHash<int, std::shared_ptr<ZNTRow>> m_foreignRows;
    QHash<int, std::shared_ptr<ZNTConstraint>> m_constraints;
    QHash<int, int> m_rowHeights;
};
