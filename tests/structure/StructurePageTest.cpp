// The structure page on the test server: what it shows of a relation, its
// edits with undo and redo, and discarding them.
#include "StructureTestSupport.h"
#include "browser/BrowserPages.h"
#include "uikit/BarButtons.h"

#include <QAction>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>

using namespace structuretest;

namespace {

class StructurePage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { uikittest::useFixedLook(); }
    void SetUp() override {
        db.run(QStringLiteral(R"(
            CREATE SCHEMA shop;
            CREATE TABLE shop.products (
                id serial PRIMARY KEY,
                sku text NOT NULL UNIQUE,
                price numeric(10,2) DEFAULT 0,
                weight real,
                tags text,
                CONSTRAINT sku_tags UNIQUE (sku, tags),
                CONSTRAINT sane CHECK (price >= 0 AND weight > 0)
            );
            COMMENT ON TABLE shop.products IS 'Everything the shop sells';
            COMMENT ON COLUMN shop.products.tags IS 'Words a customer searches for, comma separated';
            CREATE TABLE always (id int, note text, CONSTRAINT always_true CHECK (true));
        )"));
        shop = std::make_unique<StructureWindow>(db.name);
    }
    void TearDown() override { shop.reset(); }

    QString constraintDefinitions(const QString &table) const {
        return db.run(QStringLiteral("SELECT string_agg(conname || ' ' || pg_get_constraintdef(oid), '; ' ORDER BY "
                                     "conname) FROM pg_constraint WHERE conrelid = '%1'::regclass")
                          .arg(table));
    }

    ScratchDatabase db;
    std::unique_ptr<StructureWindow> shop;
};

} // namespace

TEST_F(StructurePage, PillsStandUnderTheirColumnsAndComposedConstraintsUnderNoneOrTheFirst) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("products", "shop")));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->columnViews().size(), 5);
    EXPECT_EQ(pillTitles(rowNamed(page, "id")), QStringList({"PRIMARY KEY"}));
    EXPECT_EQ(pillTitles(rowNamed(page, "sku")), QStringList({"UNIQUE", "NOT NULL"}));
    // The two-column CHECK under its first column; the two-column UNIQUE nowhere.
    ASSERT_EQ(rowNamed(page, "price")->constraintViews().size(), 1);
    EXPECT_EQ(rowNamed(page, "price")->constraintViews().first()->editedConstraint()->name(), "sane");
    EXPECT_TRUE(pillTitles(rowNamed(page, "weight")).isEmpty());
    EXPECT_TRUE(pillTitles(rowNamed(page, "tags")).isEmpty());
    EXPECT_EQ(page->tableNameField()->text(), "products");
    EXPECT_EQ(page->tableSchemaPopup()->currentText(), "shop");
    EXPECT_EQ(page->tableCommentField()->text(), "Everything the shop sells");
    EXPECT_EQ(rowNamed(page, "tags")->comment(), "Words a customer searches for, comma separated");
    EXPECT_EQ(rowNamed(page, "price")->defaultField()->text(), "0");
    EXPECT_FALSE(page->saveBar() && page->saveBar()->isVisible());
    ASSERT_TRUE(pumpUntil([&] { return page->tableTablespacePopup()->count() > 0; }));
    EXPECT_EQ(page->tableTablespacePopup()->currentText(), "pg_default");
    saveShots(shop->window.get(), "products");
}

TEST_F(StructurePage, ACheckNamingNoColumnIsNeitherShownNorTouchedWhenTheCommentIsSaved) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("always")));
    ASSERT_TRUE(page);
    for (ZNTTableSchemaColumnView *row : page->columnViews())
        EXPECT_TRUE(row->constraintViews().isEmpty()) << row->name().toStdString();
    typeInto(page->tableCommentField(), "kept");
    EXPECT_EQ(page->sqlPreviewString(), "COMMENT ON TABLE \"public\".\"always\" IS 'kept';\n");
    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(db.run("SELECT obj_description('always'::regclass, 'pg_class')"), "kept");
    EXPECT_EQ(constraintDefinitions("always"), "always_true CHECK (true)");
}

