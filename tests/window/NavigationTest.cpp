#include "WindowTestSupport.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTRow.h"
#include "model/ZNTSchema.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "support/PlainTextSupport.h"
#include "uikit/ZNTControlledView.h"
#include "window/ZNTPlaceholderPage.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>

using namespace windowtest;

namespace {
// A server that is never connected: the window and its pages only name items.
class NavigationTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        server = ZNTServer::create({{"host", "db.example"}, {"dbname", "shop"}});
        server->setName(QStringLiteral("Prod"));
        database = server->mainDatabase();
    }
    std::shared_ptr<ZNTTable> table(const QString &name, const QString &schema = QStringLiteral("public")) {
        return ZNTTable::create(name, schema, database);
    }
    std::shared_ptr<ZNTWindowController> window(const std::shared_ptr<ZNTObject> &item) {
        auto made = ZNTWindowController::create(item);
        made->show();
        return made;
    }
    static QStringList names(const ZNTObjectList &items) {
        QStringList out;
        for (const auto &item : items)
            out << item->name();
        return out;
    }
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTDatabase> database;
};
} // namespace

TEST_F(NavigationTest, BackThenANewNavigationKeepsTheBackHistoryAndDropsTheForwardOne) {
    auto w = window(database);
    w->navigateToItem(table("a"));
    w->navigateToItem(table("b"));
    w->navigateToItem(table("c"));
    w->goBack();
    EXPECT_EQ(w->currentItem()->name(), "b");
    EXPECT_EQ(names(w->navigation().backwardHistory()), QStringList({"shop", "a"}));
    EXPECT_EQ(names(w->navigation().forwardHistory()), QStringList({"c"}));
    EXPECT_TRUE(w->windowAction(ZNTWindowCommand::GoForward)->isEnabled());

    w->navigateToItem(table("d"));
    EXPECT_EQ(names(w->navigation().backwardHistory()), QStringList({"shop", "a", "b"}));
    EXPECT_TRUE(w->navigation().forwardHistory().isEmpty());
    EXPECT_FALSE(w->windowAction(ZNTWindowCommand::GoForward)->isEnabled());
    // The page shown is the item's, made once and found again on the way back.
    auto *page = qobject_cast<ZNTPlaceholderPage *>(w->mainViewController());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->item()->name(), "d");
    w->goBack();
    w->goBack();
    EXPECT_EQ(w->currentItem()->name(), "a");
    EXPECT_EQ(w->mainViewController(), w->viewControllerForItem(table("a")));
}

TEST_F(NavigationTest, NavigatingToAnItemEqualToTheShownOneChangesNothing) {
    auto w = window(database);
    w->navigateToItem(table("orders"));
    ZNTContentController *page = w->mainViewController();
    w->navigateToItem(table("orders")); // a new but equal item
    w->navigateToItem(ZNTView::create("orders", "public", database));
    EXPECT_EQ(w->navigation().backwardHistory().size(), 1);
    EXPECT_EQ(w->mainViewController(), page);
}

TEST_F(NavigationTest, EmptyHistoriesBeepAndGoUpRecordsAnEntry) {
    BeepCounter beeps;
    auto w = window(server);
    w->goBack();
    w->goForward();
    EXPECT_EQ(beeps.count, 2);
    w->goUp(); // the server is the root: nowhere to go
    EXPECT_EQ(w->currentItem(), server);
    EXPECT_FALSE(w->windowAction(ZNTWindowCommand::GoUp)->isEnabled());

    w->navigateToItem(table("orders"));
    EXPECT_EQ(names(w->pathItems()), QStringList({"Prod", "shop", "orders"}));
    w->goUp();
    EXPECT_TRUE(w->currentItem()->isEqual(*database));
    EXPECT_EQ(names(w->navigation().backwardHistory()), QStringList({"Prod", "orders"}));
}

