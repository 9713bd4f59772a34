// A page's own commands in the window's Edit menu: listed while the page is
// shown, enabled as the page says, revalidated when the page asks, and their
// keys follow.
#include "WindowTestSupport.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace windowtest;

namespace {

// A page with two commands, Copy and Delete, the second in a submenu; what is
// enabled is the test's to say.
class CommandPage : public FakePage, public ZNTEditMenuProvider {
public:
    explicit CommandPage(std::shared_ptr<ZNTObject> item) : FakePage(std::move(item)) {
        copy = new QAction(QStringLiteral("&Copy"), this);
        copy->setShortcut(QKeySequence::Copy);
        special = new QAction(QStringLiteral("Copy &Special"), this);
        special->setMenu(new QMenu);
        asCsv = special->menu()->addAction(QStringLiteral("CSV"));
        connect(copy, &QAction::triggered, this, [this] { ++copies; });
    }
    ~CommandPage() override { delete special->menu(); }

    QList<QAction *> editMenuActions() override { return {copy, special, nullptr}; }
    bool validateEditMenuAction(QAction *item) override {
        ++validations;
        if (item == copy || item == special || item == asCsv)
            return canCopy;
        return true;
    }

    QAction *copy;
    QAction *special;
    QAction *asCsv;
    bool canCopy = false;
    int copies = 0;
    int validations = 0;

protected:
    QWidget *makeView() override {
        QWidget *view = FakePage::makeView();
        view->setFocusPolicy(Qt::StrongFocus);
        return view;
    }
};

QStringList editMenuTitles(ZNTWindowController &window) {
    QStringList titles;
    for (QMenu *menu : window.menuBar()->findChildren<QMenu *>(Qt::FindDirectChildrenOnly)) {
        if (menu->title() != QLatin1String("&Edit"))
            continue;
        for (QAction *action : menu->actions()) {
            if (action->isVisible())
                titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
    }
    return titles;
}

class PageCommands : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        server = ZNTServer::create({{"host", "db.example"}, {"dbname", "shop"}});
        database = server->mainDatabase();
    }

    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTDatabase> database;
    std::vector<QPointer<CommandPage>> made;
    FakePages pages{[this](const std::shared_ptr<ZNTObject> &item) -> ZNTContentController * {
        if (item->name() != QLatin1String("orders"))
            return nullptr;
        auto *page = new CommandPage(item);
        made.push_back(page);
        return page;
    }};
};

} // namespace

TEST_F(PageCommands, TheShownPageListsItsCommandsInTheEditMenuAndTakesThemAlong) {
    auto window = ZNTWindowController::create(database);
    window->show();
    const QStringList bare = editMenuTitles(*window);
    EXPECT_EQ(bare, QStringList({"&Undo", "&Redo"}));

    window->navigateToItem(ZNTTable::create("orders", "public", database));
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(editMenuTitles(*window), QStringList({"&Undo", "&Redo", "-", "&Copy", "Copy &Special", "-"}));
    window->navigateToItem(ZNTTable::create("customers", "public", database));
    EXPECT_EQ(editMenuTitles(*window), bare);
    window->goBack();
    EXPECT_EQ(editMenuTitles(*window), QStringList({"&Undo", "&Redo", "-", "&Copy", "Copy &Special", "-"}));
    EXPECT_EQ(made.size(), 1u); // the same page, found again
}

TEST_F(PageCommands, ThePageDecidesWhatIsEnabledAndAskingRevalidatesKeysToo) {
    auto window = ZNTWindowController::create(ZNTTable::create("orders", "public", database));
    uikittest::activate(window.get());
    ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }));
    CommandPage *page = made.at(0);
    EXPECT_FALSE(page->copy->isEnabled());
    EXPECT_FALSE(page->asCsv->isEnabled()); // submenus too

    page->view()->setFocus();
    QTest::keyClick(page->view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(page->copies, 0); // disabled: the key does nothing

    page->canCopy = true;
    const int before = page->validations;
    emit page->validationRequested();
    EXPECT_GT(page->validations, before);
    EXPECT_TRUE(page->copy->isEnabled());
    EXPECT_TRUE(page->asCsv->isEnabled());
    QTest::keyClick(page->view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(page->copies, 1);

    // A page no longer shown is no longer listened to.
    window->navigateToItem(database);
    page->canCopy = false;
    emit page->validationRequested();
    EXPECT_TRUE(page->copy->isEnabled());
}
