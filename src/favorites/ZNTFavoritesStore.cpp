// Opening the favorites store: the folder, the file, its schema and its
// migrations, the recovery of a file we cannot read, and loading the favorites.
#include "ZNTFavoritesStore.h"

#include "FavoritesKeychain.h"
#include "ZNTFavorite.h"
#include "engine/KesError.h"
#include "platform/Log.h"
#include "platform/Posix.h"
#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// "Trln" in PRAGMA application_id: tells our stores from other SQLite files.
constexpr int kApplicationID = 0x54726c6e;

// Tables of version 7. Later versions only add (tables, columns, indexes), each
// in a step of its own below, so that every older store keeps its data.
const char *const kSchemaVersion7 = R"sql(
CREATE TABLE favorite (
    id                    INTEGER PRIMARY KEY,
    nickname              TEXT,
    host                  TEXT,
    port                  INTEGER,
    "user"                TEXT,
    "database"            TEXT,
    savePassword          INTEGER NOT NULL DEFAULT 0,
    "order"               INTEGER NOT NULL DEFAULT 0,
    sshEnabled            INTEGER,
    sshHost               TEXT,
    sshPort               INTEGER,
    sshUser               TEXT,
    saveSshPassword       INTEGER NOT NULL DEFAULT 0,
    sshPrivateKeyBookmark BLOB,
    showAllDatabases      INTEGER,
    colorIndex            INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE prefContainer (
    id           INTEGER PRIMARY KEY,
    favorite     INTEGER NOT NULL REFERENCES favorite (id) ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED,
    type         INTEGER NOT NULL DEFAULT 0,
    databaseName TEXT,
    schemaName   TEXT,
    objectName   TEXT,
    oid          INTEGER
);
CREATE INDEX prefContainerByName ON prefContainer (favorite, type, databaseName, schemaName, objectName);
CREATE INDEX prefContainerByOid ON prefContainer (favorite, type, databaseName, oid);
CREATE TABLE prefContainerProperty (
    id            INTEGER PRIMARY KEY,
    prefContainer INTEGER NOT NULL REFERENCES prefContainer (id) ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED,
    type          INTEGER NOT NULL DEFAULT 0,
    json          TEXT
);
CREATE INDEX prefContainerPropertyByType ON prefContainerProperty (prefContainer, type);
CREATE TABLE queryHistoryElement (
    id                 INTEGER PRIMARY KEY,
    favorite           INTEGER NOT NULL REFERENCES favorite (id) ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED,
    date               INTEGER NOT NULL, -- microseconds since 1970-01-01 UTC
    text               TEXT,
    compressedText     BLOB,
    uncompressedLength INTEGER
);
CREATE INDEX queryHistoryElementByDate ON queryHistoryElement (favorite, date);
)sql";

struct Migration {
    int version;
    const char *sql;
};
const Migration kMigrations[] = {{7, kSchemaVersion7}};

// Every column the program reads: a store that lacks one is not ours.
const char *const kSchemaProbe[] = {
    R"sql(SELECT id, nickname, host, port, "user", "database", savePassword, "order", sshEnabled, sshHost, sshPort,
              sshUser, saveSshPassword, sshPrivateKeyBookmark, showAllDatabases, colorIndex FROM favorite LIMIT 0)sql",
    "SELECT id, favorite, type, databaseName, schemaName, objectName, oid FROM prefContainer LIMIT 0",
    "SELECT id, prefContainer, type, json FROM prefContainerProperty LIMIT 0",
    "SELECT id, favorite, date, text, compressedText, uncompressedLength FROM queryHistoryElement LIMIT 0",
};

const char *const kTables[] = {"favorite", "prefContainer", "prefContainerProperty", "queryHistoryElement"};

// Takes group and other permissions away from a file or folder of ours (query
// history can hold passwords: ALTER ROLE ... PASSWORD). The owner's own bits
// stay, so a store the user made read-only stays read-only. A file of somebody
// else's stays as it is, also when we are root.
void narrowMode(const QString &path) {
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0 || S_ISLNK(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) == 0)
        return;
    if (::chmod(bytes.constData(), st.st_mode & 07700) != 0)
        Log(QStringLiteral("Could not make %1 private: %2").arg(path, Posix::errnoText(errno)));
}

