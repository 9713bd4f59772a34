#pragma once

#include "ZNTObject.h"
#include "ZNTWindowControllerHandle.h"
#include "engine/ZNTServerHandle.h"
#include "platform/NotificationCenter.h"

#include <QVariantMap>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class ZNTConnection;
class ZNTDatabase;
class ZNTFavoriteHandle;
class ZNTServer;

// Answers keyboard-interactive SSH logins for a server (the favorites window).
// main thread. Fill responses with one answer per prompt, in prompt order (or
// none to cancel), then unlock the lock with condition 1: the connection's queue
// waits on it.
class ZNTServerAuthenticationDelegate {
public:
    virtual ~ZNTServerAuthenticationDelegate() = default;
    virtual void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request,
                                                                const std::shared_ptr<ZNTServer> &server,
                                                                std::shared_ptr<ConditionLock> lock,
                                                                std::shared_ptr<QStringList> responses) = 0;
};

// The live server object of one connected favorite: its connection parameters,
// its main database, one connection per database that anything asks for, the
// main windows opened on it, and the delegate that answers keyboard-interactive
// prompts. It is also the root item of the object tree when the favorite shows
// all databases.
//
// Notifications (object: the server):
//   StatusChangedNotification      each state notification of the main connection,
//                                  with that notification's user info unchanged
//   AllWindowsClosedNotification   one main-loop turn after its last window closed
//
// Main thread, but for connectionForDatabase() and what is said otherwise.
class ZNTServer : public ZNTObject, public ZNTServerHandle, public std::enable_shared_from_this<ZNTServer> {
public:
    static inline const QString StatusChangedNotification = QStringLiteral("norvane.ZNTServerStatusChanged");
    static inline const QString AllWindowsClosedNotification = QStringLiteral("norvane.ZNTServerAllWindowsClosed");

    // params: the connection dictionary the registry built. The server adds
    // "client_encoding" "UNICODE" and "application_name" "Trellan <version>".
    static std::shared_ptr<ZNTServer> create(const QVariantMap &params);
    ~ZNTServer() override;

    // The nickname when set, else "host" of the parameters, else "localhost".
    QString name() const override;
    void setName(const QString &name);
    std::shared_ptr<ZNTObject> parent() const override { return nullptr; }
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Server; }
    // The listing of the server's databases.
    std::shared_ptr<ZNTObjectQuery> descendantQuery() override;
    // The host is this computer ("127.0.0.1", "localhost" or "::1"): the item
    // shows the computer's image.
    bool isLocalHost() const;

    QVariantMap params() const;
    // Whether other's parameters reach the server this one's do: the same host
    // and port, through the same SSH server when tunnelled. Two favorites may
    // name one server; what only looks different (another spelling of the
    // host, a port left to its default) counts as another server.
    bool reachesSameServerAs(const ZNTServer &other) const;
    std::shared_ptr<ZNTDatabase> mainDatabase() const;
    // The connection for database, made on first request with this server's
    // parameters and the database's name as "dbname". Equal databases share one
    // connection. any thread.
    std::shared_ptr<ZNTConnection> connectionForDatabase(const ZNTDatabase &database);
    std::shared_ptr<ZNTConnection> mainConnection();
    // Every connection made so far. any thread.
    std::vector<std::shared_ptr<ZNTConnection>> connections() const;

    std::shared_ptr<ZNTFavoriteHandle> favorite() const { return m_favorite; }
    void setFavorite(std::shared_ptr<ZNTFavoriteHandle> favorite) { m_favorite = std::move(favorite); }
    std::shared_ptr<ZNTServerAuthenticationDelegate> authDelegate() const { return m_authDelegate; }
    void setAuthDelegate(std::shared_ptr<ZNTServerAuthenticationDelegate> delegate) {
        m_authDelegate = std::move(delegate);
    }

    // Starts the main connection in the background and reposts its states. Other
    // connections connect when their first query runs.
    void connect();

    // Opens the first main window unless one is open, on the server itself when
    // the favorite shows all databases, else on the main database; then brings the
    // first window forward.
    void showMainWindow();
    // Opens one more main window on item.
    void openNewWindowForItem(const std::shared_ptr<ZNTObject> &item);
    // Asks every window to close; each may refuse (pending changes).
    void tryCloseAllWindows();
    std::vector<std::shared_ptr<ZNTWindowControllerHandle>> windowControllers() const { return m_windowControllers; }
    // At quit: forgets every window without announcing anything, so that no
    // window and server keep each other alive.
    void discardWindowControllers();

    void purgeMetadata();

    // Where main windows come from; the window layer (or a stand-in) installs it.
    static void setWindowControllerFactory(ZNTWindowControllerFactory factory);

    // ZNTServerHandle: hands the request to authDelegate; false without one.
    bool forwardKeyboardInteractiveRequest(const QVariantMap &request, std::shared_ptr<ConditionLock> lock,
                                           std::shared_ptr<QStringList> responses) override;

    // A number no other server object of this process has: database items keep
    // it as the identity of their server. any thread.
    quint64 serial() const { return m_serial; }

private:
    explicit ZNTServer(const QVariantMap &params);
    void addWindowController(std::shared_ptr<ZNTWindowControllerHandle> controller);
    void windowWillClose(ZNTWindowControllerHandle *controller);

    const quint64 m_serial;
    const QVariantMap m_params;
    QString m_name;
    std::shared_ptr<ZNTDatabase> m_mainDatabase;
    std::shared_ptr<ZNTFavoriteHandle> m_favorite;
    std::shared_ptr<ZNTServerAuthenticationDelegate> m_authDelegate;

    // The server's lock: the connections map is made, read and written under it.
    mutable std::mutex m_mutex;
    std::map<QString, std::shared_ptr<ZNTConnection>> m_connections;

    std::vector<std::shared_ptr<ZNTWindowControllerHandle>> m_windowControllers;
    std::map<ZNTWindowControllerHandle *, ObserverToken> m_windowObservers;
    ObserverToken m_statusObserver;
};
