// Shared by the query editor's tests: a favorite in a store of its own, a
// scratch database on the test server, the editor page of its "SQL Query"
// item in a window, runs that are waited for, and screenshots.
#pragma once

#include "browser/ZNTTableGridView.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "model/CatalogTestSupport.h"
#include "model/ZNTQueryObject.h"
#include "query/QueryResultModel.h"
#include "query/QueryTextView.h"
#include "query/QueryViewController.h"
#include "support/Screenshots.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/UikitTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace querytest {

// Counts beeps while it lives.
class BeepCounter {
public:
    BeepCounter() {
        setBeepHook([this] { ++count; });
    }
    ~BeepCounter() { setBeepHook(nullptr); }
    int count = 0;
};

// A page of the editor in a window of its own, as the main window places it:
// the page's view above its accessory bar.
class QueryPageFixture : public ::testing::Test {
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
        queryObject = server->mainDatabase()->queryObject();
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
        window->resize(900, 620);
        page = QueryViewController::viewControllerForItem(queryObject);
        page->setParent(window);
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(page->view(), 1);
        layout->addWidget(page->accessoryView());
        window->show();
    }

    // Puts sql in the editor, runs it and waits for the end.
    void run(const QString &sql) {
        page->textView()->setPlainText(sql);
        runShown();
    }
    void runShown() {
        page->executeQuery();
        ASSERT_TRUE(pumpUntil([&] { return !page->isRunning(); }, std::chrono::seconds(60)));
    }

    QStringList selectorTitles() const {
        QStringList titles;
        QComboBox *selector = page->queryResultSelectorPopUpButton();
        for (int i = 0; i < selector->count(); ++i)
            titles << (selector->itemText(i).isEmpty() ? QStringLiteral("-") : selector->itemText(i));
        return titles;
    }
    QList<int> selectorTags() const {
        QList<int> tags;
        QComboBox *selector = page->queryResultSelectorPopUpButton();
        for (int i = 0; i < selector->count(); ++i)
            if (!selector->itemText(i).isEmpty())
                tags << selector->itemData(i).toInt();
        return tags;
    }
    QString statusText() const { return page->resultStatusTextView()->toPlainText(); }
    // The grid's rows as shown, cells joined by "|".
    QStringList gridRows() const {
        QStringList rows;
        QueryResultModel *model = page->resultModel();
        for (int r = 0; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            rows << cells.join(u'|');
        }
        return rows;
    }
    void selectRows(const QList<int> &rows) {
        QItemSelection selection;
        for (int row : rows)
            selection.select(page->resultModel()->index(row, 0),
                             page->resultModel()->index(row, page->resultModel()->columnCount() - 1));
        page->tableView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    void sortBy(int column) {
        page->tableViewDidClickTableColumn(column);
        ASSERT_TRUE(pumpUntil([&] { return !page->isSorting(); }));
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
    std::shared_ptr<ZNTFavoritesStore> store;
    std::shared_ptr<ZNTFavorite> favorite;
    std::unique_ptr<ScratchDatabase> database;
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTQueryObject> queryObject;
    QWidget *window = nullptr;
    QueryViewController *page = nullptr;
};

} // namespace querytest
