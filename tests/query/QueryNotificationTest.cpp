// The desktop notification at the end of a run: sent to the session bus's
// notification service (a stand-in of this test registers that name on the
// test bus) only while the user looks at another window, with the time as
// title and the SQL on one line, cut and escaped as the service needs it.
#include "QueryTestSupport.h"
#include "platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

using namespace querytest;

namespace {
// The notification service as a desktop runs it, reduced to what is asked of it.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Received {
        QString appName, summary, body;
        QVariantMap hints;
    };
    QStringList capabilities{QStringLiteral("body")};
    std::vector<Received> received;

    // Only what this process sent: other test programs share the bus.
    std::vector<Received> receivedWith(const QString &marker) const {
        std::vector<Received> mine;
        for (const Received &r : received)
            if (r.body.contains(marker))
                mine.push_back(r);
        return mine;
    }

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &appName, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int) {
        received.push_back({appName, summary, body, hints});
        return uint(received.size());
    }
};

class QueryNotification : public QueryPageFixture {
protected:
    void SetUp() override {
        QueryPageFixture::SetUp();
        bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications")));
        ASSERT_TRUE(bus->isConnected());
        ASSERT_TRUE(bus->registerObject(DesktopNotifier::ObjectPath, &service, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus->registerService(DesktopNotifier::ServiceName)) << bus->lastError().message().toStdString();
        DesktopNotifier::shared().resetForTesting();
    }
    void TearDown() override {
        bus->unregisterService(DesktopNotifier::ServiceName);
        bus->unregisterObject(DesktopNotifier::ObjectPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
        QueryPageFixture::TearDown();
    }

    FakeNotificationService service;
    std::unique_ptr<QDBusConnection> bus;
};
} // namespace

TEST_F(QueryNotification, ARunEndingBehindAnotherWindowIsToldWithItsTimeAndText) {
    const QString marker = QStringLiteral("marker-%1").arg(QCoreApplication::applicationPid());
    QWidget other;
    uikittest::activate(&other);
    ASSERT_TRUE(pumpUntil([&] { return other.isActiveWindow(); }));
    QString sql = QStringLiteral("SELECT '%1',\n\t\t1 -- ").arg(marker) + QString(1500, u'x');
    run(sql);
    ASSERT_TRUE(pumpUntil([&] { return !service.receivedWith(marker).empty(); }));
    const auto received = service.receivedWith(marker).front();
    EXPECT_EQ(received.appName, QStringLiteral("Trellan"));
    EXPECT_TRUE(received.summary.startsWith(QStringLiteral("Query Completed in ")));
    EXPECT_TRUE(received.summary.endsWith(QStringLiteral("\u00a0ms")) || received.summary.endsWith(u"\u00a0s"));
    EXPECT_EQ(received.body, (QStringLiteral("SELECT '%1', 1 -- ").arg(marker) + QString(1500, u'x')).left(1000 - 2));
    EXPECT_EQ(received.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("trellan"));

    // While the user looks at the editor's window, nothing is sent.
    uikittest::activate(window);
    ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }));
    run(QStringLiteral("SELECT '%1 again'").arg(marker));
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(service.receivedWith(marker).size(), 1u);
}

TEST_F(QueryNotification, ServicesThatReadMarkupGetTheTextEscaped) {
    const QString marker = QStringLiteral("escaped-%1").arg(QCoreApplication::applicationPid());
    service.capabilities << QStringLiteral("body-markup");
    DesktopNotifier::shared().notify(QStringLiteral("Query Completed in 1\u00a0ms"),
                                     QStringLiteral("SELECT 1 < 2 AND '<b>%1</b>' & x").arg(marker));
    ASSERT_TRUE(pumpUntil([&] { return !service.receivedWith(marker).empty(); }));
    EXPECT_EQ(service.receivedWith(marker).front().body,
              QStringLiteral("SELECT 1 &lt; 2 AND '&lt;b&gt;%1&lt;/b&gt;' &amp; x").arg(marker));

    DesktopNotifier::shared().resetForTesting();
    service.capabilities = {QStringLiteral("body")};
    const QString plain = QStringLiteral("plain-%1 <i>as typed</i>").arg(marker);
    DesktopNotifier::shared().notify(QStringLiteral("t"), plain);
    ASSERT_TRUE(pumpUntil([&] { return service.receivedWith(QStringLiteral("plain-")).size() == 1; }));
    EXPECT_EQ(service.receivedWith(QStringLiteral("plain-")).front().body, plain);
}

TEST_F(QueryNotification, WithoutAServiceNothingWaitsAndALaterServiceIsFound) {
    bus->unregisterService(DesktopNotifier::ServiceName);
    const QString marker = QStringLiteral("later-%1").arg(QCoreApplication::applicationPid());
    DesktopNotifier::shared().notify(QStringLiteral("t"), marker + QStringLiteral(" lost"));
    // The question is on its way, not waited for: its answer comes through the
    // event loop, which takes the call away.
    auto inFlight = [] { return DesktopNotifier::shared().findChildren<QDBusPendingCallWatcher *>().size(); };
    EXPECT_EQ(inFlight(), 1);
    ASSERT_TRUE(pumpUntil([&] { return inFlight() == 0; }));
    ASSERT_TRUE(bus->registerService(DesktopNotifier::ServiceName));
    DesktopNotifier::shared().notify(QStringLiteral("t"), marker + QStringLiteral(" found"));
    ASSERT_TRUE(pumpUntil([&] { return !service.receivedWith(marker).empty(); }));
    EXPECT_EQ(service.receivedWith(marker).size(), 1u);
    EXPECT_TRUE(service.receivedWith(marker).front().body.endsWith(QStringLiteral("found")));
}

#include "QueryNotificationTest.moc"
