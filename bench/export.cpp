// Export benchmark: a 1,000,000-row, 10-column table exported as CSV by
// CSVExportManager, next to psql's \copy of the same SELECT to a file in the
// same run; and a fetched result of the same rows written by the export.
//
//   bench_export [postgresql://user@host:port/db] [--runs N]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER (database "postgres"). The table bench_export (int4,
// int8, text, varchar, numeric, timestamptz, bool, float8, bytea, jsonb) is made
// on first use and kept. Each run of each variant is its own process, rounds
// interleaved. The export's child connects first, then measures from the start
// of the export to its end; psql is measured from process start to exit. Peak
// memory is the growth of the peak RSS over the RSS just before the export
// starts (the fetched result is already held then); lateness is that of a 1 ms
// timer on the main thread throughout.
#include "browser/CSVExportManager.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "platform/NotificationCenter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {
struct Server {
    QString host, port, user, database;
    QString conninfo() const {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4").arg(host, port, user, database);
    }
    QVariantMap params() const { return {{"host", host}, {"port", port}, {"user", user}, {"dbname", database}}; }
};

Server serverFrom(const QString &url) {
    if (url.isEmpty() || url == "-")
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"),
                      qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres"), "postgres"};
    const QUrl u(url);
    return Server{u.host(), QString::number(u.port(5432)), u.userName(),
                  u.path().mid(1).isEmpty() ? QStringLiteral("postgres") : u.path().mid(1)};
}

const char *const kSelect = "SELECT * FROM public.bench_export";

void ensureTable(const Server &server) {
    PGconnPtr conn(PQconnectdb(server.conninfo().toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    PGresultPtr exists(PQexec(conn.get(), "select to_regclass('public.bench_export') is not null"));
    if (std::strcmp(PQgetvalue(exists.get(), 0, 0), "t") == 0)
        return;
    std::fprintf(stderr, "creating bench_export...\n");
    PGresultPtr created(PQexec(conn.get(), R"(create table public.bench_export as select
        g::int4 as i4, (g::int8 * 1000003) as i8, md5(g::text) as t, ('name ' || g)::varchar(40) as vc,
        (g / 7.0)::numeric(12,3) as num, timestamptz '2020-01-01 00:00:00+00' + g * interval '1 second' as ts,
        g % 2 = 0 as b, g / 3.0::float8 as f8, decode(md5(g::text), 'hex') as by,
        jsonb_build_object('id', g, 'name', 'n' || g) as js
        from generate_series(1, 1000000) g)"));
    if (PQresultStatus(created.get()) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    PGresultPtr analyzed(PQexec(conn.get(), "vacuum analyze public.bench_export"));
}

// kB of a field of /proc/self/status ("VmRSS", "VmHWM").
double statusKb(const char *field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field)) + 1).trimmed().split(' ').value(0).toDouble();
    return 0;
}

// Sets the peak RSS back to the current RSS.
void resetPeakRss() {
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// variant "table": the relation; "result": a fetched result of the same rows.
int child(int argc, char **argv, const Server &server, const QString &variant, const QString &target) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget window;
    auto serverObject = ZNTServer::create(server.params());
    auto table = ZNTTable::create("bench_export", "public", serverObject->mainDatabase());
    auto connection = table->database()->connection();
    std::shared_ptr<ZNTResult> fetched;
    {
        auto query = ZNTQuery::create(variant == "result" ? kSelect : "SELECT 1");
        bool done = false;
        auto token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                 [&](const Notification &) { done = true; });
        query->executeInBackgroundOnConnection(connection, true);
        while (!done)
            app.processEvents(QEventLoop::WaitForMoreEvents);
        if (query->error() || query->results().isEmpty()) {
            std::fprintf(stderr, "query failed\n");
            return 2;
        }
        fetched = query->results().first();
    }
    std::vector<double> lateness;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last)
            lateness.push_back(std::max(0.0, (now - last) / 1e6 - 1.0));
        last = now;
    });
    const double baselineKb = statusKb("VmRSS:");
    resetPeakRss();
    clock.start();
    tick.start();
    auto exporter = variant == "result" ? CSVExportManager::withResult(fetched) : CSVExportManager::withTables({table});
    exporter->exportToLocation(&window, target);
    while (CSVExportManager::runningCount() > 0)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    const double ms = clock.nsecsElapsed() / 1e6;
    tick.stop();
    std::sort(lateness.begin(), lateness.end());
    std::printf("peak_unwritten_batches=%d\n", exporter->peakUnwrittenBatches());
    std::printf("export_ms=%.1f\nrows=%lld\npeak_growth_mb=%.1f\nlateness_max_ms=%.2f\nlateness_p99_ms=%.2f\n", ms,
                (long long)exporter->progress().rowsWritten, (statusKb("VmHWM:") - baselineKb) / 1024.0,
                lateness.empty() ? 0 : lateness.back(),
                lateness.empty() ? 0 : lateness[size_t(0.99 * double(lateness.size() - 1))]);
    return 0;
}

