// Fetch benchmark: how fast, how heavy and how smooth ZNTQuery brings a large
// result to the main thread, next to a bare libpq loop and to psql.
//
//   bench_fetch [postgresql://user@host:port/db] [--runs N] [--tables wide,narrow]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER (database "postgres"). The tables bench_wide (1,000,000
// rows, ten mixed columns) and bench_narrow (5,000,000 rows of int8, int4 and
// 8-character text) are created on first use and kept. Each run of each variant
// is a child process (the bench runs itself with --child), so that its peak
// memory and processor time are its own.
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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
    QVariantMap params() const {
        return {{"host", host}, {"port", port}, {"user", user}, {"dbname", database}};
    }
};

Server serverFrom(const QString &url) {
    if (url.isEmpty())
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"), qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres"), "postgres"};
    const QUrl u(url);
    return Server{u.host(), QString::number(u.port(5432)), u.userName(),
                  u.path().mid(1).isEmpty() ? QStringLiteral("postgres") : u.path().mid(1)};
}

const std::map<QString, QString> kTables = {
    {"wide", R"(create table bench_wide as select
        g::int4 as i4, (g::int8 * 1000003) as i8, md5(g::text) as t, ('name ' || g)::varchar(40) as vc,
        (g / 7.0)::numeric(12,3) as num, timestamptz '2020-01-01 00:00:00+00' + g * interval '1 second' as ts,
        g % 2 = 0 as b, g / 3.0::float8 as f8, decode(md5(g::text), 'hex') as by,
        jsonb_build_object('id', g, 'name', 'n' || g) as js
        from generate_series(1, 1000000) g)"},
    {"narrow", R"(create table bench_narrow as select
        g::int8 as id, (g * 7 % 100000)::int4 as n, substr(md5(g::text), 1, 8) as t
        from generate_series(1, 5000000) g)"},
};

QString selectAll(const QString &table) { return "select * from bench_" + table; }

