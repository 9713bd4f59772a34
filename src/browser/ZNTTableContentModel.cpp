#include "ZNTTableContentModel.h"

#include "uikit/KRVTableDataCell.h"
#include "uikit/PlainToolTip.h"

#include <limits>

ZNTTableContentModel::ZNTTableContentModel(QObject *parent) : ZNTGridModel(parent) {}

void ZNTTableContentModel::setDisplayColumns(const ZNTColumnList &columns) {
    beginResetModel();
    m_displayColumns = columns;
    m_resultColumns.clear();
    m_edits.clear();
    mapColumns();
    endResetModel();
}

void ZNTTableContentModel::setResult(const ZNTColumnList &resultColumns, std::shared_ptr<const RowStore> rows) {
    beginResetModel();
    m_resultColumns = resultColumns;
    const int columns = rows ? rows->columnCount() : int(resultColumns.size());
    m_edits.reset(std::move(rows), std::min(columns, int(resultColumns.size())));
    mapColumns();
    endResetModel();
}

void ZNTTableContentModel::clearResult() {
    beginResetModel();
    m_resultColumns.clear();
    m_edits.clear();
    mapColumns();
    endResetModel();
}

void ZNTTableContentModel::mapColumns() {
    m_resultForDisplay.assign(size_t(m_displayColumns.size()), -1);
    m_displayForResult.assign(size_t(m_resultColumns.size()), -1);
    for (int r = 0; r < m_edits.columnCount(); ++r) {
        const int d = displayColumnNamed(m_resultColumns[r]->name());
        if (d >= 0 && m_resultForDisplay[size_t(d)] < 0) {
            m_resultForDisplay[size_t(d)] = r;
            m_displayForResult[size_t(r)] = d;
        }
    }
}

void ZNTTableContentModel::takeRows(qsizetype storeRowCount) {
    if (!m_edits.hasResult() || !m_edits.store())
        return;
    const qsizetype room = std::numeric_limits<int>::max() - m_edits.rowCount();
    const qsizetype available = std::min(storeRowCount, m_edits.store()->rowCount());
    const qsizetype wanted = std::min(available - m_edits.takenStoreRows(), room);
    if (wanted <= 0)
        return;
    const int first = int(m_edits.rowCount());
    beginInsertRows(QModelIndex(), first, first + int(wanted) - 1);
    m_edits.takeStoreRows(m_edits.takenStoreRows() + wanted);
    setTakenRows(m_edits.takenStoreRows());
    endInsertRows();
}

int ZNTTableContentModel::resultColumn(int displayColumn) const {
    return displayColumn >= 0 && size_t(displayColumn) < m_resultForDisplay.size()
               ? m_resultForDisplay[size_t(displayColumn)]
               : -1;
}

int ZNTTableContentModel::displayColumn(int resultColumn) const {
    return resultColumn >= 0 && size_t(resultColumn) < m_displayForResult.size()
               ? m_displayForResult[size_t(resultColumn)]
               : -1;
}

int ZNTTableContentModel::displayColumnNamed(const QString &name) const {
    for (int d = 0; d < m_displayColumns.size(); ++d) {
        if (m_displayColumns[d]->name() == name)
            return d;
    }
    return -1;
}

void ZNTTableContentModel::setEditable(bool editable) {
    m_editable = editable;
}

void ZNTTableContentModel::rowChanged(qsizetype row) {
    if (row >= 0 && row < m_edits.rowCount())
        emit dataChanged(index(int(row), 0), index(int(row), columnCount() - 1));
}

void ZNTTableContentModel::setValue(qsizetype row, int resultColumn, const Value &value) {
    m_edits.setValue(row, resultColumn, value);
    const int d = displayColumn(resultColumn);
    if (d >= 0)
        emit dataChanged(index(int(row), d), index(int(row), d));
}

void ZNTTableContentModel::insertRow(qsizetype at, ZNTTableEdits::Row row) {
    beginInsertRows(QModelIndex(), int(at), int(at));
    m_edits.insertRow(at, std::move(row));
    endInsertRows();
}

