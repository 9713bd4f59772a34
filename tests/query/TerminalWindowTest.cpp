// The terminal page in a main window, tried as a new user would on the demo
// data: nothing in the interface leads to a terminal item yet, so the window is
// sent to one; from there everything goes by keys and clicks: typing and
// running, sorting by a header, opening a row and coming back, a COPY to a
// chosen file, a reload that keeps the transcript, and the Export command.
#include "TerminalTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTRowViewController.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTRow.h"
#include "query/QueryPages.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/WindowTestSupport.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

using namespace terminaltest;
using namespace std::chrono_literals;

namespace {
// The demo's script beside this file; __FILE__ is relative to the build folder
// when the compiler cache rewrites paths, so failing that, up from the program.
QString demoScript() {
    const QString beside =
        QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../resources/demo/demo.sql"));
    if (QFileInfo(beside).isAbsolute() && QFileInfo::exists(beside))
        return beside;
    for (QDir dir(QCoreApplication::applicationDirPath()); !dir.isRoot(); dir.cdUp()) {
        if (dir.exists(QStringLiteral("resources/demo/demo.sql")))
            return dir.filePath(QStringLiteral("resources/demo/demo.sql"));
    }
    return beside;
}

class TerminalWindow : public TerminalPageFixture {
protected:
    void SetUp() override {
        TerminalPageFixture::SetUp();
        QProcess psql;
        psql.start("psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", requiredEnv("TRELLAN_PG_HOST"), "-p",
                            requiredEnv("TRELLAN_PG_PORT"), "-U", requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d",
                            database->name, "-f", demoScript()});
        ASSERT_TRUE(psql.waitForFinished(60000));
        ASSERT_EQ(psql.exitCode(), 0) << psql.readAllStandardError().toStdString();
        delete window; // the page of this test lives in the main window
        window = nullptr;
        windowtest::resetWindowDefaults();
        QueryPages::install();
        BrowserPages::install(); // a row opens on the row page
        mainWindow = ZNTWindowController::create(server->mainDatabase());
        mainWindow->resize(1100, 760);
        uikittest::activate(mainWindow.get());
        ASSERT_TRUE(pumpUntil([&] { return mainWindow->isActiveWindow(); }));
        mainWindow->navigateToItem(terminal);
        page = qobject_cast<ZNTTerminalViewController *>(mainWindow->mainViewController());
        ASSERT_TRUE(page);
    }
    void TearDown() override {
        ZNTContentControllers::setFactory(ZNTPage::Terminal, nullptr);
        ZNTContentControllers::setFactory(ZNTPage::Query, nullptr);
        ZNTContentControllers::setFactory(ZNTPage::Row, nullptr);
        if (mainWindow) // not when SetUp stopped early
            mainWindow->close();
        mainWindow.reset();
        pumpFor(30ms);
        TerminalPageFixture::TearDown();
    }
    void typeAndRun(const QString &sql) {
        editor()->setFocus();
        editor()->selectAll();
        QTest::keyClicks(editor(), sql);
        QTest::keyClick(editor(), Qt::Key_Return, Qt::ControlModifier);
    }
    void windowShot(const QString &file) {
        pumpFor(60ms);
        windowtest::saveShot(mainWindow.get(), file);
        windowtest::saveDarkShot(mainWindow.get(), QString(file).replace(".png", "-dark.png"));
    }

    std::shared_ptr<ZNTWindowController> mainWindow;
};
} // namespace