TEST_F(StructurePage, EveryEditIsAStepUndoneToTheLoadedStateRedoneAndSavedInOneStatement) {
    BeepCounter beeps;
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("products", "shop")));
    ASSERT_TRUE(page);
    QUndoStack *undo = page->undoStack();
    typeInto(rowNamed(page, "tags")->titleField(), "keywords");
    EXPECT_EQ(undo->undoText(), "Edit Column");
    typeInto(rowNamed(page, "weight")->typeField(), "double precision");
    page->addColumnButton()->click();
    EXPECT_EQ(undo->undoText(), "Add Column");
    ZNTTableSchemaColumnView *added = page->columnViews().last();
    EXPECT_EQ(added->name(), "column6");
    EXPECT_TRUE(added->titleField()->hasFocus());
    pumpFor(30ms);
    EXPECT_EQ(added->titleField()->selectedText(), "column6") << "the new name is selected, to be typed over";
    typeInto(added->titleField(), "origin");
    typeInto(added->defaultField(), "unknown");
    EXPECT_EQ(added->defaultPopup()->currentIndex(), int(SQLExpression::SQLExpressionKindConstant));
    ZNTTableSchemaColumnView *price = rowNamed(page, "price");
    price->addConstraint(ZNTConstraint::ZNTConstraintTypeCheck);
    ConstraintPopoverController *popover = price->constraintViews().last()->popoverController();
    ASSERT_TRUE(popover);
    QTest::keyClicks(popover->checkField(), "price < 1000");
    buttonTitled(popover, "OK")->click();
    ASSERT_TRUE(pumpUntil([&] { return !price->constraintViews().last()->popoverController(); }));
    EXPECT_EQ(price->constraintViews().last()->text(), "price < 1000");
    typeInto(page->tableCommentField(), "What we sell");
    EXPECT_EQ(undo->undoText(), "Edit Table Comment");
    EXPECT_TRUE(page->saveBar()->isVisible());
    EXPECT_EQ(beeps.count, 0);

    // Back to the loaded state, step by step.
    while (undo->canUndo())
        undo->undo();
    EXPECT_FALSE(page->hasChanges());
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_TRUE(page->edits().editedModel().isEqual(page->edits().originalModel()));
    ASSERT_EQ(page->columnViews().size(), 5);
    EXPECT_TRUE(rowNamed(page, "tags"));
    EXPECT_EQ(rowNamed(page, "weight")->typeName(), "real");
    EXPECT_EQ(rowNamed(page, "price")->constraintViews().size(), 1);
    EXPECT_EQ(page->tableCommentField()->text(), "Everything the shop sells");

    while (undo->canRedo())
        undo->redo();
    ASSERT_EQ(page->columnViews().size(), 6);
    EXPECT_EQ(page->columnViews().last()->name(), "origin");
    EXPECT_EQ(page->columnViews().last()->defaultField()->text(), "unknown");
    EXPECT_EQ(pillTitles(rowNamed(page, "price")).last(), "price < 1000");
    EXPECT_TRUE(rowNamed(page, "keywords"));
    EXPECT_EQ(page->tableCommentField()->text(), "What we sell");

    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(beeps.count, 0);
    ASSERT_TRUE(StructureWindow::waitLoaded(page));
    EXPECT_FALSE(undo->canUndo());
    EXPECT_EQ(
        db.run("SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), ', ' ORDER BY attnum) "
               "FROM pg_attribute WHERE attrelid = 'shop.products'::regclass AND attnum > 0 AND NOT attisdropped"),
        "id integer, sku text, price numeric(10,2), weight double precision, keywords text, origin text");
    EXPECT_EQ(db.run("SELECT column_default FROM information_schema.columns WHERE table_name = 'products' AND "
                     "column_name = 'origin'"),
              "'unknown'::text");
    EXPECT_TRUE(constraintDefinitions("shop.products").contains("CHECK ((price < (1000)::numeric))"))
        << constraintDefinitions("shop.products").toStdString();
    EXPECT_EQ(db.run("SELECT obj_description('shop.products'::regclass, 'pg_class')"), "What we sell");
    EXPECT_EQ(page->columnViews().size(), 6);

    // Edited again and discarded: the page shows what was saved.
    typeInto(rowNamed(page, "origin")->titleField(), "source");
    page->saveBar()->discardButton()->click();
    EXPECT_FALSE(page->hasChanges());
    EXPECT_TRUE(rowNamed(page, "origin"));
    EXPECT_FALSE(undo->canUndo());
}

