#include "ZNTFavorite.h"

#include "ZNTFavoritesStore.h"
#include "ZNTPrefContainer.h"
#include "ZNTQueryHistoryElement.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"
#include "platform/SystemInfo.h"

#include <QDir>
#include <future>
#include <sqlite3.h>

namespace {
ErrorPtr passwordReadError(const FavoritesKeychain::ReadResult &result) {
    return Error::make(
        kBundleIdentifier, 1,
        {{Error::DescriptionKey, QStringLiteral("The password for %1 could not be read from the keyring (%2).")
                                     .arg(result.item.service, result.status.message)}});
}
} // namespace

ZNTFavorite::ZNTFavorite(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state, ZNTFavoriteValues values)
    : ZNTStoredObject(std::move(store), id, state), m_values(std::move(values)) {
    if (state == State::Saved)
        m_savedValues = m_values;
}

void ZNTFavorite::announce(const QStringList &keys) {
    UserInfo info{{ChangedKeysKey, keys}};
    NotificationCenter::defaultCenter().post(DidChangeNotification, shared_from_this(), std::move(info));
}

void ZNTFavorite::markChanged() {
    requireMainThread("ZNTFavorite setter");
    didChange(SaveDelay::Favorite);
}

template <class T> void ZNTFavorite::setValue(T ZNTFavoriteValues::*field, const T &value, QStringList keys) {
    if constexpr (std::is_same_v<T, QString> || std::is_same_v<T, QByteArray>) {
        if (m_values.*field == value && (m_values.*field).isNull() == value.isNull())
            return;
    } else {
        if (m_values.*field == value)
            return;
    }
    m_values.*field = value;
    markChanged();
    announce(keys);
}

// The keychain item names follow host, port, user and the SSH settings, so the
// passwords of the old names stop being this favorite's.
void ZNTFavorite::setNickname(const QString &v) {
    setValue(&ZNTFavoriteValues::nickname, v, {"nickname"});
}
void ZNTFavorite::setHost(const QString &v) {
    setValue(&ZNTFavoriteValues::host, v, {"host", "password"});
}
void ZNTFavorite::setPort(std::optional<int> v) {
    setValue(&ZNTFavoriteValues::port, v, {"port", "password"});
}
void ZNTFavorite::setUser(const QString &v) {
    setValue(&ZNTFavoriteValues::user, v, {"user", "password"});
}
void ZNTFavorite::setDatabase(const QString &v) {
    setValue(&ZNTFavoriteValues::database, v, {"database"});
}
void ZNTFavorite::setOrder(qint32 v) {
    setValue(&ZNTFavoriteValues::order, v, {"order"});
}
void ZNTFavorite::setSshEnabled(std::optional<bool> v) {
    setValue(&ZNTFavoriteValues::sshEnabled, v, {"sshEnabled"});
}
void ZNTFavorite::setSshHost(const QString &v) {
    setValue(&ZNTFavoriteValues::sshHost, v, {"sshHost", "password", "sshPassword"});
}
void ZNTFavorite::setSshPort(std::optional<int> v) {
    setValue(&ZNTFavoriteValues::sshPort, v, {"sshPort", "password", "sshPassword"});
}
void ZNTFavorite::setSshUser(const QString &v) {
    setValue(&ZNTFavoriteValues::sshUser, v, {"sshUser", "sshPassword"});
}
void ZNTFavorite::setSshPrivateKeyBookmark(const QByteArray &v) {
    setValue(&ZNTFavoriteValues::sshPrivateKeyBookmark, v, {"sshPrivateKeyBookmark", "sshPrivateKeyPath"});
}
void ZNTFavorite::setShowAllDatabases(std::optional<bool> v) {
    setValue(&ZNTFavoriteValues::showAllDatabases, v, {"showAllDatabases"});
}
void ZNTFavorite::setColorIndex(qint32 v) {
    setValue(&ZNTFavoriteValues::colorIndex, v, {"colorIndex"});
}

void ZNTFavorite::setSavePassword(bool v) {
    ++m_savePasswordGeneration;
    setValue(&ZNTFavoriteValues::savePassword, v, {"savePassword"});
}

void ZNTFavorite::setSaveSshPassword(bool v) {
    ++m_savePasswordGeneration;
    setValue(&ZNTFavoriteValues::saveSshPassword, v, {"saveSshPassword"});
}

void ZNTFavorite::passwordNotSaved(bool ssh, const QString &reason) {
    if (!(ssh ? saveSshPassword() : savePassword()))
        return;
    const QString line =
        ssh ? QStringLiteral("The keyring did not save the SSH password (%1), so “Save SSH password” is off.")
                  .arg(reason)
            : QStringLiteral("The keyring did not save the password (%1), so “Save password” is off.").arg(reason);
    if (!keychainFailureString.split(u'\n').contains(line))
        keychainFailureString += (keychainFailureString.isEmpty() ? QString() : QStringLiteral("\n")) + line;
    ssh ? setSaveSshPassword(false) : setSavePassword(false);
    NotificationCenter::defaultCenter().post(PasswordNotSavedNotification, shared_from_this());
}