TEST_F(NavigationTest, PathPopupListsTheShownItemFirstAndItsLastEntryGoesToTheRoot) {
    uikittest::useFixedLook();
    auto w = window(server);
    w->navigateToItem(table("orders"));
    QComboBox *popup = w->pathButton();
    ASSERT_EQ(popup->count(), 3);
    EXPECT_EQ(popup->itemText(0), "orders");
    EXPECT_EQ(popup->itemText(2), "Prod");
    // Every entry has its icon, the server's too, so that the names line up.
    for (int i = 0; i < popup->count(); ++i)
        EXPECT_FALSE(popup->itemIcon(i).isNull()) << popup->itemText(i).toStdString();
    uikittest::activate(w.get());
    popup->showPopup();
    saveShot(popup->view()->window(), "path-popup.png");
    popup->hidePopup();

    w->handlePathPopupButton(0); // the shown item
    EXPECT_EQ(w->currentItem()->name(), "orders");
    EXPECT_EQ(w->navigation().backwardHistory().size(), 1);

    w->handlePathPopupButton(2);
    EXPECT_EQ(w->currentItem(), server);
    EXPECT_EQ(popup->currentIndex(), 0);
    EXPECT_EQ(popup->count(), 1);
    w->handlePathPopupButton(7); // outside the path: only logged
    EXPECT_EQ(w->currentItem(), server);
}

