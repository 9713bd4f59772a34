#include "ZNTTableEdits.h"

#include "platform/ProgramError.h"
#include "uikit/KRVTableDataCell.h"

namespace {
const ZNTTableEdits::EditSlots kNoEdits;

bool isEmptyNullOrDefault(const Value &value) {
    return value.isNull() || value.isDefault() || (value.kind() == Value::Kind::String && value.toString().isEmpty());
}
} // namespace

// --- Row ----------------------------------------------------------------------

ZNTTableEdits::Row ZNTTableEdits::Row::stored(qsizetype storeRow) {
    Row row;
    row.m_storeRow = storeRow;
    return row;
}

ZNTTableEdits::Row ZNTTableEdits::Row::newRow(EditSlots edits) {
    Row row;
    row.pending().isNew = true;
    row.pending().edits = std::move(edits);
    return row;
}

const ZNTTableEdits::EditSlots &ZNTTableEdits::Row::edits() const {
    return m_pending ? m_pending->edits : kNoEdits;
}

ZNTTableEdits::Row::Pending &ZNTTableEdits::Row::pending() {
    if (!m_pending)
        m_pending = std::make_shared<Pending>();
    else if (m_pending.use_count() > 1)
        m_pending = std::make_shared<Pending>(*m_pending);
    return *m_pending;
}

bool ZNTTableEdits::Row::operator==(const Row &other) const {
    if (m_storeRow != other.m_storeRow)
        return false;
    const Pending none;
    const Pending &a = m_pending ? *m_pending : none;
    const Pending &b = other.m_pending ? *other.m_pending : none;
    return a.isNew == b.isNew && a.deleted == b.deleted && a.hasOwnValues == b.hasOwnValues && a.values == b.values &&
           a.edits == b.edits;
}

// --- rows ---------------------------------------------------------------------

void ZNTTableEdits::reset(std::shared_ptr<const RowStore> store, int columnCount) {
    m_store = std::move(store);
    m_columnCount = columnCount;
    m_hasResult = true;
    m_taken = 0;
    m_rows.clear();
}

void ZNTTableEdits::clear() {
    m_store.reset();
    m_columnCount = 0;
    m_hasResult = false;
    m_taken = 0;
    m_rows.clear();
}

qsizetype ZNTTableEdits::takeStoreRows(qsizetype storeRowCount) {
    if (!m_store)
        return 0;
    const qsizetype available = std::min(storeRowCount, m_store->rowCount());
    if (available <= m_taken)
        return 0;
    const qsizetype added = available - m_taken;
    m_rows.reserve(m_rows.size() + size_t(added));
    for (qsizetype r = m_taken; r < available; ++r)
        m_rows.push_back(Row::stored(r));
    m_taken = available;
    return added;
}

bool ZNTTableEdits::hasEdits(const Row &row) const {
    for (const auto &slot : row.edits()) {
        if (slot)
            return true;
    }
    return false;
}

bool ZNTTableEdits::isEdited(qsizetype row) const {
    const Row &r = m_rows[size_t(row)];
    return !r.isNew() && !r.isDeleted() && hasEdits(r);
}

std::optional<Value> ZNTTableEdits::editedValue(qsizetype row, int column) const {
    const EditSlots &edits = m_rows[size_t(row)].edits();
    return column < edits.size() ? edits[column] : std::nullopt;
}

Value ZNTTableEdits::loadedValue(qsizetype row, int column) const {
    const Row &r = m_rows[size_t(row)];
    if (r.isNew())
        return Value::defaultMarker();
    if (r.m_pending && r.m_pending->hasOwnValues)
        return column < r.m_pending->values.size() ? r.m_pending->values[column] : Value();
    if (m_store && r.m_storeRow >= 0 && column < m_store->columnCount())
        return m_store->valueAt(r.m_storeRow, column);
    return Value();
}

ZNTTableEdits::Values ZNTTableEdits::loadedValues(qsizetype row) const {
    Values values;
    values.reserve(m_columnCount);
    for (int c = 0; c < m_columnCount; ++c)
        values << loadedValue(row, c);
    return values;
}

Value ZNTTableEdits::effectiveValue(qsizetype row, int column) const {
    if (auto edited = editedValue(row, column))
        return *edited;
    return loadedValue(row, column);
}

qsizetype ZNTTableEdits::plainStoreRow(qsizetype row) const {
    const Row &r = m_rows[size_t(row)];
    if (r.m_pending && (r.isNew() || r.m_pending->hasOwnValues || hasEdits(r)))
        return -1;
    return m_store && m_store->columnCount() == m_columnCount ? r.m_storeRow : -1;
}

ZNTTableEdits::Values ZNTTableEdits::effectiveValues(qsizetype row) const {
    Values values;
    values.reserve(m_columnCount);
    for (int c = 0; c < m_columnCount; ++c)
        values << effectiveValue(row, c);
    return values;
}

int ZNTTableEdits::cellStyle(qsizetype row, int column) const {
    const Row &r = m_rows[size_t(row)];
    if (r.isDeleted())
        return KRVTableDataCellStyleDeleted;
    if (r.isNew())
        return KRVTableDataCellStyleNewRow;
    return editedValue(row, column) ? KRVTableDataCellStyleEdited : KRVTableDataCellStyleNormal;
}

