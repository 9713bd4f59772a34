#include "QueryViewResult.h"

#include <numeric>

QueryViewResult::QueryViewResult(std::shared_ptr<ZNTResult> result) : m_result(std::move(result)) {
    m_columnIndices.resize(size_t(m_result->columns().size()));
    std::iota(m_columnIndices.begin(), m_columnIndices.end(), 0);
    // Commands, notices and errors are whole when they are announced.
    m_complete = !hasRows();
}

void QueryViewResult::setSort(int column, bool ascending) {
    m_sortColumnIndex = column;
    m_sortAscending = ascending;
}
