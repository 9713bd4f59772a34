#pragma once

#include "ZNTTableSchemaColumnView.h"

#include <QList>
#include <QWidget>

class QLabel;

// The column area of the structure page: the header labels "COLUMN NAME",
// "TYPE", "DEFAULT" and "CONSTRAINTS" and the column rows under them, every
// row's parts as wide as the widest of their kind, so that they stand in
// columns under the labels. It owns its rows. main thread
class ZNTTableSchemaColumnsView : public QWidget {
    Q_OBJECT
public:
    explicit ZNTTableSchemaColumnsView(QWidget *parent = nullptr);

    const QList<ZNTTableSchemaColumnView *> &rows() const { return m_rows; }
    // Deletes the former rows.
    void setRows(const QList<ZNTTableSchemaColumnView *> &rows);
    void insertRow(qsizetype index, ZNTTableSchemaColumnView *row);
    // The row leaves the view and is deleted later.
    void removeRow(qsizetype index);
    const QList<QLabel *> &headerFields() const { return m_headerFields; }
    void setHeaderHidden(bool hidden);

    // Widths and places of everything, now.
    void relayout();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    ZNTColumnRowWidths columnWidths() const;
    void placeHeader(const ZNTColumnRowWidths &widths);
    int naturalWidth(const ZNTColumnRowWidths &widths) const;

    QList<QLabel *> m_headerFields;
    QList<ZNTTableSchemaColumnView *> m_rows;
    ZNTColumnRowWidths m_widths;
    int m_height = 0;
    int m_width = 0;
    bool m_layingOut = false;
};
