#include "WindowTestSupport.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "model/ZNTTerminal.h"

using namespace windowtest;

namespace {
// Pages with pending edits, answering at once, after a timer or when told.
class ResignationTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        server = ZNTServer::create({{"host", "db.example"}, {"dbname", "shop"}});
        database = server->mainDatabase();
        window = ZNTWindowController::create(database);
        window->show();
        closes = NotificationCenter::defaultCenter().observe(ZNTWindowControllerHandle::WillCloseNotification,
                                                             static_cast<ZNTWindowControllerHandle *>(window.get()),
                                                             [this](const Notification &) { ++closed; });
    }
    std::shared_ptr<ZNTTable> table(const QString &name) { return ZNTTable::create(name, "public", database); }
    FakePage *show(const std::shared_ptr<ZNTObject> &item) {
        window->navigateToItem(item);
        return pages.named(item->name());
    }

    ZNTWindowControllerHandle &handle() { return *window; }

    FakePages pages;
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTDatabase> database;
    std::shared_ptr<ZNTWindowController> window;
    ObserverToken closes;
    int closed = 0;
};
} // namespace

TEST_F(ResignationTest, ClosingAsksAHiddenPageWithEditsOnItsOwnPageThenShowsTheFormerPageAndCloses) {
    FakePage *structure = show(std::make_shared<ZNTTableSchema>(table("orders")));
    structure->pending = true;
    structure->answer = FakePage::Answer::AfterTimer;
    show(table("customers"));
    auto history = window->navigation().backwardHistory();

    EXPECT_FALSE(window->windowShouldClose());
    EXPECT_EQ(structure->asked, 1);
    EXPECT_TRUE(window->currentItem()->isEqual(*structure->item)); // brought to the front to ask
    ASSERT_TRUE(pumpUntil([&] { return closed == 1; }));
    EXPECT_EQ(window->currentItem()->name(), "customers");
    EXPECT_EQ(window->navigation().backwardHistory(), history); // the histories were left alone
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ResignationTest, ClosingWithEditsOnlyOnTheShownPageAsksItWithoutSwitching) {
    show(table("a"));
    FakePage *page = show(table("b"));
    page->pending = true;
    window->performClose();
    EXPECT_EQ(page->asked, 1);
    EXPECT_EQ(window->navigation().backwardHistory().size(), 2);
    EXPECT_EQ(closed, 1);
    window->performClose(); // closed for good: asked nothing more
    EXPECT_EQ(page->asked, 1);
}

TEST_F(ResignationTest, CancelInTheSecondPromptKeepsTheWindowOpenOnThatPageWithItsEdits) {
    FakePage *first = show(table("first"));
    FakePage *second = show(table("second"));
    show(table("third"));
    for (FakePage *page : {first, second})
        page->pending = true;
    // Pages are asked from the most recently made one back.
    second->answer = FakePage::Answer::Held;
    first->answer = FakePage::Answer::AfterTimer;

    window->performClose();
    ASSERT_EQ(second->asked, 1);
    EXPECT_EQ(window->currentItem()->name(), "second");
    second->reply(true);
    ASSERT_TRUE(pumpUntil([&] { return first->asked == 1; }));
    EXPECT_EQ(window->currentItem()->name(), "first");
    // Now the user cancels the first page's prompt.
    first->answerYes = false;
    ASSERT_TRUE(pumpUntil([&] { return !window->isResigning(); }));
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->currentItem()->name(), "first");
    EXPECT_TRUE(first->pending);
    EXPECT_FALSE(second->pending); // what was saved stays saved
}

TEST_F(ResignationTest, ASecondCloseOrQuitWhileAPromptIsOpenStartsNoSecondPrompt) {
    FakePage *page = show(table("orders"));
    page->pending = true;
    page->answer = FakePage::Answer::Held;
    window->performClose();
    window->performClose(); // Qt delivers it under an open window-modal sheet
    EXPECT_EQ(page->asked, 1);
    std::optional<bool> quit;
    handle().resignWithDelegate([&](bool ok) { quit = ok; });
    EXPECT_EQ(quit, false); // the running prompt is the user's answer to give
    BeepCounter beeps;
    window->reloadData();
    EXPECT_EQ(beeps.count, 1);
    EXPECT_EQ(page->asked, 1);

    page->reply(false);
    EXPECT_EQ(closed, 0);
    EXPECT_FALSE(window->isResigning());
    // A refusal ends that round for good; a new close asks again.
    window->performClose();
    EXPECT_EQ(page->asked, 2);
    page->reply(true);
    EXPECT_EQ(closed, 1);
}

TEST_F(ResignationTest, QuittingAsksThroughTheHandleAndAnswersOnceAfterEveryPage) {
    FakePage *a = show(table("a"));
    FakePage *b = show(table("b"));
    a->pending = b->pending = true;
    a->answer = b->answer = FakePage::Answer::AfterTimer;
    EXPECT_TRUE(window->hasPendingChanges());
    int answers = 0;
    bool result = false;
    handle().resignWithDelegate([&](bool ok) {
        ++answers;
        result = ok;
    });
    ASSERT_TRUE(pumpUntil([&] { return answers == 1; }));
    EXPECT_TRUE(result);
    EXPECT_FALSE(window->hasPendingChanges());
    EXPECT_EQ(closed, 0); // quitting closes the window itself, without asking again
    window->close();
    EXPECT_EQ(closed, 1);
}

