// Shared by the catalog and overview benchmarks: the test server from a URL or
// the test variables, and the database bench_catalog of 10,000 tables in 20
// schemas, made on first use and kept.
#pragma once

#include "engine/LibpqHandles.h"
#include "model/ZNTObjectQuery.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace benchcatalog {

inline constexpr int kSchemas = 20;
inline constexpr int kTablesPerSchema = 500;
inline const QString kDatabase = QStringLiteral("bench_catalog");

struct Server {
    QString host, port, user;
    QString conninfo(const QString &database) const {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4 sslmode=prefer").arg(host, port, user, database);
    }
};

inline Server serverFrom(const QString &url) {
    if (url.isEmpty())
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"),
                      qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres")};
    const QUrl u(url);
    return Server{u.host(), QString::number(u.port(5432)), u.userName()};
}

inline PGconnPtr connectTo(const Server &server, const QString &database) {
    PGconnPtr conn(PQconnectdb(server.conninfo(database).toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    return conn;
}

inline QString scalar(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) < 1)
        return QString();
    return QString::fromUtf8(PQgetvalue(result.get(), 0, 0));
}

inline void exec(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(conn));
        std::exit(2);
    }
}

inline QString schemaName(int i) {
    return QStringLiteral("s%1").arg(i + 1, 2, 10, QLatin1Char('0'));
}

inline void ensureDatabase(const Server &server) {
    auto admin = connectTo(server, QStringLiteral("postgres"));
    if (scalar(admin.get(), QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(kDatabase)) == "1") {
        auto conn = connectTo(server, kDatabase);
        const QString tables = scalar(conn.get(), "SELECT count(*) FROM pg_tables WHERE schemaname LIKE 's__'");
        if (tables.toInt() == kSchemas * kTablesPerSchema)
            return;
        exec(admin.get(), QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(kDatabase));
    }
    std::fprintf(stderr, "creating %s with %d tables...\n", qPrintable(kDatabase), kSchemas * kTablesPerSchema);
    exec(admin.get(), QStringLiteral("CREATE DATABASE %1").arg(kDatabase));
    auto conn = connectTo(server, kDatabase);
    QStringList path;
    for (int s = 0; s < kSchemas; ++s) {
        QString sql = QStringLiteral("BEGIN; CREATE SCHEMA %1;").arg(schemaName(s));
        for (int t = 0; t < kTablesPerSchema; ++t)
            sql += QStringLiteral(" CREATE TABLE %1.t%2 (id int PRIMARY KEY, name text, amount numeric);")
                       .arg(schemaName(s))
                       .arg(s * kTablesPerSchema + t, 5, 10, QLatin1Char('0'));
        exec(conn.get(), sql + " COMMIT;");
        path << schemaName(s);
    }
    exec(conn.get(), QStringLiteral("ALTER DATABASE %1 SET search_path = %2").arg(kDatabase, path.join(", ")));
    exec(conn.get(), "ANALYZE");
}

// Runs one listing to its done notification; its objects.
inline qsizetype runListing(const std::shared_ptr<ZNTObjectQuery> &listing) {
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTObjectQuery::DoneNotification, listing.get(),
                                                                      [&](const Notification &) { done = true; });
    listing->executeInBackground();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (listing->error()) {
        std::fprintf(stderr, "listing failed: %s\n", qPrintable(listing->error()->localizedDescription()));
        std::exit(2);
    }
    return listing->objects().value_or(ZNTObjectList()).size();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace benchcatalog
