// Constraint pills, the add menu and the constraint popover of the structure
// page, on the test server.
#include "StructureTestSupport.h"

#include <QMenu>
#include <QStandardItemModel>

using namespace structuretest;

namespace {

class ConstraintPopover : public ::testing::Test {
protected:
    static void SetUpTestSuite() { uikittest::useFixedLook(); }
    void SetUp() override {
        db.run(QStringLiteral(R"(
            CREATE SCHEMA shop;
            CREATE SCHEMA empty_schema;
            CREATE TABLE shop.products (id int PRIMARY KEY, sku text UNIQUE, code int UNIQUE, name text);
            CREATE TABLE shop.pairs (a int, b int, c int UNIQUE, PRIMARY KEY (a, b));
            CREATE TABLE shop.keyless_first (note text, id int PRIMARY KEY);
            CREATE VIEW shop.product_names AS SELECT name FROM shop.products;
            CREATE MATERIALIZED VIEW shop.product_count AS SELECT count(*) FROM shop.products;
            CREATE TABLE orders (
                id int PRIMARY KEY,
                product int CONSTRAINT orders_product_fkey REFERENCES shop.products (id),
                qty int
            );
        )"));
        shop = std::make_unique<StructureWindow>(db.name);
        ASSERT_NO_FATAL_FAILURE(page = shop->open(shop->relation("orders")));
        ASSERT_TRUE(page);
    }
    void TearDown() override { shop.reset(); }

    // The popup's entries, "---" for a separator and "(off)" after a disabled one.
    static QStringList entries(QComboBox *popup) {
        QStringList texts;
        auto *model = qobject_cast<QStandardItemModel *>(popup->model());
        for (int i = 0; i < popup->count(); ++i) {
            if (popup->itemData(i, Qt::AccessibleDescriptionRole).toString() == "separator")
                texts << "---";
            else
                texts << popup->itemText(i) + (model->item(i)->isEnabled() ? "" : " (off)");
        }
        return texts;
    }
    static void choose(QComboBox *popup, const QString &title) {
        const int index = popup->findText(title);
        ASSERT_GE(index, 0) << title.toStdString();
        popup->setCurrentIndex(index);
        emit popup->activated(index);
    }
    static bool closePopover(ConstraintPopoverController *popover, const QString &button) {
        QPushButton *b = buttonTitled(popover, button);
        EXPECT_TRUE(b) << button.toStdString();
        if (!b)
            return false;
        QPointer<ConstraintPopoverController> guard(popover);
        b->click();
        return pumpUntil([&] { return !guard || !guard->isVisible(); });
    }
    QString constraintDefinitions() const {
        return db.run("SELECT string_agg(pg_get_constraintdef(oid), '; ' ORDER BY conname) FROM pg_constraint "
                      "WHERE conrelid = 'orders'::regclass AND contype = 'f'");
    }

    ScratchDatabase db;
    std::unique_ptr<StructureWindow> shop;
    ZNTTableSchemaController *page = nullptr;
};

} // namespace

TEST_F(ConstraintPopover, ANewForeignKeyListsTablesBySchemaTakesTheFirstOneColumnKeyAndSaves) {
    ZNTTableSchemaColumnView *qty = rowNamed(page, "qty");
    qty->addConstraint(ZNTConstraint::ZNTConstraintTypeForeignKey);
    ZNTConstraintView *pill = qty->constraintViews().last();
    ConstraintPopoverController *popover = pill->popoverController();
    ASSERT_TRUE(popover);
    EXPECT_EQ(entries(popover->foreignKeyColumnPopup()), QStringList({"No Table Selected… (off)"}));
    ASSERT_TRUE(pumpUntil([&] { return popover->listingsDone(); }, 30s));
    EXPECT_EQ(entries(popover->foreignKeyTablePopup()),
              QStringList({"Select Table… (off)", "---", "public (off)", "orders", "---", "empty_schema (off)", "---",
                           "shop (off)", "keyless_first", "pairs", "products"}));
    EXPECT_EQ(popover->foreignKeyTablePopup()->currentIndex(), 0);

    choose(popover->foreignKeyTablePopup(), "pairs");
    ASSERT_TRUE(pumpUntil([&] { return popover->foreignKeyColumnPopup()->count() == 3; }));
    EXPECT_EQ(entries(popover->foreignKeyColumnPopup()), QStringList({"a (off)", "b (off)", "c"}));
    EXPECT_EQ(popover->foreignKeyColumnPopup()->currentText(), "c");
    EXPECT_EQ(popover->constraint()->foreignAttnums(), QList<qint64>({3}));
    choose(popover->foreignKeyTablePopup(), "products");
    ASSERT_TRUE(pumpUntil([&] { return popover->foreignKeyColumnPopup()->itemText(0) == "id"; }));
    EXPECT_EQ(entries(popover->foreignKeyColumnPopup()), QStringList({"id", "sku", "code", "name (off)"}));
    EXPECT_EQ(popover->foreignKeyColumnPopup()->currentText(), "id");
    EXPECT_EQ(popover->constraint()->foreignAttnums(), QList<qint64>({1}));

    EXPECT_EQ(popover->deleteDescriptionLabel()->text(), "Trying to delete the referenced row will cause an error.");
    choose(popover->deleteModePopup(), "CASCADE");
    EXPECT_EQ(popover->deleteDescriptionLabel()->text(),
              "When a row from the referenced table is deleted, all rows referencing it will be deleted as well.");
    EXPECT_TRUE(saveScreenshot(pill->popover(), "structure", "foreign-key-popover.png"));
    ASSERT_TRUE(closePopover(popover, "OK"));
    EXPECT_EQ(pill->text(), "➜ products.id");
    EXPECT_EQ(page->undoStack()->undoText(), "Edit Constraints");

    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(constraintDefinitions(), "FOREIGN KEY (product) REFERENCES shop.products(id); FOREIGN KEY (qty) "
                                       "REFERENCES shop.products(id) ON DELETE CASCADE");
}

TEST_F(ConstraintPopover, ALoadedForeignKeyListsOnlyItsTableAndTakesAnotherOneColumnKey) {
    ZNTConstraintView *pill = rowNamed(page, "product")->constraintViews().first();
    EXPECT_EQ(pill->text(), "➜ products.id");
    EXPECT_EQ(pill->toolTip(), "orders_product_fkey");
    pill->setFocus();
    QTest::keyClick(pill, Qt::Key_Return);
    ConstraintPopoverController *popover = pill->popoverController();
    ASSERT_TRUE(popover);
    EXPECT_EQ(entries(popover->foreignKeyTablePopup()), QStringList({"products"}));
    ASSERT_TRUE(pumpUntil([&] { return popover->foreignKeyColumnPopup()->count() == 4; }));
    EXPECT_EQ(popover->foreignKeyColumnPopup()->currentText(), "id");
    choose(popover->foreignKeyColumnPopup(), "code");
    choose(popover->foreignKeyTablePopup(), "products"); // the same table: its column stays
    EXPECT_EQ(popover->constraint()->foreignAttnums(), QList<qint64>({3}));
    EXPECT_EQ(popover->foreignKeyColumnPopup()->currentText(), "code");
    ASSERT_TRUE(closePopover(popover, "OK"));
    EXPECT_EQ(pill->text(), "➜ products.code");
    ASSERT_TRUE(StructureWindow::save(page));
    EXPECT_EQ(constraintDefinitions(), "FOREIGN KEY (product) REFERENCES shop.products(code)");
}

TEST_F(ConstraintPopover, TheAddMenuAddsPillsAndCancelOrDeleteTakesNewOnesAwayWhileLoadedOnesAreStruckThrough) {
    ZNTTableSchemaColumnView *qty = rowNamed(page, "qty");
    qty->constraintButton()->click();
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    QStringList items;
    for (QAction *action : menu->actions())
        items << action->text();
    EXPECT_EQ(items, QStringList({"&Not NULL", "&Primary Key", "&Unique", "&Foreign Key…", "&Check…"}));
    const int before = page->undoStack()->count();
    menu->actions().last()->trigger();
    menu->close();
    ASSERT_EQ(qty->constraintViews().size(), 1);
    ConstraintPopoverController *popover = qty->constraintViews().first()->popoverController();
    ASSERT_TRUE(popover);
    ASSERT_TRUE(popover->checkField());
    EXPECT_TRUE(saveScreenshot(qty->constraintViews().first()->popover(), "structure", "check-popover.png"));
    ASSERT_TRUE(closePopover(popover, "Cancel"));
    ASSERT_TRUE(pumpUntil([&] { return qty->constraintViews().isEmpty(); }));
    EXPECT_EQ(page->undoStack()->count(), before + 2);
    page->undoStack()->undo();
    EXPECT_EQ(pillTitles(qty), QStringList({"…"}));
    page->undoStack()->undo();
    EXPECT_TRUE(qty->constraintViews().isEmpty());
    EXPECT_FALSE(page->hasChanges());

    // NOT NULL at once, without a popover; Delete takes a new pill away.
    qty->addConstraint(ZNTConstraint::ZNTConstraintTypeNotNull);
    ASSERT_EQ(pillTitles(qty), QStringList({"NOT NULL"}));
    EXPECT_FALSE(qty->constraintViews().first()->popoverController());
    qty->constraintViews().first()->setFocus();
    QTest::keyClick(qty->constraintViews().first(), Qt::Key_Delete);
    EXPECT_TRUE(qty->constraintViews().isEmpty());

    // A loaded pill stays, struck through, until undone.
    ZNTTableSchemaColumnView *id = rowNamed(page, "id");
    id->constraintViews().first()->setFocus();
    QTest::keyClick(id->constraintViews().first(), Qt::Key_Backspace);
    EXPECT_EQ(pillTitles(id), QStringList({"-PRIMARY KEY"}));
    EXPECT_TRUE(page->sqlPreviewString().contains("DROP CONSTRAINT \"orders_pkey\""))
        << page->sqlPreviewString().toStdString();
    page->undoStack()->undo();
    EXPECT_EQ(pillTitles(id), QStringList({"PRIMARY KEY"}));

    // The popover's Delete marks a loaded foreign key, and takes the mark back.
    ZNTConstraintView *key = rowNamed(page, "product")->constraintViews().first();
    key->showPopover();
    ASSERT_TRUE(key->popoverController());
    ASSERT_TRUE(closePopover(key->popoverController(), "&Delete Constraint"));
    EXPECT_TRUE(key->editedConstraint()->markedForDeletion());
    key = rowNamed(page, "product")->constraintViews().first();
    key->showPopover();
    ASSERT_TRUE(closePopover(key->popoverController(), "&Keep Constraint"));
    EXPECT_FALSE(key->editedConstraint()->markedForDeletion());
    EXPECT_FALSE(page->hasChanges());
}

TEST_F(ConstraintPopover, AReferencedTableWhoseStructureFailsToLoadKeepsLoadingAndIsNotAskedAgain) {
    ZNTTableSchemaColumnView *qty = rowNamed(page, "qty");
    qty->addConstraint(ZNTConstraint::ZNTConstraintTypeForeignKey);
    ConstraintPopoverController *popover = qty->constraintViews().last()->popoverController();
    ASSERT_TRUE(popover);
    ASSERT_TRUE(pumpUntil([&] { return popover->listingsDone(); }, 30s));
    db.run("DROP TABLE shop.keyless_first");
    int loads = 0;
    ObserverToken counting = NotificationCenter::defaultCenter().observe(ZNTTableMetadata::DidLoadNotification, nullptr,
                                                                         [&](const Notification &) { ++loads; });
    choose(popover->foreignKeyTablePopup(), "keyless_first");
    EXPECT_EQ(entries(popover->foreignKeyColumnPopup()), QStringList({"Loading… (off)"}));
    ASSERT_TRUE(pumpUntil([&] { return loads == 1; }));
    pumpFor(300ms);
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(entries(popover->foreignKeyColumnPopup()), QStringList({"Loading… (off)"}));
    ASSERT_TRUE(closePopover(popover, "Cancel"));
    EXPECT_TRUE(qty->constraintViews().isEmpty());
}

// Return on a focused CHECK pill opens its editor as Space does, through the
// window's own dispatch of the key (shortcuts first), and so does a click; what
// is typed goes into the editor's field after the expression.
TEST_F(ConstraintPopover, ReturnOrAClickOnACheckPillOpensItsEditorAndTypingGoesAfterTheExpression) {
    db.run("CREATE TABLE stock (id int PRIMARY KEY, qty int CONSTRAINT qty_positive CHECK (qty > 0))");
    auto *stock = shop->open(shop->relation("stock"));
    ASSERT_TRUE(stock);
    ZNTTableSchemaColumnView *qty = rowNamed(stock, "qty");
    ASSERT_TRUE(qty);
    ZNTConstraintView *pill = qty->constraintViews().value(0);
    ASSERT_TRUE(pill);
    ASSERT_EQ(pill->text(), "qty > 0");
    pill->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(pill->hasFocus());

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_unknown}) {
        if (key == Qt::Key_unknown)
            QTest::mouseClick(pill, Qt::LeftButton);
        else
            QTest::keyClick(QApplication::focusWidget(), key);
        ConstraintPopoverController *popover = pill->popoverController();
        ASSERT_TRUE(popover) << int(key) << " opened nothing";
        pumpFor(30ms); // a user sees the editor before typing
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QTest::keyClicks(QApplication::focusWidget(), " AND qty < 10");
        EXPECT_EQ(popover->checkField()->text(), "qty > 0 AND qty < 10") << int(key);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        ASSERT_TRUE(pumpUntil([&] { return !pill->popoverController(); }));
        EXPECT_EQ(pill->text(), "qty > 0") << "Escape keeps the expression";
        EXPECT_TRUE(pill->hasFocus());
    }
}
