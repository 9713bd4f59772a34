// The query editor in a main window: reached by the "SQL Query" command, its
// commands in the Edit menu, Undo and Redo acting on the text being typed,
// its keys, the Export command, and how the window looks with it.
#include "QueryTestSupport.h"
#include "browser/BrowserPages.h"
#include "query/QueryPages.h"
#include "window/WindowTestSupport.h"

#include <QMenuBar>
#include <QTest>

using namespace querytest;

namespace {
class QueryWindow : public QueryPageFixture {
protected:
    void SetUp() override {
        QueryPageFixture::SetUp();
        windowtest::resetWindowDefaults();
        QueryPages::install();
        mainWindow = ZNTWindowController::create(server->mainDatabase());
        mainWindow->resize(1000, 680);
        uikittest::activate(mainWindow.get());
        ASSERT_TRUE(pumpUntil([&] { return mainWindow->isActiveWindow(); }));
        mainWindow->windowAction(ZNTWindowCommand::GoToTerminal)->trigger();
        shown = qobject_cast<QueryViewController *>(mainWindow->mainViewController());
        ASSERT_TRUE(shown);
    }
    void TearDown() override {
        ZNTContentControllers::setFactory(ZNTPage::Query, nullptr);
        if (mainWindow)
            mainWindow->close();
        mainWindow.reset();
        pumpFor(std::chrono::milliseconds(30));
        QueryPageFixture::TearDown();
    }

    QAction *command(ZNTWindowCommand which) const { return mainWindow->windowAction(which); }
    QStringList editMenuTitles() const {
        QStringList titles;
        for (QMenu *menu : mainWindow->menuBar()->findChildren<QMenu *>(Qt::FindDirectChildrenOnly))
            if (menu->title() == QLatin1String("&Edit"))
                for (QAction *action : menu->actions())
                    if (action->isVisible() && !action->isSeparator())
                        titles << action->text();
        return titles;
    }
    void runInWindow() {
        ASSERT_TRUE(pumpUntil([&] { return !shown->isRunning(); }, std::chrono::seconds(60)));
    }

    std::shared_ptr<ZNTWindowController> mainWindow;
    QueryViewController *shown = nullptr;
};
} // namespace

