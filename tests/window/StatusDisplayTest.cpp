#include "window/StatusDisplay.h"
#include "WindowTestSupport.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace windowtest;

namespace {
StatusSnapshot snapshot(int state) {
    StatusSnapshot s;
    s.hasConnection = true;
    s.state = state;
    s.displayName = QStringLiteral("Prod");
    return s;
}

StatusTexts textsAt(const StatusSnapshot &s, double secondsLater = 0) {
    const QDateTime start = s.startDate.isValid() ? s.startDate : QDateTime::currentDateTime();
    return StatusTexts::forSnapshot(s, start.addMSecs(qint64(secondsLater * 1000)));
}
} // namespace

// What the interface may know of a connection's libpq handle is taken on the
// connection's queue at each state change; the main thread never reads PQdb.
TEST(ConnectionHandleInfo, FollowsTheHandleAsOfTheLastStateChange) {
    auto server = connectedServer(QStringLiteral("postgres"));
    const ZNTConnection::HandleInfo connected = server->mainConnection()->handleInfo();
    EXPECT_TRUE(connected.exists);
    EXPECT_EQ(connected.databaseName, QStringLiteral("postgres"));

    // Refused before libpq is asked: there never is a handle.
    auto refused = ZNTConnection::create({{"host", "/tmp"}, {"dbname", "shop"}});
    refused->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return refused->state() == ZNTConnection::ZNTConnectionStateFailed; }));
    EXPECT_FALSE(refused->handleInfo().exists);
    EXPECT_TRUE(refused->handleInfo().databaseName.isNull());
}

TEST(StatusTexts, ConnectionStatesReadAsTheirTexts) {
    StatusSnapshot none;
    EXPECT_EQ(textsAt(none).left, "No connection");
    EXPECT_EQ(textsAt(snapshot(0)).left, "No connection");
    EXPECT_TRUE(textsAt(snapshot(0)).right.isNull());
    EXPECT_TRUE(textsAt(snapshot(9)).left.isEmpty());

    StatusSnapshot connecting = snapshot(1);
    EXPECT_EQ(textsAt(connecting).left, "Prod: connecting...");
    connecting.hasHandle = true;
    connecting.handleDatabaseName = QStringLiteral("shop");
    EXPECT_EQ(textsAt(connecting).left, "Prod: connecting to shop...");

    for (int state : {2, 4}) {
        StatusSnapshot failed = snapshot(state);
        EXPECT_EQ(textsAt(failed).left, "Connection failed.") << "no handle, state " << state;
        failed.hasHandle = true;
        EXPECT_EQ(textsAt(failed).left, "Connection failed.") << "a handle without a name, state " << state;
        failed.handleDatabaseName = QStringLiteral("shop");
        EXPECT_EQ(textsAt(failed).left, "Prod: connection to shop failed.");
        EXPECT_TRUE(textsAt(failed).right.isNull());
    }

    StatusSnapshot idle = snapshot(3);
    idle.serverVersion = QStringLiteral("15.4");
    EXPECT_EQ(textsAt(idle).left, "Prod");
    EXPECT_EQ(textsAt(idle).right, "PostgreSQL 15.4");
}

TEST(StatusTexts, ARunningStatementShowsItsProgressOrItsOneLineTextWithTheTime) {
    StatusSnapshot busy = snapshot(5);
    busy.hasQuery = true;
    busy.sql = QStringLiteral("SELECT a,\n\t  b\r\nFROM   t");
    busy.startDate = QDateTime::currentDateTime();
    StatusTexts texts = textsAt(busy, 2.46);
    EXPECT_EQ(texts.left, "SELECT a, b FROM t");
    EXPECT_TRUE(texts.leftIsSql);
    EXPECT_EQ(texts.right, "2.5s");

    busy.statusMessage = QStringLiteral("Analyzing orders\u2026");
    texts = textsAt(busy, 0.04);
    EXPECT_EQ(texts.left, "Analyzing orders\u2026");
    EXPECT_FALSE(texts.leftIsSql);
    EXPECT_EQ(texts.right, "0.0s");
    busy.cancelled = true;
    EXPECT_EQ(textsAt(busy).right, "Cancelling\u2026");

    StatusSnapshot huge = snapshot(5);
    huge.hasQuery = true;
    huge.sql = QString(5000, u'x');
    EXPECT_EQ(textsAt(huge).left, QString(1000, u'x') + QStringLiteral("\u2026"));
}