QString ZNTFavorite::rowErrorText() const {
    QStringList lines;
    if (connectionStateError && !connectionErrorString.isEmpty())
        lines << connectionErrorString;
    if (!keychainFailureString.isEmpty())
        lines << keychainFailureString;
    return lines.join(u'\n');
}

// Passwords are not stored in the file, but a changed one is a change: the pass
// before the next save puts it into the secret store.
void ZNTFavorite::setPassword(const QString &v) {
    if (m_password == v && m_password.isNull() == v.isNull())
        return;
    m_password = v;
    markChanged();
    announce({"password"});
}

void ZNTFavorite::setSshPassword(const QString &v) {
    if (m_sshPassword == v && m_sshPassword.isNull() == v.isNull())
        return;
    m_sshPassword = v;
    markChanged();
    announce({"sshPassword"});
}

void ZNTFavorite::rememberKeychainItem(bool ssh, std::optional<KeychainItemMemory> item) {
    (ssh ? m_rememberedSshItem : m_rememberedItem) = std::move(item);
}

void ZNTFavorite::loadPasswords(std::function<void(ErrorPtr)> completion) {
    requireMainThread("ZNTFavorite::loadPasswords");
    auto store = this->store();
    if (!store)
        throw ProgramError("IncorrectUsage", "passwords were asked of a favorite outside a store");
    const std::vector<FavoritesKeychain::Read> reads = passwordReads();
    auto self = std::static_pointer_cast<ZNTFavorite>(shared_from_this());
    if (reads.empty()) {
        Main::post([completion] { completion(nullptr); });
        return;
    }
    const quint64 generation = m_savePasswordGeneration;
    ++store->m_keychainJobs;
    store->m_keychainQueue->async([keychain = store->m_keychain, id = objectID(), reads, weakSelf = std::weak_ptr(self),
                                   weakStore = std::weak_ptr(store), completion, generation] {
        auto results = keychain->read(id, reads);
        Main::post([weakSelf, weakStore, results = std::move(results), completion, generation] {
            if (auto store = weakStore.lock())
                --store->m_keychainJobs;
            auto self = weakSelf.lock();
            ErrorPtr error;
            for (const auto &result : results) {
                if (result.status.isFailed() && !error)
                    error = passwordReadError(result);
                else if (result.status.isDone() && self)
                    self->didLoadPassword(result.ssh, result.item, generation);
            }
            completion(error);
        });
    });
}

// The passwords not in memory, from the items the favorite names now.
std::vector<FavoritesKeychain::Read> ZNTFavorite::passwordReads() const {
    std::vector<FavoritesKeychain::Read> reads;
    if (m_password.isNull() && !keychainItemName().isNull())
        reads.push_back({false, keychainItemName(), keychainItemAccount()});
    if (m_sshPassword.isNull() && !sshKeychainItemName().isNull())
        reads.push_back({true, sshKeychainItemName(), sshKeychainItemAccount()});
    return reads;
}

ZNTFavorite::FilePasswords ZNTFavorite::filePasswords(const std::vector<FavoritesKeychain::ReadResult> &results,
                                                      ErrorPtr *error) const {
    FilePasswords passwords{m_password, m_sshPassword};
    for (const auto &result : results) {
        if (result.status.isFailed()) {
            if (!*error)
                *error = passwordReadError(result);
        } else if (result.status.isDone()) {
            (result.ssh ? passwords.sshPassword : passwords.password) = result.item.password;
        }
    }
    return passwords;
}

void ZNTFavorite::readFilePasswords(std::function<void(FilePasswords, ErrorPtr)> completion) {
    requireMainThread("ZNTFavorite::readFilePasswords");
    auto store = this->store();
    if (!store)
        throw ProgramError("IncorrectUsage", "passwords were asked of a favorite outside a store");
    auto self = std::static_pointer_cast<ZNTFavorite>(shared_from_this());
    ++store->m_keychainJobs;
    store->m_keychainQueue->async(
        [keychain = store->m_keychain, reads = passwordReads(), self, weakStore = std::weak_ptr(store), completion] {
            auto results = keychain->peek(reads);
            Main::post([self, weakStore, results = std::move(results), completion] {
                if (auto store = weakStore.lock())
                    --store->m_keychainJobs;
                ErrorPtr error;
                const FilePasswords passwords = self->filePasswords(results, &error);
                completion(passwords, error);
            });
        });
}