TEST_F(StructurePage, TypingTheNameBackBeforeLeavingShowsTheSaveBarOnlyWhileTyping) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("products", "shop")));
    ASSERT_TRUE(page);
    page->tableNameField()->setFocus();
    QTest::keyClick(page->tableNameField(), Qt::Key_X);
    EXPECT_TRUE(page->saveBar() && page->saveBar()->isVisible());
    QTest::keyClick(page->tableNameField(), Qt::Key_Backspace);
    QTest::keyClick(page->tableNameField(), Qt::Key_Tab);
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_FALSE(page->undoStack()->canUndo());
}

TEST_F(StructurePage, ANewColumnCountsMarkedOnesAndGoesWhenMarkedUntilUndone) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("always")));
    ASSERT_TRUE(page);
    ZNTTableSchemaColumnView *note = rowNamed(page, "note");
    note->deleteButton()->click();
    EXPECT_EQ(page->undoStack()->undoText(), "Mark Column for Deletion");
    EXPECT_TRUE(page->edits().editedModel().columns()[1]->markedForDeletion());
    page->addColumnButton()->click();
    ZNTTableSchemaColumnView *added = page->columnViews().last();
    EXPECT_EQ(added->name(), "column3");
    added->addConstraint(ZNTConstraint::ZNTConstraintTypeNotNull);
    EXPECT_EQ(page->undoStack()->undoText(), "Edit Constraints");
    added->deleteButton()->click();
    EXPECT_EQ(page->undoStack()->undoText(), "Delete Column");
    EXPECT_EQ(page->columnViews().size(), 2);
    page->undoStack()->undo();
    ASSERT_EQ(page->columnViews().size(), 3);
    EXPECT_EQ(pillTitles(page->columnViews()[2]), QStringList({"NOT NULL"}));
    EXPECT_FALSE(page->columnViews()[2]->markedForDeletion());
    // A second click on a marked loaded column takes the mark back.
    note->deleteButton()->click();
    EXPECT_EQ(page->undoStack()->undoText(), "Edit Column");
    EXPECT_FALSE(page->edits().editedModel().columns()[1]->markedForDeletion());
    EXPECT_EQ(page->sqlPreviewString(), "ALTER TABLE \"public\".\"always\" ADD COLUMN \"column3\" text NOT NULL;");
}

TEST_F(StructurePage, NewRelationsOpenUnnamedWithTheirLayouts) {
    ZNTTableSchemaController *table = nullptr;
    ASSERT_NO_FATAL_FAILURE(table = shop->open(shop->relation(QString(), "shop")));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->tableNameField()->text(), "untitled_table");
    ASSERT_EQ(table->columnViews().size(), 1);
    EXPECT_EQ(table->columnViews()[0]->name(), "id");
    EXPECT_EQ(table->columnViews()[0]->typeName(), "serial");
    EXPECT_EQ(pillTitles(table->columnViews()[0]), QStringList({"PRIMARY KEY"}));
    EXPECT_TRUE(table->saveBar() && table->saveBar()->isVisible());
    EXPECT_EQ(table->tableSchemaPopup()->currentText(), "shop");
    ASSERT_TRUE(pumpUntil([&] { return table->tableTablespacePopup()->count() > 0; }));
    EXPECT_EQ(table->tableTablespacePopup()->currentIndex(), -1); // none chosen, none written
    EXPECT_FALSE(table->viewDefinitionField());
    saveShots(shop->window.get(), "new-table");

    ZNTTableSchemaController *view = nullptr;
    ASSERT_NO_FATAL_FAILURE(view = shop->open(shop->relation(QString(), "shop", ZNTTable::ZNTTableTypeView)));
    ASSERT_TRUE(view);
    EXPECT_EQ(view->tableNameField()->text(), "untitled_view");
    EXPECT_TRUE(view->columnViews().isEmpty());
    for (QLabel *label : view->columnsView()->headerFields())
        EXPECT_TRUE(label->isHidden());
    EXPECT_FALSE(view->tableTablespacePopup());
    EXPECT_FALSE(view->addColumnButton());
    ASSERT_TRUE(view->viewDefinitionField());
    EXPECT_FALSE(view->viewDefinitionField()->isReadOnly());
    // Return in the definition breaks the line.
    view->viewDefinitionField()->setFocus();
    QTest::keyClicks(view->viewDefinitionField(), "SELECT 1");
    QTest::keyClick(view->viewDefinitionField(), Qt::Key_Return);
    QTest::keyClicks(view->viewDefinitionField(), "AS one");
    EXPECT_EQ(view->viewDefinitionField()->toPlainText(), "SELECT 1\nAS one");
    // Nothing to show the contents of yet.
    BeepCounter beeps;
    view->toggleStructureAndContents(nullptr);
    EXPECT_EQ(beeps.count, 1);
    saveShots(shop->window.get(), "new-view");
}

