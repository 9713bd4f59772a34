#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <optional>
#include <vector>

// Favorite files ("tqbfav"): one favorite as a binary property list, its
// passwords plain or in the password container, its query history compressed
// or encrypted.
namespace ZNTFavoriteFile {

inline const QString FavoriteType = QStringLiteral("norvane.Trellan.favorite");
inline const QString FileExtension = QStringLiteral("tqbfav");
// Errors of a missing or wrong export password; the importer asks for one.
inline const QString PasswordErrorDomain = QStringLiteral("norvane.password");
// Above the largest file the program writes: a history of 1,000 texts of at most
// 100,000 UTF-16 units takes about 200 MB as a property list (two bytes a unit
// for text beyond ASCII), and compressing or encrypting it adds next to nothing.
// Larger files are refused unread.
inline constexpr qint64 MaxFileSize = qint64(256) << 20;

enum Option : quint32 {
    IncludePasswords = 1,
    IncludeHistory = 2,
};

struct HistoryEntry {
    QString text;
    QDateTime date;
};

// What a favorite puts into its file; absent fields are not written.
struct Contents {
    std::optional<QString> nickname, host, user, database;
    std::optional<qint64> port;
    std::optional<QString> password;
    std::optional<bool> showAllDatabases, sshEnabled;
    std::optional<QString> sshHost, sshUser;
    std::optional<qint64> sshPort;
    std::optional<QString> sshPassword;
    bool hasSshPrivateKey = false; // a key file replaces the SSH password
    std::vector<HistoryEntry> history;
};

// The file's bytes, or nothing with *error. An export password encrypts the
// passwords and the history.
std::optional<QByteArray> dataWithOptions(const Contents &contents, quint32 options,
                                          const std::optional<QString> &exportPassword, ErrorPtr *error);

// The parameter dictionary of a file: "nickname", "host", "port", "user",
// "database", "password", "showAllDatabases", "sshEnabled", "sshHost",
// "sshPort", "sshUser", "sshPassword" when present with the right type, and
// "history" ({"texts": strings, "dates": date-times} of equal length); ports
// only from 1 to 65535. Nothing with *error when the file cannot be read,
// holds nothing usable or holds a text with a NUL character (which libpq and
// the secret store would cut short); a missing or wrong export password is an
// error of PasswordErrorDomain, an encrypted value that no password could open
// says that the file is damaged.
std::optional<QVariantMap> paramsForData(const QByteArray &data, const std::optional<QString> &password,
                                         ErrorPtr *error);

} // namespace ZNTFavoriteFile
