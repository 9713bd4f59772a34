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
        // The save added rows.
        bool addedRows = false;
        // Every row the save wrote came back as the server stored it, paired
        // with its own row: no trigger moved one onto another key unseen.
        bool writtenAsStored = true;
        qsizetype size() const { return updateRowsBefore.size() + deleteRows.size(); }
    };
    // The changes held over the unsettled saves of a page, oldest save first,
    // and how many were left out after they were held (by a later save that
    // left their rows in doubt, or changed them again), which no load can put
    // back.
    struct HeldChanges {
        QList<CarriedChanges> saves;
        qsizetype leftOut = 0;
        qsizetype size() const;
        bool isEmpty() const { return size() == 0 && leftOut == 0; }
    };
    struct LeftOut {
        qsizetype withoutKey = 0;
        qsizetype uncertain = 0;    // a save left their rows in doubt (see hold)
        qsizetype changedAgain = 0; // held before, of rows the later save changed again
        qsizetype alreadyThere = 0; // held before, that the later save's rows show saved: dropped untold
        // Held before and left out with the save's own change of the same row
        // (the same key columns, the same key as loaded): told as that row's.
        qsizetype withOwnRow = 0;
    };
    // A held change goes back only where nothing can be mistaken: all or
    // nothing. A save that added a row, wrote a key column, or whose written
    // rows did not all come back as stored may have put a row where a held
    // change would find its own, so it leaves out every change held before it
    // and its own; so does a save of a table without a key, where a row that
    // looks the same could take them. Answers how many rows' changes it left
    // out of carried, by reason.
    static LeftOut leaveOutUnsafeChanges(CarriedChanges &carried);
    // Holds the changes of a save that may have been committed beside those
    // held already: its unsafe changes are left out as above, and so are all
    // the changes held before it where it leaves them in doubt, or where the
    // table's key columns changed since they were held; else those of rows it
    // changed again (the user made the later change over the row as it loaded
    // then). An older change that row held already, or of a row the save
    // deletes, is dropped uncounted. Answers what it left out; an older change
    // of a row whose own change it left out too counts as withOwnRow, so that
    // uncertain and withoutKey count rows, not changes.
    static LeftOut hold(HeldChanges &held, CarriedChanges save);
    // The same for a save that committed while changes were held: what it
    // leaves out of them is counted in held.leftOut. Answers what it left out.
    static LeftOut noteSaved(HeldChanges &held, const CarriedChanges &save);

    // What of held applies to the rows loaded now (columnNames: their result
    // columns). Each held change finds its row by its key, the newest save's
    // changes first, and one row takes at most one change; then:
    // - where the row holds the change already (every cell it changed holds
    //   the new value, or the row is marked deleted) nothing is to be done;
    // - else where every column still there holds the value the change was
    //   made over, it goes back: the new values of its cells (a cell the user
    //   changed meanwhile keeps the newer value), or the deletion mark, unless
    //   the user changed the row since;
    // - else, and where no row has its key, a column it changed is gone or its
    //   row was taken by a newer change, it does not go back: notPutBack.
    // Counts are of rows' changes; held.leftOut counts as not put back.
    struct Reapplied {
        struct Cell {
            qsizetype row;
            int column;
            Value value;
        };
        QList<Cell> cells;
        QList<qsizetype> deletedRows;
        qsizetype putBack = 0;
        qsizetype alreadyThere = 0;
        qsizetype notPutBack = 0;
    };
    Reapplied reapplied(const HeldChanges &held, const QStringList &columnNames) const;

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
