// Server access for the engine's tests: plain libpq handles on the test cluster
// (for oracles and set-up) and connection parameters for ZNTConnection.
#pragma once

#include "TestSupport.h"
#include "engine/LibpqHandles.h"

#include <QVariantMap>
#include <gtest/gtest.h>

inline QVariantMap serverParams(const QString &database = QStringLiteral("postgres")) {
    return QVariantMap{
        {QStringLiteral("host"), requiredEnv("TRELLAN_PG_HOST")},
        {QStringLiteral("port"), requiredEnv("TRELLAN_PG_PORT")},
        {QStringLiteral("user"), requiredEnv("TRELLAN_PG_ADMIN_USER")},
        {QStringLiteral("dbname"), database},
    };
}

inline PGconnPtr adminConnection(const QString &database = QStringLiteral("postgres")) {
    const QVariantMap p = serverParams(database);
    const QByteArray info = QStringLiteral("host=%1 port=%2 user=%3 dbname=%4 sslmode=prefer")
                                .arg(p["host"].toString(), p["port"].toString(), p["user"].toString(), database)
                                .toUtf8();
    PGconnPtr conn(PQconnectdb(info.constData()));
    EXPECT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
    return conn;
}

// The single value of a one-row, one-column query, as the server's text.
inline QByteArray scalar(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql.toStdString() << ": " << PQerrorMessage(conn);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) < 1)
        return QByteArray();
    return QByteArray(PQgetvalue(result.get(), 0, 0), PQgetlength(result.get(), 0, 0));
}

inline void exec(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    const ExecStatusType status = PQresultStatus(result.get());
    EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << sql.toStdString() << ": "
                                                                          << PQerrorMessage(conn);
}

// Readable failure messages for nested lists of values.
inline void PrintTo(const QVariant &value, std::ostream *os) {
    if (!value.isValid()) {
        *os << "NULL";
    } else if (value.typeId() == QMetaType::QVariantList) {
        *os << "{";
        const QVariantList list = value.toList();
        for (qsizetype i = 0; i < list.size(); ++i) {
            *os << (i ? ", " : "");
            PrintTo(list[i], os);
        }
        *os << "}";
    } else {
        *os << '"' << value.toString().toStdString() << '"';
    }
}