TEST_F(StructurePage, TheRowsOfViewsShowNameAndTypeReadOnlyAndOnlyTablesDeleteColumns) {
    db.run("CREATE VIEW cheap AS SELECT id, sku FROM shop.products WHERE price < 10;"
           "CREATE MATERIALIZED VIEW heavy AS SELECT id, weight FROM shop.products WHERE weight > 10;");
    ZNTTableSchemaController *view = nullptr;
    ASSERT_NO_FATAL_FAILURE(view = shop->open(shop->relation("cheap", "public", ZNTTable::ZNTTableTypeView)));
    ASSERT_TRUE(view);
    ASSERT_EQ(view->columnViews().size(), 2);
    ZNTTableSchemaColumnView *row = view->columnViews()[0];
    EXPECT_TRUE(row->titleField()->isReadOnly());
    EXPECT_TRUE(row->typeField()->isReadOnly());
    EXPECT_FALSE(row->defaultField()->isReadOnly());
    EXPECT_FALSE(row->deleteButton());
    EXPECT_TRUE(row->constraintButton()->isHidden());
    EXPECT_TRUE(view->viewDefinitionField()->toPlainText().contains("price < 10"));

    ZNTTableSchemaController *materialized = nullptr;
    ASSERT_NO_FATAL_FAILURE(materialized =
                                shop->open(shop->relation("heavy", "public", ZNTTable::ZNTTableTypeMaterializedView)));
    ASSERT_TRUE(materialized);
    row = materialized->columnViews()[0];
    EXPECT_FALSE(row->titleField()->isReadOnly());
    EXPECT_TRUE(row->typeField()->isReadOnly());
    EXPECT_FALSE(row->deleteButton());
    EXPECT_TRUE(materialized->viewDefinitionField()->isReadOnly());
    ASSERT_TRUE(materialized->tableTablespacePopup());
    saveShots(shop->window.get(), "materialized-view");
}

TEST_F(StructurePage, TheDefaultKindFollowsWhatIsTypedAndNoDefaultEmptiesTheField) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("products", "shop")));
    ASSERT_TRUE(page);
    ZNTTableSchemaColumnView *weight = rowNamed(page, "weight");
    weight->defaultField()->setFocus();
    QTest::keyClick(weight->defaultField(), Qt::Key_1);
    EXPECT_EQ(weight->defaultPopup()->currentIndex(), int(SQLExpression::SQLExpressionKindConstant));
    EXPECT_TRUE(page->saveBar()->isVisible());
    QTest::keyClick(weight->defaultField(), Qt::Key_Return);
    EXPECT_EQ(page->undoStack()->undoText(), "Edit Column");
    // Choosing "no default" (Up from "constant") empties the value and puts the focus there.
    weight->defaultPopup()->setFocus();
    QTest::keyClick(weight->defaultPopup(), Qt::Key_Up);
    EXPECT_EQ(weight->defaultPopup()->currentIndex(), int(SQLExpression::SQLExpressionKindNoDefault));
    EXPECT_TRUE(weight->defaultField()->text().isEmpty());
    EXPECT_TRUE(weight->defaultField()->hasFocus());
    EXPECT_FALSE(page->hasChanges());
    QTest::keyClick(weight->defaultPopup(), Qt::Key_Down);
    QTest::keyClick(weight->defaultPopup(), Qt::Key_Down);
    weight->defaultField()->setFocus();
    QTest::keyClicks(weight->defaultField(), "random()");
    QTest::keyClick(weight->defaultField(), Qt::Key_Return);
    EXPECT_EQ(weight->defaultExpression().kind(), SQLExpression::SQLExpressionKindExpression);
    EXPECT_TRUE(page->sqlPreviewString().contains("ALTER COLUMN \"weight\" SET DEFAULT random()"))
        << page->sqlPreviewString().toStdString();
}

