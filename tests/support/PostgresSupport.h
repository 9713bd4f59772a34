// The test run's PostgreSQL server: connection parameters for the program's
// connections, and plain libpq handles beside them for set-up and as oracles.
// For the tests of the layers that link libpq.
#pragma once

#include "TestSupport.h"
#include "engine/LibpqHandles.h"

#include <QString>
#include <QVariantMap>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <ostream>

// QStrings in the values gtest prints.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

// The run's server with TLS, as user (the admin user when empty) on database.
inline QVariantMap testServerParams(const QString &database = QStringLiteral("postgres"),
                                    const QString &user = QString()) {
    return {{"host", requiredEnv("TRELLAN_PG_HOST")},
            {"port", requiredEnv("TRELLAN_PG_PORT").toInt()},
            {"dbname", database},
            {"user", user.isEmpty() ? requiredEnv("TRELLAN_PG_ADMIN_USER") : user}};
}

// A libpq connection of the admin user to database; its notices are dropped.
inline PGconnPtr adminConnection(const QString &database = QStringLiteral("postgres")) {
    const QByteArray info = QStringLiteral("host=%1 port=%2 user=%3 dbname=%4")
                                .arg(requiredEnv("TRELLAN_PG_HOST"), requiredEnv("TRELLAN_PG_PORT"),
                                     requiredEnv("TRELLAN_PG_ADMIN_USER"), database)
                                .toUtf8();
    PGconnPtr conn(PQconnectdb(info.constData()));
    EXPECT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
    PQsetNoticeProcessor(
        conn.get(), [](void *, const char *) {}, nullptr);
    return conn;
}

// Runs sql through libpq; fails the test on a server error.
inline void exec(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    const ExecStatusType status = PQresultStatus(result.get());
    EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        << sql.toStdString() << ": " << PQerrorMessage(conn);
}
