#pragma once

#include "ZNTActionQuery.h"
#include "ZNTRowMatching.h"
#include "engine/PGResultExpectation.h"

#include <QList>
#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>

class ZNTTable;
class ZNTTableMetadata;

// Saves the pending edits of one table page as one server transaction: the
// rows to delete, the changed rows and the new rows become DELETE, UPDATE and
// INSERT statements whose WHERE clauses pick exactly the edited rows. Every
// statement must affect the number of rows it expects; then the transaction is
// committed, otherwise rolled back. Cells left to their column default (the
// DEFAULT marker) and generated columns come back as the server filled them,
// read through RETURNING as the page's own load reads it. An ordinary or
// partitioned table without row-level security or rules returns every column
// of the rows written, as it stored them (10.999 in a numeric(14,2) column is
// 11.00, and what a BEFORE trigger set), and each row is paired with the
// returned row that holds the key it was loaded with, in the key columns the
// statement neither wrote nor left to the server; a row whose key a trigger
// rewrote pairs with none (writtenRowsUnpaired). Elsewhere such a RETURNING
// clause may be refused, and a written cell keeps the value it was given.
//
//     auto save = std::make_shared<ZNTUpdateInsertDeleteQuery>();
//     save->setTable(table); save->setColumns(pageColumns); ... the four row
//     lists token = observeNext(save, ZNTActionQuery::DoneNotification, ...);
//     save->executeInBackgroundOnConnection(table->database()->connection());
//
// In the observer: success() and error(), and on success completedUpdateRows()
// and completedInsertRows(), index-parallel to updateRowsAfter() and
// insertRows(). The rows are matched by the structure they were read with
// (setMetadata), else by the table's cached structure, which must be loaded.
//
// The transaction runs in one job on the connection's queue, so no other query
// of the connection comes between BEGIN and COMMIT or ROLLBACK. That job works
// on a copy of the statements, expectations and rows taken when the save
// starts, and hands one outcome back to the main thread: the action itself is
// main-thread only, so the SQL preview may prepare it again while it saves.
//
// The transaction sets, for itself alone, the settings the rows were read
// under (setValueStyles) and the one their literals were quoted for
// (standard_conforming_strings): the session is the user's too, and after a
// SET in the SQL Query page or a reconnect the server would read the rows'
// texts as other values, and so reach other rows. BEGIN and the settings go
// first, the statements in a message of their own (sqlQuery()).
//
// While the statements and COMMIT are awaited, what the save sent and the
// server did not acknowledge for a minute ends the session, so that a link
// that died is noticed; a server that works long acknowledges what it gets.
// A connection lost while COMMIT runs leaves the outcome open: the server may
// have committed. The job then asks a new session what became of the
// transaction, by the id it read before COMMIT (PostgreSQL 10 and later), and
// asks again while the server has not ended it, for up to a minute in all, the
// new session's connect and the waits for its answers included: a
// committed save is a success, an aborted one a failure; when the outcome
// stays unknown, the save fails with an error for which mayHaveCommitted holds.
class ZNTUpdateInsertDeleteQuery : public ZNTActionQuery {
public:
    using RowList = QList<ZNTRowValues>;

