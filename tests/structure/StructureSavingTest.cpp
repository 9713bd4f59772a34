// Saving, discarding and leaving the structure page, on the test server: what
// the statements did is read back from the catalog.
#include "StructureTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTDatabaseTreeModel.h"
#include "browser/ZNTDatabaseViewController.h"
#include "browser/ZNTTableViewController.h"
#include "window/ZNTSidebarController.h"
#include "window/ZNTSidebarOutlineView.h"
#include "window/ZNTSidebarTreeModel.h"

#include <QKeyEvent>

using namespace structuretest;

namespace {

// Counts the answers of a page asked to give up its edits.
struct Answers : ZNTResignationDelegate {
    void didResign(bool success, const std::any &userInfo) override {
        results.push_back(success);
        infos.push_back(std::any_cast<int>(userInfo));
    }
    std::vector<bool> results;
    std::vector<int> infos;
};

class StructureSaving : public ::testing::Test {
protected:
    static void SetUpTestSuite() { uikittest::useFixedLook(); }
    void SetUp() override {
        db.run(QStringLiteral(R"(
            CREATE SCHEMA shop;
            CREATE TABLE items (id int PRIMARY KEY, name text, qty int CONSTRAINT qty_positive CHECK (qty > 0));
            CREATE VIEW named AS SELECT id, name FROM items;
        )"));
        shop = std::make_unique<StructureWindow>(db.name);
    }
    void TearDown() override { shop.reset(); }

    // Types a sequence default into the column's row.
    static void setSequence(ZNTTableSchemaColumnView *row, const QString &sequence) {
        row->defaultPopup()->setCurrentIndex(SQLExpression::SQLExpressionKindSequence);
        emit row->defaultPopup()->activated(SQLExpression::SQLExpressionKindSequence);
        typeInto(row->defaultField(), sequence);
    }

    ScratchDatabase db;
    std::unique_ptr<StructureWindow> shop;
};

} // namespace

TEST_F(StructureSaving, AMissingSequenceIsOfferedForCreationAndASecondOneGrowsTheList) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("items")));
    ASSERT_TRUE(page);
    setSequence(rowNamed(page, "qty"), "qty_seq");
    setSequence(rowNamed(page, "id"), "id_seq");
    page->saveBar()->saveButton()->click();
    QStringList asked;
    for (int round = 0; round < 2; ++round) {
        Alert *sheet = waitForSheet(30s);
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->messageText(), "Create sequence?");
        asked << sheet->informativeText();
        ASSERT_TRUE(answerSheet("Create"));
    }
    ASSERT_TRUE(pumpUntil([&] { return !page->isSaving(); }, 30s));
    asked.sort();
    EXPECT_EQ(asked, QStringList({"It looks like the sequence ‘id_seq’ doesn't exist. Would you like to create it?",
                                  "It looks like the sequence ‘qty_seq’ doesn't exist. Would you like to create it?"}));
    EXPECT_EQ(db.run("SELECT string_agg(relname, ',' ORDER BY relname) FROM pg_class WHERE relkind = 'S'"),
              "id_seq,qty_seq");
    EXPECT_EQ(db.run("SELECT column_default FROM information_schema.columns WHERE table_name = 'items' AND "
                     "column_name = 'qty'"),
              "nextval('qty_seq'::regclass)");
    EXPECT_FALSE(QApplication::activeModalWidget());
}

TEST_F(StructureSaving, AFailedSaveShowsTheServersErrorAndKeepsEveryEdit) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("items")));
    ASSERT_TRUE(page);
    setSequence(rowNamed(page, "qty"), "qty_seq");
    typeInto(rowNamed(page, "name")->typeField(), "no_such_type");
    const int steps = page->undoStack()->count();
    page->saveBar()->saveButton()->click();
    Alert *question = waitForSheet(30s);
    ASSERT_TRUE(question);
    if (question->messageText() == "Create sequence?") {
        ASSERT_TRUE(answerSheet("Cancel"));
    }
    Alert *error = waitForSheet(30s);
    ASSERT_TRUE(error);
    EXPECT_TRUE((error->messageText() + error->informativeText()).contains("does not exist"))
        << error->informativeText().toStdString();
    ASSERT_TRUE(answerSheet("OK"));
    EXPECT_FALSE(page->isSaving());
    EXPECT_TRUE(page->hasChanges());
    EXPECT_TRUE(page->saveBar()->isVisible());
    EXPECT_TRUE(page->saveBar()->saveButton()->isEnabled());
    EXPECT_EQ(page->undoStack()->count(), steps);
    EXPECT_EQ(rowNamed(page, "name")->typeName(), "no_such_type");
    EXPECT_EQ(db.run("SELECT count(*) FROM pg_class WHERE relkind = 'S'"), "0");
}