ZNTTableEdits::Row ZNTTableContentModel::removeRow(qsizetype at) {
    beginRemoveRows(QModelIndex(), int(at), int(at));
    ZNTTableEdits::Row row = m_edits.removeRow(at);
    endRemoveRows();
    return row;
}

void ZNTTableContentModel::setDeleted(qsizetype row, bool deleted) {
    m_edits.setDeleted(row, deleted);
    rowChanged(row);
}

void ZNTTableContentModel::setRows(std::vector<ZNTTableEdits::Row> rows, qsizetype takenStoreRows) {
    beginResetModel();
    m_edits.setRows(std::move(rows), takenStoreRows);
    endResetModel();
}

// No reset: the grid keeps its current cell and selection on the rows that
// stay. The deleted rows go first, a run at a time from the bottom; pairing
// the saved rows with the server's skips them anyway.
void ZNTTableContentModel::foldSaved(const QList<ZNTTableEdits::Values> &insertRows,
                                     const QList<ZNTTableEdits::Values> &updateRows) {
    for (qsizetype last = m_edits.rowCount() - 1; last >= 0; --last) {
        if (!m_edits.isDeleted(last))
            continue;
        qsizetype first = last;
        while (first > 0 && m_edits.isDeleted(first - 1))
            --first;
        beginRemoveRows(QModelIndex(), int(first), int(last));
        for (qsizetype row = last; row >= first; --row)
            m_edits.removeRow(row);
        endRemoveRows();
        last = first;
    }
    m_edits.foldSaved(insertRows, updateRows);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

Value ZNTTableContentModel::valueAt(int row, int column) const {
    const int r = resultColumn(column);
    if (row < 0 || row >= rowCount() || r < 0)
        return Value();
    return m_edits.effectiveValue(row, r);
}

int ZNTTableContentModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_edits.rowCount());
}

int ZNTTableContentModel::columnCount(const QModelIndex &parent) const {
    if (parent.isValid())
        return 0;
    return m_displayColumns.isEmpty() ? 1 : int(m_displayColumns.size());
}

QVariant ZNTTableContentModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const int row = index.row();
    const int column = resultColumn(index.column());
    if (column < 0)
        return role == Qt::DisplayRole || role == Qt::EditRole ? QVariant(QString()) : QVariant();
    if (role == KRVTableDataCell::CellStyleRole)
        return m_edits.cellStyle(row, column);
    const ZNTTableEdits::Row &entry = m_edits.row(row);
    const std::optional<Value> edited = m_edits.editedValue(row, column);
    if (!edited && !entry.isNew() && entry.storeRow() >= 0 && m_edits.store())
        return storeCellData(*m_edits.store(), entry.storeRow(), column, role);
    const Value value = edited ? *edited : m_edits.loadedValue(row, column);
    switch (role) {
    case KRVTableDataCell::DisplayValueRole:
        return QVariant::fromValue(KRVTableDataCell::displayValue(value));
    case Qt::DisplayRole:
        return KRVTableDataCell::displayValue(value).text;
    case KRVTableDataCell::ValueRole:
        return QVariant::fromValue(value);
    case Qt::EditRole: {
        const KRVTableDataCell::DisplayValue shown = KRVTableDataCell::displayValue(value);
        return shown.isPlaceholder ? QString() : shown.text;
    }
    default:
        return QVariant();
    }
}

bool ZNTTableContentModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const int column = resultColumn(index.column());
    if (column < 0)
        return false;
    emit cellEntered(index.row(), column, value.toString());
    return true;
}

QVariant ZNTTableContentModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_displayColumns.size())
        return orientation == Qt::Horizontal && role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
    const ZNTColumn &column = *m_displayColumns[section];
    if (role == Qt::DisplayRole)
        return column.name();
    if (role == Qt::ToolTipRole)
        return plainToolTip(QStringLiteral("%1\n%2").arg(column.name(), column.typeName()));
    return QVariant();
}

Qt::ItemFlags ZNTTableContentModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    const int column = resultColumn(index.column());
    if (m_editable && column >= 0 && !m_displayColumns[index.column()]->isBytea())
        flags |= Qt::ItemIsEditable;
    return flags;
}
