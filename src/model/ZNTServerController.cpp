#include "ZNTServerController.h"

#include "ZNTServer.h"
#include "engine/ZNTConnection.h"
#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"

namespace {
void insertString(QVariantMap &params, const char *key, const QString &value) {
    if (!value.isNull())
        params.insert(QLatin1String(key), value);
}

template <class T> void insertOptional(QVariantMap &params, const char *key, const std::optional<T> &value) {
    if (value)
        params.insert(QLatin1String(key), *value);
}

// A password in memory goes as it is; else the item it is kept in, for the
// connection to read on its own queue.
void insertPassword(QVariantMap &params, const char *key, const QString &password, std::pair<QString, QString> itemKeys,
                    const QString &service, const QString &account) {
    if (!password.isNull()) {
        params.insert(QLatin1String(key), password);
    } else if (!service.isNull() && !account.isNull()) {
        params.insert(itemKeys.first, service);
        params.insert(itemKeys.second, account);
    }
}
} // namespace

std::shared_ptr<ZNTServerController> ZNTServerController::sharedController() {
    requireMainThread("ZNTServerController::sharedController");
    static auto shared = std::make_shared<ZNTServerController>();
    return shared;
}

QVariantMap ZNTServerController::connectionParameters(const ZNTFavoriteConnectionFields &f) {
    QVariantMap params;
    insertString(params, "host", f.host);
    insertOptional(params, "port", f.port);
    insertString(params, "dbname", f.database);
    insertString(params, "user", f.user);
    insertPassword(params, "password", f.password,
                   {ZNTConnection::PasswordKeychainServiceKey, ZNTConnection::PasswordKeychainAccountKey},
                   f.passwordKeychainService, f.passwordKeychainAccount);
    if (f.allowPlainTextConnection)
        params.insert(QStringLiteral("allowPlainTextConnection"), true);
    insertOptional(params, "sshEnabled", f.sshEnabled);
    insertString(params, "sshHost", f.sshHost);
    insertOptional(params, "sshPort", f.sshPort);
    insertString(params, "sshUser", f.sshUser);
    insertPassword(params, "sshPassword", f.sshPassword,
                   {ZNTConnection::SSHPasswordKeychainServiceKey, ZNTConnection::SSHPasswordKeychainAccountKey},
                   f.sshPasswordKeychainService, f.sshPasswordKeychainAccount);
    if (!f.sshPrivateKeyURL.isEmpty())
        params.insert(QStringLiteral("sshPrivateKeyURL"), f.sshPrivateKeyURL);
    insertString(params, "sshPrivateKeyPassphrase", f.sshPrivateKeyPassphrase);
    if (f.sshPrivateKeyPassphraseSaveInKeychain)
        params.insert(QStringLiteral("sshPrivateKeyPassphraseSaveInKeychain"), true);
    return params;
}

std::shared_ptr<ZNTServer> ZNTServerController::serverForFavorite(const std::shared_ptr<ZNTFavoriteHandle> &favorite) {
    requireMainThread("ZNTServerController::serverForFavorite");
    for (const auto &[registered, server] : m_serverForFavorite) {
        if (registered == favorite)
            return server;
    }
    auto server = ZNTServer::create(connectionParameters(favorite->connectionFields()));
    server->setName(favorite->nickname());
    server->setFavorite(favorite);
    m_serverForFavorite.emplace_back(favorite, server);
    return server;
}

void ZNTServerController::removeServer(const std::shared_ptr<ZNTServer> &server) {
    requireMainThread("ZNTServerController::removeServer");
    std::erase_if(m_serverForFavorite, [&](const auto &entry) { return entry.second == server; });
    NotificationCenter::defaultCenter().post(DidRemoveServerNotification, shared_from_this());
}

std::vector<std::shared_ptr<ZNTServer>> ZNTServerController::servers() const {
    std::vector<std::shared_ptr<ZNTServer>> all;
    for (const auto &[favorite, server] : m_serverForFavorite)
        all.push_back(server);
    return all;
}

void ZNTServerController::discardAllServers() {
    requireMainThread("ZNTServerController::discardAllServers");
    const auto entries = std::move(m_serverForFavorite);
    m_serverForFavorite.clear();
    for (const auto &[favorite, server] : entries)
        server->discardWindowControllers();
}
