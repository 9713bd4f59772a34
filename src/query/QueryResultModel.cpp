#include "QueryResultModel.h"

#include "uikit/PlainToolTip.h"

int QueryResultModel::columnCount(const QModelIndex &parent) const {
    if (parent.isValid())
        return 0;
    return rowStore() && columns().isEmpty() ? 1 : ZNTGridModel::columnCount(parent);
}

QVariant QueryResultModel::data(const QModelIndex &index, int role) const {
    if (columns().isEmpty())
        return role == Qt::DisplayRole && index.isValid() ? QVariant(QString()) : QVariant();
    return ZNTGridModel::data(index, role);
}

QVariant QueryResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && columns().isEmpty() && section == 0 && role == Qt::DisplayRole)
        return QString();
    if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section >= 0 && section < columns().size() &&
        columns()[section]->typeName().isEmpty())
        return plainToolTip(columns()[section]->name());
    return ZNTGridModel::headerData(section, orientation, role);
}

Value QueryResultModel::valueAt(int row, int column) const {
    return columns().isEmpty() ? Value() : ZNTGridModel::valueAt(row, column);
}
