#include "SqliteStatement.h"

#include <sqlite3.h>

void SqliteCloser::operator()(sqlite3 *db) const {
    sqlite3_close_v2(db);
}

ErrorPtr sqliteError(sqlite3 *db, const QString &what) {
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_CANTOPEN;
    const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("no database");
    return Error::make(QStringLiteral("SQLite"), code,
                       {{Error::DescriptionKey, QStringLiteral("%1: %2").arg(what, message)}});
}

bool sqliteExec(sqlite3 *db, const char *sql, ErrorPtr *error) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (error)
        *error = sqliteError(db, QString::fromUtf8(sql).section(u' ', 0, 2).trimmed());
    return false;
}

SqliteStatement::SqliteStatement(sqlite3 *db, const char *sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
        m_statement = nullptr;
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

SqliteStatement &SqliteStatement::bind(int index, const QString &value) {
    if (value.isNull())
        return bindNull(index);
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, qint64 value) {
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QByteArray &value) {
    if (value.isNull())
        return bindNull(index);
    sqlite3_bind_blob(m_statement, index, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement &SqliteStatement::bindNull(int index) {
    sqlite3_bind_null(m_statement, index);
    return *this;
}

int SqliteStatement::step() {
    return m_statement ? sqlite3_step(m_statement) : sqlite3_errcode(m_db);
}

bool SqliteStatement::run(ErrorPtr *error, const QString &what) {
    int rc;
    while ((rc = step()) == SQLITE_ROW) {
    }
    if (rc == SQLITE_DONE)
        return true;
    if (error)
        *error = sqliteError(m_db, what);
    return false;
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QString SqliteStatement::text(int column) const {
    if (isNull(column))
        return QString();
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    QString value = QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
    return value.isNull() ? QStringLiteral("") : value;
}

qint64 SqliteStatement::int64(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::optional<qint64> SqliteStatement::optionalInt64(int column) const {
    if (isNull(column))
        return std::nullopt;
    return int64(column);
}

QByteArray SqliteStatement::blob(int column) const {
    if (isNull(column))
        return QByteArray();
    const auto *bytes = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return size > 0 ? QByteArray(bytes, size) : QByteArray("");
}
