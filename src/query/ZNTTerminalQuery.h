#pragma once

#include "engine/RowStore.h"
#include "engine/ZNTResult.h"

#include <QString>
#include <map>
#include <memory>

class ZNTQuery;

// One result of a terminal query as the transcript shows it: the result and
// the sort the user chose for its grid (the order itself is the grid's, a
// permutation of the stored rows). main thread
class ZNTTerminalResult {
public:
    explicit ZNTTerminalResult(std::shared_ptr<ZNTResult> result) : m_result(std::move(result)) {}

    const std::shared_ptr<ZNTResult> &result() const { return m_result; }
    // Null for a result without rows (a command, a notice, an error).
    std::shared_ptr<const RowStore> rows() const { return m_result->rows(); }
    QString string() const { return m_result->string(); }

    // Index of the sort column among the result's columns, -1 for none.
    int sortColumnIndex() const { return m_sortColumnIndex; }
    bool sortAscending() const { return m_sortAscending; }
    void setSort(int column, bool ascending) {
        m_sortColumnIndex = column;
        m_sortAscending = ascending;
    }

private:
    const std::shared_ptr<ZNTResult> m_result;
    int m_sortColumnIndex = -1;
    bool m_sortAscending = false;
};

// One query of the terminal's transcript: its text, the ZNTQuery of its last
// run and what the transcript shows of that run. The last query of a
// transcript is the editable one, never run itself: a run of it makes a new
// executed query. main thread
class ZNTTerminalQuery {
public:
    QString string;                  // the SQL text
    std::shared_ptr<ZNTQuery> query; // the last run; null before the first
    bool isBusy = false;             // from the start of a run to its end
    bool wasExecuted = false;        // false only for the editable query
    bool canCancel = false;          // the run may still be cancelled
    QString queryState;              // the summary of a finished run
    QString statusText;              // "Waiting…" or the elapsed time
    QString loadPath;                // the SQL file the text was loaded from, or empty

    // The results of the last run; 0 before any.
    qsizetype resultCount() const;
    // The wrapper of the result at index, made anew whenever the query holds
    // another result there (so a run again replaces every wrapper); null for
    // an index beyond the results.
    std::shared_ptr<ZNTTerminalResult> resultAtIndex(qsizetype index);
    // The wrapper made last for index, without making one.
    std::shared_ptr<ZNTTerminalResult> cachedResultAtIndex(qsizetype index) const;
    // Lets the wrappers of the last run go (with the rows they hold) before another run.
    void forgetResults() { m_results.clear(); }

private:
    std::map<qsizetype, std::shared_ptr<ZNTTerminalResult>> m_results;
};
