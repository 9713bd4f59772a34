#include "ZNTObjectListModel.h"

#include "ZNTDatabaseTreeModel.h"
#include "actions/ZNTObjectImages.h"
#include "uikit/IconView.h"

void ZNTObjectListModel::appendItems(const ZNTObjectList &items) {
    if (items.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_items.size()), int(m_items.size() + items.size()) - 1);
    m_items.append(items);
    endInsertRows();
}

void ZNTObjectListModel::removeAll() {
    if (m_items.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(m_items.size()) - 1);
    m_items.clear();
    endRemoveRows();
}

std::shared_ptr<ZNTObject> ZNTObjectListModel::itemForIndex(const QModelIndex &index) const {
    if (!index.isValid() || index.model() != this || index.row() >= m_items.size())
        return nullptr;
    return m_items[index.row()];
}

int ZNTObjectListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ZNTObjectListModel::data(const QModelIndex &index, int role) const {
    const auto item = itemForIndex(index);
    if (!item)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return item->name();
    case Qt::DecorationRole:
        return imageForObject(*item);
    case IconView::BigImageRole:
        return bigImageForObject(*item);
    case IconView::IdentityRole:
        return ZNTDatabaseTreeModel::identity(item);
    default:
        return QVariant();
    }
}
