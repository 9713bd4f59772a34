#include "QueryTextView.h"

#include "uikit/Beep.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBlock>
#include <QTextCursor>

using namespace SQLTextCommands;

QueryTextView::QueryTextView(QWidget *parent) : QPlainTextEdit(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTabStopDistance(4 * fontMetrics().horizontalAdvance(u' '));
    setTabChangesFocus(false);
    setUndoRedoEnabled(true);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

QString QueryTextView::text() const {
    QString raw = document()->toRawText();
    for (QChar &c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    }
    return raw;
}

QList<TextRange> QueryTextView::selectedRanges() const {
    const QTextCursor cursor = textCursor();
    return {TextRange{cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()}};
}

bool QueryTextView::hasSelectedText() const {
    return textCursor().hasSelection();
}

QString QueryTextView::textToExecute() const {
    return SQLTextCommands::textToExecute(text(), selectedRanges());
}

void QueryTextView::apply(const QList<Replacement> &replacements) {
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    for (auto it = replacements.rbegin(); it != replacements.rend(); ++it) {
        cursor.setPosition(int(it->range.location));
        cursor.setPosition(int(it->range.end()), QTextCursor::KeepAnchor);
        cursor.insertText(it->text);
    }
    cursor.endEditBlock();
}

bool QueryTextView::replaceText(const QString &newText) {
    if (isReadOnly())
        return false;
    apply({Replacement{TextRange{0, document()->characterCount() - 1}, newText}});
    return true;
}

bool QueryTextView::insertTab(bool outdent) {
    const std::optional<Change> change = indentLines(text(), selectedRanges(), outdent);
    if (!change)
        return false;
    if (isReadOnly()) {
        beep();
        return true;
    }
    apply(change->replacements);
    // One selection here: from the first changed line to the end of the last.
    QTextCursor cursor = textCursor();
    cursor.setPosition(int(change->newSelection.first().location));
    cursor.setPosition(int(change->newSelection.last().end()), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    return true;
}

bool QueryTextView::insertNewline() {
    if (isReadOnly()) {
        beep();
        return true;
    }
    const TextRange selection = selectedRanges().first();
    const Replacement newline = newlineKeepingIndentation(text(), selection);
    apply({newline});
    QTextCursor cursor = textCursor();
    cursor.setPosition(int(selection.location + newline.text.size()));
    setTextCursor(cursor);
    ensureCursorVisible();
    return true;
}

void QueryTextView::keyPressEvent(QKeyEvent *event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (key == Qt::Key_Tab && modifiers == Qt::NoModifier && insertTab(false))
        return;
    if (key == Qt::Key_Backtab && (modifiers & ~Qt::ShiftModifier) == Qt::NoModifier && insertTab(true))
        return;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier && insertNewline())
        return;
    QPlainTextEdit::keyPressEvent(event);
}

QMenu *QueryTextView::trimmedContextMenu() {
    QMenu *menu = createStandardContextMenu();
    static const QStringList kept = {QStringLiteral("edit-cut"), QStringLiteral("edit-copy"),
                                     QStringLiteral("edit-paste")};
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator() && !kept.contains(action->objectName()))
            menu->removeAction(action);
    }
    // No separator at either end or twice in a row.
    bool previousWasSeparator = true;
    QAction *lastSeparator = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->isSeparator() && previousWasSeparator) {
            menu->removeAction(action);
            continue;
        }
        previousWasSeparator = action->isSeparator();
        lastSeparator = previousWasSeparator ? action : nullptr;
    }
    if (lastSeparator)
        menu->removeAction(lastSeparator);
    return menu;
}

void QueryTextView::contextMenuEvent(QContextMenuEvent *event) {
    QMenu *menu = trimmedContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
