// The server page on the test server, with psql as the oracle.
#include "OverviewTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTDatabaseViewController.h"
#include "browser/ZNTObjectListModel.h"
#include "browser/ZNTServerViewController.h"
#include "model/ServerTestSupport.h"
#include "model/ZNTServerListingQuery.h"
#include "uikit/AlertSheet.h"
#include "uikit/IconView.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QMenu>
#include <QTest>

using namespace std::chrono_literals;
using namespace windowtest;
using namespace overviewtest;

namespace {

// As "name|oid|accepts connections": one dropped and made again under its name
// is another database.
const QString kDatabases = QStringLiteral("SELECT datname, oid, datallowconn FROM pg_database");

class ServerPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        uikittest::useFixedLook();
    }
    static QStringList names(const ZNTObjectListModel *model) {
        QStringList shown;
        for (const auto &item : model->items())
            shown << item->name();
        return shown;
    }
    static QModelIndex iconOf(ZNTServerViewController *page, const QString &name) {
        const int row = int(names(page->model()).indexOf(name));
        return row < 0 ? QModelIndex() : page->model()->index(row);
    }

    InstalledPages pages;
    ScratchDatabase db;
};

} // namespace

TEST_F(ServerPageTest, ListsTheDatabasesThatAcceptConnectionsInTheServersOrder) {
    const QString closed = db.name.left(56) + QStringLiteral("_closed");
    psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1").arg(closed));
    psql("postgres", QStringLiteral("CREATE DATABASE %1 ALLOW_CONNECTIONS false").arg(closed));
    const QStringList before = psql("postgres", kDatabases).split('\n');
    auto server = connectedServer(db.name);
    ZNTServerViewController page(server);
    page.view()->resize(700, 500);
    page.view()->show();
    EXPECT_TRUE(page.progressIndicator()->isAnimating());
    ASSERT_TRUE(pumpUntil([&] { return page.initialQueryDone(); }, 30s));
    const QStringList after = psql("postgres", kDatabases).split('\n');
    psql("postgres", QStringLiteral("DROP DATABASE %1").arg(closed));

    const QStringList shown = names(page.model());
    EXPECT_TRUE(shown.contains(db.name));
    EXPECT_FALSE(shown.contains(closed));
    // Tests beside this one make and drop databases, some while the page lists
    // them, and make them again under the same names: it lists every database
    // there all along (the same one before and after it), and of what it lists
    // and is still there, only databases that accept connections.
    for (const QString &database : before) {
        if (database.endsWith(QStringLiteral("|t")) && after.contains(database)) {
            EXPECT_TRUE(shown.contains(database.section(u'|', 0, 0))) << database.toStdString();
        }
    }
    for (const QString &name : shown) {
        for (const QString &database : after) {
            if (database.section(u'|', 0, 0) == name) {
                EXPECT_TRUE(database.endsWith(QStringLiteral("|t"))) << database.toStdString();
            }
        }
    }
    // In the server's order of names: their bytes.
    for (qsizetype i = 1; i < shown.size(); ++i)
        EXPECT_LT(shown[i - 1].toUtf8(), shown[i].toUtf8());
    // The grid shows every one of them.
    for (int row = 0; row < page.model()->rowCount(); ++row)
        EXPECT_FALSE(page.iconView()->visualRect(page.model()->index(row)).isEmpty());
    EXPECT_FALSE(page.progressIndicator()->isAnimating());
}

