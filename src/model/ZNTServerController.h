#pragma once

#include "ZNTFavoriteHandle.h"

#include <QVariantMap>
#include <memory>
#include <utility>
#include <vector>

class ZNTServer;

// The registry of live server objects, one per favorite, keyed by the favorite
// object itself. Connecting a favorite asks it for the favorite's server, made on
// first request; a failed connect or the close of a server's last window removes
// it again. main thread.
class ZNTServerController : public std::enable_shared_from_this<ZNTServerController> {
public:
    // Object: the registry; posted on every removeServer(), also when nothing was
    // registered.
    static inline const QString DidRemoveServerNotification =
        QStringLiteral("norvane.Trellan.ZNTServerControllerDidRemoveServer");

    static std::shared_ptr<ZNTServerController> sharedController();

    std::shared_ptr<ZNTServer> serverForFavorite(const std::shared_ptr<ZNTFavoriteHandle> &favorite);
    void removeServer(const std::shared_ptr<ZNTServer> &server);
    // In the order they were made.
    std::vector<std::shared_ptr<ZNTServer>> servers() const;
    // At quit: forgets every server and its windows without announcing anything.
    void discardAllServers();

    // The parameter dictionary of a favorite: each key only when the field has a
    // value, "allowPlainTextConnection" and the passphrase's save flag only when
    // set. A password not held in memory goes as the secret-store item that the
    // connection reads it from ("passwordKeychainService"/"...Account", and the
    // same with "sshPassword...").
    static QVariantMap connectionParameters(const ZNTFavoriteConnectionFields &fields);

private:
    std::vector<std::pair<std::shared_ptr<ZNTFavoriteHandle>, std::shared_ptr<ZNTServer>>> m_serverForFavorite;
};