TEST_F(StructurePage, ACommentOfSeveralLinesMakesTheRowTallerAndAnEmptyOneTakesNoRoom) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("products", "shop")));
    ASSERT_TRUE(page);
    ZNTTableSchemaColumnView *sku = rowNamed(page, "sku");
    const int bare = sku->height();
    EXPECT_EQ(bare, rowNamed(page, "weight")->height());
    EXPECT_GT(rowNamed(page, "tags")->height(), bare);
    sku->commentField()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(sku->commentField()->editor());
    QTest::keyClicks(sku->commentField()->editor(), "first line");
    QTest::keyClick(sku->commentField()->editor(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(sku->commentField()->editor(), "second line");
    pumpFor(50ms);
    const int twoLines = sku->height();
    EXPECT_GT(twoLines, rowNamed(page, "tags")->height());
    QTest::keyClick(sku->commentField()->editor(), Qt::Key_Return);
    EXPECT_EQ(page->undoStack()->undoText(), "Edit Column");
    EXPECT_EQ(page->edits().editedModel().columns()[1]->comment(), "first line\nsecond line");
    saveShots(shop->window.get(), "comment-lines");
}

TEST_F(StructurePage, AStructureThatFailsToLoadShowsItsErrorAndOffersNothing) {
    auto ghost = shop->relation("ghost");
    int loads = 0;
    ObserverToken counting = NotificationCenter::defaultCenter().observe(ZNTTableMetadata::DidLoadNotification, nullptr,
                                                                         [&](const Notification &) { ++loads; });
    shop->window->navigateToItem(std::make_shared<ZNTTableSchema>(ghost));
    auto *page = shop->shownPage();
    ASSERT_TRUE(page);
    ASSERT_TRUE(pumpUntil([&] { return page->loadErrorLabel()->isVisible(); }));
    EXPECT_TRUE(page->loadErrorLabel()->text().contains("relation \"public.ghost\" does not exist"))
        << page->loadErrorLabel()->text().toStdString();
    EXPECT_TRUE(page->columnViews().isEmpty());
    EXPECT_FALSE(page->hasPendingChanges());
    EXPECT_FALSE(page->tableNameField()->isEnabled());
    pumpFor(300ms);
    EXPECT_EQ(loads, 1); // no load again from the failure
    EXPECT_EQ(ghost->metadata()->metadataState(), ZNTTableMetadata::ZNTMetadataStateNotLoaded);
    saveShots(shop->window.get(), "load-error");

    // The session ended: the page says why and that Reload reconnects, which it does.
    psql("postgres", "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + db.name + "'");
    shop->window->reloadData();
    const auto shown = [&] { return page->loadErrorLabel()->text(); };
    ASSERT_TRUE(
        pumpUntil([&] { return shown().endsWith("\n\nThe connection was lost. Choose Reload to reconnect."); }));
    EXPECT_TRUE(shown().contains(QRegularExpression("closed|terminat"))) << shown().toStdString();
    shop->window->reloadData();
    ASSERT_TRUE(pumpUntil([&] { return shown().contains("does not exist") && !shown().contains("Reload"); }));
}

TEST_F(StructurePage, TheSwitchAndCtrlAltSGoBetweenTheRowsAndTheStructure) {
    BrowserPages::install();
    auto products = shop->relation("products", "shop");
    shop->window->navigateToItem(products);
    QAction *toggle = shop->window->windowAction(ZNTWindowCommand::ToggleStructureAndContents);
    ASSERT_TRUE(toggle->isEnabled());
    toggle->trigger();
    auto *page = shop->shownPage();
    ASSERT_TRUE(page);
    ASSERT_TRUE(StructureWindow::waitLoaded(page));
    EXPECT_EQ(shop->window->currentItem()->objectKind(), ZNTObjectKind::TableSchema);
    EXPECT_EQ(toggle->text(), "Go to &Table Contents");
    EXPECT_TRUE(page->structureContentsSwitcher()->isSelected(1));
    toggle->trigger();
    EXPECT_EQ(shop->window->currentItem()->objectKind(), ZNTObjectKind::Table);
    shop->window->goBack();
    EXPECT_EQ(shop->shownPage(), page);
    page->structureContentsSwitcher()->segmentButton(0)->click();
    EXPECT_EQ(shop->window->currentItem()->objectKind(), ZNTObjectKind::Table);
    EXPECT_TRUE(page->structureContentsSwitcher()->isSelected(1));
    ZNTContentControllers::setFactory(ZNTPage::Table, nullptr);
}

TEST_F(StructurePage, AReloadLeavesNoStepThatCouldReplayOnTheNewRows) {
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("always")));
    ASSERT_TRUE(page);
    page->addColumnButton()->click();
    page->undoStack()->undo();
    ASSERT_TRUE(page->undoStack()->canRedo());
    EXPECT_FALSE(page->hasPendingChanges());
    shop->window->reloadData();
    ASSERT_TRUE(StructureWindow::waitLoaded(page));
    EXPECT_FALSE(page->undoStack()->canRedo());
    EXPECT_FALSE(page->undoStack()->canUndo());
    EXPECT_EQ(page->columnViews().size(), 2);
}

