// The query editor's SQL files (the save and load dialogs, what they propose,
// a file that is not UTF-8) and the favorite's history (previous, next, the
// buttons, and the list with its deletions).
#include "QueryTestSupport.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "query/QueryHistoryViewController.h"
#include "uikit/AlertSheet.h"
#include "uikit/ZNTPopover.h"

#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QTest>

using namespace querytest;
using namespace std::chrono_literals;

namespace {
class QueryFilesHistory : public QueryPageFixture {
protected:
    void SetUp() override {
        QueryPageFixture::SetUp();
        uikittest::activate(window);
    }

    // Opens the save or load dialog, chooses path in it and accepts; returns
    // the file the dialog proposed.
    QString chooseInPanel(bool save, const QString &path) {
        save ? page->saveQueryText() : page->loadQueryText();
        QFileDialog *panel = page->filePanel();
        EXPECT_TRUE(panel);
        if (!panel)
            return QString();
        EXPECT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == panel; }, 5s));
        EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
        const QString proposed =
            save ? QDir(panel->directory()).filePath(QFileInfo(panel->selectedFiles().value(0)).fileName())
                 : panel->directory().absolutePath();
        panel->selectFile(path);
        QMetaObject::invokeMethod(panel, "accept");
        pumpUntil([&] { return !page->filePanel(); }, 5s);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pumpFor(20ms);
        return proposed;
    }

    Alert *openAlert() {
        pumpUntil([] { return qobject_cast<Alert *>(QApplication::activeModalWidget()) != nullptr; }, 5s);
        return qobject_cast<Alert *>(QApplication::activeModalWidget());
    }

    QString text() const { return page->textView()->text(); }
    void type(const QString &text) {
        page->textView()->moveCursor(QTextCursor::End);
        QTest::keyClicks(page->textView(), text);
    }
    bool segment(int index) const { return page->historyPagerControl()->isSegmentEnabled(index); }

    QTemporaryDir files;
};
} // namespace

TEST_F(QueryFilesHistory, SavedTextLoadsBackAsOneUndoableChangeAndTheLoadedFileIsProposed) {
    page->textView()->setPlainText(QStringLiteral("select 'ä' as umlaut;\n"));
    const QString path = files.filePath("report.sql");
    const QString proposed = chooseInPanel(true, path);
    EXPECT_EQ(QFileInfo(proposed).fileName(), QStringLiteral("Untitled Query.sql"));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("select 'ä' as umlaut;\n"));
    EXPECT_TRUE(page->loadedFilePath().isEmpty()); // saving proposes no other file

    QFile other(files.filePath("other.sql"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("select 2;");
    other.close();
    page->textView()->setPlainText(QStringLiteral("typed"));
    chooseInPanel(false, other.fileName());
    EXPECT_EQ(text(), QStringLiteral("select 2;"));
    EXPECT_EQ(page->loadedFilePath(), other.fileName());
    page->textView()->undo();
    EXPECT_EQ(text(), QStringLiteral("typed"));
    EXPECT_EQ(chooseInPanel(true, files.filePath("again.sql")), other.fileName());
}

TEST_F(QueryFilesHistory, AFileThatIsNotUtf8ShowsTheErrorAndKeepsTheText) {
    const QString path = files.filePath("bad.sql");
    QFile bad(path);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("select '\xff\xfe'");
    bad.close();
    page->textView()->setPlainText(QStringLiteral("kept"));
    chooseInPanel(false, path);
    Alert *alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), QStringLiteral("The file “bad.sql” couldn’t be opened."));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("Its text is not UTF-8."));
    EXPECT_EQ(alert->parentWidget(), window);
    pumpFor(50ms);
    EXPECT_TRUE(saveScreenshot(alert, QStringLiteral("query"), QStringLiteral("not-utf8.png")));
    alert->reject();
    EXPECT_EQ(text(), QStringLiteral("kept"));
    EXPECT_TRUE(page->loadedFilePath().isEmpty());
}