TEST_F(QueryWindow, TheSqlQueryCommandShowsTheEditorWithItsCommandsAndKeys) {
    EXPECT_TRUE(editMenuTitles().contains(QStringLiteral("&Copy")));
    EXPECT_TRUE(editMenuTitles().contains(QStringLiteral("Copy &Special")));
    EXPECT_TRUE(shown->textView()->hasFocus());
    QTest::keyClicks(shown->textView(), QStringLiteral("SELECT 'typed' AS word"));
    EXPECT_EQ(shown->executeButton()->text(), QStringLiteral("Execute Query"));
    QTest::keyClick(shown->textView(), Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(shown->executeButton()->text(), QStringLiteral("Execute Selection"));
    QTest::keyClick(shown->textView(), Qt::Key_End);
    EXPECT_EQ(shown->executeButton()->text(), QStringLiteral("Execute Query"));
    QTest::keyClick(shown->textView(), Qt::Key_Return, Qt::ControlModifier);
    runInWindow();
    ASSERT_TRUE(shown->currentResult());
    EXPECT_EQ(shown->textView()->text(), QStringLiteral("SELECT 'typed' AS word")); // the key ran, typed nothing
    QTest::keyClicks(shown->textView(), QStringLiteral(" -- more"));
    QTest::keyClick(shown->textView(), Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(shown->textView()->text(), QStringLiteral("SELECT 'typed' AS word")); // the history's newest
    QTest::keyClick(shown->textView(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(shown->textView()->text(), QStringLiteral("SELECT 'typed' AS word -- more"));

    // Copy: the rows when the grid has the keys, the text when the editor has them.
    shown->tableView()->setFocus();
    shown->tableView()->selectRow(0);
    QTest::keyClick(shown->tableView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("typed"));
    shown->textView()->setFocus();
    shown->textView()->selectAll();
    mainWindow->validateActions();
    QAction *copy = nullptr;
    for (QAction *action : shown->editMenuActions())
        if (action && action->text() == QLatin1String("&Copy"))
            copy = action;
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("SELECT 'typed' AS word -- more"));
}

TEST_F(QueryWindow, ShiftTabWithoutASelectionLeavesTheEditor) {
    QTest::keyClicks(shown->textView(), QStringLiteral("select"));
    QTest::keyClick(shown->textView(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(shown->textView()->text(), QStringLiteral("select"));
    EXPECT_FALSE(shown->textView()->hasFocus());
}

TEST_F(QueryWindow, UndoAndRedoInTheEditMenuActOnTheTextBeingTyped) {
    QAction *undo = command(ZNTWindowCommand::Undo);
    QAction *redo = command(ZNTWindowCommand::Redo);
    EXPECT_FALSE(undo->isEnabled());
    QTest::keyClicks(shown->textView(), QStringLiteral("select 1"));
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->text(), QStringLiteral("&Undo"));
    undo->trigger();
    EXPECT_EQ(shown->textView()->text(), QString());
    EXPECT_TRUE(redo->isEnabled());
    redo->trigger();
    EXPECT_EQ(shown->textView()->text(), QStringLiteral("select 1"));
    // Focus elsewhere (the read-only status view): the window's own undo, which has nothing.
    shown->resultStatusTextView()->setFocus();
    ASSERT_TRUE(shown->resultStatusTextView()->hasFocus());
    EXPECT_FALSE(undo->isEnabled());
}

TEST_F(QueryWindow, TextResultsAndUndoOfAHiddenEditorOutliveAReloadButNotTheWindow) {
    shown->textView()->setPlainText(QStringLiteral("SELECT 'ran' AS word"));
    shown->executeQuery();
    runInWindow();
    QTest::keyClick(shown->textView(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(shown->textView(), QStringLiteral(" -- typed, never run"));
    const QString typed = shown->textView()->text();
    QPointer<QueryViewController> kept = shown;

    // A reload while another page is shown, twice.
    mainWindow->navigateToItem(server->mainDatabase());
    ASSERT_NE(mainWindow->mainViewController(), shown);
    for (int reload = 0; reload < 2; ++reload) {
        QTest::keyClick(mainWindow.get(), Qt::Key_F5);
        windowtest::flushDeferredDeletes();
    }
    ASSERT_FALSE(kept.isNull());
    mainWindow->windowAction(ZNTWindowCommand::GoToTerminal)->trigger();
    ASSERT_EQ(mainWindow->mainViewController(), kept);
    EXPECT_EQ(shown->textView()->text(), typed);
    ASSERT_EQ(shown->resultModel()->rowCount(), 1);
    EXPECT_EQ(shown->resultModel()->index(0, 0).data().toString(), QStringLiteral("ran"));
    mainWindow->validateActions();
    ASSERT_TRUE(command(ZNTWindowCommand::Undo)->isEnabled());
    command(ZNTWindowCommand::Undo)->trigger();
    EXPECT_NE(shown->textView()->text(), typed);

    // Closing the window drops the page with its text.
    mainWindow->close();
    mainWindow.reset();
    windowtest::flushDeferredDeletes();
    EXPECT_TRUE(kept.isNull());
}

// The Edit menu as it is open: opened with the mouse on the menu bar, or
// with Alt+E, which gives the menu bar the keyboard while the menu is shown.
TEST_F(QueryWindow, TheOpenEditMenuOffersUndoRedoAndCopyOfTheFocusedEditor) {
    QMenuBar *bar = mainWindow->menuBar();
    QAction *editTitle = nullptr;
    for (QAction *action : bar->actions())
        if (action->text() == QLatin1String("&Edit"))
            editTitle = action;
    ASSERT_TRUE(editTitle && editTitle->menu());
    QMenu *edit = editTitle->menu();
    QAction *copy = nullptr;
    for (QAction *action : edit->actions())
        if (action->text() == QLatin1String("&Copy"))
            copy = action;
    ASSERT_TRUE(copy);
    QAction *undo = command(ZNTWindowCommand::Undo);
    QAction *redo = command(ZNTWindowCommand::Redo);

    // Opens the menu as given, answers which of Undo, Redo and Copy it
    // offers, and closes it again.
    auto offered = [&](bool withMouse) {
        if (withMouse)
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(editTitle).center());
        else
            QTest::keyClick(shown->textView(), Qt::Key_E, Qt::AltModifier);
        EXPECT_TRUE(pumpUntil([&] { return edit->isVisible(); }, std::chrono::seconds(5)));
        pumpFor(std::chrono::milliseconds(30));
        const QString answer = QStringLiteral("%1%2%3")
                                   .arg(undo->isEnabled() ? "undo " : "", redo->isEnabled() ? "redo " : "",
                                        copy->isEnabled() ? "copy" : "")
                                   .trimmed();
        edit->hide();
        pumpFor(std::chrono::milliseconds(30));
        if (QApplication::focusWidget() != shown->textView())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // the menu bar lets go
        EXPECT_TRUE(pumpUntil([&] { return shown->textView()->hasFocus(); }, std::chrono::seconds(5)));
        return answer;
    };

    ASSERT_TRUE(shown->textView()->hasFocus());
    QTest::keyClicks(shown->textView(), QStringLiteral("select 1"));
    QTest::keyClick(shown->textView(), Qt::Key_Home, Qt::ShiftModifier);
    ASSERT_TRUE(shown->textView()->textCursor().hasSelection());
    EXPECT_EQ(offered(true), "undo copy") << "opened with the mouse";
    EXPECT_EQ(offered(false), "undo copy") << "opened with Alt+E";
    QTest::keyClick(shown->textView(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(offered(true), "redo");
    EXPECT_EQ(offered(false), "redo");
}

TEST_F(QueryWindow, ExportStaysEnabledAndBeepsWithoutAResult) {
    mainWindow->validateActions();
    EXPECT_TRUE(command(ZNTWindowCommand::Export)->isEnabled());
    BeepCounter beeps;
    command(ZNTWindowCommand::Export)->trigger();
    EXPECT_EQ(beeps.count, 1);
}

TEST_F(QueryWindow, HowTheWindowLooks) {
    shown->textView()->setPlainText(
        QStringLiteral("SELECT g AS id, 'Row ' || g AS label, g * 1.5 AS amount\nFROM generate_series(1, 30) g;"));
    shown->executeQuery();
    runInWindow();
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(saveScreenshot(mainWindow.get(), QStringLiteral("query"), QStringLiteral("window.png")));
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(saveScreenshot(mainWindow.get(), QStringLiteral("query"), QStringLiteral("window-dark.png")));
    QApplication::setPalette(before);
}