    // The statements without the BEGIN line (this is what the SQL preview shows),
    // and one expectation per statement.
    bool prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) override;
    // The condition that picks exactly rows (each a value per entry of
    // columns()).
    QString whereClauseOnConnection(const ZNTConnection &connection, const RowList &rows, ErrorPtr *error) const;
    // "Saving changes to %@…"
    QString statusMessage() const override;
    void executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection) override;
    void cancel() override;

    std::shared_ptr<ZNTTable> table() const { return m_table; }
    void setTable(const std::shared_ptr<ZNTTable> &table);
    // The loaded structure the rows were read with: a window's reload purges
    // the cached one while a page keeps its rows and edits.
    void setMetadata(const std::shared_ptr<ZNTTableMetadata> &metadata);
    // The structure set, else the table's cached one (null or not loaded when
    // there is none).
    std::shared_ptr<ZNTTableMetadata> metadata() const;
    // The settings the rows were read under (none: the session's own).
    void setValueStyles(const ZNTValueStyles &styles);
    ZNTColumnList columns() const { return m_columns; }
    void setColumns(const ZNTColumnList &columns);
    RowList insertRows() const { return m_insertRows; }
    void setInsertRows(const RowList &rows);
    RowList deleteRows() const { return m_deleteRows; }
    void setDeleteRows(const RowList &rows);
    RowList updateRowsBefore() const { return m_updateRowsBefore; }
    void setUpdateRowsBefore(const RowList &rows);
    RowList updateRowsAfter() const { return m_updateRowsAfter; }
    void setUpdateRowsAfter(const RowList &rows);
    // After a run that got past BEGIN without a statement error.
    RowList completedInsertRows() const { return m_completedInsertRows; }
    RowList completedUpdateRows() const { return m_completedUpdateRows; }
    // The statements return the cells they write as the server stored them, so
    // the completed rows' keys are the server's ("03" typed comes back as 3);
    // otherwise a written cell keeps what it was given. Set by prepareSQL….
    bool writtenCellsReturned() const { return m_writtenCellsReturned; }
    // After a run that got past BEGIN without a statement error: every row
    // the save wrote came back whole, as stored, paired with its own row, so
    // the completed rows are what the server holds.
    bool writtenRowsFilled() const { return m_writtenRowsFilled; }
    // The same run, where the statements return the cells they write: a
    // statement's returned rows did not pair with its rows (a trigger rewrote
    // a key column the statement did not write), so the completed rows are
    // not what the server holds and only a load shows them.
    bool writtenRowsUnpaired() const { return m_writtenRowsUnpaired; }
    const QList<PGResultExpectation> &returningExpectations() const { return m_returningExpectations; }

    // A failed save that may have been committed all the same: the connection
    // went while COMMIT ran, and the server could not tell what became of the
    // transaction. Nothing of it may be sent again as it stands.
    static bool mayHaveCommitted(const ErrorPtr &error);

    // The statement that ends a save whose statements all did what they should
    // ("COMMIT"; an empty text restores it). Tests put in a statement the server
    // answers as it answers a COMMIT that did not commit. Set before a save starts.
    static void setCommitStatementForTesting(const QString &statement);
    // How long a COMMIT still in progress after its answer was lost is waited
    // for (a minute; zero restores that). Set before a save starts.
    static void setCommitWaitForTesting(std::chrono::milliseconds bound);
    // How long what the save sent may go unacknowledged by the server while
    // its statements and COMMIT are awaited, before the session ends (a
    // minute; zero restores that); the link's probes meanwhile go with it.
    // Set before a save starts.
    static void setUnacknowledgedTimeoutForTesting(std::chrono::milliseconds timeout);

