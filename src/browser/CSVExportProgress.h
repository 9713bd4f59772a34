#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// What an export's progress sheet shows, from its counters: every table counts
// as 50 units of work plus its estimated rows. Counters are 64-bit: a table of
// more than four billion rows is still counted. main thread
struct CSVExportProgress {
    static constexpr quint64 kUnitsPerTable = 50;

    qint64 rowsWritten = 0;
    quint64 tablesInExport = 0;
    quint64 tablesFinished = 0;
    quint64 currentEstimate = 0; // of the table being written
    quint64 currentWritten = 0;  // rows of the table being written
    quint64 estimatedAll = 0;    // rows of every table
    quint64 estimatedFinished = 0;

    // The bar's value from 0 to 1, or nothing for a busy bar (no estimate at
    // all, as for a query, or a count the estimates fell short of).
    std::optional<double> fraction() const;
    // "%d rows written…"
    QString text() const;

    // A row estimate of the catalog: reltuples, -1 for a table the server has
    // never analysed, which counts as none.
    static quint64 estimateFromReltuples(double reltuples);
};
