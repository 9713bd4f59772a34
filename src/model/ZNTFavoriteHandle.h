#pragma once

#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

// What a favorite holds for connecting, as the registry reads it to build a
// server's parameter dictionary. A null string is an unset field; an empty one
// is set.
struct ZNTFavoriteConnectionFields {
    QString host;
    std::optional<int> port;
    QString database;
    QString user;
    // The password when the favorite holds one in memory. When it does not, the
    // secret-store item to read it from: the connection reads it on its own
    // queue, never on the main thread.
    QString password;
    QString passwordKeychainService;
    QString passwordKeychainAccount;
    bool allowPlainTextConnection = false;
    std::optional<bool> sshEnabled;
    QString sshHost;
    std::optional<int> sshPort;
    QString sshUser;
    QString sshPassword;
    QString sshPasswordKeychainService;
    QString sshPasswordKeychainAccount;
    QUrl sshPrivateKeyURL; // empty: no key file
    QString sshPrivateKeyPassphrase;
    bool sshPrivateKeyPassphraseSaveInKeychain = false;
};

// A view-setting container of a favorite, as a relation item reaches it: only its
// recorded oid. The favorites layer implements it.
class ZNTPrefContainerHandle {
public:
    virtual ~ZNTPrefContainerHandle() = default;
    // 0 when none was recorded. main thread.
    virtual qint64 oid() const = 0;
    virtual void setOid(qint64 oid) = 0;
};

// What the model needs of a saved connection (the favorites layer's ZNTFavorite
// implements it). The registry keys servers by the favorite object itself, so a
// favorite is always handed around as one shared object. main thread.
class ZNTFavoriteHandle {
public:
    virtual ~ZNTFavoriteHandle() = default;

    virtual ZNTFavoriteConnectionFields connectionFields() const = 0;
    // The display name a server takes; may be null.
    virtual QString nickname() const = 0;
    // The server object lists every database instead of opening the favorite's.
    virtual bool showAllDatabases() const = 0;
    // The container of one object of a database (type 0: a table-like object),
    // made and saved at once when create is true and there is none. Null when
    // there is none, or when it could not be saved.
    virtual std::shared_ptr<ZNTPrefContainerHandle> prefContainerOfType(unsigned type, const QString &databaseName,
                                                                        const QString &schemaName,
                                                                        const QString &objectName,
                                                                        bool createIfNotExists) = 0;
};
