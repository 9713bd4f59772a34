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
#include "CatalogDatabase.h"
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
using namespace benchcatalog;

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

    auto zntServer =
        ZNTServer::create({{"host", server.host}, {"port", server.port}, {"user", server.user}, {"dbname", kDatabase}});
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
