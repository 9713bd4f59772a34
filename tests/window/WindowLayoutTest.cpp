#include "WindowTestSupport.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "window/StatusDisplay.h"
#include "window/ZNTSidebarController.h"

#include <QAction>
#include <QLineEdit>
#include <QSplitter>
#include <QTest>
#include <QUndoStack>

using namespace windowtest;

namespace {
// A page that offers everything a page may: a detail view, an accessory bar,
// the filter, structure and export commands, and an undo stack of its own.
class FullPage : public FakePage,
                 public ZNTRightSidebarProvider,
                 public ZNTAccessoryViewProvider,
                 public ZNTTableFilterToggling,
                 public ZNTStructureToggling,
                 public ZNTExporting,
                 public ZNTMenuValidator,
                 public ZNTCustomUndoProvider {
public:
    using FakePage::FakePage;
    QWidget *rightSidebarView() override {
        if (!m_detail)
            m_detail = new QLineEdit(QStringLiteral("detail of ") + item->name());
        return m_detail;
    }
    QWidget *accessoryView() override {
        if (!m_bar)
            m_bar = new QLabel(QStringLiteral("1 000 rows"));
        return m_bar;
    }
    void toggleTableFilter() override { ++filters; }
    void toggleStructureAndContents(QObject *) override { ++toggles; }
    void exportContents(QObject *) override { ++exports; }
    bool validateMenuItem(ZNTWindowCommand command, QAction *) override {
        return command == ZNTWindowCommand::Export && canExport;
    }
    QUndoStack *customUndoManager() override { return &undo; }

    int filters = 0, toggles = 0, exports = 0;
    bool canExport = true;
    QUndoStack undo;

private:
    QPointer<QWidget> m_detail, m_bar;
};

class WindowLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        server = ZNTServer::create({{"host", "db.example"}, {"dbname", "shop"}});
        database = server->mainDatabase();
    }
    std::shared_ptr<ZNTWindowController> openWindow() {
        auto window = ZNTWindowController::create(database);
        window->resize(1000, 600);
        uikittest::activate(window.get());
        pumpFor(std::chrono::milliseconds(10));
        return window;
    }
    std::shared_ptr<ZNTTable> table(const QString &name) { return ZNTTable::create(name, "public", database); }
    static double stored(const char *key) { return UserDefaults::standard().doubleForKey(QString::fromUtf8(key)); }
    static bool setting(const char *key) { return UserDefaults::standard().boolForKey(QString::fromUtf8(key)); }

    FakePages pages{[](const std::shared_ptr<ZNTObject> &item) -> ZNTContentController * {
        return item->objectKind() == ZNTObjectKind::Table || item->objectKind() == ZNTObjectKind::TableSchema
                   ? new FullPage(item)
                   : nullptr;
    }};
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTDatabase> database;
};
} // namespace

TEST_F(WindowLayoutTest, TheNavigationSidebarOpensAt200AndKeepsItsWidthAcrossHidingAndWindows) {
    auto window = openWindow();
    EXPECT_EQ(window->sidebarWidth(), 0);
    EXPECT_EQ(window->windowAction(ZNTWindowCommand::ToggleSidebar)->text(), "Show &Navigation Sidebar");
    window->toggleSidebar();
    EXPECT_EQ(window->sidebarWidth(), 200);
    EXPECT_TRUE(setting("ShowSidebar"));
    EXPECT_EQ(window->windowAction(ZNTWindowCommand::ToggleSidebar)->text(), "Hide &Navigation Sidebar");

    window->splitView()->setSizes({260, 740});
    window->toggleSidebar();
    EXPECT_EQ(window->sidebarWidth(), 0);
    EXPECT_EQ(stored("LeftSidebarWidth"), 260);
    EXPECT_FALSE(setting("ShowSidebar"));
    window->toggleSidebar();
    EXPECT_EQ(window->sidebarWidth(), 260);

    // Widening the window goes to the page; the sidebar keeps its width.
    window->resize(1300, 600);
    pumpFor(std::chrono::milliseconds(10));
    EXPECT_EQ(window->sidebarWidth(), 260);

    window->splitView()->setSizes({230, 1070});
    window->performClose();
    EXPECT_EQ(stored("LeftSidebarWidth"), 230);
    auto next = openWindow(); // "ShowSidebar" is on: the next window has it
    EXPECT_EQ(next->sidebarWidth(), 230);
}