void ensureTable(const Server &server, const QString &table) {
    PGconnPtr conn(PQconnectdb(server.conninfo().toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    PGresultPtr exists(PQexec(conn.get(), ("select to_regclass('bench_" + table + "') is not null").toUtf8()));
    if (std::strcmp(PQgetvalue(exists.get(), 0, 0), "t") == 0)
        return;
    std::fprintf(stderr, "creating bench_%s...\n", qPrintable(table));
    PGresultPtr created(PQexec(conn.get(), kTables.at(table).toUtf8().constData()));
    if (PQresultStatus(created.get()) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    PGresultPtr analyzed(PQexec(conn.get(), ("vacuum analyze bench_" + table).toUtf8()));
}

// ---- children: each prints "key=value" lines for the parent ----

int childBare(const Server &server, const QString &table) {
    PGconnPtr conn(PQconnectdb(server.conninfo().toUtf8().constData()));
    QElapsedTimer timer;
    timer.start();
    PQsendQuery(conn.get(), selectAll(table).toUtf8().constData());
    PQsetSingleRowMode(conn.get());
    long long textBytes = 0, rows = 0;
    volatile char sink = 0;
    while (PGresultPtr r{PQgetResult(conn.get())}) {
        const int fields = PQnfields(r.get());
        for (int t = 0; t < PQntuples(r.get()); ++t, ++rows)
            for (int f = 0; f < fields; ++f) {
                sink = sink + *PQgetvalue(r.get(), t, f); // read each value once
                textBytes += PQgetlength(r.get(), t, f);
            }
    }
    std::printf("fetch_ms=%lld\nrows=%lld\ntext_bytes=%lld\n", timer.elapsed(), rows, textBytes);
    return 0;
}

struct LoopProbe {
    std::vector<double> lateness; // ms past the 1 ms the timer asked for
    QElapsedTimer clock;
    qint64 lastNs = 0;
};

// probeLoop: run the 1 ms timer that measures the main thread's lateness. Its
// thousand wake-ups a second cost processor time of their own, so processor
// time is also measured in a run without it.
int childQuery(int argc, char **argv, const Server &server, const QString &table, bool probeLoop) {
    QCoreApplication app(argc, argv);
    auto connection = ZNTConnection::create(server.params());
    LoopProbe probe;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    probe.clock.start();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = probe.clock.nsecsElapsed();
        if (probe.lastNs)
            probe.lateness.push_back(std::max(0.0, (now - probe.lastNs) / 1e6 - 1.0));
        probe.lastNs = now;
    });

    auto query = ZNTQuery::create(selectAll(table));
    long long delivered = 0, batches = 0;
    double worstHandlerMs = 0, handlerMs = 0;
    auto rowsToken = NotificationCenter::defaultCenter().observe(
        ZNTQuery::NewRowNotification, query.get(), [&](const Notification &n) {
            QElapsedTimer spent;
            spent.start();
            // What a grid model does with a batch: learn its size, show the first row.
            const RowRange rows = *n.value<RowRange>(ZNTQuery::RowsKey);
            if (!rows.isEmpty())
                (void)rows.displayText(0, 0);
            delivered += rows.size();
            ++batches;
            const double ms = spent.nsecsElapsed() / 1e6;
            handlerMs += ms;
            worstHandlerMs = std::max(worstHandlerMs, ms);
        });
    auto doneToken = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                 [&](const Notification &) { app.quit(); });
    if (probeLoop)
        tick.start();
    query->executeInBackgroundOnConnection(connection, true);
    app.exec();
    tick.stop();

    std::sort(probe.lateness.begin(), probe.lateness.end());
    auto at = [&](double q) { return probe.lateness.empty() ? 0.0 : probe.lateness[size_t(q * (probe.lateness.size() - 1))]; };
    const auto rows = query->results().isEmpty() ? nullptr : query->results()[0]->rows();
    std::printf("fetch_ms=%lld\nrows=%lld\nbatches=%lld\nstored_bytes=%lld\nreserved_bytes=%lld\n",
                qint64(query->elapsedTime() * 1000), delivered, batches, rows ? (long long)rows->storedBytes() : 0,
                rows ? (long long)rows->reservedBytes() : 0);
    std::printf("lateness_p50_ms=%.3f\nlateness_p99_ms=%.3f\nlateness_max_ms=%.3f\n", at(0.5), at(0.99), at(1.0));
    std::printf("handler_avg_ms=%.3f\nhandler_max_ms=%.3f\n", batches ? handlerMs / batches : 0, worstHandlerMs);
    if (query->error())
        std::printf("error=%s\n", qPrintable(query->error()->localizedDescription()));
    return 0;
}

// ---- parent ----

struct Run {
    double wallMs = 0, cpuMs = 0, maxRssMb = 0;
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
    run.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
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
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "child %s failed (status %d)\n", args[0].c_str(), status);
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double number(const Run &run, const char *key) {
    auto it = run.values.find(key);
    return it == run.values.end() ? 0 : std::atof(it->second.c_str());
}

struct Summary {
    QString variant;
    double fetchMs, wallMs, cpuMs, rssMb;
    Run last;
};

struct Variant {
    QString name;
    std::vector<std::string> args;
    bool discardOutput;
};

// Runs are interleaved (each variant once per round) so that a busy moment of
// the machine or the server hits every variant alike.
std::vector<Summary> measure(const std::vector<Variant> &variants, int runs) {
    const size_t n = variants.size();
    std::vector<std::vector<double>> fetch(n), wall(n), cpu(n), rss(n);
    std::vector<Run> last(n);
    for (int i = 0; i < runs; ++i) {
        for (size_t v = 0; v < n; ++v) {
            last[v] = runChild(variants[v].args, variants[v].discardOutput);
            fetch[v].push_back(last[v].values.count("fetch_ms") ? number(last[v], "fetch_ms") : last[v].wallMs);
            wall[v].push_back(last[v].wallMs);
            cpu[v].push_back(last[v].cpuMs);
            rss[v].push_back(last[v].maxRssMb);
        }
    }
    std::vector<Summary> all;
    for (size_t v = 0; v < n; ++v)
        all.push_back(Summary{variants[v].name, median(fetch[v]), median(wall[v]), median(cpu[v]),
                              *std::max_element(rss[v].begin(), rss[v].end()), last[v]});
    return all;
}

