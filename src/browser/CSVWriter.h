#pragma once

#include "browser/KesCoder.h"
#include "platform/Error.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

// Streams tables of rows into CSV files inside one new folder: one file per
// table, a header line of column names, one line per row, UTF-8 without a byte
// order mark, LF line ends; the values as the CSV coder writes them. Only the
// file being written is open, and only a small buffer of it is in memory.
//
// Order: setURL (and setCoder, setSkipHeaders), beginWithError, then per table
// beginTableName, any number of writeRow / writeStoredRows, endTableWithError;
// finally endWithError. Each step that fails answers false with an Error and
// leaves the files written so far; the caller removes the folder.
//
// Not thread-bound, but used by one thread at a time (the export's queue).
class CSVWriter {
public:
    CSVWriter();
    ~CSVWriter();
    CSVWriter(const CSVWriter &) = delete;
    CSVWriter &operator=(const CSVWriter &) = delete;

    QString URL() const { return m_url; }
    void setURL(const QString &folder) { m_url = folder; }
    const KesCsvCoder &coder() const { return m_coder; }
    void setCoder(const KesCsvCoder &coder) { m_coder = coder; }
    bool skipHeaders() const { return m_skipHeaders; }
    void setSkipHeaders(bool skip) { m_skipHeaders = skip; }
    // Every file made so far, in the order made.
    QStringList createdFileURLs() const { return m_created; }

    // Makes the folder at URL; its parent must exist, and an existing folder is
    // an error.
    bool beginWithError(ErrorPtr *error);
    // Opens "name.csv", else "name 2.csv", "name 3.csv", ...: the first that this
    // writer has not used and the folder does not hold (a volume that ignores
    // letter case holds "orders.csv" once "Orders.csv" is there). A "/" in the
    // name becomes "-", so every file stays inside the folder.
    bool beginTableName(const QString &tableName, const QStringList &columnNames, ErrorPtr *error);
    bool writeRow(const std::vector<Value> &row, ErrorPtr *error);
    // Rows first .. first + count - 1 of store, their cells in the order of columns.
    bool writeStoredRows(const RowStore &store, qsizetype first, qsizetype count, const std::vector<int> &columns,
                         ErrorPtr *error);
    // Writes what is buffered and closes the file; a failed write or close is
    // an error (a full disk may only tell at the close).
    bool endTableWithError(ErrorPtr *error);
    bool endWithError(ErrorPtr *error);
    // Closes the open file without writing what is buffered (the export failed).
    void abandon();

    // The base name a table's file gets ("a/b" -> "a-b").
    static QString fileBaseName(const QString &tableName);

private:
    void requireOpenTable() const;
    bool writeBuffer(ErrorPtr *error);
    bool closeFile(ErrorPtr *error);

    QString m_url;
    KesCsvCoder m_coder;
    bool m_skipHeaders = false;
    QStringList m_created;
    QSet<QString> m_usedNames;
    int m_fd = -1;
    std::string m_buffer;
};