// --- primitives -----------------------------------------------------------------

void ZNTTableEdits::setValue(qsizetype row, int column, const Value &value) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= m_columnCount)
        throw ProgramError("IncorrectUsage", "No such cell of the page.");
    Row &r = m_rows[size_t(row)];
    if (loadedValue(row, column) == value) {
        if (!editedValue(row, column))
            return;
        r.pending().edits[column].reset();
        if (!hasEdits(r) && !r.isNew())
            r.pending().edits.clear();
        return;
    }
    EditSlots &edits = r.pending().edits;
    if (edits.size() < m_columnCount)
        edits.resize(m_columnCount);
    edits[column] = value;
}

void ZNTTableEdits::insertRow(qsizetype at, Row row) {
    if (at < 0 || at > rowCount())
        throw ProgramError("IncorrectUsage", "A row inserted outside the page.");
    m_rows.insert(m_rows.begin() + at, std::move(row));
}

ZNTTableEdits::Row ZNTTableEdits::removeRow(qsizetype at) {
    if (at < 0 || at >= rowCount())
        throw ProgramError("IncorrectUsage", "No such row of the page.");
    Row row = std::move(m_rows[size_t(at)]);
    m_rows.erase(m_rows.begin() + at);
    return row;
}

void ZNTTableEdits::setDeleted(qsizetype row, bool deleted) {
    Row &r = m_rows[size_t(row)];
    if (r.isNew() || r.isDeleted() == deleted)
        return;
    r.pending().deleted = deleted;
}

void ZNTTableEdits::setRows(std::vector<Row> rows, qsizetype takenStoreRows) {
    m_rows = std::move(rows);
    for (qsizetype r = std::max<qsizetype>(takenStoreRows, 0); r < m_taken; ++r)
        m_rows.push_back(Row::stored(r));
}

std::vector<ZNTTableEdits::Row> ZNTTableEdits::rowsWithoutChanges() const {
    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    for (const Row &r : m_rows) {
        if (r.isNew())
            continue;
        Row kept = r;
        if (kept.m_pending && (kept.m_pending->deleted || !kept.m_pending->edits.isEmpty())) {
            Row::Pending &changes = kept.pending();
            changes.deleted = false;
            changes.edits.clear();
        }
        rows.push_back(std::move(kept));
    }
    return rows;
}

// --- saving ---------------------------------------------------------------------

ZNTTableEdits::Counts ZNTTableEdits::counts() const {
    Counts counts;
    for (qsizetype i = 0; i < rowCount(); ++i) {
        if (isNew(i))
            ++counts.newRows;
        else if (isDeleted(i))
            ++counts.deletedRows;
        else if (isEdited(i))
            ++counts.editedRows;
    }
    return counts;
}

ZNTTableEdits::Changes ZNTTableEdits::changes() const {
    Changes changes;
    for (qsizetype i = 0; i < rowCount(); ++i) {
        if (isNew(i)) {
            changes.insertRows << effectiveValues(i);
        } else if (isDeleted(i)) {
            changes.deleteRows << loadedValues(i);
        } else if (isEdited(i)) {
            changes.updateRowsBefore << loadedValues(i);
            changes.updateRowsAfter << effectiveValues(i);
        }
    }
    return changes;
}

void ZNTTableEdits::foldSaved(const QList<Values> &completedInsertRows, const QList<Values> &completedUpdateRows) {
    qsizetype nextInsert = 0, nextUpdate = 0;
    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    for (qsizetype i = 0; i < rowCount(); ++i) {
        const Values *saved = nullptr;
        if (isNew(i))
            saved = nextInsert < completedInsertRows.size() ? &completedInsertRows[nextInsert++] : nullptr;
        else if (isDeleted(i))
            continue;
        else if (isEdited(i))
            saved = nextUpdate < completedUpdateRows.size() ? &completedUpdateRows[nextUpdate++] : nullptr;
        Row row = m_rows[size_t(i)];
        if (saved || row.isNew()) {
            // What the server gave back; a row it did not give back shows what
            // was sent, which is what it now holds.
            Row loaded;
            loaded.m_storeRow = -1;
            Row::Pending &changes = loaded.pending();
            changes.hasOwnValues = true;
            changes.values = saved ? *saved : effectiveValues(i);
            row = std::move(loaded);
        }
        rows.push_back(std::move(row));
    }
    m_rows = std::move(rows);
}

std::optional<Value> ZNTTableEdits::valueForTypedText(const QString &text, const std::optional<Value> &edited,
                                                      const Value &loaded) {
    if (text.isEmpty()) {
        if (edited && isEmptyNullOrDefault(*edited))
            return std::nullopt;
        return isEmptyNullOrDefault(loaded) ? loaded : Value::null();
    }
    const KRVTableDataCell::DisplayValue shown = KRVTableDataCell::displayValue(loaded);
    if (!shown.isPlaceholder && text == shown.text)
        return loaded;
    return Value::fromString(text);
}