TEST_F(ServerPageTest, AReloadWhileTheFirstListingRunsShowsNothingOfThatListing) {
    auto server = connectedServer(db.name);
    ZNTServerViewController page(server);
    page.view()->show();
    const auto first = page.databaseQuery();
    std::shared_ptr<ZNTDatabaseQuery> second;
    ZNTObjectList firstItems;
    bool spinningWhenFirstEnded = false, reloaded = false;
    ZNTObjectList inserted;
    QObject::connect(page.model(), &QAbstractItemModel::rowsInserted, [&](const QModelIndex &, int from, int to) {
        for (int row = from; reloaded && row <= to; ++row)
            inserted << page.model()->itemForIndex(page.model()->index(row));
    });
    // The reload comes as the first listing's databases arrive; its end comes after.
    ObserverToken arrived = NotificationCenter::defaultCenter().observe(ZNTObjectQuery::NewObjectNotification,
                                                                        first.get(), [&](const Notification &) {
                                                                            if (reloaded)
                                                                                return;
                                                                            firstItems = page.model()->items();
                                                                            page.performReload();
                                                                            reloaded = true;
                                                                            second = page.databaseQuery();
                                                                            EXPECT_EQ(page.model()->rowCount(), 0);
                                                                        });
    ObserverToken ended = NotificationCenter::defaultCenter().observe(
        ZNTObjectQuery::DoneNotification, first.get(),
        [&](const Notification &) { spinningWhenFirstEnded = page.progressIndicator()->isAnimating(); });
    ASSERT_TRUE(pumpUntil([&] { return second && page.initialQueryDone(); }, 30s));
    ASSERT_FALSE(firstItems.isEmpty()); // the first listing had shown its databases
    EXPECT_NE(second, first);
    EXPECT_TRUE(spinningWhenFirstEnded);
    const ZNTObjectList secondItems = second->objects().value_or(ZNTObjectList());
    EXPECT_EQ(page.model()->items(), secondItems); // the very items of the second listing
    for (const auto &item : inserted) {
        EXPECT_TRUE(secondItems.contains(item)) << item->name().toStdString();
        EXPECT_FALSE(firstItems.contains(item)) << item->name().toStdString();
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ServerPageTest, ADoubleClickedDatabaseOpensInTheWindowAndOpenNeedsExactlyOne) {
    auto favorite = std::make_shared<FakeFavorite>();
    favorite->allDatabases = true;
    auto server = connectedServer(db.name);
    server->setFavorite(favorite);
    auto window = ZNTWindowController::create(server);
    window->resize(900, 600);
    uikittest::activate(window.get());
    auto *page = dynamic_cast<ZNTServerViewController *>(window->mainViewController());
    ASSERT_TRUE(page);
    ASSERT_TRUE(pumpUntil([&] { return page->initialQueryDone(); }, 30s));
    IconView *grid = page->iconView();
    EXPECT_TRUE(grid->hasFocus());
    const QModelIndex ours = iconOf(page, db.name);
    ASSERT_TRUE(ours.isValid());
    const QPoint point = grid->visualRect(ours).center() - QPoint(0, 20);
    QTest::mouseClick(grid, Qt::LeftButton, {}, point);
    QTest::mouseDClick(grid, Qt::LeftButton, {}, point);
    QTest::mouseRelease(grid, Qt::LeftButton, {}, point);
    ASSERT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::Database);
    EXPECT_EQ(window->currentItem()->name(), db.name);
    EXPECT_TRUE(dynamic_cast<ZNTDatabaseViewController *>(window->mainViewController()));
    window->goBack();
    ASSERT_EQ(window->mainViewController(), page);

    // Return opens the selection too; none, or two, beep and stay.
    BeepCounter beeps;
    grid->selectIndex({}, false);
    EXPECT_FALSE(page->canGoDown());
    page->goDown();
    grid->selectIndex(ours, false);
    grid->selectIndex(page->model()->index(ours.row() == 0 ? 1 : 0), true);
    EXPECT_FALSE(page->canGoDown());
    page->goDown();
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::Server);
    EXPECT_FALSE(page->validateMenuItem(ZNTWindowCommand::Export, window->windowAction(ZNTWindowCommand::Export)));
    grid->selectIndex(ours, false);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(window->currentItem()->name(), db.name);
    window->goBack();
    saveShots(window.get(), "server-page");
}

TEST_F(ServerPageTest, AFailedListingIsShownAndStopsTheSpinner) {
    auto server = ZNTServer::create(testServerParams(db.name + QStringLiteral("_missing")));
    ZNTServerViewController page(server);
    QWidget host;
    auto *layout = new QVBoxLayout(&host);
    layout->addWidget(page.view());
    host.resize(600, 400);
    uikittest::activate(&host);
    Alert *failure = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (failure = qobject_cast<Alert *>(QApplication::activeModalWidget())); }, 30s));
    EXPECT_EQ(failure->parentWidget(), &host);
    EXPECT_TRUE(failure->informativeText().contains("does not exist") ||
                failure->messageText().contains("does not exist"))
        << failure->messageText().toStdString() << " / " << failure->informativeText().toStdString();
    failure->buttons().first()->click();
    EXPECT_TRUE(page.initialQueryDone());
    EXPECT_FALSE(page.progressIndicator()->isAnimating());
    EXPECT_EQ(page.model()->rowCount(), 0);
}