TEST_F(TerminalWindow, ANewUserRunsSortsOpensARowCopiesATableOutAndKeepsTheTranscriptOverAReload) {
    windowtest::BeepCounter beeps;
    EXPECT_TRUE(pumpUntil([&] { return editor()->hasFocus(); }));
    typeAndRun("SELECT id, name, country FROM shop.customers ORDER BY id");
    ASSERT_TRUE(waitIdle());
    const auto query = page->queries().front();
    EXPECT_EQ(editor()->toPlainText(), query->string); // Return ran it, no line break typed
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    const int rows = grid->model()->rowCount();
    EXPECT_EQ(QString::number(rows), database->run("SELECT count(*) FROM shop.customers"));
    windowShot("terminal-window.png");

    // A click on the "name" header sorts by it.
    ZNTTableHeaderCell *header = grid->headerView();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 20, header->height() / 2));
    ASSERT_TRUE(pumpUntil([&] { return !page->isSorting(); }));
    EXPECT_EQ(header->sortMode(1), ZNTSortModeAscending);
    const QString secondName =
        database->run("SELECT name FROM shop.customers ORDER BY name COLLATE \"C\" LIMIT 1 OFFSET 1");

    // A double click opens the second row shown on a page of its own; back returns to the transcript.
    ZNTTerminalTableView *table = grid->tableView();
    const QRect second = table->visualRect(grid->model()->index(1, 1));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, second.center());
    auto row = std::dynamic_pointer_cast<ZNTRow>(mainWindow->currentItem());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->name(), "Row 2");
    EXPECT_EQ(row->values()[1].toString(), secondName);
    auto *rowPage = qobject_cast<ZNTRowViewController *>(mainWindow->mainViewController());
    ASSERT_TRUE(rowPage);
    EXPECT_FALSE(rowPage->isEditable()); // a result's row has no table to store it in
    windowShot("terminal-opened-row.png");
    QTest::keyClick(mainWindow.get(), Qt::Key_Left, Qt::AltModifier);
    ASSERT_EQ(mainWindow->mainViewController(), page);

    // A table copied out to a file the user names; psql writes the same.
    const QString path = files.filePath("customers.csv");
    typeAndRun("COPY shop.customers TO STDOUT WITH (FORMAT csv, HEADER)");
    ASSERT_TRUE(pumpUntil([&] { return page->copyPanel() && QApplication::activeModalWidget() == page->copyPanel(); }));
    windowShot("terminal-copy-dialog.png");
    windowtest::saveShot(page->copyPanel(), "terminal-copy-panel.png");
    auto *name = page->copyPanel()->findChild<QLineEdit *>("fileNameEdit");
    ASSERT_TRUE(name);
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, path);
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(resultsShown(page->queries()[1]), QStringList({"COPY " + QString::number(rows)}));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray csv = written.readAll();
    EXPECT_TRUE(csv.startsWith("id,email,name,country,created_at,newsletter,notes\n"));
    EXPECT_EQ(csv.count('\n'), rows + 1);

    // A reload keeps the page and its transcript, also when another page is shown.
    mainWindow->navigateToItem(std::shared_ptr<ZNTObject>(server->mainDatabase()->queryObject()));
    QTest::keyClick(mainWindow.get(), Qt::Key_F5);
    windowtest::flushDeferredDeletes();
    mainWindow->navigateToItem(terminal);
    ASSERT_EQ(mainWindow->mainViewController(), page);
    EXPECT_EQ(page->queries().size(), 3u);
    EXPECT_EQ(beeps.count, 0);
    mainWindow->windowAction(ZNTWindowCommand::Export)->trigger();
    EXPECT_EQ(beeps.count, 1); // a transcript has nothing to export
    windowShot("terminal-after-reload.png");
}

TEST_F(TerminalWindow, EditMenuCopyTakesTheGridRowsOrTheSelectedText) {
    typeAndRun("SELECT 'one' AS word UNION ALL SELECT 'two'");
    ASSERT_TRUE(waitIdle());
    auto *grid = firstGrid(page->queries().front());
    ASSERT_TRUE(grid);
    QTest::mouseClick(grid->tableView()->viewport(), Qt::LeftButton, {},
                      grid->tableView()->visualRect(grid->model()->index(1, 0)).center());
    QTest::keyClick(grid->tableView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "two");
    editor()->setFocus();
    editor()->selectAll();
    QTest::keyClick(editor(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "SELECT 'one' AS word UNION ALL SELECT 'two'");
}

// The same keys in every row: they act on the row that has the focus.
TEST_F(TerminalWindow, KeysActOnTheRowThatHasTheFocus) {
    typeAndRun("SELECT 'first' AS w");
    ASSERT_TRUE(waitIdle());
    typeAndRun("SELECT 'second' AS w");
    ASSERT_TRUE(waitIdle());
    const auto first = page->queries()[0];
    const auto second = page->queries()[1];
    const auto firstRun = first->query;
    const auto secondRun = second->query;
    ZNTTextView *text = page->cellForQuery(first.get())->textView();
    text->setFocus();
    ASSERT_TRUE(text->hasFocus());
    QTest::keyClick(text, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(page->queries().size(), 3u); // run again in its place, no new query
    EXPECT_NE(first->query, firstRun);
    EXPECT_EQ(second->query, secondRun);
    EXPECT_EQ(gridRows(firstGrid(first)), QStringList({"first"}));
    // Tab goes down the transcript: from the first row's buttons to the second's.
    auto *cell = page->cellForQuery(first.get());
    cell->actionButton()->setFocus();
    QTest::keyClick(cell->actionButton(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), firstGrid(first)->tableView());
    QTest::keyClick(firstGrid(first)->tableView(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page->cellForQuery(second.get())->executeButton());
}

// Undo and Redo typed in the query being written act on its text, not on the
// window's edits.
TEST_F(TerminalWindow, UndoKeysActOnTheQueryBeingWritten) {
    editor()->setFocus();
    QTest::keyClicks(editor(), "SELECT 1");
    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE(editor()->toPlainText(), "SELECT 1");
    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(editor()->toPlainText(), "SELECT 1");

    // Edit › Undo and Redo act on it too, and follow what it can undo.
    QAction *undo = mainWindow->windowAction(ZNTWindowCommand::Undo);
    QAction *redo = mainWindow->windowAction(ZNTWindowCommand::Redo);
    ASSERT_TRUE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
    undo->trigger();
    EXPECT_NE(editor()->toPlainText(), "SELECT 1");
    ASSERT_TRUE(redo->isEnabled());
    redo->trigger();
    EXPECT_EQ(editor()->toPlainText(), "SELECT 1");
}
