// The SQL editors' text commands: Tab and Backtab over the touched lines,
// Return keeping the indentation, what a run sends, and the editor widget
// that applies them as single undoable steps.
#include "query/SQLTextCommands.h"
#include "query/QueryTextView.h"
#include "support/PostgresSupport.h"
#include "uikit/Beep.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

using namespace SQLTextCommands;

namespace {
QString afterTab(const QString &text, TextRange selection, bool outdent, QList<TextRange> *newSelection = nullptr) {
    const auto change = indentLines(text, {selection}, outdent);
    if (!change)
        return QStringLiteral("<not handled>");
    if (newSelection)
        *newSelection = change->newSelection;
    return applied(text, change->replacements);
}

// A text view with its text and a selection from start to end.
void select(QueryTextView &view, int start, int end) {
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);
}
} // namespace

TEST(SQLTextCommands, TabIndentsEveryTouchedLineButNotOneStartingWhereTheSelectionEnds) {
    const QString text = QStringLiteral("select a,\n  b\nfrom t\n");
    QList<TextRange> selection;
    // From inside the first line to the very start of the third.
    EXPECT_EQ(afterTab(text, {3, 11}, false, &selection), QStringLiteral("\tselect a,\n\t  b\nfrom t\n"));
    // The changed lines are selected, so that Tab again indents the same lines.
    ASSERT_EQ(selection.size(), 2);
    EXPECT_EQ(selection[0], (TextRange{0, 11}));
    EXPECT_EQ(selection[1], (TextRange{11, 5}));
    // The last line without a line break ends at the text's end.
    EXPECT_EQ(afterTab(QStringLiteral("a\nb"), {2, 1}, false), QStringLiteral("a\n\tb"));
    // CR LF is one line break.
    EXPECT_EQ(afterTab(QStringLiteral("a\r\nb\r\n"), {0, 4}, false), QStringLiteral("\ta\r\n\tb\r\n"));
}

TEST(SQLTextCommands, BacktabTakesOneTabOrUpToFourSpacesFromEachLine) {
    EXPECT_EQ(afterTab(QStringLiteral("      six"), {0, 3}, true), QStringLiteral("  six"));
    EXPECT_EQ(afterTab(QStringLiteral("  \tx"), {0, 1}, true), QStringLiteral("x"));
    EXPECT_EQ(afterTab(QStringLiteral("\t\tx"), {0, 1}, true), QStringLiteral("\tx"));
    EXPECT_EQ(afterTab(QStringLiteral("plain"), {0, 5}, true), QStringLiteral("plain"));
    EXPECT_EQ(afterTab(QStringLiteral(" \n    a\n"), {0, 8}, true), QStringLiteral("\na\n"));
}

TEST(SQLTextCommands, WithoutASelectionTabAndBacktabAreLeftToTheEditor) {
    EXPECT_FALSE(indentLines(QStringLiteral("abc"), {{1, 0}}, false).has_value());
    EXPECT_FALSE(indentLines(QStringLiteral("abc"), {}, true).has_value());
}

TEST(SQLTextCommands, ReturnKeepsTheBlanksBeforeTheCaretOnItsLine) {
    const QString text = QStringLiteral("select\n\t  a,\nb");
    // Caret at the end of the indented line: the new line starts the same way.
    EXPECT_EQ(newlineKeepingIndentation(text, {12, 0}).text, QStringLiteral("\n\t  "));
    // Caret inside the indentation: only what is before it.
    EXPECT_EQ(newlineKeepingIndentation(text, {8, 0}).text, QStringLiteral("\n\t"));
    // At the very start of an indented line: a plain line break.
    EXPECT_EQ(newlineKeepingIndentation(text, {7, 0}).text, QStringLiteral("\n"));
    // A selection is replaced.
    EXPECT_EQ(applied(QStringLiteral("    ab cd"), {newlineKeepingIndentation(QStringLiteral("    ab cd"), {6, 1})}),
              QStringLiteral("    ab\n    cd"));
}

TEST(SQLTextCommands, ARunSendsTheSelectedPiecesJoinedElseTheWholeText) {
    const QString text = QStringLiteral("SELECT 1;\nSELECT 2;\nSELECT 3;");
    EXPECT_EQ(textToExecute(text, {{0, 9}, {20, 9}}), QStringLiteral("SELECT 1;SELECT 3;"));
    EXPECT_EQ(textToExecute(text, {{4, 0}}), text);
    EXPECT_EQ(textToExecute(QString(), {}), QString());
}

// --- the widget -------------------------------------------------------------------------

TEST(QueryTextView, TabOverASelectionIsOneUndoableStepAndTabAloneInsertsATab) {
    QueryTextView view;
    view.setPlainText(QStringLiteral("one\ntwo\nthree"));
    select(view, 1, 5);
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_EQ(view.text(), QStringLiteral("\tone\n\ttwo\nthree"));
    EXPECT_EQ(view.textCursor().selectedText(), QStringLiteral("\tone\u2029\ttwo\u2029"));
    QTest::keyClick(&view, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(view.text(), QStringLiteral("one\ntwo\nthree"));
    view.undo();
    EXPECT_EQ(view.text(), QStringLiteral("\tone\n\ttwo\nthree"));
    view.undo();
    EXPECT_EQ(view.text(), QStringLiteral("one\ntwo\nthree"));

    select(view, 2, 2);
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_EQ(view.text(), QStringLiteral("on\te\ntwo\nthree"));
}

TEST(QueryTextView, ReturnIndentsLikeTheLineAndAReadOnlyViewBeepsAndKeepsItsText) {
    QueryTextView view;
    view.setPlainText(QStringLiteral("    select"));
    select(view, 10, 10);
    QTest::keyClick(&view, Qt::Key_Return);
    QTest::keyClicks(&view, QStringLiteral("a"));
    EXPECT_EQ(view.text(), QStringLiteral("    select\n    a"));

    int beeps = 0;
    setBeepHook([&] { ++beeps; });
    view.setReadOnly(true);
    select(view, 0, 5);
    QTest::keyClick(&view, Qt::Key_Tab);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_FALSE(view.replaceText(QStringLiteral("gone")));
    setBeepHook(nullptr);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(view.text(), QStringLiteral("    select\n    a"));
}

TEST(QueryTextView, TheTextIsWhatWasTypedAndReplacingItCanBeUndone) {
    QueryTextView view;
    // A no-break space inside a literal is part of the statement.
    view.setPlainText(QStringLiteral("select 'a\u00a0b'"));
    EXPECT_EQ(view.text(), QStringLiteral("select 'a\u00a0b'"));
    ASSERT_TRUE(view.replaceText(QStringLiteral("select 2")));
    EXPECT_EQ(view.text(), QStringLiteral("select 2"));
    view.undo();
    EXPECT_EQ(view.text(), QStringLiteral("select 'a\u00a0b'"));
    select(view, 7, 10);
    EXPECT_EQ(view.textToExecute(), QStringLiteral("'a\u00a0"));
}

TEST(QueryTextView, TheContextMenuOffersCutCopyAndPasteOnly) {
    QueryTextView view;
    view.setPlainText(QStringLiteral("select 1"));
    std::unique_ptr<QMenu> menu(view.trimmedContextMenu());
    QStringList names;
    for (QAction *action : menu->actions())
        names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
    EXPECT_EQ(names, QStringList({"edit-cut", "edit-copy", "edit-paste"}));
}
