#include "window/StatusDisplay.h"
#include "WindowTestSupport.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoritesStore.h"
#include "uikit/ProgressSheet.h"

#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

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

double luminance(QRgb c) {
    auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// How the texts of a display read: the strongest contrast any pixel of the
// left and of the right half makes with the display's background.
struct Legibility {
    double left = 1.0;
    double right = 1.0;
};

Legibility legibilityOf(const QImage &shown) {
    const QImage image = shown.convertToFormat(QImage::Format_RGB32);
    const QRgb background = image.pixel(image.width() / 2, 3);
    Legibility seen;
    for (int y = 3; y < image.height() - 3; ++y) {
        for (int x = 10; x < image.width() - 10; ++x) {
            double &half = x < image.width() / 2 ? seen.left : seen.right;
            half = std::max(half, contrast(image.pixel(x, y), background));
        }
    }
    return seen;
}

// What the screen shows of the window's status display: the window's painted
// pixels, not a fresh paint, so a display nobody repainted shows as it was.
QImage shownStatus(ZNTWindowController *window) {
    pumpFor(std::chrono::milliseconds(40));
    const StatusDisplay *display = window->statusDisplay();
    const QPoint at = display->mapTo(window, QPoint());
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), display->width(), display->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
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

// The display's window is told of its activation, the display itself is not:
// it must still draw the active look in the window the user works in, also
// while a sheet of that window (the progress of the running statement) has the
// focus, and it must do so in a dark palette as in a light one.
TEST(StatusDisplay, DrawsTheActiveLookExactlyWhileItsWindowOrItsSheetHasTheFocus) {
    QTemporaryDir dir;
    auto store = ZNTFavoritesStore::create(dir.filePath("ConnectionFavorites.db"));
    ErrorPtr error;
    ASSERT_TRUE(store->open(&error));
    auto favorite = store->insertFavorite();
    favorite->setNickname(QStringLiteral("Reporting"));
    auto server = connectedServer(QStringLiteral("postgres"));
    server->setFavorite(favorite);
    uikittest::useFixedLook();
    const QPalette light = QApplication::palette();

    for (const bool dark : {false, true}) {
        const QString palette = dark ? QStringLiteral("dark") : QStringLiteral("light");
        QApplication::setPalette(dark ? darkPalette() : light);
        favorite->setColorIndex(6);
        auto window = ZNTWindowController::create(server->mainDatabase());
        window->resize(1000, 500);
        uikittest::activate(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        const QImage active = shownStatus(window.get());
        EXPECT_TRUE(window->statusDisplay()->drawsActiveLook());
        saveScreenshot(active, "window", QStringLiteral("status-active-%1.png").arg(palette));

        QWidget other;
        other.resize(300, 200);
        uikittest::activate(&other);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        const QImage behind = shownStatus(window.get());
        EXPECT_FALSE(window->statusDisplay()->drawsActiveLook());
        saveScreenshot(behind, "window", QStringLiteral("status-behind-%1.png").arg(palette));
        const Legibility strong = legibilityOf(active), faint = legibilityOf(behind);
        EXPECT_GT(strong.left, faint.left + 1.0) << palette.toStdString();
        EXPECT_GT(strong.right, faint.right + 0.3) << palette.toStdString();

        // Back in front, then under its own sheet: the active look both times.
        uikittest::activate(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_TRUE(shownStatus(window.get()) == active) << palette.toStdString();
        QPointer<ProgressSheet> sheet =
            ProgressSheet::showStatus(QStringLiteral("Analyzing orders\u2026"), window.get());
        uikittest::activate(sheet);
        ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
        EXPECT_TRUE(shownStatus(window.get()) == active) << "under its sheet, " << palette.toStdString();
        // The sheet losing the focus to another window takes the look along.
        uikittest::activate(&other);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        EXPECT_TRUE(shownStatus(window.get()) == behind) << palette.toStdString();

        // Every favorite colour leaves the name readable in the active look.
        uikittest::activate(sheet);
        ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
        for (int colour = 1; colour <= 7; ++colour) {
            favorite->setColorIndex(colour);
            window->statusDisplay()->update();
            const Legibility seen = legibilityOf(shownStatus(window.get()));
            EXPECT_GE(seen.left, 4.5) << "colour " << colour << ", " << palette.toStdString();
            EXPECT_GE(seen.right, 2.0) << "colour " << colour << ", " << palette.toStdString();
        }
        sheet->endProgressSheet();
        window->close();
    }
    QApplication::setPalette(light);
}
