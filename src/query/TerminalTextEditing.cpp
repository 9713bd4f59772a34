#include "TerminalTextEditing.h"

#include "uikit/Beep.h"

#include <QKeyEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

using namespace SQLTextCommands;

namespace TerminalTextEditing {

namespace {
// Applies replacements (in text order) as one undoable change.
void apply(QTextEdit *view, const QList<Replacement> &replacements) {
    QTextCursor cursor(view->document());
    cursor.beginEditBlock();
    for (auto it = replacements.rbegin(); it != replacements.rend(); ++it) {
        cursor.setPosition(int(it->range.location));
        cursor.setPosition(int(it->range.end()), QTextCursor::KeepAnchor);
        cursor.insertText(it->text);
    }
    cursor.endEditBlock();
}
} // namespace

QString text(const QTextEdit *view) {
    QString raw = view->document()->toRawText();
    for (QChar &c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    }
    return raw;
}

QList<TextRange> selectedRanges(const QTextEdit *view) {
    const QTextCursor cursor = view->textCursor();
    return {TextRange{cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()}};
}

QString textToExecute(const QTextEdit *view) {
    return SQLTextCommands::textToExecute(text(view), selectedRanges(view));
}

bool replaceText(QTextEdit *view, const QString &newText) {
    if (view->isReadOnly())
        return false;
    apply(view, {Replacement{TextRange{0, view->document()->characterCount() - 1}, newText}});
    return true;
}

bool insertTab(QTextEdit *view, bool outdent) {
    const std::optional<Change> change = indentLines(text(view), selectedRanges(view), outdent);
    if (!change)
        return false;
    if (view->isReadOnly()) {
        beep();
        return true;
    }
    apply(view, change->replacements);
    QTextCursor cursor = view->textCursor();
    cursor.setPosition(int(change->newSelection.first().location));
    cursor.setPosition(int(change->newSelection.last().end()), QTextCursor::KeepAnchor);
    view->setTextCursor(cursor);
    return true;
}

bool insertNewline(QTextEdit *view) {
    if (view->isReadOnly()) {
        beep();
        return true;
    }
    const TextRange selection = selectedRanges(view).first();
    const Replacement newline = newlineKeepingIndentation(text(view), selection);
    apply(view, {newline});
    QTextCursor cursor = view->textCursor();
    cursor.setPosition(int(selection.location + newline.text.size()));
    view->setTextCursor(cursor);
    view->ensureCursorVisible();
    return true;
}

bool KeyCommands::eventFilter(QObject *watched, QEvent *event) {
    auto *view = qobject_cast<QTextEdit *>(watched);
    if (!view || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Tab && modifiers == Qt::NoModifier)
        return insertTab(view, false);
    if (key->key() == Qt::Key_Backtab && (modifiers & ~Qt::ShiftModifier) == Qt::NoModifier)
        return insertTab(view, true);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier)
        return insertNewline(view);
    return QObject::eventFilter(watched, event);
}

} // namespace TerminalTextEditing