// mkdir -p that says why it failed.
bool makeFolder(const QString &path, ErrorPtr *error) {
    QString built;
    for (const QString &part : path.split(u'/', Qt::SkipEmptyParts)) {
        built += u'/' + part;
        const QByteArray bytes = QFile::encodeName(built);
        if (::mkdir(bytes.constData(), 0700) == 0 || errno == EEXIST)
            continue;
        *error = KesError::errorWithFormat(
            QStringLiteral("The folder “%1” could not be created: %2.").arg(built, Posix::errnoText(errno)));
        return false;
    }
    if (QFileInfo(path).isDir())
        return true;
    *error = KesError::errorWithFormat(QStringLiteral("“%1” exists and is not a folder.").arg(path));
    return false;
}

ErrorPtr couldNotReadError(const ErrorPtr &cause, const QString &path) {
    const QString reason = cause->localizedDescription();
    QVariantMap info{
        {Error::DescriptionKey, QStringLiteral("Could not read favorites.")},
        {Error::FailureReasonKey, reason},
        {Error::RecoverySuggestionKey,
         QStringLiteral("%1\n\nThis usually happens when trying to read favorites from a newer version of Trellan. "
                        "To fix this problem, a new storage file for favorites must be created. The old file will "
                        "be renamed. Otherwise new favorites can not be saved.")
             .arg(reason)},
        {ZNTFavoritesStore::RecoveryOptionsKey,
         QStringList{QStringLiteral("Create new file"), QStringLiteral("Cancel")}},
        {ZNTFavoritesStore::StoreURLKey, QUrl::fromLocalFile(path)}};
    return Error::make(kBundleIdentifier, ZNTFavoritesStore::CouldNotReadError, info, cause);
}

// What SQLite keeps beside a store: moved together, or a WAL store loses what
// its log holds.
const char *const kSideFiles[] = {"-journal", "-wal", "-shm"};

QString asideName(const QString &path, int n) {
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(suffix.isEmpty() ? QStringLiteral("%1.%2").arg(base).arg(n)
                                                : QStringLiteral("%1.%2.%3").arg(base).arg(n).arg(suffix));
}

bool nameIsFree(const QString &path) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return false;
    for (const char *side : kSideFiles) {
        if (QFileInfo::exists(path + QLatin1String(side)))
            return false;
    }
    return true;
}
} // namespace

QString ZNTFavoritesStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Trellan/ConnectionFavorites.db");
}

std::shared_ptr<ZNTFavoritesStore> ZNTFavoritesStore::create(const QString &path) {
    requireMainThread("ZNTFavoritesStore::create");
    return std::shared_ptr<ZNTFavoritesStore>(new ZNTFavoritesStore(path));
}

ZNTFavoritesStore::ZNTFavoritesStore(QString path)
    : m_path(std::move(path)), m_keychainQueue(std::make_unique<SerialQueue>("norvane.Trellan.keychainQueue")),
      m_keychain(std::make_shared<FavoritesKeychain>()) {}

ZNTFavoritesStore::~ZNTFavoritesStore() {
    // What the user changed in the last half second is not lost to quitting.
    if (isOpen() && hasChanges()) {
        ErrorPtr error;
        if (!save(&error))
            Log(QStringLiteral("Failed to save favorites: %1").arg(error->localizedDescription()));
    }
    // Reads nobody waits for any more are dropped; passes that write items run to
    // their end before the queue goes (its destructor waits for them).
    m_keychain->stopReading();
    m_keychainQueue.reset();
    m_db.reset();
    if (m_lockFD >= 0)
        ::close(m_lockFD);
}

bool ZNTFavoritesStore::open(ErrorPtr *error) {
    requireMainThread("ZNTFavoritesStore::open");
    close();
    ErrorPtr failure;
    if (!makeFolder(QFileInfo(m_path).absolutePath(), &failure)) {
        Log(QStringLiteral("Failed to create application support directory because: %1")
                .arg(failure->localizedDescription()));
        if (error)
            *error = failure;
        return false;
    }
    if (!takeLock(&failure)) {
        Log(QStringLiteral("Failed to open the favorites store: %1").arg(failure->localizedDescription()));
        if (error)
            *error = failure;
        return false;
    }
    bool existed = false;
    bool notOurs = false;
    bool opened = openFile(&failure, &existed) && prepareSchema(&failure, &notOurs) && loadFavorites(&failure);
    if (opened)
        return true;
    // A file we cannot read is left as it was: no checkpoint folds a log we did
    // not write into it.
    if (m_db)
        sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    close();
    if (existed || notOurs)
        failure = couldNotReadError(failure, m_path);
    Log(QStringLiteral("Failed to create persistent store because: %1").arg(failure->localizedDescription()));
    if (error)
        *error = failure;
    return false;
}

