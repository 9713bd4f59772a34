#pragma once

#include "SQLTextCommands.h"

#include <QPlainTextEdit>

// The SQL text of the query editor and the terminal: plain text in the
// system's fixed font, with its own undo. Tab and Backtab over a selection
// indent and outdent the lines it touches, Return keeps the line's
// indentation (each one undoable step); without a selection Tab inserts a tab
// and Backtab moves the focus back. A change the view refuses (it is read
// only) beeps. Its context menu offers cut, copy and paste. main thread
class QueryTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit QueryTextView(QWidget *parent = nullptr);

    // The text as typed: unlike toPlainText(), no-break spaces stay what they
    // are; line breaks read as "\n".
    QString text() const;
    // The selected ranges (a text view here has one), in text positions.
    QList<SQLTextCommands::TextRange> selectedRanges() const;
    bool hasSelectedText() const;
    // What running the text sends (the selection, else everything).
    QString textToExecute() const;

    // Replaces the whole text as one undoable change; false (and nothing
    // changes) when the view is read only.
    bool replaceText(const QString &text);
    // Applies the key commands; each answers whether it took the key.
    bool insertTab(bool outdent);
    bool insertNewline();

    // The context menu as it is offered (cut, copy and paste); the caller owns it.
    QMenu *trimmedContextMenu();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Applies replacements (in text order) as one undoable change.
    void apply(const QList<SQLTextCommands::Replacement> &replacements);
};
