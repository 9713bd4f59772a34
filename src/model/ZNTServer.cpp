#include "ZNTServer.h"

#include "ZNTDatabase.h"
#include "ZNTFavoriteHandle.h"
#include "ZNTServerListingQuery.h"
#include "engine/ZNTConnection.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "platform/SystemInfo.h"

#include <atomic>

namespace {
ZNTWindowControllerFactory &windowControllerFactory() {
    static ZNTWindowControllerFactory factory;
    return factory;
}

quint64 nextServerSerial() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}

QString nonEmpty(const QVariant &value) {
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// libpq takes an empty database name for "the user's own", as it does a missing one.
QString mainDatabaseName(const QVariantMap &params) {
    for (const char *key : {"dbname", "user"}) {
        const QString name = nonEmpty(params.value(QLatin1String(key)));
        if (!name.isEmpty())
            return name;
    }
    return SystemInfo::loginName();
}
} // namespace

ZNTServer::ZNTServer(const QVariantMap &params)
    : m_serial(nextServerSerial()), m_params([&] {
          QVariantMap copy = params;
          copy.insert(QStringLiteral("client_encoding"), QStringLiteral("UNICODE"));
          copy.insert(QStringLiteral("application_name"),
                      QStringLiteral("Trellan %1").arg(SystemInfo::shortVersionString()));
          return copy;
      }()) {}

std::shared_ptr<ZNTServer> ZNTServer::create(const QVariantMap &params) {
    std::shared_ptr<ZNTServer> server(new ZNTServer(params));
    server->m_mainDatabase = std::make_shared<ZNTDatabase>(mainDatabaseName(server->m_params), server);
    server->m_windowControllers.reserve(1);
    return server;
}

ZNTServer::~ZNTServer() = default;

QString ZNTServer::name() const {
    if (!m_name.isNull())
        return m_name;
    const QString host = nonEmpty(m_params.value(QStringLiteral("host")));
    return host.isNull() ? QStringLiteral("localhost") : host;
}

void ZNTServer::setName(const QString &name) {
    m_name = name;
}

bool ZNTServer::isLocalHost() const {
    const QString host = m_params.value(QStringLiteral("host")).toString();
    return host == u"127.0.0.1" || host == u"localhost" || host == u"::1";
}

std::shared_ptr<ZNTObjectQuery> ZNTServer::descendantQuery() {
    return std::make_shared<ZNTDatabaseQuery>(shared_from_this());
}

QVariantMap ZNTServer::params() const {
    return m_params;
}

bool ZNTServer::reachesSameServerAs(const ZNTServer &other) const {
    const auto same = [&](const char *key) {
        return m_params.value(QLatin1String(key)) == other.m_params.value(QLatin1String(key));
    };
    const bool tunnelled = m_params.value(QStringLiteral("sshEnabled")).toBool();
    if (tunnelled != other.m_params.value(QStringLiteral("sshEnabled")).toBool() ||
        (tunnelled && !(same("sshHost") && same("sshPort"))))
        return false;
    return same("host") && same("port");
}

std::shared_ptr<ZNTDatabase> ZNTServer::mainDatabase() const {
    return m_mainDatabase;
}

std::shared_ptr<ZNTConnection> ZNTServer::connectionForDatabase(const ZNTDatabase &database) {
    if (database.serverSerial() != m_serial)
        throw ProgramError("IncorrectUsage", "a connection was asked of a server for another server's database");
    std::lock_guard lock(m_mutex);
    auto &connection = m_connections[database.name()];
    if (!connection) {
        QVariantMap params = m_params;
        params.insert(QStringLiteral("dbname"), database.name());
        connection = ZNTConnection::create(params, weak_from_this());
    }
    return connection;
}

std::shared_ptr<ZNTConnection> ZNTServer::mainConnection() {
    return connectionForDatabase(*m_mainDatabase);
}

std::vector<std::shared_ptr<ZNTConnection>> ZNTServer::connections() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<ZNTConnection>> all;
    for (const auto &[name, connection] : m_connections)
        all.push_back(connection);
    return all;
}

