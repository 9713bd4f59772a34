#pragma once

#include "FavoritesKeychain.h"
#include "ZNTStoredObject.h"
#include "model/ZNTFavoriteHandle.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class ZNTPrefContainer;
class ZNTQueryHistoryElement;

// What a favorite stores. A null string or an empty optional is an absent value.
struct ZNTFavoriteValues {
    QString nickname;
    QString host;                   // empty or absent: "localhost"
    std::optional<int> port;        // absent or below 1: 5432
    QString user;                   // empty: the login name
    QString database;               // absent: the user name
    bool savePassword = false;      // keep the database password in the secret store
    qint32 order = 0;               // position in the list, 1 first
    std::optional<bool> sshEnabled; // absent: no tunnel
    QString sshHost;
    std::optional<int> sshPort; // absent or below 1: 22
    QString sshUser;            // empty: the login name
    bool saveSshPassword = false;
    QByteArray sshPrivateKeyBookmark; // the key file's path, UTF-8; null: no key file
    std::optional<bool> showAllDatabases;
    qint32 colorIndex = 0; // label colour 1..7, 0 none

    bool operator==(const ZNTFavoriteValues &) const = default;
};

// One saved connection: where the server is, how to reach it (directly or
// through an SSH tunnel), as whom, which database, how the list shows it, and
// its passwords. The passwords are held in memory and kept in the secret store
// under names derived from the connection; they are read from there only off
// the main thread (loadPasswords, or by the connection itself), and written by
// the store's pass before each save.
//
// Each setter announces DidChangeNotification (object: the favorite) with the
// keys whose value may have changed under "keys" (a QStringList). main thread.
class ZNTFavorite : public ZNTStoredObject, public ZNTFavoriteHandle {
public:
    static inline const QString DidChangeNotification = QStringLiteral("ZNTFavoriteDidChangeNotification");
    static inline const QString ChangedKeysKey = QStringLiteral("keys");
    // The keyring refused a password this favorite asked it to keep (object:
    // the favorite); keychainFailureString says why.
    static inline const QString PasswordNotSavedNotification =
        QStringLiteral("ZNTFavoritePasswordNotSavedNotification");

    qint64 favoriteID() const override { return objectID(); }
    const ZNTFavoriteValues &values() const { return m_values; }
    QString nickname() const override { return m_values.nickname; }
    QString host() const { return m_values.host; }
    std::optional<int> port() const { return m_values.port; }
    QString user() const { return m_values.user; }
    QString database() const { return m_values.database; }
    bool savePassword() const { return m_values.savePassword; }
    qint32 order() const { return m_values.order; }
    std::optional<bool> sshEnabled() const { return m_values.sshEnabled; }
    bool isSshEnabled() const { return m_values.sshEnabled.value_or(false); }
    QString sshHost() const { return m_values.sshHost; }
    std::optional<int> sshPort() const { return m_values.sshPort; }
    QString sshUser() const { return m_values.sshUser; }
    bool saveSshPassword() const { return m_values.saveSshPassword; }
    QByteArray sshPrivateKeyBookmark() const { return m_values.sshPrivateKeyBookmark; }
    std::optional<bool> showAllDatabasesValue() const { return m_values.showAllDatabases; }
    bool showAllDatabases() const override { return m_values.showAllDatabases.value_or(false); }
    qint32 colorIndex() const { return m_values.colorIndex; }

    void setNickname(const QString &v);
    void setHost(const QString &v);
    void setPort(std::optional<int> v);
    void setUser(const QString &v);
    void setDatabase(const QString &v);
    void setSavePassword(bool v);
    void setOrder(qint32 v);
    void setSshEnabled(std::optional<bool> v);
    void setSshHost(const QString &v);
    void setSshPort(std::optional<int> v);
    void setSshUser(const QString &v);
    void setSaveSshPassword(bool v);
    void setSshPrivateKeyBookmark(const QByteArray &v);
    void setShowAllDatabases(std::optional<bool> v);
    void setColorIndex(qint32 v);

