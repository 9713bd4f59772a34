// Table page benchmark: how fast the table page shows a page of a large table,
// next to psql running the same SELECT, and how much memory it needs.
//
//   bench_page [postgresql://user@host:port/db] [--runs N]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER (database "postgres"). The tables bench_page10m
// (10,000,000 rows) and bench_page1m (1,000,000 rows), each with a primary key,
// are created on first use (unlogged, about 0.8 GB of disk for both) and kept.
// Every run is a child process (the bench
// runs itself with --child) that connects, then times, on the offscreen
// platform with 1,000 rows per page:
//   first  from making the page to its first page painted (structure and rows)
//   next   from "next page" to that page painted
//   last   after the row count has come, from going to the last page to it painted
// (a page is painted once its rows are in, whether the new count has come or not)
// and reports its peak RSS. Beside each, psql -X -A -t -c with the same SELECT
// (process start to exit). Rounds are interleaved; medians are printed.
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
struct Server {
    QString host, port, user, database;
    QString conninfo() const {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4 sslmode=prefer").arg(host, port, user, database);
    }
    QVariantMap params() const { return {{"host", host}, {"port", port}, {"user", user}, {"dbname", database}}; }
};

Server serverFrom(const QString &url) {
    if (url.isEmpty())
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"), qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres"), "postgres"};
    const QUrl u(url);
    return Server{u.host(), QString::number(u.port(5432)), u.userName(),
                  u.path().mid(1).isEmpty() ? QStringLiteral("postgres") : u.path().mid(1)};
}

const std::map<QString, qint64> kTables = {{"bench_page10m", 10000000}, {"bench_page1m", 1000000}};
constexpr qint64 kRowsPerPage = 1000;

void ensureTable(const Server &server, const QString &table) {
    PGconnPtr conn(PQconnectdb(server.conninfo().toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    PGresultPtr exists(PQexec(conn.get(), ("select to_regclass('" + table + "') is not null").toUtf8()));
    if (std::strcmp(PQgetvalue(exists.get(), 0, 0), "t") == 0)
        return;
    std::fprintf(stderr, "creating %s...\n", qPrintable(table));
    // Unlogged: the server writes no WAL for it, so the 10,000,000 rows need
    // about 0.8 GB of disk instead of twice that. One statement at a time:
    // VACUUM runs outside a transaction.
    const QStringList statements = {
        QStringLiteral("create unlogged table %1 as select g::int8 as id, 'customer ' || g as name, g %% 3 = 0 as flag "
                       "from generate_series(1, %2) g")
            .arg(table)
            .arg(kTables.at(table))
            .replace(QLatin1String("%%"), QLatin1String("%")),
        QStringLiteral("alter table %1 add primary key (id)").arg(table),
        QStringLiteral("vacuum analyze %1").arg(table),
    };
    for (const QString &sql : statements) {
        PGresultPtr done(PQexec(conn.get(), sql.toUtf8().constData()));
        if (PQresultStatus(done.get()) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "%s", PQerrorMessage(conn.get()));
            std::exit(2);
        }
    }
}

// ---- the child: one page, three navigations ----

bool runUntil(const std::function<bool()> &done, int seconds = 120) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

int childPage(int argc, char **argv, const Server &server, const QString &tableName) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UserDefaults::standard().setObject(kRowsPerPage, "TableViewRowsPerPage");
    UserDefaults::standard().removeObject("DontCountRows");
    auto zntServer = ZNTServer::create(server.params());
    auto connection = zntServer->mainConnection();
    connection->connectInBackground();
    if (!runUntil([&] { return connection->state() == ZNTConnection::ZNTConnectionStateConnected; }, 30))
        return 2;
    auto table = ZNTTable::create(tableName, "public", zntServer->mainDatabase());
    QWidget host;
    host.resize(1280, 800);
    host.show();
    QElapsedTimer timer;
    auto *page = new ZNTTableViewController(table);
    // Painted: the page's rows are in and the status names them.
    auto shown = [&](const QString &status) {
        return page->contentModel()->rowCount() == kRowsPerPage && page->statusText().startsWith(status);
    };
    auto paint = [&] { page->tableView()->viewport()->repaint(); };

    timer.start();
    auto *layout = new QVBoxLayout(&host);
    layout->addWidget(page->view());
    if (!runUntil([&] { return shown("Rows 1-1000"); }))
        return 3;
    paint();
    const double firstMs = timer.nsecsElapsed() / 1e6;
    std::printf("sql_first=%s\n", qPrintable(table->queryWithOffset(0, kRowsPerPage, nullptr, true, {})->sql()));

    if (!runUntil([&] { return !page->isLoading() && page->totalNumRows() > 0; }))
        return 4;
    timer.restart();
    page->setCurrentPageIndex(1);
    if (!runUntil([&] { return shown("Rows 1001-2000"); }))
        return 5;
    paint();
    const double nextMs = timer.nsecsElapsed() / 1e6;
    std::printf("sql_next=%s\n",
                qPrintable(table->queryWithOffset(kRowsPerPage, kRowsPerPage, nullptr, true, {})->sql()));

    if (!runUntil([&] { return !page->isLoading() && page->totalNumRows() > 0; }))
        return 6;
    const qint64 last = (page->totalNumRows() - 1) / kRowsPerPage;
    timer.restart();
    page->setCurrentPageIndex(last);
    const QString lastStatus = QStringLiteral("Rows %1-").arg(last * kRowsPerPage + 1);
    if (!runUntil([&] { return shown(lastStatus); }))
        return 7;
    paint();
    const double lastMs = timer.nsecsElapsed() / 1e6;
    std::printf("sql_last=%s\n",
                qPrintable(table->queryWithOffset(quint64(last * kRowsPerPage), kRowsPerPage, nullptr, true, {})->sql()));
    std::printf("first_ms=%.1f\nnext_ms=%.1f\nlast_ms=%.1f\n", firstMs, nextMs, lastMs);
    runUntil([&] { return !page->isLoading(); }); // the count, before the program ends
    delete page;
    return 0;
}

