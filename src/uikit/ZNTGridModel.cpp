#include "ZNTGridModel.h"

#include "KRVTableDataCell.h"
#include "PlainToolTip.h"
#include "platform/ProgramError.h"

#include <limits>

namespace {
// A view counts its rows in int.
constexpr qsizetype kMaxRows = std::numeric_limits<int>::max();
} // namespace

ZNTGridModel::ZNTGridModel(QObject *parent) : QAbstractTableModel(parent) {}

void ZNTGridModel::setResult(const ZNTColumnList &columns, std::shared_ptr<const RowStore> rows) {
    requireMainThread("ZNTGridModel::setResult");
    beginResetModel();
    m_columns = columns;
    m_rows = std::move(rows);
    m_order.clear();
    m_taken = 0;
    endResetModel();
}

void ZNTGridModel::clear() {
    setResult({}, nullptr);
}

void ZNTGridModel::takeRows(qsizetype storeRowCount) {
    if (!m_rows)
        return;
    const qsizetype available = std::min({storeRowCount, m_rows->rowCount(), kMaxRows});
    if (available <= m_taken)
        return;
    const int first = rowCount();
    const int last = first + int(available - m_taken) - 1;
    beginInsertRows(QModelIndex(), first, last);
    if (!m_order.empty()) {
        for (qsizetype row = m_taken; row < available; ++row)
            m_order.push_back(row);
    }
    m_taken = available;
    endInsertRows();
}

void ZNTGridModel::setRowOrder(std::vector<qsizetype> order) {
    if (!order.empty()) {
        if (qsizetype(order.size()) != m_taken)
            throw ProgramError("IncorrectUsage", "A row order must name every row shown.");
        std::vector<bool> seen(order.size());
        for (qsizetype row : order) {
            if (row < 0 || row >= m_taken || seen[size_t(row)])
                throw ProgramError("IncorrectUsage", "A row order must name every row shown once.");
            seen[size_t(row)] = true;
        }
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Where each store row was shown, so that persistent indexes follow their rows.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::pair<qsizetype, int>> stores;
    stores.reserve(size_t(before.size()));
    for (const QModelIndex &index : before)
        stores.emplace_back(storeRow(index.row()), index.column());
    m_order = std::move(order);
    std::vector<int> shownAt(static_cast<size_t>(m_taken));
    for (int row = 0; row < int(m_taken); ++row)
        shownAt[size_t(storeRow(row))] = row;
    QModelIndexList after;
    after.reserve(before.size());
    for (const auto &[store, column] : stores)
        after << index(shownAt[size_t(store)], column);
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<qsizetype> ZNTGridModel::takeRowOrder() {
    beginResetModel();
    std::vector<qsizetype> order = std::exchange(m_order, {});
    endResetModel();
    return order;
}

Value ZNTGridModel::valueAt(int row, int column) const {
    if (!m_rows || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return Value();
    return m_rows->valueAt(storeRow(row), column);
}

int ZNTGridModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_taken);
}

int ZNTGridModel::columnCount(const QModelIndex &parent) const {
    if (parent.isValid())
        return 0;
    // A store narrower than its column list never happens; be safe anyway.
    return m_rows ? std::min<int>(int(m_columns.size()), m_rows->columnCount()) : int(m_columns.size());
}

QVariant ZNTGridModel::storeCellData(const RowStore &store, qsizetype row, int column, int role) {
    switch (role) {
    case KRVTableDataCell::DisplayValueRole:
        return QVariant::fromValue(KRVTableDataCell::displayValue(store, row, column));
    case Qt::DisplayRole:
        return KRVTableDataCell::displayValue(store, row, column).text;
    case KRVTableDataCell::ValueRole:
        return QVariant::fromValue(store.valueAt(row, column));
    case Qt::EditRole: {
        const KRVTableDataCell::DisplayValue shown = KRVTableDataCell::displayValue(store, row, column);
        if (shown.isPlaceholder)
            return QString();
        const RowStore::Cell cell = store.cellAt(row, column);
        return cell.kind == RowStore::CellKind::Text ? store.displayText(row, column) : shown.text;
    }
    default:
        return QVariant();
    }
}

QVariant ZNTGridModel::data(const QModelIndex &index, int role) const {
    if (!m_rows || !index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return QVariant();
    return storeCellData(*m_rows, storeRow(index.row()), index.column(), role);
}

QVariant ZNTGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    const ZNTColumn &column = *m_columns[section];
    if (role == Qt::DisplayRole)
        return column.name();
    if (role == Qt::ToolTipRole)
        return plainToolTip(QStringLiteral("%1\n%2").arg(column.name(), column.typeName()));
    return QVariant();
}

Qt::ItemFlags ZNTGridModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}