void ZNTServer::connect() {
    requireMainThread("ZNTServer::connect");
    auto connection = mainConnection();
    std::weak_ptr<ZNTServer> weakSelf = weak_from_this();
    // State notifications arrive on the main thread; they go out again at once.
    m_statusObserver = NotificationCenter::defaultCenter().observe(
        ZNTConnection::StatusChangedNotification, connection.get(), [weakSelf](const Notification &notification) {
            if (auto self = weakSelf.lock())
                NotificationCenter::defaultCenter().post(StatusChangedNotification, self, notification.userInfo);
        });
    connection->connectInBackground();
}

void ZNTServer::showMainWindow() {
    requireMainThread("ZNTServer::showMainWindow");
    if (m_windowControllers.empty()) {
        const bool allDatabases = m_favorite && m_favorite->showAllDatabases();
        std::shared_ptr<ZNTObject> item =
            allDatabases ? std::shared_ptr<ZNTObject>(shared_from_this()) : std::shared_ptr<ZNTObject>(m_mainDatabase);
        openNewWindowForItem(item);
        return;
    }
    m_windowControllers.front()->showWindow();
}

void ZNTServer::openNewWindowForItem(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTServer::openNewWindowForItem");
    const ZNTWindowControllerFactory &factory = windowControllerFactory();
    if (!factory)
        throw ProgramError("IncorrectUsage", "no window controller factory is installed");
    auto controller = factory(item);
    addWindowController(controller);
    controller->showWindow();
}

void ZNTServer::addWindowController(std::shared_ptr<ZNTWindowControllerHandle> controller) {
    ZNTWindowControllerHandle *raw = controller.get();
    std::weak_ptr<ZNTServer> weakSelf = weak_from_this();
    m_windowObservers[raw] = NotificationCenter::defaultCenter().observe(
        ZNTWindowControllerHandle::WillCloseNotification, raw, [weakSelf, raw](const Notification &) {
            if (auto self = weakSelf.lock())
                self->windowWillClose(raw);
        });
    m_windowControllers.push_back(std::move(controller));
}

void ZNTServer::windowWillClose(ZNTWindowControllerHandle *controller) {
    m_windowObservers.erase(controller);
    // The window is still being closed: its controller leaves the list (and may
    // be destroyed) only after the close has been delivered everywhere.
    Main::post([self = shared_from_this(), controller] {
        auto &list = self->m_windowControllers;
        auto it = std::find_if(list.begin(), list.end(), [&](const auto &c) { return c.get() == controller; });
        if (it == list.end())
            return; // discarded at quit meanwhile
        list.erase(it);
        if (list.empty())
            NotificationCenter::defaultCenter().post(AllWindowsClosedNotification, self);
    });
}

void ZNTServer::tryCloseAllWindows() {
    requireMainThread("ZNTServer::tryCloseAllWindows");
    // A copy: a window that closes at once changes the list only a turn later,
    // but its controller may be asked while others are still to come.
    const auto controllers = m_windowControllers;
    for (const auto &controller : controllers)
        controller->performClose();
}

void ZNTServer::discardWindowControllers() {
    requireMainThread("ZNTServer::discardWindowControllers");
    m_windowObservers.clear();
    m_windowControllers.clear();
}

void ZNTServer::purgeMetadata() {
    requireMainThread("ZNTServer::purgeMetadata");
    for (const auto &connection : connections())
        connection->purgeMetadata();
}

void ZNTServer::setWindowControllerFactory(ZNTWindowControllerFactory factory) {
    windowControllerFactory() = std::move(factory);
}

bool ZNTServer::forwardKeyboardInteractiveRequest(const QVariantMap &request, std::shared_ptr<ConditionLock> lock,
                                                  std::shared_ptr<QStringList> responses) {
    requireMainThread("ZNTServer::forwardKeyboardInteractiveRequest");
    if (!m_authDelegate)
        return false;
    // The delegate may drop this server meanwhile (a failed connect removes it).
    auto self = shared_from_this();
    auto delegate = m_authDelegate;
    delegate->handleKeyboardInteractiveAuthenticationRequest(request, self, std::move(lock), std::move(responses));
    return true;
}