std::optional<ZNTFavorite::FilePasswords> ZNTFavorite::readFilePasswordsWaiting(std::chrono::milliseconds limit,
                                                                                ErrorPtr *error) {
    requireMainThread("ZNTFavorite::readFilePasswordsWaiting");
    auto store = this->store();
    if (!store)
        throw ProgramError("IncorrectUsage", "passwords were asked of a favorite outside a store");
    const std::vector<FavoritesKeychain::Read> reads = passwordReads();
    std::vector<FavoritesKeychain::ReadResult> results;
    if (!reads.empty()) {
        // The keyring is asked on its queue, never here; if it does not answer
        // in time, the read finishes there on its own and is dropped.
        auto answer = std::make_shared<std::promise<std::vector<FavoritesKeychain::ReadResult>>>();
        std::future<std::vector<FavoritesKeychain::ReadResult>> future = answer->get_future();
        store->m_keychainQueue->async(
            [keychain = store->m_keychain, reads, answer] { answer->set_value(keychain->peek(reads)); });
        if (future.wait_for(limit) != std::future_status::ready) {
            *error = Error::make(kBundleIdentifier, 1,
                                 {{Error::DescriptionKey,
                                   QStringLiteral("The keyring did not give the passwords of “%1” within %2 seconds.")
                                       .arg(displayName())
                                       .arg(std::chrono::duration_cast<std::chrono::seconds>(limit).count())}});
            return std::nullopt;
        }
        results = future.get();
    }
    ErrorPtr failure;
    const FilePasswords passwords = filePasswords(results, &failure);
    if (failure) {
        *error = failure;
        return std::nullopt;
    }
    return passwords;
}

void ZNTFavorite::didLoadPassword(bool ssh, const KeychainItemMemory &item, quint64 generation) {
    rememberKeychainItem(ssh, item);
    // Only for the item this favorite names now, and only into an empty field.
    const bool current = ssh ? item.service == sshKeychainItemName() && item.account == sshKeychainItemAccount()
                             : item.service == keychainItemName() && item.account == keychainItemAccount();
    if (!current || !(ssh ? m_sshPassword : m_password).isNull())
        return;
    ssh ? setSshPassword(item.password) : setPassword(item.password);
    // A stored password is one the user keeps; unless the user changed the choice
    // while it was being read.
    if (generation == m_savePasswordGeneration)
        ssh ? setValue(&ZNTFavoriteValues::saveSshPassword, true, {"saveSshPassword"})
            : setValue(&ZNTFavoriteValues::savePassword, true, {"savePassword"});
}

QString ZNTFavorite::displayName() const {
    if (!m_values.nickname.isNull())
        return m_values.nickname;
    const QString name = m_values.host.isNull() ? QStringLiteral("localhost") : m_values.host;
    if (name == u"localhost" && !m_values.sshHost.isNull())
        return m_values.sshHost;
    return name;
}

QString ZNTFavorite::effectiveDatabase() const {
    if (!m_values.database.isNull())
        return m_values.database;
    return m_values.user.isNull() ? SystemInfo::loginName() : m_values.user;
}

QUrl ZNTFavorite::sshPrivateKeyURL() const {
    if (m_values.sshPrivateKeyBookmark.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(QString::fromUtf8(m_values.sshPrivateKeyBookmark));
}

// Only a leading home folder becomes "~": "/home/ann" must not turn
// "/home/anna/key" into "~a/key".
QString ZNTFavorite::sshPrivateKeyPath() const {
    const QString path = sshPrivateKeyURL().toLocalFile();
    const QString home = QDir::homePath();
    if (home.isEmpty() || home == u"/")
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + u'/'))
        return u'~' + path.mid(home.size());
    return path;
}

QColor ZNTFavorite::color() const {
    struct Hsb {
        double h, s, b;
    };
    static const Hsb colors[] = {{1.0, 1.0, 0.8}, {0.1, 1.0, 0.8},  {0.15, 1.0, 0.9}, {0.5, 1.0, 0.4},
                                 {0.3, 0.9, 0.7}, {0.62, 1.0, 0.9}, {0.85, 1.0, 0.9}};
    if (m_values.colorIndex < 1 || m_values.colorIndex > 7)
        return QColor();
    const Hsb &c = colors[m_values.colorIndex - 1];
    // A hue of 1.0 is the same red as 0.0; Qt wants it below 1.
    return QColor::fromHsvF(float(c.h >= 1.0 ? 0.0 : c.h), float(c.s), float(c.b), 1.0f);
}

namespace {
QString portSuffix(const std::optional<int> &port, int standard) {
    return port && *port >= 1 && *port != standard ? QStringLiteral(":%1").arg(*port) : QString();
}
QString userOrLogin(const QString &user) {
    return user.isEmpty() ? SystemInfo::loginName() : user;
}
} // namespace

