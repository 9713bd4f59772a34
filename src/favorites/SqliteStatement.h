// The favorites layer: the favorites store and its objects (favorites, their
// view-setting containers and query history), and the favorites window.
#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

struct SqliteCloser {
    void operator()(sqlite3 *db) const;
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;

// An error of the SQLite library: domain "SQLite", its extended result code, and
// "<what>: <SQLite's message>" as description.
ErrorPtr sqliteError(sqlite3 *db, const QString &what);
// Runs one or more statements without results; false with *error set on failure.
bool sqliteExec(sqlite3 *db, const char *sql, ErrorPtr *error);

// One prepared statement. Parameters count from 1, columns from 0; a null
// QString or an empty optional binds NULL, and NULL reads back as those.
class SqliteStatement {
public:
    SqliteStatement(sqlite3 *db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    SqliteStatement &bind(int index, const QString &value);
    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, const QByteArray &value); // a null array binds NULL
    template <class T> SqliteStatement &bind(int index, const std::optional<T> &value) {
        return value ? bind(index, qint64(*value)) : bindNull(index);
    }
    SqliteStatement &bindNull(int index);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Steps to the end; false with *error set when a step failed.
    bool run(ErrorPtr *error, const QString &what);

    bool isNull(int column) const;
    QString text(int column) const;
    qint64 int64(int column) const;
    std::optional<qint64> optionalInt64(int column) const;
    QByteArray blob(int column) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_statement = nullptr;
};