// ---- the parent ----

struct Run {
    double wallMs = 0, maxRssMb = 0;
    std::map<std::string, std::string> values;
};

Run runChild(const std::vector<std::string> &args, bool discardOutput) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        std::exit(3);
    QElapsedTimer wall;
    wall.start();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(discardOutput ? open("/dev/null", O_WRONLY) : pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.wallMs = wall.nsecsElapsed() / 1e6;
    run.maxRssMb = usage.ru_maxrss / 1024.0;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        if (auto eq = line.find('='); eq != std::string::npos)
            run.values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child %s failed (status %d)\n", args[0].c_str(), status);
        std::exit(4);
    }
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double number(const Run &run, const std::string &key) {
    auto it = run.values.find(key);
    return it == run.values.end() ? 0 : std::atof(it->second.c_str());
}
} // namespace

int main(int argc, char **argv) {
    QString url;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--child" && i + 2 < argc) {
            const Server server = serverFrom(QString::fromLocal8Bit(argv[i + 2]) == "-" ? QString() : argv[i + 2]);
            return childPage(argc, argv, server, QString::fromLocal8Bit(argv[i + 1]));
        }
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            url = arg;
    }
    const Server server = serverFrom(url);
    const std::string self = argv[0], urlArg = url.isEmpty() ? "-" : url.toStdString();
    const std::string conninfo = server.conninfo().toStdString();
    std::map<QString, double> peakRss;
    for (const QString &table : {QStringLiteral("bench_page10m"), QStringLiteral("bench_page1m")}) {
        ensureTable(server, table);
        const std::vector<std::string> child = {self, "--child", table.toStdString(), urlArg};
        const Run warm = runChild(child, false); // also names the three SELECTs
        std::map<std::string, std::vector<double>> page, psql;
        std::vector<double> rss;
        for (int round = 0; round < runs; ++round) {
            const Run run = runChild(child, false);
            rss.push_back(run.maxRssMb);
            for (const char *step : {"first", "next", "last"}) {
                page[step].push_back(number(run, std::string(step) + "_ms"));
                const std::string sql = warm.values.at(std::string("sql_") + step);
                psql[step].push_back(runChild({"psql", conninfo, "-X", "-A", "-t", "-c", sql}, true).wallMs);
            }
        }
        peakRss[table] = median(rss);
        std::printf("\n== %s, %lld rows, %lld per page, %d runs (medians) ==\n", qPrintable(table),
                    kTables.at(table), kRowsPerPage, runs);
        std::printf("%-6s %10s %10s %7s %7s\n", "step", "page", "psql", "ratio", "target");
        const std::map<std::string, double> targets = {{"first", 1.5}, {"next", 1.2}, {"last", 1.2}};
        for (const char *step : {"first", "next", "last"}) {
            const double p = median(page[step]), q = median(psql[step]);
            std::printf("%-6s %8.1fms %8.1fms %7.2f %7.1f\n", step, p, q, p / q, targets.at(step));
        }
        std::printf("peak RSS %.1f MB\n", peakRss[table]);
    }
    std::printf("\npeak RSS, 10,000,000 rows against 1,000,000: %.3f (target within 1.1)\n",
                peakRss["bench_page10m"] / peakRss["bench_page1m"]);
    return 0;
}