    // The passwords in memory; null until typed in or loaded (loadPasswords).
    QString password() const { return m_password; }
    QString sshPassword() const { return m_sshPassword; }
    void setPassword(const QString &v);
    void setSshPassword(const QString &v);
    // The keyring did not keep the (SSH) password while its "save" flag was on:
    // the flag goes off, so that nobody believes it kept, and
    // keychainFailureString tells why. Nothing when the flag is off by now.
    void passwordNotSaved(bool ssh, const QString &reason);
    // Reads the passwords not yet in memory from the secret store, on the store's
    // keychain queue, then on the main thread sets them (and turns the matching
    // "save" flag on, as a stored item means the user keeps it) and calls
    // completion with null. A failed read leaves the password unset and hands
    // completion the error: it never stands for "no password".
    void loadPasswords(std::function<void(ErrorPtr)> completion);
    // The passwords that go into a favorite file: those in memory, else the ones
    // stored for the favorite's items (absent ones as null). Nothing of the
    // favorite changes: its "save" flags stay as the user set them. The first
    // reads on the store's keychain queue and calls completion on the main
    // thread; the second waits for that read, at most limit, for a drop target
    // that asks for the file and cannot wait for an answer later. A failed read
    // is an error, never a missing password.
    struct FilePasswords {
        QString password;
        QString sshPassword;
    };
    void readFilePasswords(std::function<void(FilePasswords, ErrorPtr)> completion);
    std::optional<FilePasswords> readFilePasswordsWaiting(std::chrono::milliseconds limit, ErrorPtr *error);

    // nickname when set (an empty one too), else host, else "localhost"; but the
    // SSH host for a favorite that would show "localhost" and has one.
    QString displayName() const;
    // database, else user, else the login name.
    QString effectiveDatabase() const;
    QUrl sshPrivateKeyURL() const;
    // The key file's path with the home folder written as "~".
    QString sshPrivateKeyPath() const;
    // Invalid for colorIndex 0 and anything outside 1..7.
    QColor color() const;

    // Connection URLs (ZNTFavoriteURL.cpp). The favorite as a URL, with the
    // password in memory; empty when no URL reads back as this favorite.
    QString URL() const;
    // Whether this favorite connects where the URL (or its parameter
    // dictionary) points.
    bool isSimilarToURL(const QString &url) const;
    bool isSimilarToParams(const QVariantMap &params) const;
    // The favorite parameter dictionary of a URL; empty for one that is refused.
    static QVariantMap paramsForURL(const QString &url);
    // Applies a favorite parameter dictionary (of a URL or a favorite file):
    // absent keys clear their setting; a password or SSH password given is kept
    // with its "save" flag on; "history" entries are added to the history.
    void takeParamsFromDictionary(const QVariantMap &params);

    // The secret-store items of the passwords: "postgresql://host[:port]", or
    // "postgresql+ssh://sshhost[:sshport]/host[:port]" through a tunnel, with
    // the user as account; "ssh://sshhost[:sshport]" with the SSH user (null
    // without an SSH host).
    QString keychainItemName() const;
    QString keychainItemAccount() const;
    QString sshKeychainItemName() const;
    QString sshKeychainItemAccount() const;
    static QString keychainItemName(const ZNTFavoriteValues &values);
    static QString keychainItemAccount(const ZNTFavoriteValues &values);
    static QString sshKeychainItemName(const ZNTFavoriteValues &values);
    static QString sshKeychainItemAccount(const ZNTFavoriteValues &values);
    // The item as last read or written; none when none is known.
    std::optional<KeychainItemMemory> rememberedKeychainItem(bool ssh) const {
        return ssh ? m_rememberedSshItem : m_rememberedItem;
    }

    // A copy under a new name ("Prod copy", "Prod copy 2", ...) with the
    // connection settings and passwords (read first, off the main thread),
    // inserted at the end of the list; completion gets it, or null and the error
    // of a failed password read.
    void duplicateFavorite(std::function<void(std::shared_ptr<ZNTFavorite>, ErrorPtr)> completion);
    static QString nameForDuplicate(const QString &displayName);

