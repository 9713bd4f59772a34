#pragma once

#include "uikit/ZNTGridModel.h"

// The grid model of the query editor's results: the data grids' model,
// read-only, with one empty placeholder column for a result that has rows but
// no columns (SELECT FROM t), and a header tool tip that leaves out the type
// a result column does not know. main thread
class QueryResultModel : public ZNTGridModel {
    Q_OBJECT
public:
    using ZNTGridModel::ZNTGridModel;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Value valueAt(int row, int column) const override;
    // The result's own columns, without the placeholder.
    int resultColumnCount() const { return int(columns().size()); }
};