TEST_F(QueryFilesHistory, PreviousShowsTheLastRunAndNextRestoresWhatWasTyped) {
    // Nothing recorded: nothing to step to.
    EXPECT_FALSE(segment(0));
    EXPECT_FALSE(segment(1));
    EXPECT_FALSE(segment(2));
    run(QStringLiteral("SELECT 'A'"));
    EXPECT_FALSE(segment(0)); // the only entry is what the editor shows
    EXPECT_TRUE(segment(1));
    type(QStringLiteral(" -- B"));
    EXPECT_TRUE(segment(0));
    page->previousQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT 'A'"));
    EXPECT_TRUE(segment(2));
    page->nextQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT 'A' -- B"));
    EXPECT_FALSE(segment(2));
    BeepCounter beeps;
    page->nextQueryFromHistory();
    EXPECT_EQ(beeps.count, 1);
}

TEST_F(QueryFilesHistory, RightAfterARunPreviousSkipsTheNewestAndTypingEndsBrowsing) {
    run(QStringLiteral("SELECT 1"));
    run(QStringLiteral("SELECT 2"));
    run(QStringLiteral("SELECT 3"));
    page->previousQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT 2"));
    page->previousQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT 1"));
    EXPECT_FALSE(segment(0));
    page->nextQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT 2"));
    // The newest entry is the text from before browsing: that text comes back
    // once, not twice.
    page->nextQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT 3"));
    EXPECT_FALSE(page->historyBrowser().isBrowsing());

    page->previousQueryFromHistory();
    type(QStringLiteral(" "));
    EXPECT_FALSE(page->historyBrowser().isBrowsing());
    EXPECT_FALSE(segment(2));
    // Running while browsing records the run and keeps browsing.
    page->previousQueryFromHistory();
    runShown();
    EXPECT_TRUE(page->historyBrowser().isBrowsing());
}

TEST_F(QueryFilesHistory, TheListShowsNewestFirstLoadsAChoiceAndDeletesForGood) {
    for (const char *sql : {"SELECT 'first'", "SELECT\n\t'second'", "SELECT 'third'"})
        run(QString::fromUtf8(sql));
    page->textView()->setPlainText(QStringLiteral("typed"));
    page->clickedHistoryControl(1);
    ZNTPopover *popover = page->historyPopover();
    ASSERT_TRUE(popover);
    ASSERT_TRUE(pumpUntil([&] { return popover->isVisible(); }));
    QueryHistoryViewController *list = page->historyPopoverViewController();
    QStringList shown;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        shown << list->model()->index(row).data().toString();
    EXPECT_EQ(shown, QStringList({"SELECT 'third'", "SELECT 'second'", "SELECT 'first'"}));
    EXPECT_TRUE(saveScreenshot(popover, QStringLiteral("query"), QStringLiteral("history.png")));
    const QPalette light = QApplication::palette();
    QApplication::setPalette(darkPalette());
    pumpFor(30ms);
    EXPECT_TRUE(saveScreenshot(popover, QStringLiteral("query"), QStringLiteral("history-dark.png")));
    QApplication::setPalette(light);

    // Choosing loads the entry; the list stays open for the next choice.
    list->tableView()->setCurrentIndex(list->model()->index(1));
    EXPECT_EQ(text(), QStringLiteral("SELECT\n\t'second'"));
    EXPECT_TRUE(popover->isVisible());
    list->tableView()->setCurrentIndex(list->model()->index(2));
    EXPECT_EQ(text(), QStringLiteral("SELECT 'first'"));
    page->nextQueryFromHistory();
    EXPECT_EQ(text(), QStringLiteral("SELECT\n\t'second'"));

    // The delete button of a row, clicked.
    const QRect button = list->deleteButtonRect(0);
    QTest::mouseClick(list->tableView()->viewport(), Qt::LeftButton, {}, button.center());
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(text(), QStringLiteral("SELECT\n\t'second'")); // deleting chooses nothing
    // The Delete key on the current row.
    list->tableView()->setFocus();
    list->tableView()->setCurrentIndex(list->model()->index(1));
    QTest::keyClick(list->tableView(), Qt::Key_Delete);
    EXPECT_EQ(list->model()->rowCount(), 1);
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(favorite->lastQueryHistoryElement()->text(), QStringLiteral("SELECT\n\t'second'"));
    EXPECT_EQ(favorite->lastQueryHistoryElement()->previousHistoryElement(), nullptr);
    QTest::keyClick(list->tableView(), Qt::Key_Escape);
    EXPECT_FALSE(popover->isVisible());
}
