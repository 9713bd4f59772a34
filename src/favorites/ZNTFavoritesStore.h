#pragma once

#include "FavoritesKeychain.h"
#include "SqliteStatement.h"
#include "platform/Error.h"

#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class SerialQueue;
class ZNTFavorite;
class ZNTPrefContainer;
class ZNTPrefContainerProperty;
class ZNTQueryHistoryElement;
class ZNTStoredObject;

// The favorites store: an SQLite file holding the favorites, their view-setting
// containers with their properties, and their query history. Passwords never go
// into it: they live in the secret store, whose calls run one at a time on the
// store's keychain queue.
//
// Every favorite is loaded when the store opens; containers, properties and
// history entries are read when asked for, one row at a time, and kept in
// memory only while someone holds them or while they have unsaved changes.
// Changes stay in memory until a save writes all of them in one transaction; a
// change to a favorite saves 0.5 s later, one to a view setting 2.0 s later,
// and what is still unsaved when the store goes is saved then.
//
// One program at a time has a store file open: it holds an exclusive lock on
// a file beside it ("ConnectionFavorites.db.lock") while the store lives, and
// a second program that cannot get the lock opens nothing. The file, its
// journal and the lock file are the user's alone (0600), in a folder of the
// user's alone (0700).
//
// main thread.
class ZNTFavoritesStore : public std::enable_shared_from_this<ZNTFavoritesStore> {
public:
    // The schema this program writes, in PRAGMA user_version.
    static constexpr int SchemaVersion = 7;
    // A store file that exists but cannot be read as ours (damaged, foreign or
    // written by a newer program): error code, user-info key of the file's URL,
    // and the key of the recovery options ("Create new file", "Cancel").
    static constexpr int CouldNotReadError = 1397001;
    static inline const QString StoreURLKey = QStringLiteral("ZNTFavoritesStoreURL");
    static inline const QString RecoveryOptionsKey = QStringLiteral("NSLocalizedRecoveryOptions");
    // Another program holds the store file's lock.
    static constexpr int InUseError = 1397002;
    static constexpr int FavoriteSaveDelayMs = 500;
    static constexpr int ViewSettingSaveDelayMs = 2000;

    // $XDG_DATA_HOME/Trellan/ConnectionFavorites.db
    static QString defaultPath();
    static std::shared_ptr<ZNTFavoritesStore> create(const QString &path = defaultPath());
    ~ZNTFavoritesStore();

    QString path() const { return m_path; }
    // Creates the folder and opens (or creates) the store. A folder that cannot be
    // made, or a file that cannot be opened, leaves the store closed and empty. An
    // existing file that is not a store of ours, or of a newer schema, gives
    // CouldNotReadError with its recovery; a store another program has open,
    // InUseError. Modes wider than the user's own are narrowed.
    bool open(ErrorPtr *error);
    bool isOpen() const { return m_db != nullptr; }
    // "Create new file" (option 0) of CouldNotReadError: moves the file, with its
    // journal, WAL and shared-memory files, aside as ConnectionFavorites.N.db
    // (the first N not taken) and opens a new store. True when the file was moved;
    // *openError tells when the new store then failed to open. "Cancel": false.
    bool attemptRecoveryFromError(const ErrorPtr &error, int optionIndex, ErrorPtr *openError = nullptr);

    // The favorites, by order and then by age.
    std::vector<std::shared_ptr<ZNTFavorite>> favorites() const;
    // Repairs the order numbers when they do not strictly increase from 1 (say
    // 1, 1, 2 or a lone 0): renumbers 1, 2, 3, ... in list order and saves
    // (errors ignored). True when it renumbered: the list should be shown again.
    bool reloadData();
    // A new favorite at the end of the list (its order is the highest + 1).
    std::shared_ptr<ZNTFavorite> insertFavorite();
    // Deletes the favorite with its containers and history at the next save.
    void deleteFavorite(const std::shared_ptr<ZNTFavorite> &favorite);
    // The highest order among the favorites, 0 without any.
    qint32 maxOrderValue() const;

    bool hasChanges() const { return !m_pending.empty(); }
    // Writes every pending change in one transaction; once it is written, brings
    // the secret-store items of the favorites in line with it (in the
    // background). A failure rolls everything back, keeps the changes in memory
    // and leaves the secret store alone.
    bool save(ErrorPtr *error = nullptr);
    // Saves, then calls completion on the main thread, with null or the save's
    // error, once the secret-store work asked for so far has run: for quitting
    // without losing a password that was just typed.
    void saveAndSettle(std::function<void(ErrorPtr)> completion);
    // Called after every save the store makes on its own (the delayed ones),
    // with null or the error.
    void setScheduledSaveHandler(std::function<void(const ErrorPtr &)> handler) {
        m_scheduledSaveHandler = std::move(handler);
    }
    // The error of the last save that failed, null after one that succeeded.
    ErrorPtr lastSaveError() const { return m_lastSaveError; }
    // Secret-store work queued or running (password reads, the passes before
    // saves); their results reach the favorites on the main thread.
    bool isKeychainWorkPending() const { return m_keychainJobs > 0; }
    // The SQLite handle, for diagnostics and tests; null while closed.
    sqlite3 *handle() const { return m_db.get(); }

private:
    friend class ZNTStoredObject;
    friend class ZNTFavorite;
    friend class ZNTPrefContainer;
    friend class ZNTQueryHistoryElement;

