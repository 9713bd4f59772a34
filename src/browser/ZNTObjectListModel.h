#pragma once

#include "model/ZNTObject.h"

#include <QAbstractListModel>

// A flat list of items of the object tree for the icon grid: their names,
// icons, large icons and identities (ZNTObjectKey). It grows by appending and
// empties by removing its rows, never by a reset. main thread
class ZNTObjectListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    ZNTObjectList items() const { return m_items; }
    void appendItems(const ZNTObjectList &items);
    void removeAll();
    std::shared_ptr<ZNTObject> itemForIndex(const QModelIndex &index) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    ZNTObjectList m_items;
};
