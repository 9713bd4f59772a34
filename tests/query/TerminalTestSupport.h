// Shared by the terminal page's tests: a favorite in a store of its own, a
// scratch database on the test server, the page of its terminal item in a
// window, runs that are waited for, and screenshots.
#pragma once

#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "model/CatalogTestSupport.h"
#include "model/ZNTTerminal.h"
#include "query/TerminalTextEditing.h"
#include "query/ZNTTerminalCells.h"
#include "query/ZNTTerminalOutlineView.h"
#include "query/ZNTTerminalQueryTabularResult.h"
#include "query/ZNTTerminalViewController.h"
#include "support/Screenshots.h"
#include "uikit/Beep.h"
#include "uikit/UikitTestSupport.h"
#include "uikit/ZNTGridModel.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace terminaltest {

class BeepCounter {
public:
    BeepCounter() {
        setBeepHook([this] { ++count; });
    }
    ~BeepCounter() { setBeepHook(nullptr); }
    int count = 0;
};

// The page of a terminal item in a window of its own, as the main window places it.
class TerminalPageFixture : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        store = ZNTFavoritesStore::create(storeDir.filePath("Trellan/ConnectionFavorites.db"));
        ErrorPtr error;
        ASSERT_TRUE(store->open(&error));
        favorite = store->insertFavorite();
        ASSERT_TRUE(store->save(&error));
        database = std::make_unique<ScratchDatabase>();
        server = connectedServer(database->name);
        server->setFavorite(favorite);
        terminal = std::make_shared<ZNTTerminal>(server->mainDatabase());
        makePage();
    }

    void TearDown() override {
        delete window;
        window = nullptr;
        pumpFor(std::chrono::milliseconds(20)); // deferred deletes, late notifications
    }

    void makePage() {
        delete window;
        window = new QWidget;
        window->resize(900, 700);
        page = ZNTTerminalViewController::viewControllerForItem(terminal);
        page->setParent(window);
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(page->view(), 1);
        window->show();
        pumpFor(std::chrono::milliseconds(20));
    }

    ZNTTextView *editor() const { return page->queryView()->textView(); }
    void type(const QString &sql) {
        editor()->setPlainText(sql);
        editor()->moveCursor(QTextCursor::End);
    }
    // Starts sql as a new query of the transcript; the new query, or null.
    std::shared_ptr<ZNTTerminalQuery> start(const QString &sql) {
        type(sql);
        const size_t before = page->queries().size();
        page->executeQuery(page->queryView());
        return page->queries().size() > before ? page->queries()[page->queries().size() - 2] : nullptr;
    }
    bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        return pumpUntil([&] { return page->numRunningQueries() == 0; }, timeout);
    }
    // Runs sql as a new query to its end. A query that does not start or does
    // not end is fatal: call it inside ASSERT_NO_FATAL_FAILURE.
    std::shared_ptr<ZNTTerminalQuery> run(const QString &sql) {
        auto query = start(sql);
        [&] {
            ASSERT_TRUE(query);
            ASSERT_TRUE(waitIdle());
        }();
        return query;
    }

    // What the transcript shows under query: each result as its message, or
    // as "grid:<rows>" for a grid.
    QStringList resultsShown(const std::shared_ptr<ZNTTerminalQuery> &query) const {
        QStringList shown;
        ZNTTerminalOutlineView *outline = page->terminalOutlineView();
        for (int row = outline->rowForKey(query.get()) + 1; row < outline->rowCount(); ++row) {
            QWidget *view = outline->viewAtRow(row);
            if (auto *grid = qobject_cast<ZNTTerminalQueryTabularResult *>(view))
                shown << QStringLiteral("grid:%1").arg(grid->model()->rowCount());
            else if (auto *message = qobject_cast<ZNTIconAndTextViewCell *>(view))
                shown << message->textView()->toPlainText();
            else
                break;
        }
        return shown;
    }
    ZNTTerminalQueryTabularResult *firstGrid(const std::shared_ptr<ZNTTerminalQuery> &query) const {
        for (qsizetype i = 0; i < query->resultCount(); ++i)
            if (auto *grid = page->gridForResult(query->cachedResultAtIndex(i).get()))
                return grid;
        return nullptr;
    }
    // The grid's rows as shown, cells joined by "|".
    static QStringList gridRows(ZNTTerminalQueryTabularResult *grid) {
        QStringList rows;
        ZNTGridModel *model = grid->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            rows << cells.join(u'|');
        }
        return rows;
    }

    // Answers the COPY dialog the page shows (waiting for it): with path, or Cancel for an empty one.
    void answerCopyPanel(const QString &path) {
        ASSERT_TRUE(pumpUntil([&] { return page->copyPanel() != nullptr && page->copyPanel()->isVisible(); }));
        QFileDialog *panel = page->copyPanel();
        if (path.isEmpty()) {
            panel->reject();
            return;
        }
        // Replacing a file is what the test means: no question about it.
        panel->setOption(QFileDialog::DontConfirmOverwrite);
        // Typed into the name field, as a user does (selectFile leaves a
        // field that has the focus alone).
        auto *name = panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        name->setText(path);
        QMetaObject::invokeMethod(panel, "accept");
    }

    void shot(const QString &file, bool dark = false) {
        const QPalette before = QApplication::palette();
        if (dark)
            QApplication::setPalette(darkPalette());
        pumpFor(std::chrono::milliseconds(40));
        EXPECT_TRUE(saveScreenshot(window, QStringLiteral("query"), file));
        if (dark)
            QApplication::setPalette(before);
    }

    QTemporaryDir storeDir;
    QTemporaryDir files;
    std::shared_ptr<ZNTFavoritesStore> store;
    std::shared_ptr<ZNTFavorite> favorite;
    std::unique_ptr<ScratchDatabase> database;
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTTerminal> terminal;
    QWidget *window = nullptr;
    ZNTTerminalViewController *page = nullptr;
};

} // namespace terminaltest
