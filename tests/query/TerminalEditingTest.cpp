// The terminal's editable query: the key commands, the page's one undo
// history, stepping through the favorite's history, SQL files, and keeping
// the text being typed in sight.
#include "TerminalTestSupport.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "platform/Log.h"
#include "uikit/BarButtons.h"

#include <QFileInfo>
#include <QTest>

using namespace terminaltest;
using namespace std::chrono_literals;

namespace {
class TerminalEditing : public TerminalPageFixture {
protected:
    QString text() const { return TerminalTextEditing::text(editor()); }
    void select(int from, int to) {
        QTextCursor cursor = editor()->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        editor()->setTextCursor(cursor);
    }
    bool segment(int index) const { return page->queryView()->historyPagerControl()->isSegmentEnabled(index); }

    // Opens the save dialog of the row of sender (or the load dialog without
    // one), chooses path and accepts; returns the file the dialog proposed.
    QString chooseInPanel(QObject *saveSender, const QString &path) {
        saveSender ? page->saveQueryText(saveSender) : page->loadQueryText();
        QFileDialog *panel = page->filePanel();
        EXPECT_TRUE(panel);
        if (!panel)
            return QString();
        EXPECT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == panel; }, 5s));
        const QString proposed =
            saveSender ? QDir(panel->directory()).filePath(QFileInfo(panel->selectedFiles().value(0)).fileName())
                       : panel->directory().absolutePath();
        panel->selectFile(path);
        QMetaObject::invokeMethod(panel, "accept");
        pumpUntil([&] { return !page->filePanel(); }, 5s);
        pumpFor(20ms);
        return proposed;
    }
};
} // namespace

TEST_F(TerminalEditing, ReturnKeepsTheIndentationAndTabIndentsTheSelectedLines) {
    editor()->setFocus();
    type("\t  x");
    QTest::keyClick(editor(), Qt::Key_Return);
    EXPECT_EQ(text(), "\t  x\n\t  ");
    QTest::keyClicks(editor(), "y");
    EXPECT_EQ(text(), "\t  x\n\t  y");
    editor()->undo();
    editor()->undo(); // the line break with its indentation is one step
    EXPECT_EQ(text(), "\t  x");

    type("one\ntwo\nthree");
    select(1, 5); // from inside the first line into the second
    QTest::keyClick(editor(), Qt::Key_Tab);
    EXPECT_EQ(text(), "\tone\n\ttwo\nthree");
    EXPECT_EQ(editor()->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n'), "\tone\n\ttwo\n");
    QTest::keyClick(editor(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(text(), "one\ntwo\nthree");
    type("      six");
    select(0, 9);
    QTest::keyClick(editor(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(text(), "  six");
    // Without a selection Tab is a tab.
    editor()->moveCursor(QTextCursor::End);
    QTest::keyClick(editor(), Qt::Key_Tab);
    EXPECT_EQ(text(), "  six\t");
}

TEST_F(TerminalEditing, StepsBackTwiceAndForwardTwiceBringBackTheTypedTextAndAThirdStepBeeps) {
    BeepCounter beeps;
    EXPECT_FALSE(segment(0));
    EXPECT_FALSE(segment(1));
    ASSERT_NO_FATAL_FAILURE(run("SELECT 1"));
    ASSERT_NO_FATAL_FAILURE(run("SELECT 2"));
    type("typed");
    EXPECT_TRUE(segment(0));
    EXPECT_FALSE(segment(1));
    page->previousQueryFromHistory();
    EXPECT_EQ(text(), "SELECT 2"); // the newest entry, even when the editor shows it
    page->previousQueryFromHistory();
    EXPECT_EQ(text(), "SELECT 1");
    EXPECT_FALSE(segment(0)); // the oldest
    EXPECT_TRUE(segment(1));
    page->nextQueryFromHistory();
    EXPECT_EQ(text(), "SELECT 2");
    page->nextQueryFromHistory();
    EXPECT_EQ(text(), "typed");
    EXPECT_FALSE(segment(1));
    EXPECT_EQ(beeps.count, 0);
    page->nextQueryFromHistory();
    EXPECT_EQ(beeps.count, 1);
    EXPECT_EQ(text(), "typed");

    // Typing after a step forgets the entry and the text from before.
    page->previousQueryFromHistory();
    editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor(), " -- more");
    EXPECT_FALSE(page->history().currentElement());
    EXPECT_FALSE(page->history().typedTextBuffer());
    page->nextQueryFromHistory();
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(text(), "SELECT 2 -- more");
}

TEST_F(TerminalEditing, AnotherTextViewTakingTheUndoHistoryFindsItEmptyAndItIsLoggedOnce) {
    editor()->setFocus();
    QTest::keyClicks(editor(), "select 1");
    ASSERT_TRUE(editor()->document()->isUndoAvailable());
    LogCapture log;
    page->undoManagerForTextView(editor()); // the same view: its history stays
    EXPECT_TRUE(editor()->document()->isUndoAvailable());
    QTextEdit other;
    other.setPlainText("x");
    other.textCursor().insertText("y");
    page->undoManagerForTextView(&other);
    EXPECT_FALSE(editor()->document()->isUndoAvailable());
    EXPECT_FALSE(other.document()->isUndoAvailable());
    EXPECT_EQ(log.lines().count(QStringLiteral("Removing all undo actions…")), 1);
}

TEST_F(TerminalEditing, AnyQuerysTextIsSavedAndAFileLoadsIntoTheQueryBeingWritten) {
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT 'ä' AS umlaut;"));
    const QString path = files.filePath("report.sql");
    auto *cell = page->cellForQuery(query.get());
    ASSERT_TRUE(cell);
    const QString proposed = chooseInPanel(cell->saveAction(), path);
    EXPECT_EQ(QFileInfo(proposed).fileName(), "Untitled Query.sql");
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("SELECT 'ä' AS umlaut;"));

    QFile other(files.filePath("other.sql"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("select 2;");
    other.close();
    type("typed");
    chooseInPanel(nullptr, other.fileName());
    EXPECT_EQ(text(), "select 2;");
    EXPECT_EQ(page->editableQuery()->loadPath, other.fileName());
    editor()->undo();
    EXPECT_EQ(text(), "typed");
    // The query being written proposes the file it came from; a query run from it too.
    EXPECT_EQ(chooseInPanel(page->queryView(), files.filePath("again.sql")), other.fileName());
    std::shared_ptr<ZNTTerminalQuery> fromFile;
    ASSERT_NO_FATAL_FAILURE(fromFile = run("select 3;"));
    EXPECT_EQ(fromFile->loadPath, other.fileName());
}

TEST_F(TerminalEditing, TheLineBeingTypedStaysInSightAsTheQueryGrows) {
    window->resize(700, 360);
    pumpFor(30ms);
    editor()->setFocus();
    for (int line = 0; line < 40; ++line) {
        QTest::keyClicks(editor(), QStringLiteral("SELECT %1").arg(line));
        QTest::keyClick(editor(), Qt::Key_Return);
    }
    pumpFor(150ms);
    ZNTTerminalOutlineView *outline = page->terminalOutlineView();
    const QRect caret = editor()->cursorRect();
    const QPoint inViewport = editor()->viewport()->mapTo(outline->viewport(), caret.topLeft());
    EXPECT_GE(inViewport.y(), 0);
    EXPECT_LE(inViewport.y() + caret.height(), outline->viewport()->height());
    EXPECT_GT(outline->visibleTop(), 0);
    shot("terminal-long-query.png");
}