TEST_F(WindowLayoutTest, ADetailSidebarComesAndGoesWithThePagesThatOfferOne) {
    auto window = openWindow();
    QAction *detail = window->windowAction(ZNTWindowCommand::ToggleRightSidebar);
    EXPECT_FALSE(detail->isEnabled()); // the database page has no detail view
    window->navigateToItem(table("orders"));
    EXPECT_TRUE(detail->isEnabled());
    EXPECT_EQ(window->rightSidebarWidth(), 0); // off until the user asks for it
    window->toggleRightSidebar();
    EXPECT_EQ(window->rightSidebarWidth(), 200);
    EXPECT_TRUE(setting("ShowRightSidebar"));
    EXPECT_EQ(detail->text(), "Hide &Detail Sidebar");

    QList<int> sizes = window->splitView()->sizes();
    sizes.last() = 280;
    sizes.first() = 1000 - 280 - window->splitView()->handleWidth();
    window->splitView()->setSizes(sizes);
    window->navigateToItem(database); // no detail view: the pane goes, its width kept
    EXPECT_FALSE(detail->isEnabled());
    EXPECT_EQ(window->rightSidebarContainerView(), nullptr);
    EXPECT_EQ(stored("RightSidebarWidth"), 280);
    window->goBack();
    EXPECT_EQ(window->rightSidebarWidth(), 280);
    auto *field = qobject_cast<QLineEdit *>(window->rightSidebarContainerView()->findChild<QLineEdit *>());
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), "detail of orders");

    // Hiding the pane that has the focus hands the focus to the page.
    field->setFocus();
    window->toggleRightSidebar();
    EXPECT_EQ(window->rightSidebarWidth(), 0);
    EXPECT_FALSE(setting("ShowRightSidebar"));
    EXPECT_TRUE(window->mainView()->isAncestorOf(QApplication::focusWidget()));
    saveShot(window.get(), "window-detail-hidden.png");
}

