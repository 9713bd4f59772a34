#pragma once

#include "engine/Value.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

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
};

// The text that copying source in mode puts on the clipboard; tableName names the
// table of INSERT statements (unqualified). Any other mode number copies as text.
// Empty without rows: there is nothing to copy, and the caller beeps.
QString ZNTCopyText(int mode, const QString &tableName, const ZNTCopySource &source);
