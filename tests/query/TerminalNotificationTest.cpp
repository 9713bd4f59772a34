// The desktop notification at the end of a terminal run: sent (through the
// session bus's notification service, stood in for by this test) only while
// the user looks at another window, with the run's time and its SQL.
#include "TerminalTestSupport.h"
#include "platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QVariantMap>

using namespace terminaltest;

namespace {
// The notification service, reduced to what is asked of it.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries, bodies;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int) {
        summaries << summary;
        bodies << body;
        return uint(bodies.size());
    }
};

class TerminalNotification : public TerminalPageFixture {
protected:
    void SetUp() override {
        TerminalPageFixture::SetUp();
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
        TerminalPageFixture::TearDown();
    }

    FakeNotificationService service;
    std::unique_ptr<QDBusConnection> bus;
};
} // namespace

TEST_F(TerminalNotification, ARunEndingBehindAnotherWindowIsToldOnlyThen) {
    const QString marker = QStringLiteral("terminal-%1").arg(QCoreApplication::applicationPid());
    QWidget other;
    uikittest::activate(&other);
    ASSERT_TRUE(pumpUntil([&] { return other.isActiveWindow(); }));
    ASSERT_NO_FATAL_FAILURE(run(QStringLiteral("SELECT '%1'").arg(marker)));
    ASSERT_TRUE(pumpUntil([&] { return service.bodies.filter(marker).size() == 1; }));
    const int index = int(service.bodies.indexOf(service.bodies.filter(marker).first()));
    EXPECT_TRUE(service.summaries[index].startsWith("Query Completed in "));
    EXPECT_EQ(service.bodies[index], QStringLiteral("SELECT '%1'").arg(marker));

    uikittest::activate(window);
    ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }));
    ASSERT_NO_FATAL_FAILURE(run(QStringLiteral("SELECT '%1 again'").arg(marker)));
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(service.bodies.filter(marker).size(), 1);
}

#include "TerminalNotificationTest.moc"
