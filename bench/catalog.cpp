// Catalog benchmark: how long the sidebar's listing of a database and the
// database page's listing take on a database of 10,000 tables in 20 schemas,
// from the start of the listing to its done notification, next to
// psql -c '\dt *.*' in the same run.
//
//   bench_catalog [postgresql://user@host:port] [--runs N]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER. The database bench_catalog is made on first use (one
// transaction per schema: one for all of them would run out of lock space) and
// kept; drop it to start over. All 20 schemas are on its search path, so the
// sidebar lists every table.
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTObjectQuery.h"
#include "model/ZNTServer.h"
#include "model/ZNTVariousObjectsQuery.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kSchemas = 20;
constexpr int kTablesPerSchema = 500;
const QString kDatabase = QStringLiteral("bench_catalog");

struct Server {
    QString host, port, user;
    QString conninfo(const QString &database) const {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4 sslmode=prefer").arg(host, port, user, database);
    }
};

Server serverFrom(const QString &url) {
    if (url.isEmpty())
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"),
                      qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres")};
    const QUrl u(url);
    return Server{u.host(), QString::number(u.port(5432)), u.userName()};
}

PGconnPtr connectTo(const Server &server, const QString &database) {
    PGconnPtr conn(PQconnectdb(server.conninfo(database).toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    return conn;
}

QString scalar(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) < 1)
        return QString();
    return QString::fromUtf8(PQgetvalue(result.get(), 0, 0));
}

void exec(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(conn));
        std::exit(2);
    }
}

QString schemaName(int i) { return QStringLiteral("s%1").arg(i + 1, 2, 10, QLatin1Char('0')); }

void ensureDatabase(const Server &server) {
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
qsizetype runListing(const std::shared_ptr<ZNTObjectQuery> &listing) {
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTObjectQuery::DoneNotification, listing.get(), [&](const Notification &) { done = true; });
    listing->executeInBackground();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (listing->error()) {
        std::fprintf(stderr, "listing failed: %s\n", qPrintable(listing->error()->localizedDescription()));
        std::exit(2);
    }
    return listing->objects().value_or(ZNTObjectList()).size();
}

double psqlListing(const Server &server) {
    QProcess psql;
    psql.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    psql.start(QStringLiteral("psql"),
               {"-X", "-h", server.host, "-p", server.port, "-U", server.user, "-d", kDatabase, "-c", "\\dt *.*"});
    psql.waitForFinished(-1);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (psql.exitCode() != 0) {
        std::fprintf(stderr, "psql failed: %s\n", psql.readAllStandardError().constData());
        std::exit(2);
    }
    return ms;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QString url;
    int runs = 9;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = args[++i].toInt();
        else
            url = args[i];
    }
    const Server server = serverFrom(url);
    ensureDatabase(server);

    auto zntServer = ZNTServer::create({{"host", server.host}, {"port", server.port}, {"user", server.user},
                                        {"dbname", kDatabase}});
    auto connection = zntServer->mainConnection();
    connection->connectInBackground();
    while (connection->state() != ZNTConnection::ZNTConnectionStateConnected || !connection->serverVersion())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);

    std::vector<double> sidebar, page, psql;
    qsizetype sidebarObjects = 0, pageObjects = 0;
    const auto timed = [](std::vector<double> &into, const std::function<qsizetype()> &run) {
        QElapsedTimer timer;
        timer.start();
        const qsizetype n = run();
        into.push_back(timer.nsecsElapsed() / 1e6);
        return n;
    };
    // Interleaved, so that a busy moment of the machine hits all three alike.
    for (int r = 0; r < runs + 1; ++r) {
        std::vector<double> discard;
        const bool warmUp = r == 0;
        sidebarObjects = timed(warmUp ? discard : sidebar, [&] {
            auto listing = zntServer->mainDatabase()->descendantQuery();
            listing->setForSidebar(true);
            return runListing(listing);
        });
        pageObjects = timed(warmUp ? discard : page, [&] {
            return runListing(std::make_shared<ZNTVariousObjectsQuery>(zntServer->mainDatabase()));
        });
        (warmUp ? discard : psql).push_back(psqlListing(server));
    }

    const double p = median(psql);
    std::printf("catalog of %d tables in %d schemas, %d runs, median (min) in ms\n", kSchemas * kTablesPerSchema,
                kSchemas, runs);
    std::printf("  psql -c '\\dt *.*'     %8.1f (%.1f)\n", p, *std::min_element(psql.begin(), psql.end()));
    std::printf("  sidebar listing       %8.1f (%.1f)  %.2f x psql  %lld items\n", median(sidebar),
                *std::min_element(sidebar.begin(), sidebar.end()), median(sidebar) / p, (long long)sidebarObjects);
    std::printf("  database page listing %8.1f (%.1f)  %.2f x psql  %lld items\n", median(page),
                *std::min_element(page.begin(), page.end()), median(page) / p, (long long)pageObjects);
    return 0;
}