// The server fills generated and identity columns itself: how it fills them
// shows read-only where a default would, and a save of another change of such
// a column (its name) gives it no default.
TEST_F(StructurePage, GeneratedAndIdentityColumnsShowHowTheServerFillsThemAndASaveGivesThemNoDefault) {
    db.run("CREATE TABLE g (id int GENERATED ALWAYS AS IDENTITY, seq int GENERATED BY DEFAULT AS IDENTITY, i int, "
           "doubled int GENERATED ALWAYS AS (i * 2) STORED)");
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("g")));
    ASSERT_TRUE(page);
    const struct {
        const char *name, *shown, *kind;
    } filled[] = {{"id", "GENERATED ALWAYS AS IDENTITY", "identity"},
                  {"seq", "GENERATED BY DEFAULT AS IDENTITY", "identity"},
                  {"doubled", "GENERATED ALWAYS AS ((i * 2)) STORED", "generated"}};
    for (const auto &f : filled) {
        SCOPED_TRACE(f.name);
        ZNTTableSchemaColumnView *row = rowNamed(page, f.name);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->defaultField()->text(), f.shown);
        EXPECT_TRUE(row->defaultField()->isReadOnly());
        EXPECT_FALSE(row->defaultPopup()->isEnabled());
        EXPECT_EQ(row->defaultPopup()->text(), f.kind);
        typeInto(row->titleField(), QStringLiteral("%1_r").arg(f.name));
    }
    EXPECT_FALSE(rowNamed(page, "i")->defaultField()->isReadOnly());
    saveShots(shop->window.get(), "generated-columns");
    const QString sql = page->sqlPreviewString();
    EXPECT_FALSE(sql.contains("DEFAULT")) << sql.toStdString();
    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no error sheet";
    EXPECT_EQ(db.run("SELECT string_agg(concat_ws(':', attname, attidentity, attgenerated, pg_get_expr(adbin, "
                     "adrelid)), ',' ORDER BY attnum) FROM pg_attribute LEFT JOIN pg_attrdef ON adrelid = attrelid "
                     "AND adnum = attnum WHERE attrelid = 'g'::regclass AND attnum > 0"),
              "id_r:a:,seq_r:d:,i::,doubled_r::s:(i * 2)");
}

