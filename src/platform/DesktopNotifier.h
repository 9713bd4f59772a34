#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Notifications on the user's desktop (the end of a query run while the
// user looks elsewhere), through the session bus's notification service
// (org.freedesktop.Notifications). Nothing here waits for the bus: the
// service's capabilities are asked once, the notifications sent after the
// answer, and a desktop without the service just shows nothing. The body is
// plain text: for a service that reads markup in bodies it is escaped, so
// that SQL like "a < b" is shown as written. main thread
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static inline const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");

    static DesktopNotifier &shared();

    void notify(const QString &title, const QString &body);

    // Tests: notifications sent to the bus so far (the answers come later).
    int sentCount() const { return m_sent; }
    // Forgets the service's capabilities, so that they are asked again.
    void resetForTesting();

private:
    explicit DesktopNotifier(QObject *parent = nullptr) : QObject(parent) {}
    void askCapabilities();
    void send(const QString &title, const QString &body);

    struct Pending {
        QString title;
        QString body;
    };
    std::optional<bool> m_readsMarkup; // known once the service answered
    bool m_asking = false;
    std::vector<Pending> m_pending;
    int m_sent = 0;
};