TEST_F(StructureSaving, ARenameReplacesTheItemInTheHistoryAndACommentOnlySaveReloadsThePage) {
    shop->window->navigateToItem(shop->relation("items"));
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("items")));
    ASSERT_TRUE(page);
    typeInto(page->tableCommentField(), "stock");
    ASSERT_TRUE(StructureWindow::save(page));
    ASSERT_TRUE(StructureWindow::waitLoaded(page));
    EXPECT_EQ(shop->shownPage(), page);
    EXPECT_EQ(page->edits().originalModel().tableComment(), "stock");
    EXPECT_FALSE(page->undoStack()->canUndo());
    EXPECT_FALSE(page->hasChanges());

    typeInto(page->tableNameField(), "goods");
    ASSERT_TRUE(StructureWindow::save(page));
    ASSERT_TRUE(pumpUntil([&] { return shop->window->currentItem()->name() == "goods"; }));
    EXPECT_EQ(shop->window->currentItem()->objectKind(), ZNTObjectKind::TableSchema);
    const ZNTObjectList back = shop->window->navigation().backwardHistory();
    ASSERT_FALSE(back.isEmpty());
    EXPECT_EQ(back.last()->name(), "goods");
    EXPECT_EQ(back.last()->objectKind(), ZNTObjectKind::Table);
    auto *renamed = shop->shownPage();
    ASSERT_TRUE(renamed);
    EXPECT_NE(renamed, page);
    ASSERT_TRUE(StructureWindow::waitLoaded(renamed));
    EXPECT_EQ(renamed->columnViews().size(), 3);
    EXPECT_EQ(db.run("SELECT obj_description('goods'::regclass, 'pg_class')"), "stock");
}

TEST_F(StructureSaving, ANewTableIsCreatedWithoutATablespaceNobodyChoseAndReplacesTheUnnamedItem) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation(QString(), "shop")));
    ASSERT_TRUE(page);
    ASSERT_TRUE(pumpUntil([&] { return page->tableTablespacePopup()->count() > 0; }));
    typeInto(page->tableNameField(), "fresh");
    page->addColumnButton()->click();
    typeInto(page->columnViews().last()->titleField(), "label");
    EXPECT_FALSE(page->sqlPreviewString().contains("TABLESPACE")) << page->sqlPreviewString().toStdString();
    ASSERT_TRUE(StructureWindow::save(page));
    ASSERT_TRUE(pumpUntil([&] { return shop->window->currentItem()->name() == "fresh"; }));
    EXPECT_EQ(db.run("SELECT reltablespace FROM pg_class WHERE oid = 'shop.fresh'::regclass"), "0");
    EXPECT_EQ(db.run("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conrelid = 'shop.fresh'::regclass"),
              "PRIMARY KEY (id)");
    EXPECT_EQ(db.run("SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), ', ' ORDER BY attnum) "
                     "FROM pg_attribute WHERE attrelid = 'shop.fresh'::regclass AND attnum > 0"),
              "id integer, label text");
    for (const auto &item : shop->window->navigation().backwardHistory())
        EXPECT_FALSE(item->name().isEmpty());
    // A second new table, discarded, leaves the window without a trace.
    auto unnamed = shop->relation(QString(), "shop");
    ZNTTableSchemaController *second = nullptr;
    ASSERT_NO_FATAL_FAILURE(second = shop->open(unnamed));
    ASSERT_TRUE(second);
    second->saveBar()->discardButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return shop->shownPage() != second; }));
    EXPECT_FALSE(shop->window->cachedViewController(ZNTTableSchema(unnamed)));
}