TEST_F(WindowLayoutTest, DraggingTheSidebarShutTurnsItOffAndTheContentNeverCollapses) {
    auto window = openWindow();
    window->toggleSidebar();
    QSplitter *split = window->splitView();
    EXPECT_FALSE(split->isCollapsible(split->indexOf(window->mainView())));
    QSplitterHandle *handle = split->handle(1);
    const QPoint middle = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, middle);
    QTest::mouseMove(handle, middle - QPoint(400, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, middle - QPoint(400, 0));
    EXPECT_EQ(window->sidebarWidth(), 0);
    EXPECT_FALSE(setting("ShowSidebar"));
    EXPECT_FALSE(window->findChild<QAction *>("sidebarSegment0")->isChecked());

    window->toggleSidebar(); // back at the width it last had
    EXPECT_EQ(window->sidebarWidth(), 200);
    QTest::mousePress(handle, Qt::LeftButton, {}, middle);
    QTest::mouseMove(handle, middle + QPoint(2000, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, middle + QPoint(2000, 0));
    EXPECT_GT(window->mainView()->width(), 0);
}

TEST_F(WindowLayoutTest, DoubleClickingTheSidebarsDividerFitsItToItsRows) {
    auto window = openWindow();
    window->toggleSidebar();
    const double preferred = window->sidebarController()->preferredWidth();
    EXPECT_GT(preferred, 60.0); // the one row of a level still loading
    EXPECT_LT(preferred, 170.0);
    QSplitterHandle *handle = window->splitView()->handle(1);
    QTest::mouseDClick(handle, Qt::LeftButton, {}, handle->rect().center());
    EXPECT_NEAR(window->sidebarWidth(), preferred, 1.0);
}

TEST_F(WindowLayoutTest, CommandsFollowTheShownPage) {
    auto window = openWindow();
    QAction *structure = window->windowAction(ZNTWindowCommand::ToggleStructureAndContents);
    QAction *filter = window->windowAction(ZNTWindowCommand::ToggleTableFilter);
    QAction *exporting = window->windowAction(ZNTWindowCommand::Export);
    EXPECT_FALSE(structure->isEnabled());
    EXPECT_FALSE(filter->isEnabled());
    EXPECT_FALSE(exporting->isEnabled()); // the page does not say: off
    EXPECT_EQ(structure->text(), "Go to &Table Structure");
    EXPECT_FALSE(window->windowAction(ZNTWindowCommand::CancelCurrentQuery)->isEnabled());

    window->navigateToItem(table("orders"));
    auto *page = dynamic_cast<FullPage *>(window->mainViewController());
    ASSERT_TRUE(page);
    EXPECT_TRUE(structure->isEnabled());
    EXPECT_TRUE(filter->isEnabled());
    EXPECT_TRUE(exporting->isEnabled());
    QTest::keySequence(window.get(), QKeySequence::Find);
    exporting->trigger();
    structure->trigger();
    EXPECT_EQ(page->filters, 1);
    EXPECT_EQ(page->exports, 1);
    EXPECT_EQ(page->toggles, 1);
    page->canExport = false;
    window->validateActions();
    EXPECT_FALSE(exporting->isEnabled());

    window->navigateToItem(std::make_shared<ZNTTableSchema>(table("orders")));
    EXPECT_EQ(structure->text(), "Go to &Table Contents");
    // The accessory bar sits under the page, under a 1-pixel line.
    QWidget *bar = window->mainView()->findChild<QWidget *>("accessoryBar");
    ASSERT_TRUE(bar);
    QWidget *content = window->mainViewController()->view();
    EXPECT_EQ(bar->geometry().bottom(), window->mainView()->height() - 1);
    EXPECT_EQ(bar->geometry().top() - content->geometry().bottom(), 2);
    EXPECT_EQ(bar->height(), bar->sizeHint().height());
}

TEST_F(WindowLayoutTest, UndoActsOnTheShownPagesStackElseOnTheWindowsOwn) {
    auto window = openWindow();
    QAction *undo = window->windowAction(ZNTWindowCommand::Undo);
    QUndoStack *own = window->undoManager();
    own->push(new QUndoCommand(QStringLiteral("Typing")));
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->text(), "&Undo Typing");
    // A "&" in an edit's name is shown, not taken for the item's letter.
    own->push(new QUndoCommand(QStringLiteral("Rename R&D")));
    EXPECT_EQ(undo->text(), "&Undo Rename R&&D");

    window->navigateToItem(table("orders"));
    auto *page = dynamic_cast<FullPage *>(window->mainViewController());
    EXPECT_EQ(window->undoManager(), &page->undo);
    EXPECT_FALSE(undo->isEnabled());
    int undone = 0;
    struct Edit : QUndoCommand {
        int *undone;
        explicit Edit(int *u) : QUndoCommand(QStringLiteral("Edit Cell")), undone(u) {}
        void undo() override { ++*undone; }
    };
    page->undo.push(new Edit(&undone));
    EXPECT_EQ(undo->text(), "&Undo Edit Cell");
    undo->trigger();
    EXPECT_EQ(undone, 1);
    EXPECT_EQ(own->count(), 0); // the window's stack empties at each page
}

TEST_F(WindowLayoutTest, ScreenshotsOfTheWindowWithBothSidebars) {
    UserDefaults::standard().setObject(true, "ShowSidebar");
    UserDefaults::standard().setObject(true, "ShowRightSidebar");
    auto window = openWindow();
    window->navigateToItem(table("orders"));
    EXPECT_EQ(window->rightSidebarWidth(), 200);
    EXPECT_EQ(window->sidebarWidth(), 200);
    saveShot(window.get(), "window-both-sidebars.png");
    saveDarkShot(window.get(), "window-both-sidebars-dark.png");
}

// At twice the pixel density the drawn icons and the status display are drawn
// for the device's pixels, not scaled up.
TEST_F(WindowLayoutTest, AtDoubleDensityTheWindowDrawsForTheDevicesPixels) {
    if (!isChildRun()) {
        runCurrentTestInChild({{"QT_SCALE_FACTOR", "2"}});
        return;
    }
    UserDefaults::standard().setObject(true, "ShowSidebar");
    auto window = openWindow();
    window->navigateToItem(table("orders"));
    EXPECT_EQ(window->devicePixelRatioF(), 2.0);
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.devicePixelRatio(), 2.0);
    EXPECT_EQ(shot.width(), window->width() * 2);
    saveShot(window.get(), "window-double-density.png");
}