private:
    // Where the RETURNING rows of a statement go: into which rows (of
    // insertRows or updateRowsAfter, by the statement's type) and at which
    // cells (positions in columns(), in RETURNING order). Where the written
    // cells are returned, every column is, in the page's order; an UPDATE's
    // returned rows then pair with its rows by the key columns at keyAt (in
    // the returned row), which it neither wrote nor left to the server: keys
    // holds their values as each row was loaded, parallel to rows. Without
    // such columns a statement of one row pairs by itself, and one of rows
    // alike (identical in every shown cell) takes its returned rows in the
    // order they came.
    struct Returning {
        QList<qsizetype> rows;
        QList<qsizetype> cells;
        QList<qsizetype> keyAt;
        QList<ZNTRowValues> keys;
        bool alike = false;
    };
    // The cells one changed row sets (written) and those the server fills (a
    // cell set to DEFAULT, a generated column); rows written alike share the
    // SET text.
    struct RowWrite {
        QString setText;
        QList<qsizetype> written;
        QList<qsizetype> filled;
    };
    // What the connection queue's job works on, copied when the save starts.
    struct Job {
        QList<PGResultExpectation> expectations;
        RowList insertRows;
        RowList updateRowsAfter;
        QString tableName;
        QList<Returning> returning;      // one per expectation
        bool readsTransactionId = false; // the server can tell a transaction's fate later
        bool returnsWritten = false;     // the statements return the cells they write
    };
    // What the job hands back to the main thread.
    struct Outcome {
        bool success = false;
        ErrorPtr error;
        bool completed = false; // the completed rows below are set
        RowList completedInsertRows;
        RowList completedUpdateRows;
        bool filled = false;   // see writtenRowsFilled()
        bool unpaired = false; // see writtenRowsUnpaired()
    };

    QString qualifiedTable() const;
    QList<bool> generatedColumns() const;
    bool returnsWrittenCells(const ZNTConnection &connection) const;
    QList<qsizetype> identifyingKeyPositions(const ZNTConnection &connection) const;
    RowWrite rowWrite(const ZNTConnection &connection, qsizetype row, const QList<bool> &generated) const;
    QList<qsizetype> pairingKey(const ZNTConnection &connection, const RowWrite &write) const;
    bool keysTellApart(const ZNTConnection &connection, const QList<qsizetype> &key,
                       const QList<qsizetype> &rows) const;
    bool newValuesHaveLiterals(const ZNTConnection &connection, ErrorPtr *error) const;
    bool appendDelete(const ZNTConnection &connection, QString &text, ErrorPtr *error);
    bool appendUpdates(const ZNTConnection &connection, QString &text, ErrorPtr *error);
    bool appendAlike(const ZNTConnection &connection, QString &text, const RowWrite &write,
                     const QList<qsizetype> &rows, ErrorPtr *error);
    bool appendUpdate(const ZNTConnection &connection, QString &text, const RowWrite &write,
                      const QList<qsizetype> &rows, ErrorPtr *error);
    void appendInserts(const ZNTConnection &connection, QString &text);
    QString beginText(const ZNTConnection &connection, const QString &standardStrings) const;
    // main thread
    void finish(const Outcome &outcome);

    // connection queue
    static Outcome runTransaction(const Job &job, const ZNTQuery &begin, const std::shared_ptr<ZNTQuery> &statements,
                                  const std::shared_ptr<ZNTConnection> &connection);
    static QString pairResults(const Job &job, const QList<std::shared_ptr<ZNTResult>> &results, Outcome &outcome);
    static bool fillRows(RowList &written, const Returning &returning, const ZNTResult &result);
    static QList<qsizetype> ownersOfReturnedRows(const Returning &returning, const RowStore &rows);
    static void endTransaction(const Job &job, const std::shared_ptr<ZNTConnection> &connection, const QString &message,
                               Outcome &outcome);
    static void commitTransaction(const Job &job, const std::shared_ptr<ZNTConnection> &connection, Outcome &outcome);
    static void settleLostCommit(const Job &job, std::optional<qint64> transactionId,
                                 const std::shared_ptr<ZNTConnection> &connection, Outcome &outcome);
    static std::optional<QString> transactionStatus(const std::shared_ptr<ZNTConnection> &connection,
                                                    qint64 transactionId, std::chrono::steady_clock::time_point end,
                                                    bool afterPause, const QString &message);
    static std::shared_ptr<ZNTQuery> runNow(const std::shared_ptr<ZNTConnection> &connection, const QString &sql,
                                            const QString &status);

    std::shared_ptr<ZNTQuery> m_beginQuery; // BEGIN and the settings, while a save runs
    QList<PGResultExpectation> m_returningExpectations;
    QList<Returning> m_returning; // one per expectation
    std::shared_ptr<ZNTTable> m_table;
    std::shared_ptr<ZNTTableMetadata> m_metadata;
    ZNTValueStyles m_valueStyles;
    ZNTColumnList m_columns;
    RowList m_insertRows;
    RowList m_deleteRows;
    RowList m_updateRowsBefore;
    RowList m_updateRowsAfter;
    RowList m_completedInsertRows;
    RowList m_completedUpdateRows;
    bool m_writtenCellsReturned = false;
    bool m_writtenRowsFilled = false;
    bool m_writtenRowsUnpaired = false;
};