TEST(StatusTexts, BusyBeforeTheStatementIsKnownShowsNoTextAndNoTime) {
    StatusSnapshot busy = snapshot(5); // no query
    EXPECT_TRUE(textsAt(busy).left.isEmpty());
    EXPECT_EQ(textsAt(busy).right, "0.0s");
    busy.hasQuery = true;
    busy.sql = QStringLiteral("select 1"); // not sent yet: no start date
    EXPECT_EQ(StatusTexts::forSnapshot(busy, QDateTime::currentDateTime()).right, "0.0s");
}

TEST(StatusTexts, TheVersionShowsOnlyWithRoomToSpareButTheTimeAlwaysShows) {
    StatusTexts idle{QStringLiteral("Prod"), QStringLiteral("PostgreSQL 15.4"), false};
    EXPECT_TRUE(idle.drawsRight(100, 50, 44.9));
    EXPECT_FALSE(idle.drawsRight(100, 50, 45));
    StatusTexts running{QStringLiteral("select ..."), QStringLiteral("1.0s"), true};
    EXPECT_TRUE(running.drawsRight(10, 500, 30));
    StatusTexts failed{QStringLiteral("Connection failed."), QString(), false};
    EXPECT_FALSE(failed.drawsRight(1000, 10, 0));
}

// A real connection, with a favorite of a real store for its name and colour.
TEST(StatusDisplay, FollowsARunningStatementWithOneTimerAndStopsWhenItEnds) {
    QTemporaryDir dir;
    auto store = ZNTFavoritesStore::create(dir.filePath("ConnectionFavorites.db"));
    ErrorPtr error;
    ASSERT_TRUE(store->open(&error));
    auto favorite = store->insertFavorite();
    favorite->setNickname(QStringLiteral("Reporting"));
    favorite->setColorIndex(3);
    auto server = connectedServer(QStringLiteral("postgres"));
    server->setFavorite(favorite);
    auto connection = server->mainConnection();

    uikittest::useFixedLook();
    QWidget window;
    auto *display = new StatusDisplay(&window);
    display->resize(520, display->sizeHint().height());
    window.resize(540, 40);
    uikittest::activate(&window);
    display->setConnection(connection);
    EXPECT_EQ(display->currentTexts().left, "Reporting");
    EXPECT_TRUE(display->currentTexts().right.startsWith("PostgreSQL 15."));
    EXPECT_FALSE(display->isTicking());
    saveShot(display, "status-idle.png");

    auto query = ZNTQuery::create(QStringLiteral("select pg_sleep(30)"));
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                      [&](const Notification &) { done = true; });
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(pumpUntil([&] { return display->isTicking(); }));
    const QRegularExpression seconds(QStringLiteral("^\\d+\\.\\ds$"));
    ASSERT_TRUE(pumpUntil([&] { return display->currentTexts().right != "0.0s"; }));
    EXPECT_TRUE(seconds.match(display->currentTexts().right).hasMatch()) << display->currentTexts().right.toStdString();
    EXPECT_EQ(display->currentTexts().left, "select pg_sleep(30)");
    EXPECT_EQ(display->findChildren<QTimer *>().size(), 1);
    saveShot(display, "status-running.png");

    query->cancel();
    EXPECT_EQ(display->currentTexts().right, QStringLiteral("Cancelling\u2026"));
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    ASSERT_TRUE(pumpUntil([&] { return !display->isTicking(); }));
    EXPECT_EQ(display->currentTexts().left, "Reporting");

    saveDarkShot(display, "status-idle-dark.png");
    display->setConnection(nullptr);
    EXPECT_EQ(display->currentTexts().left, "No connection");
}
