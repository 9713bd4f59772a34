#pragma once

#include "engine/RowStore.h"
#include "engine/Value.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// The rows of one table page with the user's pending changes over them: the
// rows of the page query's result (read in place from its row store), rows
// added (new rows, to be inserted), cells edited and rows marked for deletion.
// Values and columns are those of the result, in result-column order. No
// widget; the page's grid model shows it and the page's undo commands change
// it through the primitives below. main thread
//
// A row is new (to insert: its loaded values are all DEFAULT), deleted (marked,
// never a new row), edited (neither, with at least one edited cell) or
// unchanged. Setting a cell to its loaded value removes its edit.
class ZNTTableEdits {
public:
    using Values = QList<Value>;
    using EditSlots = QList<std::optional<Value>>; // one per column; empty: no edited cell

    class Row {
    public:
        Row() = default;
        static Row stored(qsizetype storeRow);
        static Row newRow(EditSlots edits = {});
        bool isNew() const { return m_pending && m_pending->isNew; }
        bool isDeleted() const { return m_pending && m_pending->deleted; }
        qsizetype storeRow() const { return m_storeRow; }
        const EditSlots &edits() const;
        bool operator==(const Row &other) const;

    private:
        friend class ZNTTableEdits;
        // Rows without changes carry none: a page of a million rows costs
        // 16 bytes a row. Shared until changed, so snapshots are cheap.
        struct Pending {
            bool isNew = false;
            bool deleted = false;
            bool hasOwnValues = false; // values: what a save gave back
            Values values;
            EditSlots edits;
        };
        Pending &pending();

        qsizetype m_storeRow = -1;
        std::shared_ptr<Pending> m_pending;
    };

    // A new result of columnCount columns whose rows are in store (may grow);
    // no row taken yet.
    void reset(std::shared_ptr<const RowStore> store, int columnCount);
    // No result at all (a page loading).
    void clear();
    bool hasResult() const { return m_hasResult; }
    const std::shared_ptr<const RowStore> &store() const { return m_store; }
    int columnCount() const { return m_columnCount; }
    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    const Row &row(qsizetype row) const { return m_rows[size_t(row)]; }
    const std::vector<Row> &rows() const { return m_rows; }

    // Appends, at the end, the store rows below storeRowCount not taken yet;
    // answers how many. Rows are taken once each, whatever was added between.
    qsizetype takeStoreRows(qsizetype storeRowCount);
    qsizetype takenStoreRows() const { return m_taken; }

    bool isNew(qsizetype row) const { return m_rows[size_t(row)].isNew(); }
    bool isDeleted(qsizetype row) const { return m_rows[size_t(row)].isDeleted(); }
    bool isEdited(qsizetype row) const;
    std::optional<Value> editedValue(qsizetype row, int column) const;
    Value loadedValue(qsizetype row, int column) const;
    Values loadedValues(qsizetype row) const;
    Value effectiveValue(qsizetype row, int column) const;
    Values effectiveValues(qsizetype row) const;
    // The store row whose cells are row's effective values (a row without edits
    // and without values of its own), else -1.
    qsizetype plainStoreRow(qsizetype row) const;
    // KRVTableDataCellStyle of a cell: deleted 3, new 2, edited 1, else 0.
    int cellStyle(qsizetype row, int column) const;

    // Primitives.
    void setValue(qsizetype row, int column, const Value &value);
    void insertRow(qsizetype at, Row row);
    Row removeRow(qsizetype at);
    void setDeleted(qsizetype row, bool deleted);
    // Puts back rows kept when takenStoreRows store rows had been taken (an
    // undo's snapshot); the store rows taken since then follow them, so rows
    // that arrived meanwhile stay on the page.
    void setRows(std::vector<Row> rows, qsizetype takenStoreRows);
    // The rows as loaded: new rows gone, no edits, no marks.
    std::vector<Row> rowsWithoutChanges() const;

    struct Counts {
        qsizetype newRows = 0;
        qsizetype editedRows = 0;
        qsizetype deletedRows = 0;
        bool any() const { return newRows || editedRows || deletedRows; }
    };
    Counts counts() const;

    // What saving writes, rows in page order: new rows' effective values,
    // deleted rows' loaded values, edited rows' loaded and effective values.
    struct Changes {
        QList<Values> insertRows;
        QList<Values> updateRowsBefore;
        QList<Values> updateRowsAfter;
        QList<Values> deleteRows;
    };
    Changes changes() const;
    // After a save of changes(): new and edited rows take the rows the server
    // gave back (in the same order), deleted rows go, nothing stays pending.
    void foldSaved(const QList<Values> &completedInsertRows, const QList<Values> &completedUpdateRows);

    // Changes of loaded rows kept over a reload of the page (those of a save
    // that may or may not have been committed), each row to be found again by
    // its key. Values go by the names in columns.
    struct CarriedChanges {
        QStringList columns;
        QStringList keyColumns;
        QList<Values> updateRowsBefore;
        QList<Values> updateRowsAfter;
        QList<Values> deleteRows;
        // What that save wrote, as the server gave it back where it did: the
        // new rows, and the changed rows (index-parallel to updateRowsBefore).
        QList<Values> insertedRows;
        QList<Values> updatedRows;
    };
    // Leaves out of carried every change that could land on a row other than
    // its own: all of them when no key tells its rows apart (a row that looks
    // the same would take them), and those of a row whose key the save itself
    // wrote (a new row with the key of a deleted one, a row moved onto it), as
    // the row with that key may be the new one. Answers how many rows' changes
    // it left out, by reason.
    struct LeftOut {
        qsizetype withoutKey = 0;
        qsizetype onWrittenKeys = 0;
    };
    static LeftOut leaveOutUnsafeChanges(CarriedChanges &carried);
    // What of carried applies to the rows loaded now (columnNames: their
    // result columns): the new values of each changed row whose key is among
    // them, and the rows to mark deleted. A change goes back over the values it
    // was made over: a cell that holds the new value already needs nothing, a
    // cell the user changed meanwhile keeps the newer value, and a row whose
    // cells hold other values now (changed since, by another session or a later
    // save) keeps them. notPutBack counts the rows' changes that did not go
    // back: no row has their key (or the key column is gone), their row changed
    // since, or the user changed the row that a deletion would mark.
    struct Reapplied {
        struct Cell {
            qsizetype row;
            int column;
            Value value;
        };
        QList<Cell> cells;
        QList<qsizetype> deletedRows;
        qsizetype notPutBack = 0;
    };
    Reapplied reapplied(const CarriedChanges &carried, const QStringList &columnNames) const;

    // What text typed into a cell becomes, given the cell's edited and loaded
    // values; nothing when the entry changes nothing. Text is never made a
    // number here: the server converts it, or refuses it. An empty entry over
    // a value means NULL, over an empty, NULL or DEFAULT cell it leaves the
    // cell as loaded; text equal to the loaded value's shown text is that value.
    static std::optional<Value> valueForTypedText(const QString &text, const std::optional<Value> &edited,
                                                  const Value &loaded);

private:
    bool hasEdits(const Row &row) const;

    std::shared_ptr<const RowStore> m_store;
    int m_columnCount = 0;
    bool m_hasResult = false;
    qsizetype m_taken = 0;
    std::vector<Row> m_rows;
};
