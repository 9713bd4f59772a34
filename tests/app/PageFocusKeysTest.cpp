// The keyboard's way between the navigation sidebar and every page of a main
// window: Tab from the sidebar into the page, and back out of the page's first
// control with Shift+Tab, or Ctrl+Shift+Tab where the control takes Tab itself
// (a grid moves between its cells, the row editor's fields go round).
#include "browser/BrowserPages.h"
#include "browser/ZNTDatabaseViewController.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "model/ZNTAsynchronousRow.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTTerminal.h"
#include "query/QueryPages.h"
#include "query/QueryTextView.h"
#include "query/QueryViewController.h"
#include "query/ZNTTerminalCells.h"
#include "query/ZNTTerminalViewController.h"
#include "structure/StructureTestSupport.h"
#include "uikit/ContextMenuKey.h"
#include "window/ZNTSidebarController.h"
#include "window/ZNTSidebarOutlineView.h"
#include "window/ZNTSidebarTreeModel.h"

#include <QTreeView>

using namespace structuretest;

namespace {

class PageFocusKeys : public ::testing::Test {
protected:
    void SetUp() override {
        db.run(QStringLiteral(R"(
            CREATE TABLE items (id serial PRIMARY KEY, name text, qty int CHECK (qty > 0));
            INSERT INTO items (name, qty) VALUES ('bolt', 3), ('nut', 5);
        )"));
        BrowserPages::install();
        QueryPages::install();
        shop = std::make_unique<StructureWindow>(db.name);
        shop->window->toggleSidebar();
        ASSERT_TRUE(shop->window->sidebarController());
    }
    void TearDown() override {
        for (ZNTPage page :
             {ZNTPage::Server, ZNTPage::Database, ZNTPage::Table, ZNTPage::Row, ZNTPage::Query, ZNTPage::Terminal})
            ZNTContentControllers::setFactory(page, nullptr);
        shop.reset();
    }

    ZNTWindowController *window() const { return shop->window.get(); }
    QWidget *outline() const { return window()->sidebarController()->outlineView(); }
    static QWidget *focus() { return QApplication::focusWidget(); }
    bool focusInPage() const { return focus() && window()->mainView()->isAncestorOf(focus()); }
    static QString describe(QWidget *widget) {
        return widget ? QString::fromLatin1(widget->metaObject()->className()) + " " + widget->objectName()
                      : QStringLiteral("nothing");
    }

    // Tab from the sidebar lands in the page; answers where.
    QWidget *tabIntoPage() {
        outline()->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(outline(), Qt::Key_Tab);
        EXPECT_TRUE(focusInPage()) << describe(focus()).toStdString();
        return focus();
    }
    // Shift+Tab (with Ctrl too when withCtrl) on the focused control, as the
    // keyboard sends it.
    static void backtab(bool withCtrl) {
        QTest::keyClick(focus(), Qt::Key_Backtab,
                        withCtrl ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ShiftModifier);
    }
    // From the control Tab reached, back to the sidebar in as many presses as
    // there are controls before it in the page (at most steps).
    void expectBackToSidebar(const char *page, bool withCtrl, int steps = 1) {
        QWidget *start = tabIntoPage();
        for (int i = 0; i < steps && focus() != outline(); ++i)
            backtab(withCtrl);
        EXPECT_EQ(focus(), outline()) << page << ": from " << describe(start).toStdString() << " to "
                                      << describe(focus()).toStdString();
    }

    ScratchDatabase db;
    std::unique_ptr<StructureWindow> shop;
};

} // namespace

TEST_F(PageFocusKeys, ShiftTabOutOfEveryPagesFirstControlReachesTheSidebar) {
    auto database = shop->server->mainDatabase();

    window()->navigateToItem(database);
    auto *databasePage = dynamic_cast<ZNTDatabaseViewController *>(window()->mainViewController());
    ASSERT_TRUE(databasePage);
    expectBackToSidebar("database icons", false);
    databasePage->setPresentation(ZNTDatabaseViewController::Presentation::List);
    expectBackToSidebar("database list", false);
    EXPECT_EQ(tabIntoPage(), databasePage->outlineView());

    auto items = shop->relation("items");
    window()->navigateToItem(items);
    auto *table = dynamic_cast<ZNTTableViewController *>(window()->mainViewController());
    ASSERT_TRUE(table);
    ASSERT_TRUE(pumpUntil([&] { return table->tableView()->model()->rowCount() == 2; }));
    EXPECT_EQ(tabIntoPage(), table->tableView());
    backtab(false);
    EXPECT_EQ(focus(), table->tableView()) << "Shift+Tab moves between the grid's cells";
    expectBackToSidebar("table rows", true);
    // Ctrl+Tab leaves the grid forward, to the next control of the page.
    tabIntoPage();
    QTest::keyClick(focus(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_NE(focus(), table->tableView());
    EXPECT_NE(focus(), outline());

    auto row = ZNTAsynchronousRow::create(items, {Value::fromInt(1)}, {1});
    ASSERT_TRUE(pumpUntil([&] { return row->hasLoaded(); }));
    window()->navigateToItem(row);
    ASSERT_EQ(window()->currentItem(), row);
    expectBackToSidebar("row editor", true);

    window()->navigateToItem(database->queryObject());
    expectBackToSidebar("query editor", false, 3);

    window()->navigateToItem(std::make_shared<ZNTTerminal>(database));
    expectBackToSidebar("terminal", true, 3);

    auto *structure = shop->open(items);
    ASSERT_TRUE(structure);
    expectBackToSidebar("structure", false, 3);

    // The server's page, in a window on the server.
    window()->navigateToItem(shop->server);
    expectBackToSidebar("server", false);

    // With the sidebar hidden the keys go round the window and end nowhere odd.
    window()->toggleSidebar();
    window()->navigateToItem(items);
    window()->makeMainViewFirstResponder();
    backtab(true);
    EXPECT_TRUE(focus() && focus()->window() == window());
}

// What is typed goes where the user looks: a command that shows the query
// editor, or the terminal, while the sidebar has the focus puts the keys in its
// text; in the sidebar's type-ahead, "I" would choose the table items.
TEST_F(PageFocusKeys, ACommandShowingTheQueryEditorOrTerminalFromTheSidebarTakesTheTyping) {
    auto database = shop->server->mainDatabase();
    ZNTSidebarController *sidebar = window()->sidebarController();
    ASSERT_TRUE(pumpUntil([&] { return sidebar->model()->runningLoads() == 0 && sidebar->model()->rowCount() > 1; }));
    window()->navigateToItem(std::make_shared<ZNTTerminal>(database));
    outline()->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(outline(), Qt::Key_T, Qt::ControlModifier);
    auto *query = dynamic_cast<QueryViewController *>(window()->mainViewController());
    ASSERT_TRUE(query);
    const QModelIndex sidebarRow = sidebar->outlineView()->currentIndex();
    QTest::keyClicks(focus(), "INSERT INTO items DEFAULT VALUES;");
    EXPECT_EQ(query->textView()->text(), "INSERT INTO items DEFAULT VALUES;");
    EXPECT_EQ(sidebar->outlineView()->currentIndex(), sidebarRow);
    outline()->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(outline(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(query->textView()->hasFocus()) << "shown already";

    outline()->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(outline(), Qt::Key_Left, Qt::AltModifier);
    auto *terminal = dynamic_cast<ZNTTerminalViewController *>(window()->mainViewController());
    ASSERT_TRUE(terminal);
    QTest::keyClicks(focus(), "INSERT INTO items DEFAULT VALUES;");
    EXPECT_EQ(terminal->queryView()->textView()->toPlainText(), "INSERT INTO items DEFAULT VALUES;");
    EXPECT_EQ(sidebar->outlineView()->currentIndex(), sidebarRow);

    // Choosing the SQL Query row with the mouse does the same.
    window()->navigateToItem(database);
    const QModelIndex queryRow = sidebar->model()->indexForItem(*database->queryObject());
    ASSERT_TRUE(queryRow.isValid());
    QTest::mouseClick(sidebar->outlineView()->viewport(), Qt::LeftButton, {},
                      sidebar->outlineView()->visualRect(queryRow).center());
    ASSERT_EQ(window()->mainViewController(), query);
    QTest::keyClicks(focus(), " COMMIT;");
    EXPECT_EQ(query->textView()->text(), "INSERT INTO items DEFAULT VALUES; COMMIT;");

    // New Table and Open Structure, chosen in the sidebar's menu on the current
    // row, take the keys as from the database page: the new name is typed over.
    uv_openContextMenusWithShiftF10();
    auto choose = [&](ZNTSidebarController::Command command) {
        outline()->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(outline(), Qt::Key_F10, Qt::ShiftModifier);
        ASSERT_TRUE(pumpUntil([&] { return sidebar->contextMenu()->isVisible(); }));
        sidebar->contextMenu()->setActiveAction(sidebar->menuAction(command));
        QTest::keyClick(sidebar->contextMenu(), Qt::Key_Return);
    };
    window()->navigateToItem(shop->relation("items"));
    ASSERT_NO_FATAL_FAILURE(choose(ZNTSidebarController::Command::NewTable));
    ZNTTableSchemaController *made = shop->shownPage();
    ASSERT_TRUE(made && !made->table()->hasName());
    QTest::keyClicks(focus(), "crates");
    EXPECT_EQ(made->tableNameField()->text(), "crates");
    ASSERT_NO_FATAL_FAILURE(choose(ZNTSidebarController::Command::OpenSidebarItemSchema));
    ASSERT_TRUE(shop->shownPage() && shop->shownPage()->table()->name() == "items");
    EXPECT_TRUE(focusInPage()) << describe(focus()).toStdString();
}
