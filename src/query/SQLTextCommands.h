#pragma once

#include <QList>
#include <QString>
#include <optional>

// The key commands of the SQL editors (the query editor and the terminal) as
// pure text operations: what Tab, Backtab and Return change in a text with its
// selected ranges, and what a run sends. The editor widget applies the result
// as one undoable change.
namespace SQLTextCommands {

struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;
    qsizetype end() const { return location + length; }
    bool operator==(const TextRange &) const = default;
};

// One replacement of the text: range (of the text before any change) by text.
struct Replacement {
    TextRange range;
    QString text;
    bool operator==(const Replacement &) const = default;
};

struct Change {
    // In text order, not overlapping.
    QList<Replacement> replacements;
    // The changed lines where they stand after the change.
    QList<TextRange> newSelection;
};

// Where the line that holds position starts: just after the last line break
// before it, or 0.
qsizetype lineStart(const QString &text, qsizetype position);

// Tab (outdent false) or Backtab (outdent true) over every line a selected
// range touches: a tab put in front of each, or up to three spaces and one
// space or tab taken from its start. A line that starts exactly where a range
// ends is not touched. Nothing (the key keeps its usual meaning) when no
// range is longer than zero.
std::optional<Change> indentLines(const QString &text, const QList<TextRange> &ranges, bool outdent);

// Return: a line break followed by the blanks and tabs that begin the line of
// the selection's start, up to that point; it replaces the selection.
Replacement newlineKeepingIndentation(const QString &text, const TextRange &selection);

// What a run sends: the selected pieces longer than zero, joined in their
// order with nothing between them; the whole text when that is empty.
QString textToExecute(const QString &text, const QList<TextRange> &ranges);

// Applies replacements (in text order, not overlapping) to text.
QString applied(const QString &text, const QList<Replacement> &replacements);

} // namespace SQLTextCommands
