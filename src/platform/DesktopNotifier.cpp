#include "DesktopNotifier.h"

#include "Log.h"
#include "ProgramError.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// What a service that reads markup shows as the text itself.
QString escapedMarkup(const QString &text) {
    QString escaped;
    escaped.reserve(text.size());
    for (QChar c : text) {
        if (c == u'&')
            escaped += QStringLiteral("&amp;");
        else if (c == u'<')
            escaped += QStringLiteral("&lt;");
        else if (c == u'>')
            escaped += QStringLiteral("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

QDBusMessage call(const QString &method) {
    return QDBusMessage::createMethodCall(DesktopNotifier::ServiceName, DesktopNotifier::ObjectPath, kInterface,
                                          method);
}
} // namespace

DesktopNotifier &DesktopNotifier::shared() {
    static DesktopNotifier *notifier = new DesktopNotifier;
    return *notifier;
}

void DesktopNotifier::resetForTesting() {
    m_readsMarkup.reset();
    m_asking = false;
    m_pending.clear();
}

void DesktopNotifier::notify(const QString &title, const QString &body) {
    requireMainThread("DesktopNotifier::notify");
    if (m_readsMarkup) {
        send(title, body);
        return;
    }
    m_pending.push_back({title, body});
    askCapabilities();
}

void DesktopNotifier::askCapabilities() {
    if (m_asking)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_pending.clear(); // no desktop session: nothing to show them on
        return;
    }
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        if (!m_asking)
            return; // reset meanwhile
        m_asking = false;
        const QDBusPendingReply<QStringList> reply = *finished;
        if (reply.isError()) {
            // No service now; a later notification asks again.
            static bool logged = false;
            if (!std::exchange(logged, true))
                Log(QStringLiteral("No desktop notifications: %1").arg(reply.error().message()));
            m_pending.clear();
            return;
        }
        m_readsMarkup = reply.value().contains(QStringLiteral("body-markup"));
        const std::vector<Pending> pending = std::exchange(m_pending, {});
        for (const Pending &notification : pending)
            send(notification.title, notification.body);
    });
}

void DesktopNotifier::send(const QString &title, const QString &body) {
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("trellan")},
                            {QStringLiteral("sound-name"), QStringLiteral("complete")}};
    message << QStringLiteral("Trellan") << quint32(0) << QStringLiteral("trellan") << title
            << (m_readsMarkup.value_or(false) ? escapedMarkup(body) : body) << QStringList() << hints << qint32(-1);
    ++m_sent;
    // The answer (the notification's id) is of no use here.
    QDBusConnection::sessionBus().call(message, QDBus::NoBlock);
}