    explicit ZNTFavoritesStore(QString path);
    bool takeLock(ErrorPtr *error);
    bool openFile(ErrorPtr *error, bool *fileExisted);
    bool prepareSchema(ErrorPtr *error, bool *notOurs);
    bool loadFavorites(ErrorPtr *error);
    void close();
    qint64 nextID(const char *table);

    // Change tracking (ZNTFavoritesStoreSave.cpp).
    void registerChange(ZNTStoredObject *object, bool viewSetting);
    void scheduleSave(int delayMs);
    void insertObject(const std::shared_ptr<ZNTStoredObject> &object, bool viewSetting);
    void deleteObject(ZNTStoredObject *object, bool viewSetting);
    bool writePending(ErrorPtr *error);
    struct KeychainPass {
        std::vector<FavoritesKeychain::Wish> wishes;
        FavoritesKeychain::ItemUsers users;
    };
    KeychainPass keychainPass() const;
    void startKeychainPass(KeychainPass pass);
    std::shared_ptr<ZNTFavorite> favoriteWithID(qint64 id) const;

    // Look-ups for the objects (ZNTFavoritesStoreFetch.cpp).
    std::shared_ptr<ZNTPrefContainer> fetchPrefContainer(qint64 favoriteID, unsigned type, const QString &databaseName,
                                                         const QString &schemaName, const QString &objectName);
    std::shared_ptr<ZNTPrefContainer> fetchPrefContainer(qint64 favoriteID, unsigned type, const QString &databaseName,
                                                         qint64 oid);
    // The first container of rows (its id in column 0) that is not deleted and
    // matches, else the pending match of lowest id; made from its row by make
    // when it is not in memory yet.
    std::shared_ptr<ZNTPrefContainer>
    firstPrefContainer(SqliteStatement &rows, const std::function<bool(const ZNTPrefContainer &)> &matches,
                       const std::function<ZNTPrefContainer *(SqliteStatement &rows)> &make);
    std::shared_ptr<ZNTPrefContainer> insertPrefContainer(const std::shared_ptr<ZNTFavorite> &favorite, unsigned type,
                                                          const QString &databaseName, const QString &schemaName,
                                                          const QString &objectName);
    std::vector<std::shared_ptr<ZNTPrefContainerProperty>> fetchProperties(qint64 containerID, unsigned type);
    std::shared_ptr<ZNTPrefContainerProperty> insertProperty(qint64 containerID, unsigned type);
    enum class HistoryStep { First, Last, Before, After };
    std::shared_ptr<ZNTQueryHistoryElement> fetchHistoryElement(qint64 favoriteID, HistoryStep step,
                                                                qint64 dateMicroseconds = 0);
    qint64 historyCount(qint64 favoriteID);
    // All entries of a favorite, saved or pending, by date (ZNTFavoriteFiles.cpp).
    std::vector<std::shared_ptr<ZNTQueryHistoryElement>> fetchHistoryElements(qint64 favoriteID);
    std::shared_ptr<ZNTQueryHistoryElement> insertHistoryElement(qint64 favoriteID);
    template <class T> std::shared_ptr<T> liveObject(std::unordered_map<qint64, std::weak_ptr<T>> &map, qint64 id);

    const QString m_path;
    SqlitePtr m_db;
    std::vector<std::shared_ptr<ZNTFavorite>> m_favorites;
    std::unordered_map<qint64, std::weak_ptr<ZNTPrefContainer>> m_containers;
    std::unordered_map<qint64, std::weak_ptr<ZNTPrefContainerProperty>> m_properties;
    std::unordered_map<qint64, std::weak_ptr<ZNTQueryHistoryElement>> m_historyElements;
    std::map<QString, qint64> m_nextIDs;
    // Objects with unsaved changes, in the order they first changed.
    std::vector<std::shared_ptr<ZNTStoredObject>> m_pending;
    std::optional<qint64> m_saveDueAt; // ms since epoch of the earliest scheduled save
    ErrorPtr m_lastSaveError;
    std::function<void(const ErrorPtr &)> m_scheduledSaveHandler;
    int m_lockFD = -1; // the lock file, locked; -1 without

    std::unique_ptr<SerialQueue> m_keychainQueue;
    std::shared_ptr<FavoritesKeychain> m_keychain; // used on m_keychainQueue only
    int m_keychainJobs = 0;
};