// An exclusive lock on a file beside the store, held while the store lives:
// two programs saving into one file would number new rows alike and lose each
// other's. Where the lock file cannot be made (a folder the user may only
// read), nothing can be saved either, and the store opens without it.
bool ZNTFavoritesStore::takeLock(ErrorPtr *error) {
    if (m_lockFD >= 0)
        return true;
    const QString lockPath = m_path + QStringLiteral(".lock");
    const QByteArray bytes = QFile::encodeName(lockPath);
    int fd = ::open(bytes.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        Log(QStringLiteral("The favorites store is opened without its lock file %1: %2")
                .arg(lockPath, Posix::errnoText(errno)));
        return true;
    }
    narrowMode(lockPath);
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        m_lockFD = fd;
        return true;
    }
    const int reason = errno;
    ::close(fd);
    if (reason != EWOULDBLOCK) {
        Log(QStringLiteral("The favorites store is opened without locking %1: %2")
                .arg(lockPath, Posix::errnoText(reason)));
        return true;
    }
    *error = Error::make(
        kBundleIdentifier, InUseError,
        {{Error::DescriptionKey, QStringLiteral("The favorites are open in another Trellan.")},
         {Error::RecoverySuggestionKey,
          QStringLiteral("Another Trellan of yours is running with the favorites in “%1”. This one shows none, so that "
                         "neither overwrites what the other saves. Quit this one and use the other.")
              .arg(m_path)}});
    return false;
}

