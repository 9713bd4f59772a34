#pragma once

#include "engine/RowStore.h"
#include "engine/ZNTResult.h"

#include <QAbstractTableModel>
#include <memory>
#include <vector>

// The model of a data grid over one result: its columns and the rows of its
// row store, read in place. Rows join the grid as the store grows, through
// takeRows(), with beginInsertRows (never a reset: the user's selection and
// scroll position stay). A sort is a permutation of the rows' indexes in the
// store, never a copy of the rows. Read-only; the table page's model adds its
// edits on top of it (ZNTTableContentModel).
//
//     auto *model = new ZNTGridModel(view);
//     model->setResult(result->columns(), result->rows());     // new result: a reset
//     ... on each ZNTResult::NewRowNotification:
//     model->takeRows(range.firstRow + range.count);
//     view->setModel(model); view->setItemDelegate(new KRVTableDataCell(view));
//
// A cell answers KRVTableDataCell::DisplayValueRole (and Qt::DisplayRole with
// its text), at most KRVTableDataCell::kMaxDisplayLength characters decoded per
// call, so painting never decodes a whole large value; Qt::EditRole and
// KRVTableDataCell::ValueRole give the whole value when one is asked for. The
// header answers the column's name, and "name\ntype" as its tool tip.
// main thread
class ZNTGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ZNTGridModel(QObject *parent = nullptr);

    // Shows a new result, none of its rows taken yet; rows may be null (a
    // result without rows) and may still be growing.
    void setResult(const ZNTColumnList &columns, std::shared_ptr<const RowStore> rows);
    void clear();
    const ZNTColumnList &columns() const { return m_columns; }
    const std::shared_ptr<const RowStore> &rowStore() const { return m_rows; }

    // Shows the store's rows below storeRowCount that are not shown yet, after
    // the rows shown (whatever the order). Rows are taken once each, in store
    // order; a count at or below takenRows() changes nothing.
    virtual void takeRows(qsizetype storeRowCount);
    qsizetype takenRows() const { return m_taken; }

    // The order the rows are shown in: order[row] is the store row shown at
    // row, a permutation of 0..takenRows()-1 (else "IncorrectUsage"). Empty:
    // store order. Views keep their selection through the change.
    void setRowOrder(std::vector<qsizetype> order);
    const std::vector<qsizetype> &rowOrder() const { return m_order; }
    // Hands the order back and shows store order (a reset), for an owner that
    // keeps it while the grid shows another result: a sort is held once.
    std::vector<qsizetype> takeRowOrder();
    // The store row shown at row.
    qsizetype storeRow(int row) const { return m_order.empty() ? row : m_order[size_t(row)]; }

    // The value shown at row and column, whole.
    virtual Value valueAt(int row, int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

protected:
    // What the base shows of a cell of store, for the roles above; an invalid
    // QVariant for other roles.
    static QVariant storeCellData(const RowStore &store, qsizetype storeRow, int column, int role);
    // For a subclass that keeps its own rows: the rows taken are counted here.
    void setTakenRows(qsizetype taken) { m_taken = taken; }

private:
    ZNTColumnList m_columns;
    std::shared_ptr<const RowStore> m_rows;
    std::vector<qsizetype> m_order;
    qsizetype m_taken = 0;
};