// A comment, default or check longer than a line edit holds by default is
// shown whole, and an edit elsewhere on the page writes none of them back.
TEST_F(StructurePage, LongCommentsDefaultsAndChecksAreShownWholeAndLeftAloneByAnotherEdit) {
    const QString text = QStringLiteral("0123456789abcdef").repeated(2500);
    db.run(R"(DO $$DECLARE t text := repeat('0123456789abcdef', 2500); BEGIN
                  EXECUTE format('CREATE TABLE long_texts (id int, note text DEFAULT %L,
                                  CONSTRAINT long_check CHECK (note <> %L))', t, t);
                  EXECUTE format('COMMENT ON TABLE long_texts IS %L', t);
                  EXECUTE format('COMMENT ON COLUMN long_texts.note IS %L', t);
              END$$)");
    const QString loaded = QStringLiteral(
        "SELECT md5(obj_description('long_texts'::regclass, 'pg_class') || col_description('long_texts'::regclass, 2) "
        "|| pg_get_expr(adbin, adrelid) || (SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = "
        "'long_check')) FROM pg_attrdef WHERE adrelid = 'long_texts'::regclass");
    const QString before = db.run(loaded);
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("long_texts")));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->tableCommentField()->text(), text);
    ZNTTableSchemaColumnView *note = rowNamed(page, "note");
    ASSERT_TRUE(note);
    EXPECT_EQ(note->defaultField()->text(), text);
    EXPECT_EQ(note->commentField()->text(), text);
    ZNTConstraintView *pill = note->constraintViews().value(0);
    ASSERT_TRUE(pill);
    pill->setFocus();
    QTest::keyClick(pill, Qt::Key_Return);
    ASSERT_TRUE(pill->popoverController());
    EXPECT_TRUE(pill->popoverController()->checkField()->text().contains(text));
    buttonTitled(pill->popoverController(), "OK")->click();
    ASSERT_TRUE(pumpUntil([&] { return !pill->popoverController(); }));
    EXPECT_FALSE(page->hasChanges());

    typeInto(rowNamed(page, "id")->titleField(), "key");
    EXPECT_EQ(page->sqlPreviewString(), "ALTER TABLE \"public\".\"long_texts\" RENAME COLUMN \"id\" TO \"key\";\n");
    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(db.run("SELECT attname FROM pg_attribute WHERE attrelid = 'long_texts'::regclass AND attnum = 1"), "key");
    EXPECT_EQ(db.run(loaded), before);
}

// Names, types and defaults wider than their fields show their start, not
// their end ("er_items"), when the page shows them, after the user has typed
// and left, and after an undo.
TEST_F(StructurePage, TextsWiderThanTheirFieldsShowTheirStart) {
    const QString table = QStringLiteral("order_items_of_the_spring_sale_in_the_north_warehouse_2024");
    db.run(QStringLiteral(R"(CREATE TABLE %1 (
                                 quantity_ordered_by_the_customer_before_any_discount character varying(200)
                                     DEFAULT 'a constant default that is longer than its field'))")
               .arg(table));
    shop->window->resize(760, 600); // a narrow window, as at twice the scale
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation(table)));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->columnViews().size(), 1);
    ZNTTableSchemaColumnView *row = page->columnViews().first();
    pumpFor(30ms);
    QLineEdit *name = page->tableNameField();
    EXPECT_LT(name->width(), name->fontMetrics().horizontalAdvance(name->text()));
    for (QLineEdit *field : {name, static_cast<QLineEdit *>(row->titleField()),
                             static_cast<QLineEdit *>(row->typeField()), static_cast<QLineEdit *>(row->defaultField())})
        EXPECT_EQ(field->cursorPosition(), 0) << field->text().toStdString();
    saveShots(shop->window.get(), "wide-names");
    // Narrower still (a window its screen holds smaller than it asks): the
    // three fields of the top row share what is left.
    QWidget *form = name->parentWidget();
    form->resize(520, form->height());
    pumpFor(30ms);
    EXPECT_GE(name->width(), name->fontMetrics().horizontalAdvance(QString(8, QLatin1Char('x'))));
    EXPECT_LE(page->tableTablespacePopup()->geometry().right(), form->width());

    typeInto(name, table + "_old");
    row->titleField()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(name->cursorPosition(), 0) << "left after typing";
    page->undoStack()->undo();
    pumpFor(30ms);
    EXPECT_EQ(name->text(), table);
    EXPECT_EQ(name->cursorPosition(), 0) << "given back by Undo";
}