TEST_F(NavigationTest, TitleNamesServerDatabaseAndRelationButNeverTheSchema) {
    auto w = window(server);
    w->navigateToItem(table("orders", "sales"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Prod \u2013 shop \u2013 orders"));
    // A structure item sits beside its table, under the database.
    w->navigateToItem(std::make_shared<ZNTTableSchema>(table("orders", "sales")));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Prod \u2013 shop \u2013 orders"));
    EXPECT_EQ(w->pathItems().size(), 3);
    // A row hangs under its table.
    auto orders = table("orders", "sales"); // a row holds its table weakly
    auto row = ZNTRow::createWithColumns({}, {}, orders);
    row->setName(QStringLiteral("id 7"));
    w->navigateToItem(row);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Prod \u2013 shop \u2013 orders \u2013 id 7"));
}

TEST_F(NavigationTest, ReplaceRewritesEveryHistoryEntryAndTheShownItem) {
    auto w = window(database);
    auto fresh = ZNTTable::create(QString(), "public", database); // a new, unsaved relation
    auto draft = std::make_shared<ZNTTableSchema>(fresh);
    for (int i = 0; i < 3; ++i) {
        w->navigateToItem(draft);
        w->navigateToItem(table("other"));
    }
    w->navigateToItem(draft);
    w->goBack();
    w->goBack();
    ASSERT_EQ(w->navigation().backwardHistory().size(), 5);

    ASSERT_TRUE(w->currentItem()->isEqual(*draft));
    ZNTContentController *draftPage = w->mainViewController();

    auto saved = std::make_shared<ZNTTableSchema>(table("invoices"));
    w->replaceNavigationItems(draft, saved);
    EXPECT_EQ(names(w->navigation().backwardHistory()),
              QStringList({"shop", "invoices", "other", "invoices", "other"}));
    EXPECT_EQ(names(w->navigation().forwardHistory()), QStringList({"invoices", "other"}));
    EXPECT_TRUE(w->currentItem()->isEqual(*saved));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Prod \u2013 shop \u2013 invoices"));
    EXPECT_NE(w->mainViewController(), draftPage);
    EXPECT_EQ(w->cachedViewController(*draft), nullptr);
}

TEST_F(NavigationTest, RemovingWithAnEmptyBackHistoryShowsTheParentAndForgetsTheItem) {
    auto draft = std::make_shared<ZNTTableSchema>(ZNTTable::create(QString(), "public", database));
    auto w = window(draft);
    w->removeNavigationItem(draft);
    EXPECT_TRUE(w->currentItem()->isEqual(*database));
    EXPECT_TRUE(w->navigation().backwardHistory().isEmpty());
    EXPECT_EQ(w->cachedViewController(*draft), nullptr);

    // With history: the removed item leaves it, and is never what comes back.
    w->navigateToItem(draft);
    w->navigateToItem(table("a"));
    w->navigateToItem(draft);
    w->goBack();
    w->goForward();
    w->removeNavigationItem(draft);
    EXPECT_EQ(w->currentItem()->name(), "a");
    EXPECT_EQ(names(w->navigation().backwardHistory()), QStringList({"shop"}));
    EXPECT_TRUE(w->navigation().forwardHistory().isEmpty());
}

TEST_F(NavigationTest, AnEditorThatRefusesToEndEditingStopsNavigationButNotTheSidebars) {
    BeepCounter beeps;
    QPointer<QLineEdit> field;
    FakePages pages([&](const std::shared_ptr<ZNTObject> &item) -> ZNTContentController * {
        if (item->name() != u"orders")
            return nullptr;
        auto *page = new FakePage(item);
        page->view()->layout()->addWidget(field = new QLineEdit);
        field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{3}"), field));
        return page;
    });
    auto w = window(database);
    uikittest::activate(w.get());
    w->navigateToItem(table("orders"));
    field->setFocus();
    field->setText("12"); // not acceptable yet
    w->navigateToItem(table("customers"));
    w->goBack();
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(w->currentItem()->name(), "orders");
    EXPECT_EQ(w->navigation().backwardHistory().size(), 1);

    field->setText("123");
    w->navigateToItem(table("customers"));
    EXPECT_EQ(w->currentItem()->name(), "customers");
}

TEST_F(NavigationTest, PlaceholderPagesNameTheirItemAndSchemasHaveNoPage) {
    auto w = window(database);
    w->navigateToItem(database->queryObject());
    QWidget *view = w->mainViewController()->view();
    EXPECT_EQ(view->findChild<QLabel *>("placeholderHeading")->text(), "SQL Query");
    EXPECT_EQ(view->findChild<QLabel *>("placeholderNote")->text(), "The SQL query page is not built yet.");
    EXPECT_EQ(ZNTPlaceholderPage::noteForItem(*table("v")), "The table page is not built yet.");
    EXPECT_EQ(ZNTPlaceholderPage::noteForItem(*ZNTMaterializedView::create("m", "public", database)),
              "The materialized view page is not built yet.");
    EXPECT_EQ(w->viewControllerForItem(std::make_shared<ZNTSchema>("public", database)), nullptr);
    saveShot(w.get(), "placeholder-query-page.png");
}

TEST_F(NavigationTest, AnItemsNameIsShownAsTextNeverAsMarkup) {
    auto w = window(database);
    w->navigateToItem(table(kMarkup));
    const QLabel *heading = w->mainViewController()->view()->findChild<QLabel *>("placeholderHeading");
    ASSERT_TRUE(heading);
    EXPECT_EQ(shownText(heading), kMarkup);
}

// A page may take an action itself before the window does: its view, a
// ZNTControlledView, puts it on the route right after the view.
TEST_F(NavigationTest, ActionsTravelUpFromTheSendingWidgetThroughThePageToTheWindow) {
    struct RoutingPage : ZNTContentController, ZNTResponder {
        explicit RoutingPage(std::shared_ptr<ZNTObject> item) : item(std::move(item)) {}
        std::shared_ptr<ZNTObject> item;
        int taken = 0;
        QPointer<QLineEdit> field;
        bool performAction(const ZNTAction &action) override {
            if (action.name != u"toggleSomething")
                return false;
            ++taken;
            return true;
        }
        QWidget *makeView() override {
            auto *view = new ZNTControlledView;
            view->setViewController(this);
            field = new QLineEdit(view);
            return view;
        }
    };
    FakePages pages([](const std::shared_ptr<ZNTObject> &item) -> ZNTContentController * {
        return item->name() == u"orders" ? new RoutingPage(item) : nullptr;
    });
    auto w = window(database);
    w->navigateToItem(table("orders"));
    auto *page = dynamic_cast<RoutingPage *>(w->mainViewController());
    ASSERT_TRUE(page);
    EXPECT_TRUE(sendAction(page->field, "toggleSomething"));
    EXPECT_EQ(page->taken, 1);
    EXPECT_TRUE(sendAction(page->field, ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(table("customers"))));
    EXPECT_EQ(w->currentItem()->name(), "customers");
    EXPECT_FALSE(sendAction(page->field, "nobodyTakesThis"));
    QWidget loose;
    EXPECT_FALSE(sendAction(&loose, ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(table("x"))));
}