struct Run {
    bool ok = false;
    double wallMs = 0;
    std::map<QString, double> values;
};

Run runProcess(const QString &program, const QStringList &args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer wall;
    wall.start();
    process.start(program, args);
    process.waitForFinished(-1);
    Run run;
    run.wallMs = wall.nsecsElapsed() / 1e6;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            run.values[QString::fromUtf8(line.left(eq))] = line.mid(eq + 1).toDouble();
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!run.ok)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double worst(const std::vector<double> &v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}
} // namespace

int main(int argc, char **argv) {
    QString url;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--child" && i + 3 < argc)
            return child(argc, argv, serverFrom(argv[i + 1]), argv[i + 2], argv[i + 3]);
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            url = arg;
    }
    QCoreApplication app(argc, argv);
    const Server server = serverFrom(url);
    ensureTable(server);
    QTemporaryDir dir(QDir::tempPath() + "/bench_export-XXXXXX");
    const QString self = QCoreApplication::applicationFilePath(), urlArg = url.isEmpty() ? "-" : url;
    std::map<QString, std::vector<double>> ms, growth, late, batches;
    for (int r = 0; r < runs; ++r) {
        for (const QString variant : {"table", "result"}) {
            const QString target = dir.filePath(variant + ".csv");
            const Run run = runProcess(self, {"--child", urlArg, variant, target});
            QFile::remove(target);
            // A run that did not write every row (a full disk) is left out.
            if (!run.ok || !run.values.count("rows") || run.values.at("rows") != 1000000) {
                std::fprintf(stderr, "%s: run left out, %.0f rows written\n", qPrintable(variant),
                             run.values.count("rows") ? run.values.at("rows") : 0.0);
                continue;
            }
            ms[variant].push_back(run.values.at("export_ms"));
            growth[variant].push_back(run.values.at("peak_growth_mb"));
            late[variant].push_back(run.values.at("lateness_max_ms"));
            batches[variant].push_back(run.values.at("peak_unwritten_batches"));
        }
        const QString psqlTarget = dir.filePath("psql.csv");
        const Run psql = runProcess("psql", {server.conninfo(), "-X", "-q", "-c",
                                             QStringLiteral("\\copy (%1) to '%2' csv").arg(kSelect, psqlTarget)});
        QFile::remove(psqlTarget);
        if (psql.ok)
            ms["psql"].push_back(psql.wallMs);
    }
    const double psqlMs = median(ms["psql"]);
    std::printf("bench_export: 1,000,000 rows x 10 columns, medians of the complete runs (psql %zu, table %zu, "
                "result %zu)\n",
                ms["psql"].size(), ms["table"].size(), ms["result"].size());
    std::printf("  psql \\copy        %8.0f ms\n", psqlMs);
    for (const QString variant : {"table", "result"})
        std::printf("  export %-8s   %8.0f ms  %.2f x psql  peak +%.1f MB (worst)  lateness max %.1f ms (worst)  "
                    "unwritten batches %.0f (worst)\n",
                    qPrintable(variant), median(ms[variant]), median(ms[variant]) / psqlMs, worst(growth[variant]),
                    worst(late[variant]), worst(batches[variant]));
    std::printf("targets: table <= 0.8 x psql, peak <= +50 MB, lateness <= 20 ms\n");
    return 0;
}
