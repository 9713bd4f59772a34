// The laid-out lines of data cells and their process-wide cache; used by
// KRVTableDataCell only (and its tests).
#pragma once

#include <QString>
#include <QTextLayout>
#include <memory>

class QFont;

struct DataCellLines {
    // Laid-out text with one line each; line2 null: one line.
    std::unique_ptr<QTextLayout> line1;
    std::unique_ptr<QTextLayout> line2;
    QString line1Text;
    QString line2Text;
    qreal lineHeight = 0;
    qreal naturalWidth = 0; // of the widest line
    bool twoLines = false;
    bool truncated = false; // some of the text is not shown
};

// The lines of text at width: two lines (the first broken at a word, the second
// at a character, with "…" when text remains) when twoLines, else one line
// elided at its end. From the cache when a slot holds them, else laid out now.
// The reference stays good until the next call. main thread
const DataCellLines &dataCellLines(const QString &text, const QFont &font, qreal width, bool twoLines);

struct DataCellLineStatistics {
    quint64 layouts = 0;
    quint64 hits = 0;
};
DataCellLineStatistics dataCellLineStatistics();
void resetDataCellLines();