TEST_F(StructureSaving, AViewDefinitionIsReplacedAndANewMaterializedViewGoesIntoTheChosenTablespace) {
    ZNTTableSchemaController *view = nullptr;
    ASSERT_NO_FATAL_FAILURE(view = shop->open(shop->relation("named", "public", ZNTTable::ZNTTableTypeView)));
    ASSERT_TRUE(view);
    typeInto(view->viewDefinitionField(), "SELECT id, upper(name) AS name FROM items");
    EXPECT_EQ(view->undoStack()->undoText(), "Edit View Definition");
    ASSERT_TRUE(StructureWindow::save(view));
    EXPECT_TRUE(db.run("SELECT pg_get_viewdef('named'::regclass)").contains("upper(items.name)"))
        << db.run("SELECT pg_get_viewdef('named'::regclass)").toStdString();

    const QString space = requiredEnv("TRELLAN_PG_TABLESPACE");
    ZNTTableSchemaController *materialized = nullptr;
    ASSERT_NO_FATAL_FAILURE(materialized =
                                shop->open(shop->relation(QString(), "shop", ZNTTable::ZNTTableTypeMaterializedView)));
    ASSERT_TRUE(materialized);
    QComboBox *popup = materialized->tableTablespacePopup();
    ASSERT_TRUE(pumpUntil([&] { return popup->findText(space) >= 0; }));
    popup->setCurrentIndex(popup->findText(space));
    emit popup->activated(popup->currentIndex());
    EXPECT_EQ(materialized->undoStack()->undoText(), "Change Tablespace");
    typeInto(materialized->tableNameField(), "totals");
    typeInto(materialized->viewDefinitionField(), "SELECT count(*) AS n FROM items");
    ASSERT_TRUE(StructureWindow::save(materialized));
    ASSERT_TRUE(pumpUntil([&] { return shop->window->currentItem()->name() == "totals"; }));
    EXPECT_EQ(db.run("SELECT c.relkind::text || ' ' || t.spcname FROM pg_class c JOIN pg_tablespace t ON t.oid = "
                     "c.reltablespace WHERE c.oid = 'shop.totals'::regclass"),
              "m " + space);
}

TEST_F(StructureSaving, LeavingAsksOnceAndCancelKeepsDiscardRebuildsSaveSavesAndASaveUnderWayRefuses) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("items")));
    ASSERT_TRUE(page);
    Answers answers;
    typeInto(page->tableCommentField(), "first");
    page->resignWithDelegate(&answers, 1);
    Alert *sheet = waitForSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->messageText(), "Would you like to save these changes?");
    EXPECT_EQ(sheet->informativeText(), "You have made changes to the structure of the table ‘items’.");
    EXPECT_EQ(sheet->defaultButton()->text(), "Save");
    ASSERT_TRUE(answerSheet("Cancel"));
    EXPECT_EQ(answers.results, std::vector<bool>({false}));
    EXPECT_EQ(page->tableCommentField()->text(), "first");
    EXPECT_TRUE(page->hasPendingChanges());

    page->resignWithDelegate(&answers, 2);
    sheet = waitForSheet();
    ASSERT_TRUE(sheet);
    uikittest::activate(sheet);
    QTest::keyClick(sheet, Qt::Key_Backspace, Qt::ControlModifier); // Discard Changes
    ASSERT_TRUE(pumpUntil([&] { return answers.results.size() == 2; }));
    EXPECT_TRUE(answers.results[1]);
    EXPECT_EQ(answers.infos, std::vector<int>({1, 2}));
    EXPECT_TRUE(page->tableCommentField()->text().isEmpty());
    EXPECT_FALSE(page->hasPendingChanges());

    typeInto(page->tableCommentField(), "second");
    page->saveBar()->saveButton()->click();
    ASSERT_TRUE(page->isSaving());
    page->resignWithDelegate(&answers, 3);
    EXPECT_EQ(answers.results.size(), 3u);
    EXPECT_FALSE(answers.results[2]);
    bool refused = false;
    page->saveWithCompletionHandler([&](bool success, ErrorPtr error) { refused = !success && !error; });
    EXPECT_TRUE(refused); // one save at a time
    ASSERT_TRUE(pumpUntil([&] { return !page->isSaving(); }, 30s));
    ASSERT_TRUE(StructureWindow::waitLoaded(page));

    typeInto(page->tableCommentField(), "third");
    page->resignWithDelegate(&answers, 4);
    ASSERT_TRUE(answerSheet("Save"));
    ASSERT_TRUE(pumpUntil([&] { return answers.results.size() == 4; }, 30s));
    EXPECT_TRUE(answers.results[3]);
    EXPECT_EQ(db.run("SELECT obj_description('items'::regclass, 'pg_class')"), "third");
}