QString ZNTFavorite::keychainItemName(const ZNTFavoriteValues &v) {
    const QString database = (v.host.isEmpty() ? QStringLiteral("localhost") : v.host) + portSuffix(v.port, 5432);
    if (!v.sshEnabled.value_or(false))
        return QStringLiteral("postgresql://") + database;
    return QStringLiteral("postgresql+ssh://%1%2/%3")
        .arg(v.sshHost.isNull() ? QString("") : v.sshHost, portSuffix(v.sshPort, 22), database);
}

QString ZNTFavorite::keychainItemAccount(const ZNTFavoriteValues &v) {
    return userOrLogin(v.user);
}

QString ZNTFavorite::sshKeychainItemName(const ZNTFavoriteValues &v) {
    if (v.sshHost.isEmpty())
        return QString();
    return QStringLiteral("ssh://") + v.sshHost + portSuffix(v.sshPort, 22);
}

QString ZNTFavorite::sshKeychainItemAccount(const ZNTFavoriteValues &v) {
    return userOrLogin(v.sshUser);
}

QString ZNTFavorite::keychainItemName() const {
    return keychainItemName(m_values);
}
QString ZNTFavorite::keychainItemAccount() const {
    return keychainItemAccount(m_values);
}
QString ZNTFavorite::sshKeychainItemName() const {
    return sshKeychainItemName(m_values);
}
QString ZNTFavorite::sshKeychainItemAccount() const {
    return sshKeychainItemAccount(m_values);
}

ZNTFavoriteConnectionFields ZNTFavorite::connectionFields() const {
    ZNTFavoriteConnectionFields f;
    f.host = m_values.host;
    f.port = m_values.port;
    f.database = m_values.database;
    f.user = m_values.user;
    f.password = m_password;
    if (m_password.isNull()) {
        f.passwordKeychainService = keychainItemName();
        f.passwordKeychainAccount = keychainItemAccount();
    }
    f.allowPlainTextConnection = allowPlainTextConnection;
    f.sshEnabled = m_values.sshEnabled;
    f.sshHost = m_values.sshHost;
    f.sshPort = m_values.sshPort;
    f.sshUser = m_values.sshUser;
    f.sshPassword = m_sshPassword;
    if (m_sshPassword.isNull()) {
        f.sshPasswordKeychainService = sshKeychainItemName();
        f.sshPasswordKeychainAccount = sshKeychainItemAccount();
    }
    f.sshPrivateKeyURL = sshPrivateKeyURL();
    f.sshPrivateKeyPassphrase = sshPrivateKeyPassphrase;
    f.sshPrivateKeyPassphraseSaveInKeychain = sshPrivateKeyPassphraseSaveInKeychain;
    return f;
}

bool ZNTFavorite::writeChange(sqlite3 *db, ErrorPtr *error) {
    if (storeState() == State::Deleted) {
        // Its containers, their properties and its history follow (ON DELETE CASCADE).
        SqliteStatement remove(db, "DELETE FROM favorite WHERE id = ?1");
        return remove.bind(1, objectID()).run(error, QStringLiteral("Deleting a favorite"));
    }
    // A new row never replaces one that is there already.
    SqliteStatement write(db, storeState() == State::Inserted ? R"sql(
        INSERT INTO favorite (id, nickname, host, port, "user", "database", savePassword, "order", sshEnabled,
            sshHost, sshPort, sshUser, saveSshPassword, sshPrivateKeyBookmark, showAllDatabases, colorIndex)
        VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16))sql"
                                                              : R"sql(
        UPDATE favorite SET nickname = ?2, host = ?3, port = ?4, "user" = ?5, "database" = ?6, savePassword = ?7,
            "order" = ?8, sshEnabled = ?9, sshHost = ?10, sshPort = ?11, sshUser = ?12, saveSshPassword = ?13,
            sshPrivateKeyBookmark = ?14, showAllDatabases = ?15, colorIndex = ?16
        WHERE id = ?1)sql");
    const ZNTFavoriteValues &v = m_values;
    write.bind(1, objectID()).bind(2, v.nickname).bind(3, v.host).bind(4, v.port).bind(5, v.user);
    write.bind(6, v.database).bind(7, qint64(v.savePassword)).bind(8, qint64(v.order)).bind(9, v.sshEnabled);
    write.bind(10, v.sshHost).bind(11, v.sshPort).bind(12, v.sshUser).bind(13, qint64(v.saveSshPassword));
    write.bind(14, v.sshPrivateKeyBookmark).bind(15, v.showAllDatabases).bind(16, qint64(v.colorIndex));
    return write.run(error, QStringLiteral("Saving a favorite"));
}
