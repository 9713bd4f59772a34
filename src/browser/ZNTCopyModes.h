#pragma once

#include "engine/RowStore.h"
#include "engine/Value.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class ZNTGridModel;

// The four forms in which the table page, the query editor and the terminal copy
// rows; a menu item carries its form as its data (plain Copy is the text form).
enum ZNTCopyMode {
    ZNTCopyModeText = 0,             // the clipboard coder's tab-separated rows, a line feed between rows
    ZNTCopyModeCSV = 1,              // the CSV coder's rows, each followed by a line feed
    ZNTCopyModeCSVWithHeader = 2,    // as CSV, after one row of the column names
    ZNTCopyModeInsertStatements = 3, // one INSERT statement for all rows
};

// The rows a copy reads: the column names in on-screen order and, for each of
// rowCount rows in the order they are copied, the value of each of those columns.
//
// Rows held in a row store are best read from it in place, as the CSV export
// reads them: with store set, copied row r is store row storeRowAt(r) and copied
// column c its store column storeColumns[c]; a storeRowAt of -1 (a row with
// pending edits, a new row) reads that row through valueAt.
struct ZNTCopySource {
    QStringList columnNames;
    qsizetype rowCount = 0;
    std::function<Value(qsizetype row, int column)> valueAt;
    // For INSERT statements that run back into the table: the columns (by
    // position; none when empty) whose values the server computes, written as
    // DEFAULT, and whether an identity column that refuses given values is
    // among the columns, so that the statement keeps them with OVERRIDING
    // SYSTEM VALUE.
    QList<bool> generatedColumns;
    bool overridingSystemValue = false;
    std::shared_ptr<const RowStore> store;
    std::vector<int> storeColumns;
    std::function<qsizetype(qsizetype row)> storeRowAt;

    // The rows of a grid shown at rows (view rows, in the order copied) and
    // its model columns: values as valueAt() shows them, read from its store.
    // The source reads the model, which must outlive it.
    static ZNTCopySource ofGrid(const ZNTGridModel &model, const QList<int> &rows, const std::vector<int> &columns);
};

// The text that copying source in mode puts on the clipboard; tableName names the
// table of INSERT statements (unqualified). Any other mode number copies as text.
// Empty without rows: there is nothing to copy, and the caller beeps. A large
// copy is encoded in slices on a few threads while the caller waits; they read
// the store alone (valueAt and storeRowAt run on the caller's thread). main thread
QString ZNTCopyText(int mode, const QString &tableName, const ZNTCopySource &source);