TEST_F(StructureSaving, ALoadedCheckEmptiedInItsPopoverBeepsAndSavingLeavesItAlone) {
    BeepCounter beeps;
    const QString oid = db.run("SELECT oid FROM pg_constraint WHERE conname = 'qty_positive'");
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("items")));
    ASSERT_TRUE(page);
    ZNTConstraintView *pill = rowNamed(page, "qty")->constraintViews().first();
    EXPECT_EQ(pill->text(), "qty > 0");
    pill->setFocus();
    QTest::keyClick(pill, Qt::Key_Return);
    ConstraintPopoverController *popover = pill->popoverController();
    ASSERT_TRUE(popover);
    popover->checkField()->clear();
    buttonTitled(popover, "OK")->click();
    ASSERT_TRUE(pumpUntil([&] { return !pill->popoverController(); }));
    EXPECT_EQ(beeps.count, 1);
    EXPECT_EQ(pill->text(), "qty > 0");
    EXPECT_FALSE(page->undoStack()->canUndo());
    EXPECT_FALSE(page->hasChanges());

    typeInto(page->tableCommentField(), "checked");
    EXPECT_FALSE(page->sqlPreviewString().contains("CONSTRAINT")) << page->sqlPreviewString().toStdString();
    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(db.run("SELECT oid || ' ' || pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = "
                     "'qty_positive'"),
              oid + " CHECK ((qty > 0))");
}

namespace {
// The names a model lists under parent.
QStringList namesUnder(const QAbstractItemModel *model, const QModelIndex &parent = {}) {
    QStringList names;
    for (int r = 0; r < model->rowCount(parent); ++r)
        names << model->index(r, 0, parent).data().toString();
    return names;
}
} // namespace

