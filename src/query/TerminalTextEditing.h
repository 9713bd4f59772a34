#pragma once

#include "SQLTextCommands.h"

#include <QObject>

class QTextEdit;

// The SQL text commands applied to the terminal's editable query, a rich
// text view kept to plain text: Tab and Backtab over a selection indent and
// outdent its lines, Return keeps the line's indentation, each one undoable
// step; a view that is read only beeps. Without a selection Tab and Backtab
// keep their usual meaning. main thread
namespace TerminalTextEditing {

// The text as typed (no-break spaces stay), line breaks as "\n".
QString text(const QTextEdit *view);
QList<SQLTextCommands::TextRange> selectedRanges(const QTextEdit *view);
// The selection, else the whole text.
QString textToExecute(const QTextEdit *view);
// The whole text replaced as one undoable change; false when the view is read only.
bool replaceText(QTextEdit *view, const QString &text);
// Each answers whether it took the key.
bool insertTab(QTextEdit *view, bool outdent);
bool insertNewline(QTextEdit *view);

// Gives a view's Tab, Backtab and Return keys to the commands above.
class KeyCommands : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace TerminalTextEditing
