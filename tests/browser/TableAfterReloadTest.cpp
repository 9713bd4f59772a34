// Two windows of one server: a reload in one purges the server's table
// structures while a table page in the other holds pending edits. That page
// keeps working by the structure its rows were read with: its SQL preview, a
// further edit while the preview panel is up, its save, its row editor and
// Duplicate Row. Read back with psql, an independent session.
#include "TablePageTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTFilterController.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/SQLPreview.h"
#include "uikit/SQLPreviewTextField.h"
#include "window/ZNTWindowController.h"

#include <QClipboard>
#include <QLineEdit>

using namespace pagetest;

namespace {

class TableAfterReload : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        BrowserPages::install();
        ZNTTableViewController::setExporter(nullptr);
        db.run("CREATE TABLE t (id int PRIMARY KEY, name text); INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')");
    }
    void TearDown() override {
        if (SQLPreviewPanelController *panel = SQLPreviewPanelController::visibleController())
            panel->close();
        while (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        // Whatever a failed test left pending goes, so that the windows close.
        for (std::shared_ptr<ZNTWindowController> *window : {&editing, &other}) {
            if (!*window)
                continue;
            if (auto *table = qobject_cast<ZNTTableViewController *>((*window)->mainViewController()))
                table->discardChanges();
            (*window)->close();
            window->reset();
        }
        pumpFor(20ms);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        page = nullptr; // the window's
        TablePageTest::TearDown();
    }
    std::shared_ptr<ZNTWindowController> showWindow(const std::shared_ptr<ZNTObject> &item) {
        auto window = ZNTWindowController::create(item);
        window->resize(900, 500);
        uikittest::activate(window.get());
        EXPECT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }, 5s));
        return window;
    }
    // Window "editing" on table t with its page loaded, window "other" on the database.
    void showBoth() {
        connect();
        other = showWindow(server->mainDatabase());
        editing = showWindow(table("t"));
        page = qobject_cast<ZNTTableViewController *>(editing->mainViewController());
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(loaded());
    }
    // The other window reloads: every table structure of the server is purged.
    void reloadOther() {
        other->reloadData();
        const auto metadata = page->table()->metadata();
        ASSERT_NE(metadata, nullptr);
        EXPECT_NE(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateLoaded);
    }

    std::shared_ptr<ZNTWindowController> other;
    std::shared_ptr<ZNTWindowController> editing;
};

} // namespace

TEST_F(TableAfterReload, PreviewAndSaveAfterAnotherWindowsReloadWriteTheUpdateAndTheDelete) {
    showBoth();
    typeInto(0, "name", "A");
    selectRows({1});
    page->deleteRows();
    reloadOther();

    const QString sql = page->sqlPreviewString();
    EXPECT_TRUE(sql.contains("DELETE FROM \"public\".\"t\" WHERE \"id\"='2';")) << sql.toStdString();
    EXPECT_TRUE(sql.contains("UPDATE \"public\".\"t\" SET \"name\"='A' WHERE \"id\"='1' RETURNING \"id\", \"name\";"))
        << sql.toStdString();

    // The preview panel follows a further edit.
    page->showSQLPreview(page->saveBar()->previewButton());
    SQLPreviewPopoverViewController *popover = nullptr;
    ASSERT_TRUE(pumpUntil([&] {
        popover = qobject_cast<SQLPreviewPopoverViewController *>(QApplication::activePopupWidget());
        return popover != nullptr;
    }));
    popover->detach();
    ASSERT_TRUE(pumpUntil([] { return SQLPreviewPanelController::visibleController() != nullptr; }));
    typeInto(2, "name", "C");
    EXPECT_TRUE(SQLPreviewPanelController::visibleController()->sqlField()->toPlainText().contains(
        "SET \"name\"='C' WHERE \"id\"='3'"));
    SQLPreviewPanelController::visibleController()->close();

    page->save();
    ASSERT_TRUE(saved());
    EXPECT_EQ(qobject_cast<Alert *>(QApplication::activeModalWidget()), nullptr);
    EXPECT_FALSE(page->hasPendingChanges());
    EXPECT_EQ(db.run("SELECT string_agg(id || name, ',' ORDER BY id) FROM t"), "1A,3C");
    EXPECT_EQ(shownColumn("name"), QStringList({"A", "C"}));
}

TEST_F(TableAfterReload, TheRowEditorAndDuplicateGoByThePagesStructureAfterAPurge) {
    showBoth();
    editing->toggleRightSidebar();
    selectRows({0});
    ASSERT_NE(page->sidebarRowViewController(), nullptr);
    reloadOther();

    // The row editor still shows the selection, and an edit there is taken.
    selectRows({1});
    ASSERT_NE(page->sidebarRowViewController(), nullptr);
    EXPECT_FALSE(page->rightSidebarPlaceholder()->isVisible());
    const int before = beeps;
    page->rowViewControllerDidEditColumn(page->sidebarRowViewController(), 1, text("bee"));
    EXPECT_EQ(beeps, before);
    EXPECT_EQ(shownColumn("name")[1], "bee");

    // Duplicate Row makes the new row with its key left to the server.
    selectRows({2});
    page->duplicate();
    grid()->abortEditing();
    EXPECT_EQ(beeps, before);
    ASSERT_EQ(model()->rowCount(), 4);
    EXPECT_TRUE(edits().isNew(3));
    EXPECT_EQ(shownColumn("name")[3], "c");
    EXPECT_EQ(shownColumn("id")[3], "DEFAULT");
}

TEST_F(TableAfterReload, ThePagesCommandsAndItsPromptsWorkAfterAPurge) {
    db.run("ALTER TABLE t ALTER id ADD GENERATED ALWAYS AS IDENTITY, "
           "ADD up text GENERATED ALWAYS AS (upper(name)) STORED");
    showBoth();
    typeInto(0, "name", "A");
    reloadOther();

    // INSERT statements that run back: what the server fills is left to it.
    selectRows({0, 1});
    page->copySpecial(ZNTCopyModeInsertStatements);
    EXPECT_EQ(
        QApplication::clipboard()->text(),
        R"(INSERT INTO "t"("id","name","up") OVERRIDING SYSTEM VALUE VALUES (1,E'A',DEFAULT), (2,E'b',DEFAULT);)");

    // Sorting asks about the edit first; Cancel keeps it.
    page->tableViewDidClickTableColumn(model()->displayColumnNamed("name"));
    press(sheet(), "Cancel");
    EXPECT_EQ(shownColumn("name")[0], "A");

    // Filtering by a column asks too; Save writes the edit, then the filtered rows show.
    page->validateMenuForTableColumn(page->headerMenu(), model()->displayColumnNamed("name"));
    page->filterByColumn();
    ASSERT_NE(page->filterController(), nullptr);
    QLineEdit *field = page->filterController()->firstTextField();
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, "b");
    QTest::keyClick(field, Qt::Key_Return);
    press(sheet(), "Save");
    ASSERT_TRUE(saved());
    ASSERT_TRUE(loaded());
    EXPECT_EQ(db.run("SELECT string_agg(id || name, ',' ORDER BY id) FROM t"), "1A,2b,3c");
    EXPECT_EQ(shownColumn("name"), QStringList({"b"}));
}