// A relation renamed, then moved into another schema, is listed and shown by
// its new name: the sidebar (also one rooted at the server) and the database
// page list it so, the shown page is its structure, F5 reloads it and its rows
// open. Unsaved rows of it in any window, also another favorite's, refuse it,
// and so does its structure edited in another window; nothing is sent then.
TEST_F(StructureSaving, ARenamedOrMovedRelationIsListedShownAndReloadedByItsNewName) {
    shop.reset(); // a window whose every page is the real one
    BrowserPages::install();
    shop = std::make_unique<StructureWindow>(db.name);
    struct Uninstall {
        ~Uninstall() {
            for (ZNTPage kind : {ZNTPage::Table, ZNTPage::Row, ZNTPage::Server, ZNTPage::Database})
                ZNTContentControllers::setFactory(kind, nullptr);
            ZNTTableViewController::setRowEditorFactory(nullptr);
        }
    } uninstall;
    db.run("INSERT INTO items VALUES (1, 'nail', 3)");
    ZNTWindowController *window = shop->window.get();
    window->toggleSidebar();
    ASSERT_TRUE(window->sidebarController());
    const ZNTSidebarTreeModel *sidebar = window->sidebarController()->model();
    ASSERT_TRUE(pumpUntil([&] { return sidebar->runningLoads() == 0 && sidebar->rowCount() > 1; }));
    const QPersistentModelIndex shopRow = sidebar->index(int(namesUnder(sidebar).indexOf("shop")), 0);
    window->sidebarController()->outlineView()->expand(shopRow);
    window->navigateToItem(shop->relation("items"));
    // The sidebar of a favorite that shows every database, its database and shop open.
    ZNTSidebarController serverBar;
    serverBar.setRootItem(shop->server);
    const ZNTSidebarTreeModel *everyDatabase = serverBar.model();
    auto loaded = [&] { return pumpUntil([&] { return everyDatabase->runningLoads() == 0; }); };
    ASSERT_TRUE(loaded());
    const QPersistentModelIndex dbRow = everyDatabase->index(int(namesUnder(everyDatabase).indexOf(db.name)), 0);
    serverBar.outlineView()->expand(dbRow);
    ASSERT_TRUE(loaded());
    const QPersistentModelIndex serverShopRow =
        everyDatabase->index(int(namesUnder(everyDatabase, dbRow).indexOf("shop")), 0, dbRow);
    serverBar.outlineView()->expand(serverShopRow);
    ASSERT_TRUE(loaded());
    // Another favorite of the same server, its window on the same database.
    const auto twin = connectedServer(db.name);
    const auto twinWindow = ZNTWindowController::create(twin->mainDatabase());
    // A second window of this favorite: its structure page has the renaming page's item.
    const auto second = ZNTWindowController::create(shop->server->mainDatabase());
    second->show();
    uikittest::activate(window);
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == window; }));

    for (const QString schema : {"public", "shop"}) {
        SCOPED_TRACE(schema.toStdString());
        // The database page has listed the relation as it was.
        window->navigateToItem(shop->server->mainDatabase());
        QPointer<ZNTDatabaseViewController> overview =
            dynamic_cast<ZNTDatabaseViewController *>(window->mainViewController());
        ASSERT_TRUE(overview && pumpUntil([&] { return overview->initialQueryDone(); }, 30s));
        window->goBack();
        QPointer<ZNTTableViewController> edited = dynamic_cast<ZNTTableViewController *>(window->mainViewController());
        ASSERT_TRUE(edited && pumpUntil([&] { return !edited->isLoading(); }, 30s));
        edited->newRow(); // the rows page is kept with it, and must not be dropped by the rename
        twinWindow->navigateToItem(
            ZNTTable::create(edited->table()->name(), edited->table()->schemaName(), twin->mainDatabase()));
        QPointer<ZNTTableViewController> elsewhere =
            dynamic_cast<ZNTTableViewController *>(twinWindow->mainViewController());
        ASSERT_TRUE(elsewhere && pumpUntil([&] { return !elsewhere->isLoading(); }, 30s));
        elsewhere->newRow();
        window->toggleStructureAndContentsInMainView();
        ZNTTableSchemaController *page = shop->shownPage();
        ASSERT_TRUE(page && StructureWindow::waitLoaded(page));
        typeInto(page->tableNameField(), "goods");
        page->tableSchemaPopup()->setCurrentText(schema);
        emit page->tableSchemaPopup()->activated(page->tableSchemaPopup()->currentIndex());
        ASSERT_TRUE(StructureWindow::save(page));
        Alert *refusal = waitForSheet();
        ASSERT_TRUE(refusal);
        EXPECT_TRUE(refusal->messageText().contains("changes that are not saved"))
            << refusal->messageText().toStdString();
        closeSheets();
        ASSERT_TRUE(edited && edited->hasPendingChanges() && elsewhere && elsewhere->hasPendingChanges());
        ASSERT_TRUE(edited->discardChanges());
        ASSERT_TRUE(StructureWindow::save(page));
        ASSERT_TRUE(waitForSheet()) << "the other window's rows were not asked";
        closeSheets();
        ASSERT_TRUE(elsewhere && elsewhere->hasPendingChanges());
        ASSERT_TRUE(elsewhere->discardChanges());
        const QString before = page->table()->schemaName() + "." + page->table()->name();
        second->navigateToItem(
            std::make_shared<ZNTTableSchema>(shop->relation(page->table()->name(), page->table()->schemaName())));
        QPointer<ZNTTableSchemaController> held =
            dynamic_cast<ZNTTableSchemaController *>(second->mainViewController());
        ASSERT_TRUE(held && StructureWindow::waitLoaded(held));
        held->tableCommentField()->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(held->tableCommentField(), "stock"); // its editor still open
        ASSERT_TRUE(StructureWindow::save(page));
        refusal = waitForSheet();
        ASSERT_TRUE(refusal) << "the other window's structure was not asked";
        EXPECT_EQ(refusal->messageText(), "“" + page->table()->name() +
                                              "” has changes that are not saved in another page (its rows or its "
                                              "structure). Save or discard them before you rename or move the "
                                              "relation.");
        closeSheets();
        EXPECT_EQ(db.run("SELECT to_regclass('" + before + "') IS NOT NULL"), "t"); // nothing was sent
        ASSERT_TRUE(held && held->hasChanges());
        EXPECT_EQ(held->edits().editedModel().tableComment(), "stock");
        held->discardChanges();
        ASSERT_TRUE(StructureWindow::save(page));
        ASSERT_EQ(db.run("SELECT relnamespace::regnamespace FROM pg_class WHERE relname = 'goods'"), schema);
        // The other window follows: no page of it saves into a relation that takes the old name.
        const auto twinShown = std::dynamic_pointer_cast<ZNTTable>(twinWindow->currentItem());
        auto *twinRows = dynamic_cast<ZNTTableViewController *>(twinWindow->mainViewController());
        ASSERT_TRUE(twinShown && twinRows && twinRows->table());
        EXPECT_EQ(twinShown->schemaName() + "." + twinShown->name(), schema + ".goods");
        EXPECT_EQ(twinRows->table()->schemaName() + "." + twinRows->table()->name(), schema + ".goods");
        EXPECT_TRUE(twinWindow->windowTitle().endsWith(" \u2013 goods")) << twinWindow->windowTitle().toStdString();

        // Where the sidebar (the search path's relations, then shop's) and the
        // database page list the relation, by either name.
        const ZNTDatabaseTreeModel *listing = overview->model();
        auto listed = [&] {
            QStringList places;
            for (const QString name : {"items", "goods"}) {
                if (namesUnder(sidebar).contains(name))
                    places << "sidebar " + name;
                if (namesUnder(sidebar, shopRow).contains(name))
                    places << "sidebar shop." + name;
                if (namesUnder(everyDatabase, dbRow).contains(name))
                    places << "server " + name;
                if (namesUnder(everyDatabase, serverShopRow).contains(name))
                    places << "server shop." + name;
                for (const QString in : {"public", "shop"}) {
                    if (namesUnder(listing, listing->schemaIndex(in)).contains(name))
                        places << "page " + in + "." + name;
                }
            }
            return places.join(", ");
        };
        const QString expected = schema == "shop" ? "sidebar shop.goods, server shop.goods, page shop.goods"
                                                  : "sidebar goods, server goods, page public.goods";
        EXPECT_TRUE(pumpUntil([&] { return listed() == expected; }, 30s)) << listed().toStdString();

        // What is shown, what F5 reloads and the rows the switch opens are the relation as it is now.
        page = shop->shownPage();
        ASSERT_TRUE(page && StructureWindow::waitLoaded(page));
        EXPECT_EQ(page->table()->schemaName() + "." + page->table()->name(), schema + ".goods");
        EXPECT_TRUE(window->windowTitle().endsWith(" \u2013 goods")) << window->windowTitle().toStdString();
        window->reloadData();
        ASSERT_TRUE(StructureWindow::waitLoaded(page));
        EXPECT_FALSE(QApplication::activeModalWidget());
        window->toggleStructureAndContentsInMainView();
        auto *rows = dynamic_cast<ZNTTableViewController *>(window->mainViewController());
        ASSERT_TRUE(rows && pumpUntil([&] { return !rows->isLoading(); }, 30s));
        EXPECT_FALSE(QApplication::activeModalWidget());
        EXPECT_EQ(rows->statusText(), "1 row");
    }

    // A new relation is listed once it is saved.
    ZNTTableSchemaController *fresh = nullptr;
    ASSERT_NO_FATAL_FAILURE(fresh = shop->open(shop->relation(QString(), "shop")));
    // Tab from the sidebar enters its name, whose text typing replaces.
    window->activateWindow(); // gone with the sheet above
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == window; }));
    window->sidebarController()->outlineView()->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(window->sidebarController()->outlineView(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), fresh->tableNameField());
    QTest::keyClicks(fresh->tableNameField(), "fresh");
    QTest::keyClick(fresh->tableNameField(), Qt::Key_Return);
    EXPECT_EQ(fresh->tableNameField()->text(), "fresh");
    ASSERT_TRUE(StructureWindow::save(fresh));
    EXPECT_TRUE(pumpUntil([&] { return namesUnder(sidebar, shopRow).contains("fresh"); }, 30s));
}