// The keyboard reaches every control of every row, row after row, the column
// comments too, before it leaves for the page's bar; Shift+Tab goes back the
// same way. Each stop shows where it is (scrolled into sight, not an empty
// comment or the scroll area), also once F5 has made the rows anew.
TEST_F(StructurePage, TabGoesThroughEveryRowInOrderAndShiftTabBackAlsoAfterAReload) {
    QString columns = QStringLiteral("id serial PRIMARY KEY, qty int CHECK (qty > 0)");
    for (int i = 3; i <= 10; ++i)
        columns += QStringLiteral(", c%1 text").arg(i);
    db.run(QStringLiteral("CREATE TABLE tall (%1); COMMENT ON COLUMN tall.qty IS 'How many'").arg(columns));
    ZNTTableSchemaController *page = nullptr;
    ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("tall")));
    ASSERT_TRUE(page);
    shop->window->resize(1100, 400);
    ASSERT_TRUE(pumpUntil([&] { return page->scrollView()->verticalScrollBar()->maximum() > 0; }))
        << "the last rows lie below the fold";
    auto focus = [] { return QApplication::focusWidget(); };
    auto rowOf = [&](QWidget *widget) {
        while (widget && !qobject_cast<ZNTTableSchemaColumnView *>(widget))
            widget = widget->parentWidget();
        return int(page->columnViews().indexOf(widget));
    };
    auto press = [&](Qt::Key key) {
        QTest::keyClick(focus(), key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        // An empty comment takes its room once it has the focus.
        return pumpUntil([&] { return focus() && !focus()->visibleRegion().isEmpty(); }, 2s);
    };
    for (const bool reloaded : {false, true}) {
        SCOPED_TRACE(reloaded ? "after F5" : "as opened");
        if (reloaded) {
            const QPointer<ZNTTableSchemaColumnView> former = page->columnViews().first();
            shop->window->reloadData();
            ASSERT_TRUE(pumpUntil([&] { return !former && page->columnViews().size() == 10; }));
        }
        page->tableCommentField()->setFocus(Qt::TabFocusReason);
        QList<QWidget *> stops;
        while (stops.size() < 200 && press(Qt::Key_Tab) && page->columnsView()->isAncestorOf(focus()))
            stops << focus();
        EXPECT_TRUE(page->accessoryView()->isAncestorOf(focus())) << focus()->metaObject()->className();
        ASSERT_FALSE(stops.isEmpty());
        EXPECT_EQ(stops.first(), page->columnViews().first()->titleField());
        QList<int> rowsVisited;
        for (QWidget *stop : stops) {
            if (rowsVisited.isEmpty() || rowsVisited.last() != rowOf(stop))
                rowsVisited << rowOf(stop);
        }
        EXPECT_EQ(rowsVisited, QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        for (ZNTTableSchemaColumnView *row : page->columnViews()) {
            const qsizetype name = stops.indexOf(row->titleField());
            EXPECT_TRUE(name >= 0 && stops.indexOf(row->commentField()->editor()) > name) << row->name().toStdString();
        }
        for (qsizetype i = stops.size() - 1; i >= 0; --i) {
            ASSERT_TRUE(press(Qt::Key_Backtab));
            ASSERT_EQ(focus(), stops[i]) << "Shift+Tab " << stops.size() - i;
        }
        ASSERT_TRUE(press(Qt::Key_Backtab));
        EXPECT_EQ(focus(), page->tableCommentField());
    }
    QWidget *lastName = page->columnViews().last()->titleField();
    for (int i = 0; i < 200 && focus() != lastName; ++i)
        press(Qt::Key_Tab);
    saveShots(shop->window.get(), "tab-last-column-name");
}