    // View-setting containers and query history.
    std::shared_ptr<ZNTPrefContainerHandle> prefContainerOfType(unsigned type, const QString &databaseName,
                                                                const QString &schemaName, const QString &objectName,
                                                                bool createIfNotExists) override;
    std::shared_ptr<ZNTPrefContainer> prefContainer(unsigned type, const QString &databaseName,
                                                    const QString &schemaName, const QString &objectName,
                                                    bool createIfNotExists);
    // Never creates one.
    std::shared_ptr<ZNTPrefContainer> prefContainerOfType(unsigned type, const QString &databaseName, qint64 oid);
    std::shared_ptr<ZNTQueryHistoryElement> firstQueryHistoryElement();
    std::shared_ptr<ZNTQueryHistoryElement> lastQueryHistoryElement();
    // Appends an executed text and saves: not one over 100000 characters, not
    // the newest entry again; the oldest entries go beyond 1000.
    void recordQueryTextInHistory(const QString &text);
    // Deletes an entry of this favorite's history and saves at once (a failed
    // save leaves the deletion to the next one). Another favorite's entry is
    // left alone.
    void deleteQueryHistoryElement(const std::shared_ptr<ZNTQueryHistoryElement> &element);
    // An entry with text and date (microseconds since 1970 UTC) as given, for
    // imported history; saved with the next save.
    std::shared_ptr<ZNTQueryHistoryElement> insertQueryHistoryElement(const QString &text, qint64 dateMicroseconds);
    // Every entry of the history, saved or not, oldest first (ZNTFavoriteFiles.cpp).
    std::vector<std::shared_ptr<ZNTQueryHistoryElement>> queryHistoryElements();

    // Favorite files (ZNTFavoriteFiles.cpp): this favorite's file with the
    // passwords in memory (option 1) and the history (option 2), encrypted with
    // the export password when one is given; and the parameter dictionary of a
    // file's bytes (ZNTFavoriteFile::paramsForData).
    std::optional<QByteArray> dataWithOptions(quint32 options, const std::optional<QString> &exportPassword,
                                              ErrorPtr *error);
    static std::optional<QVariantMap> paramsForData(const QByteArray &data, const std::optional<QString> &password,
                                                    ErrorPtr *error);

    ZNTFavoriteConnectionFields connectionFields() const override;

    // What the connection and the favorites list show; not stored.
    bool connectionStateBusy = false;
    bool connectionStateError = false;
    bool connectionStateConnected = false;
    bool allowPlainTextConnection = false;
    QString connectionStateString;
    QString connectionErrorString;
    // Why the keyring refused a password to keep; shown in the row with the
    // connection's error until the user clears it, edits or connects again.
    QString keychainFailureString;
    double errorTextHeight = 0; // of rowErrorText()
    // What the row shows in its error lines, and whether it shows any.
    QString rowErrorText() const;
    bool rowShowsError() const { return connectionStateError || !keychainFailureString.isEmpty(); }
    QString sshPrivateKeyPassphrase;
    bool sshPrivateKeyPassphraseSaveInKeychain = false;

    static constexpr int HistoryLimit = 1000;
    static constexpr qsizetype HistoryTextLimit = 100000;

private:
    friend class ZNTFavoritesStore;
    ZNTFavorite(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state, ZNTFavoriteValues values);
    bool writeChange(sqlite3 *db, ErrorPtr *error) override;
    void didSave() override { m_savedValues = m_values; }

    template <class T> void setValue(T ZNTFavoriteValues::*field, const T &value, QStringList keys);
    void announce(const QStringList &keys);
    void markChanged();
    // The values as last saved, or the current ones before the first save.
    const ZNTFavoriteValues &savedValues() const { return m_savedValues ? *m_savedValues : m_values; }
    void rememberKeychainItem(bool ssh, std::optional<KeychainItemMemory> item);
    std::vector<FavoritesKeychain::Read> passwordReads() const;
    FilePasswords filePasswords(const std::vector<FavoritesKeychain::ReadResult> &results, ErrorPtr *error) const;
    void didLoadPassword(bool ssh, const KeychainItemMemory &item, quint64 generation);

    ZNTFavoriteValues m_values;
    std::optional<ZNTFavoriteValues> m_savedValues;
    QString m_password;
    QString m_sshPassword;
    std::optional<KeychainItemMemory> m_rememberedItem;
    std::optional<KeychainItemMemory> m_rememberedSshItem;
    // Bumped when the user changes a "save password" flag, so that a read that
    // started before does not turn it back on.
    quint64 m_savePasswordGeneration = 0;
};
