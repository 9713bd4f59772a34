#pragma once

#include "browser/CSVExportManager.h"
#include "engine/RowStore.h"
#include "engine/ZNTResult.h"

#include <memory>
#include <vector>

// One result of a query editor run as the editor shows it: the result, its
// local sort (a permutation of its rows, never a copy of them), the order and
// widths of its grid columns, and whether all of its rows have arrived. Each
// result of a run keeps its own layout while the user switches between them;
// the next run starts with new ones. The CSV export reads it: its columns in
// their on-screen order and the rows that have arrived. main thread
class QueryViewResult : public CSVExportResultSource {
public:
    explicit QueryViewResult(std::shared_ptr<ZNTResult> result);

    const std::shared_ptr<ZNTResult> &result() const { return m_result; }
    // A row-returning statement (also one that returned no rows).
    bool hasRows() const { return m_result->rows() != nullptr; }
    ZNTColumnList columns() const override { return m_result->columns(); }
    std::shared_ptr<const RowStore> rows() const override { return m_result->rows(); }

    // Every row is there: the result ended, or the run did.
    bool isComplete() const { return m_complete; }
    void setComplete() { m_complete = true; }

    // The sort: index of the sort column among the result's columns (-1 for
    // none) and its direction.
    int sortColumnIndex() const { return m_sortColumnIndex; }
    bool sortAscending() const { return m_sortAscending; }
    void setSort(int column, bool ascending);
    // The rows in sorted order (store rows); empty: the server's order. While
    // the result is in the grid, the grid's model holds the order instead.
    std::vector<qsizetype> takeRowOrder() { return std::exchange(m_rowOrder, {}); }
    void setRowOrder(std::vector<qsizetype> order) { m_rowOrder = std::move(order); }
    std::vector<qsizetype> rowOrder() const override { return m_rowOrder; }

    // Grid widths by on-screen position; empty until recorded.
    const std::vector<double> &columnWidths() const { return m_columnWidths; }
    void setColumnWidths(std::vector<double> widths) { m_columnWidths = std::move(widths); }
    // The result column shown at each on-screen position.
    std::vector<int> columnIndices() const override { return m_columnIndices; }
    void setColumnIndices(std::vector<int> indices) { m_columnIndices = std::move(indices); }

private:
    std::shared_ptr<ZNTResult> m_result;
    bool m_complete = false;
    int m_sortColumnIndex = -1;
    bool m_sortAscending = false;
    std::vector<qsizetype> m_rowOrder;
    std::vector<double> m_columnWidths;
    std::vector<int> m_columnIndices;
};