bool ZNTFavoritesStore::openFile(ErrorPtr *error, bool *fileExisted) {
    *fileExisted = QFileInfo::exists(m_path);
    // SQLite gives its journal the mode of the store: both the user's alone.
    narrowMode(QFileInfo(m_path).absolutePath());
    if (!*fileExisted) {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    narrowMode(m_path);
    for (const char *side : kSideFiles)
        narrowMode(m_path + QLatin1String(side));
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqlitePtr handle(db);
    if (rc != SQLITE_OK) {
        *error = sqliteError(db, QStringLiteral("Opening %1").arg(m_path));
        return false;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    if (!sqliteExec(db, "PRAGMA foreign_keys = ON", error))
        return false;
    m_db = std::move(handle);
    return true;
}

// Brings the file to the current schema in one transaction: a new file gets
// every table, an older one the steps it lacks, and nothing is written to a
// current one (a store the user may only read still opens).
bool ZNTFavoritesStore::prepareSchema(ErrorPtr *error, bool *notOurs) {
    sqlite3 *db = m_db.get();
    if (!sqliteExec(db, "BEGIN", error))
        return false;
    auto fail = [&](ErrorPtr cause, bool foreign) {
        sqliteExec(db, "ROLLBACK", nullptr);
        *error = std::move(cause);
        *notOurs = foreign;
        return false;
    };
    qint64 applicationID = 0, version = 0, objects = 0;
    {
        // Finished before any change: a running read of the schema would lock it.
        SqliteStatement header(db, "SELECT (SELECT application_id FROM pragma_application_id), "
                                   "(SELECT user_version FROM pragma_user_version), "
                                   "(SELECT count(*) FROM sqlite_schema)");
        if (header.step() != SQLITE_ROW)
            return fail(sqliteError(db, QStringLiteral("Reading the favorites store")), false);
        applicationID = header.int64(0);
        version = header.int64(1);
        objects = header.int64(2);
    }
    const bool empty = applicationID == 0 && version == 0 && objects == 0;
    if (!empty && applicationID != kApplicationID)
        return fail(KesError::errorWithFormat(QStringLiteral("The file is not a favorites store of Trellan.")), true);
    if (version > SchemaVersion)
        return fail(KesError::errorWithFormat(
                        QStringLiteral("The favorites store has version %1; this version of Trellan reads "
                                       "version %2 and older.")
                            .arg(version)
                            .arg(SchemaVersion)),
                    true);
    for (const Migration &step : kMigrations) {
        if (step.version > version && !sqliteExec(db, step.sql, error))
            return fail(*error, true);
    }
    if (version < SchemaVersion) {
        const QByteArray stamp = QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2")
                                     .arg(kApplicationID)
                                     .arg(SchemaVersion)
                                     .toUtf8();
        if (!sqliteExec(db, stamp.constData(), error))
            return fail(*error, false);
    }
    for (const char *probe : kSchemaProbe) {
        if (!SqliteStatement(db, probe).isValid())
            return fail(sqliteError(db, QStringLiteral("Checking the favorites store")), true);
    }
    if (!sqliteExec(db, "COMMIT", error))
        return fail(*error, false);
    return true;
}

bool ZNTFavoritesStore::loadFavorites(ErrorPtr *error) {
    m_favorites.clear();
    m_nextIDs.clear();
    for (const char *table : kTables) {
        SqliteStatement maxID(
            m_db.get(),
            QStringLiteral("SELECT coalesce(max(id), 0) FROM %1").arg(QLatin1String(table)).toUtf8().constData());
        if (maxID.step() != SQLITE_ROW) {
            *error = sqliteError(m_db.get(), QStringLiteral("Reading the favorites store"));
            return false;
        }
        m_nextIDs[QLatin1String(table)] = maxID.int64(0) + 1;
    }
    SqliteStatement rows(m_db.get(), R"sql(
        SELECT id, nickname, host, port, "user", "database", savePassword, "order", sshEnabled, sshHost, sshPort,
               sshUser, saveSshPassword, sshPrivateKeyBookmark, showAllDatabases, colorIndex
        FROM favorite ORDER BY "order", id)sql");
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        ZNTFavoriteValues v;
        auto optionalInt = [&](int column) -> std::optional<int> {
            if (auto value = rows.optionalInt64(column))
                return int(std::clamp<qint64>(*value, INT_MIN, INT_MAX));
            return std::nullopt;
        };
        auto optionalBool = [&](int column) -> std::optional<bool> {
            if (auto value = rows.optionalInt64(column))
                return *value != 0;
            return std::nullopt;
        };
        v.nickname = rows.text(1);
        v.host = rows.text(2);
        v.port = optionalInt(3);
        v.user = rows.text(4);
        v.database = rows.text(5);
        v.savePassword = rows.int64(6) != 0;
        v.order = qint32(rows.int64(7));
        v.sshEnabled = optionalBool(8);
        v.sshHost = rows.text(9);
        v.sshPort = optionalInt(10);
        v.sshUser = rows.text(11);
        v.saveSshPassword = rows.int64(12) != 0;
        v.sshPrivateKeyBookmark = rows.blob(13);
        v.showAllDatabases = optionalBool(14);
        v.colorIndex = qint32(rows.int64(15));
        m_favorites.push_back(std::shared_ptr<ZNTFavorite>(
            new ZNTFavorite(weak_from_this(), rows.int64(0), ZNTStoredObject::State::Saved, std::move(v))));
    }
    if (rc != SQLITE_DONE) {
        *error = sqliteError(m_db.get(), QStringLiteral("Failed to load connection favorites because"));
        Log(QStringLiteral("Failed to load connection favorites because %1").arg((*error)->localizedDescription()));
        return false;
    }
    return true;
}

void ZNTFavoritesStore::close() {
    m_favorites.clear();
    m_containers.clear();
    m_properties.clear();
    m_historyElements.clear();
    m_pending.clear();
    m_db.reset();
}

qint64 ZNTFavoritesStore::nextID(const char *table) {
    return m_nextIDs[QLatin1String(table)]++;
}

bool ZNTFavoritesStore::attemptRecoveryFromError(const ErrorPtr &error, int optionIndex, ErrorPtr *openError) {
    requireMainThread("ZNTFavoritesStore::attemptRecoveryFromError");
    if (!error || error->code() != CouldNotReadError || optionIndex != 0)
        return false;
    const QString path = error->userInfo().value(StoreURLKey).toUrl().toLocalFile();
    if (path.isEmpty())
        return false;
    close();
    int n = 1;
    while (!nameIsFree(asideName(path, n)))
        ++n;
    const QString aside = asideName(path, n);
    if (!QFile::rename(path, aside)) {
        Log(QStringLiteral("Failed to move the favorites store %1 aside to %2").arg(path, aside));
        return false;
    }
    for (const char *side : kSideFiles) {
        const QString from = path + QLatin1String(side);
        if (QFileInfo::exists(from) && !QFile::rename(from, aside + QLatin1String(side)))
            Log(QStringLiteral("Failed to move %1 beside %2").arg(from, aside));
    }
    ErrorPtr reopenError;
    if (!open(&reopenError) && openError)
        *openError = reopenError;
    return true;
}