TEST_F(ResignationTest, AWindowWithoutEditsClosesAtOnce) {
    show(table("a"));
    EXPECT_TRUE(window->windowShouldClose());
    window->performClose();
    EXPECT_EQ(closed, 1);
}

TEST_F(ResignationTest, ReloadAsksOnlyTheShownPageAndKeepsHiddenPagesWithEdits) {
    FakePage *edited = show(std::make_shared<ZNTTableSchema>(table("orders")));
    edited->pending = true;
    QPointer<FakePage> clean = show(table("customers"));
    FakePage *shown = show(table("orders"));

    window->reloadData();
    EXPECT_EQ(edited->asked, 0);
    EXPECT_EQ(shown->reloads, 1);
    flushDeferredDeletes();
    EXPECT_TRUE(clean.isNull()); // dropped, and deleted once the event was over
    EXPECT_EQ(window->cachedViewController(*std::make_shared<ZNTTableSchema>(table("orders"))), edited);
    EXPECT_TRUE(edited->pending);
    EXPECT_EQ(window->mainViewController(), shown);
}

// A page whose contents cannot be loaded again stays in the cache.
TEST(ReloadKeeping, AHiddenPageThatKeepsItselfOutlivesAReload) {
    class KeptPage : public FakePage, public ZNTReloadKeeping {
    public:
        using FakePage::FakePage;
        bool keepsPageOnReload() const override { return true; }
    };
    resetWindowDefaults();
    QPointer<FakePage> kept;
    FakePages pages([&](const std::shared_ptr<ZNTObject> &item) -> ZNTContentController * {
        if (item->objectKind() != ZNTObjectKind::Terminal)
            return nullptr;
        kept = new KeptPage(item);
        return kept.data();
    });
    auto server = ZNTServer::create({{"host", "db.example"}, {"dbname", "shop"}});
    auto window = ZNTWindowController::create(server->mainDatabase());
    auto terminal = std::make_shared<ZNTTerminal>(server->mainDatabase());
    window->navigateToItem(terminal);
    ASSERT_TRUE(kept);
    window->navigateToItem(ZNTTable::create("orders", "public", server->mainDatabase()));
    window->reloadData();
    flushDeferredDeletes();
    ASSERT_FALSE(kept.isNull());
    EXPECT_EQ(window->cachedViewController(*std::make_shared<ZNTTerminal>(server->mainDatabase())), kept.data());
    window->close();
}

TEST_F(ResignationTest, ReloadWhoseShownPageRefusesDoesNothing) {
    QPointer<FakePage> hidden = show(table("customers"));
    FakePage *shown = show(table("orders"));
    shown->pending = true;
    shown->answerYes = false;
    window->reloadData();
    EXPECT_EQ(shown->asked, 1);
    EXPECT_EQ(shown->reloads, 0);
    flushDeferredDeletes();
    EXPECT_FALSE(hidden.isNull());

    shown->answerYes = true;
    window->reloadData();
    EXPECT_EQ(shown->reloads, 1);
}

TEST_F(ResignationTest, PagesLeftByReplaceLiveUntilTheCurrentEventEnds) {
    auto draft = std::make_shared<ZNTTableSchema>(ZNTTable::create(QString(), "public", database));
    QPointer<FakePage> page = show(draft);
    auto saved = std::make_shared<ZNTTableSchema>(table("invoices"));
    // The structure page sends this up the route from its own handler, which
    // still runs when the window has answered.
    ASSERT_TRUE(sendAction(page->view()->findChild<QLabel *>(), ZNTActionName::replaceNavigationItems,
                           ZNTObjectList{draft, saved}));
    EXPECT_TRUE(window->currentItem()->isEqual(*saved));
    ASSERT_FALSE(page.isNull());
    EXPECT_NE(window->mainViewController(), page.data());
    flushDeferredDeletes();
    EXPECT_TRUE(page.isNull());
}

TEST_F(ResignationTest, APageDestroyedBeforeItAnswersCountsAsARefusal) {
    FakePage *page = show(table("orders"));
    page->pending = true;
    page->answer = FakePage::Answer::Held;
    window->performClose();
    delete page;
    EXPECT_FALSE(window->isResigning());
    EXPECT_EQ(closed, 0);
}

TEST_F(ResignationTest, EqualItemsShareOnePage) {
    ZNTContentController *first = window->viewControllerForItem(table("orders"));
    EXPECT_EQ(window->viewControllerForItem(ZNTView::create("orders", "public", database)), first);
    EXPECT_NE(window->viewControllerForItem(std::make_shared<ZNTTableSchema>(table("orders"))), first);
}
