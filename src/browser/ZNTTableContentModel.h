#pragma once

#include "ZNTTableEdits.h"
#include "uikit/ZNTGridModel.h"

#include <QSet>

// The grid model of the table page: the grid model over the page query's
// result with the page's edits on top (ZNTTableEdits). Its columns are the
// table's display columns, each shown from the result column of its name (a
// placeholder column when the table has none); its rows are the edit list's,
// loaded rows read in place from the result's row store.
//
// An entry typed into a cell is not applied here: the model reports it
// (cellEntered) and the page decides, as an undoable step, what it becomes.
// main thread
class ZNTTableContentModel : public ZNTGridModel {
    Q_OBJECT
public:
    explicit ZNTTableContentModel(QObject *parent = nullptr);

    // The grid's columns; rows and edits go (a reset).
    void setDisplayColumns(const ZNTColumnList &columns);
    const ZNTColumnList &displayColumns() const { return m_displayColumns; }
    // A new page query result (no rows taken yet), or none.
    void setResult(const ZNTColumnList &resultColumns, std::shared_ptr<const RowStore> rows);
    void clearResult();
    const ZNTColumnList &resultColumns() const { return m_resultColumns; }
    bool hasResult() const { return m_edits.hasResult(); }
    // Takes the result rows below storeRowCount not shown yet, after the last
    // row of the page.
    void takeRows(qsizetype storeRowCount) override;

    const ZNTTableEdits &edits() const { return m_edits; }
    // The result column a grid column shows, or -1 (the placeholder, or a
    // column the result lacks); and the grid column of a result column.
    int resultColumn(int displayColumn) const;
    int displayColumn(int resultColumn) const;
    // The grid column of a display column's name, or -1.
    int displayColumnNamed(const QString &name) const;

    // Cells may be edited: not while the page is read-only or saving, never
    // in bytea columns.
    void setEditable(bool editable);

    // The page's primitives, shown as they happen.
    void setValue(qsizetype row, int resultColumn, const Value &value);
    void insertRow(qsizetype at, ZNTTableEdits::Row row);
    ZNTTableEdits::Row removeRow(qsizetype at);
    void setDeleted(qsizetype row, bool deleted);
    void setRows(std::vector<ZNTTableEdits::Row> rows, qsizetype takenStoreRows);
    void foldSaved(const QList<ZNTTableEdits::Values> &insertRows, const QList<ZNTTableEdits::Values> &updateRows);

    Value valueAt(int row, int column) const override; // the effective value

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // Text typed into a cell (row, result column).
    void cellEntered(qsizetype row, int resultColumn, const QString &text);

private:
    void mapColumns();
    void rowChanged(qsizetype row);

    ZNTColumnList m_displayColumns;
    ZNTColumnList m_resultColumns;
    std::vector<int> m_resultForDisplay;
    std::vector<int> m_displayForResult;
    ZNTTableEdits m_edits;
    bool m_editable = true;
};