void report(const QString &table, const std::vector<Summary> &all) {
    const Summary &bare = all[2];
    const double textMb = number(bare.last, "text_bytes") / 1e6;
    std::printf("\n== bench_%s: %s rows, values' text %.1f MB ==\n", qPrintable(table),
                bare.last.values.count("rows") ? bare.last.values.at("rows").c_str() : "?", textMb);
    std::printf("%-8s %12s %10s %10s %10s %9s %9s\n", "variant", "to last row", "wall", "cpu", "peak RSS", "time/bare",
                "cpu/bare");
    for (const Summary &s : all)
        std::printf("%-8s %10.0fms %8.0fms %8.0fms %8.1fMB %9.2f %9.2f\n", qPrintable(s.variant), s.fetchMs, s.wallMs,
                    s.cpuMs, s.rssMb, s.fetchMs / bare.fetchMs, s.cpuMs / bare.cpuMs);
    const Run &q = all[0].last;
    std::printf("query: stored %.1f MB (%.2f x text), reserved %.1f MB; RSS budget 1.3 x text + 15 MB = %.1f MB\n",
                number(q, "stored_bytes") / 1e6, number(q, "stored_bytes") / 1e6 / textMb,
                number(q, "reserved_bytes") / 1e6, 1.3 * textMb + 15);
    std::printf("query: %s batches, handler avg %.3f ms max %.3f ms; 1 ms timer lateness p50 %.3f p99 %.3f max %.3f ms\n",
                q.values.count("batches") ? q.values.at("batches").c_str() : "?", number(q, "handler_avg_ms"),
                number(q, "handler_max_ms"), number(q, "lateness_p50_ms"), number(q, "lateness_p99_ms"),
                number(q, "lateness_max_ms"));
    if (q.values.count("error"))
        std::printf("query error: %s\n", q.values.at("error").c_str());
}
} // namespace

int main(int argc, char **argv) {
    QString url;
    int runs = 5;
    QStringList tables = {"wide", "narrow"};
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--child" && i + 3 < argc) {
            const Server server = serverFrom(QString::fromLocal8Bit(argv[i + 3]) == "-" ? QString() : argv[i + 3]);
            const QString variant = argv[i + 1], table = argv[i + 2];
            if (variant.startsWith("query"))
                return childQuery(argc, argv, server, table, variant == "query");
            return childBare(server, table);
        }
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--tables" && i + 1 < argc)
            tables = QString(argv[++i]).split(',');
        else
            url = arg;
    }
    const Server server = serverFrom(url);
    const std::string self = argv[0], urlArg = url.isEmpty() ? "-" : url.toStdString();
    const std::string conninfo = server.conninfo().toStdString();
    for (const QString &table : tables) {
        ensureTable(server, table);
        const std::string sql = selectAll(table).toStdString();
        const std::vector<Summary> all = measure(
            {
                {"query", {self, "--child", "query", table.toStdString(), urlArg}, false},
                {"query-np", {self, "--child", "query-noprobe", table.toStdString(), urlArg}, false},
                {"bare", {self, "--child", "bare", table.toStdString(), urlArg}, false},
                {"psql", {"psql", conninfo, "-X", "-A", "-c", sql}, true},
                {"\\copy", {"psql", conninfo, "-X", "-c", "\\copy (" + sql + ") to '/dev/null' csv"}, true},
            },
            runs);
        report(table, all);
    }
    return 0;
}
