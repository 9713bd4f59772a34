// Shared by the table page tests: a scratch database on the test server, a
// server object with a saved favorite (so that the page keeps its layout), the
// page shown in a window of its own with its bars, waiting for it to load,
// answering its sheets, and screenshots.
#pragma once

#include "TestSupport.h"
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTPrefContainer.h"
#include "model/CatalogTestSupport.h"
#include "platform/SecretStore.h"
#include "platform/UserDefaults.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/UikitTestSupport.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/ZNTWindowController.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace pagetest {

using namespace std::chrono_literals;

inline Value text(const char *s) {
    return Value::fromString(QString::fromUtf8(s));
}

class TablePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        for (const char *key : {"TableViewRowsPerPage", "DontCountRows"})
            UserDefaults::standard().removeObject(QString::fromUtf8(key));
        setBeepHook([this] { ++beeps; });
        store = ZNTFavoritesStore::create(dir.filePath("Trellan/ConnectionFavorites.db"));
        ErrorPtr error;
        ASSERT_TRUE(store->open(&error));
        favorite = store->insertFavorite();
        ASSERT_TRUE(store->save(&error));
    }
    void TearDown() override {
        setBeepHook(nullptr);
        while (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        if (window) {
            window->close();
            window.reset();
            pumpFor(20ms);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (pageInWindow)
            page = nullptr; // the window's, gone with it
        delete host;
        delete page;
        pumpFor(20ms);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (server)
            server->mainConnection()->cancel();
        for (const char *key : {"TableViewRowsPerPage", "DontCountRows"})
            UserDefaults::standard().removeObject(QString::fromUtf8(key));
    }

    // The server object of the scratch database, with the favorite.
    void connect() {
        if (server)
            return;
        server = connectedServer(db.name);
        server->setFavorite(favorite);
    }

    std::shared_ptr<ZNTTable> table(const QString &name, const QString &schema = QStringLiteral("public")) {
        connect();
        return ZNTTable::create(name, schema, server->mainDatabase());
    }

    // A page on relation name, shown in a window with its bar, loaded. A page
    // that never ends loading is fatal: call it inside ASSERT_NO_FATAL_FAILURE.
    ZNTTableViewController *open(const QString &name, bool waitForLoad = true) {
        return open(table(name), waitForLoad);
    }
    ZNTTableViewController *open(const std::shared_ptr<ZNTTable> &relation, bool waitForLoad = true) {
        page = new ZNTTableViewController(relation);
        host = new QWidget;
        auto *layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(page->view(), 1);
        layout->addWidget(page->accessoryView());
        host->resize(760, 420);
        uikittest::activate(host);
        pumpUntil([&] { return host->isActiveWindow(); }, 5s);
        if (waitForLoad)
            [&] { ASSERT_TRUE(loaded()); }();
        return page;
    }

    // The same in a main window, as the user has it: the window owns the page,
    // and takes it off screen to show another. The pages must be installed
    // (BrowserPages::install).
    void openInWindow(const QString &name) {
        window = ZNTWindowController::create(table(name));
        window->resize(900, 500);
        uikittest::activate(window.get());
        pumpUntil([&] { return window->isActiveWindow(); }, 5s);
        page = qobject_cast<ZNTTableViewController *>(window->mainViewController());
        pageInWindow = true;
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(loaded());
    }
    // Another table's page takes the window; the first page goes off screen.
    void showOther(const QString &name) {
        window->navigateToItem(table(name));
        ASSERT_NE(window->mainViewController(), page);
        ASSERT_FALSE(page->view()->isVisible());
    }
    // Back to the page; what waited for it runs on the next turn.
    void showPageAgain() {
        window->goBack();
        ASSERT_EQ(window->mainViewController(), page);
        pumpFor(50ms);
    }

    bool loaded(std::chrono::milliseconds timeout = 30s) {
        return pumpUntil([&] { return !page->isLoading(); }, timeout);
    }

    ZNTTableContentModel *model() const { return page->contentModel(); }
    ZNTTableGridView *grid() const { return page->tableView(); }
    const ZNTTableEdits &edits() const { return page->contentModel()->edits(); }

    // The cells of a row as the grid shows them, in grid column order.
    QStringList shownRow(int row) const {
        QStringList cells;
        for (int c = 0; c < model()->columnCount(); ++c)
            cells << model()->index(row, c).data().toString();
        return cells;
    }
    QStringList shownColumn(const QString &name) const {
        QStringList cells;
        const int c = model()->displayColumnNamed(name);
        for (int r = 0; r < model()->rowCount(); ++r)
            cells << model()->index(r, c).data().toString();
        return cells;
    }

    // Types text into a cell and commits it, as the user does.
    void typeInto(int row, const QString &column, const QString &value) {
        const QModelIndex index = model()->index(row, model()->displayColumnNamed(column));
        grid()->setFocus();
        grid()->setCurrentIndex(index);
        grid()->edit(index);
        QWidget *editor = grid()->indexWidget(index);
        ASSERT_NE(editor, nullptr) << "no editor on row " << row << " " << column.toStdString();
        auto *line = qobject_cast<QLineEdit *>(editor);
        ASSERT_NE(line, nullptr);
        line->selectAll();
        QTest::keyClicks(line, value);
        QTest::keyClick(line, Qt::Key_Return);
        pumpFor(10ms);
    }

    // Adds a row, which becomes row, and types its cells.
    void addRow(int row, const QList<std::pair<QString, QString>> &cells) {
        page->newRow();
        grid()->abortEditing();
        for (const auto &[column, value] : cells)
            typeInto(row, column, value);
    }

    void selectRows(const QList<int> &rows) {
        grid()->clearSelection();
        for (int row : rows)
            grid()->selectionModel()->select(model()->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // The alert that is up now, once it is.
    Alert *sheet(std::chrono::milliseconds timeout = 5s) {
        pumpUntil([&] { return qobject_cast<Alert *>(QApplication::activeModalWidget()) != nullptr; }, timeout);
        auto *alert = qobject_cast<Alert *>(QApplication::activeModalWidget());
        if (alert) {
            uikittest::activate(alert);
            pumpUntil([&] { return alert->isActiveWindow(); }, 5s);
        }
        return alert;
    }
    void press(Alert *alert, const QString &title) {
        ASSERT_NE(alert, nullptr);
        for (QPushButton *button : alert->buttons()) {
            if (button->text() == title) {
                button->click();
                pumpFor(20ms);
                return;
            }
        }
        ADD_FAILURE() << "no button " << title.toStdString();
    }

    bool saved(std::chrono::milliseconds timeout = 30s) {
        return pumpUntil([&] { return !page->isBusy(); }, timeout);
    }

    std::shared_ptr<ZNTPrefContainer> container() const {
        return favorite->prefContainer(0, db.name, page->table()->schemaName(), page->table()->name(), false);
    }

    void screenshot(const QString &file) {
        pumpFor(30ms);
        EXPECT_TRUE(saveScreenshot(host, QStringLiteral("browser"), file));
    }
    void darkScreenshot(const QString &file) {
        const QPalette before = QApplication::palette();
        QApplication::setPalette(darkPalette());
        screenshot(file);
        QApplication::setPalette(before);
    }

    ScratchDatabase db;
    QTemporaryDir dir;
    std::shared_ptr<ZNTFavoritesStore> store;
    std::shared_ptr<ZNTFavorite> favorite;
    std::shared_ptr<ZNTServer> server;
    ZNTTableViewController *page = nullptr;
    QWidget *host = nullptr;
    std::shared_ptr<ZNTWindowController> window; // openInWindow's
    bool pageInWindow = false;
    int beeps = 0;
};

} // namespace pagetest
