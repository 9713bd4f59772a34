// Query editor benchmark: the editor page, offscreen, running a large SELECT
// to its end and then sorting it by a text column, next to psql -A of the same
// text.
//
//   bench_editor [postgresql://user@host:port/db] [--runs N]
//
// The server comes from the URL or, without one, from TRELLAN_PG_HOST,
// TRELLAN_PG_PORT and TRELLAN_PG_ADMIN_USER (database "postgres"); it uses
// bench_fetch's table bench_wide (1,000,000 rows, ten mixed columns) and makes
// it when it is missing. Every run is a child process (the bench runs itself
// with --child), so that its peak memory is its own. Reported per variant:
// median time to the first row painted and to the last row, peak RSS; for the
// editor also the lateness of a 1 ms timer on the main thread while the rows
// stream, the sort: its time and what it added to the resident memory, and,
// on the sorted rows, Select All and each copy mode of all rows next to the CSV
// export of the same rows.
#include "browser/CSVExportManager.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTTableGridView.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTServer.h"
#include "query/QueryResultModel.h"
#include "query/QueryTextView.h"
#include "query/QueryViewController.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
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
    if (url.isEmpty() || url == "-")
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"),
                      qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres"), "postgres"};
    const QUrl u(url);
    return Server{u.host(), QString::number(u.port(5432)), u.userName(),
                  u.path().mid(1).isEmpty() ? QStringLiteral("postgres") : u.path().mid(1)};
}

const char *const kSql = "select * from bench_wide";
// The same table as bench_fetch's.
const char *const kTable = R"(create table bench_wide as select
    g::int4 as i4, (g::int8 * 1000003) as i8, md5(g::text) as t, ('name ' || g)::varchar(40) as vc,
    (g / 7.0)::numeric(12,3) as num, timestamptz '2020-01-01 00:00:00+00' + g * interval '1 second' as ts,
    g % 2 = 0 as b, g / 3.0::float8 as f8, decode(md5(g::text), 'hex') as by,
    jsonb_build_object('id', g, 'name', 'n' || g) as js
    from generate_series(1, 1000000) g)";

PGconnPtr connect(const Server &server) {
    PGconnPtr conn(PQconnectdb(server.conninfo().toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    return conn;
}

// Makes the table when it is missing; answers the size of its values' text.
double ensureTable(const Server &server) {
    PGconnPtr conn = connect(server);
    PGresultPtr exists(PQexec(conn.get(), "select to_regclass('bench_wide') is not null"));
    if (std::strcmp(PQgetvalue(exists.get(), 0, 0), "t") != 0) {
        std::fprintf(stderr, "creating bench_wide...\n");
        PGresultPtr created(PQexec(conn.get(), kTable));
        if (PQresultStatus(created.get()) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "%s", PQerrorMessage(conn.get()));
            std::exit(2);
        }
        PGresultPtr analyzed(PQexec(conn.get(), "vacuum analyze bench_wide"));
    }
    // What the client receives: every value's text, as PQgetlength counts it.
    PGresultPtr size(PQexec(conn.get(), "select sum(coalesce(octet_length(i4::text), 0) + "
                                        "coalesce(octet_length(i8::text), 0) + octet_length(t) + octet_length(vc) + "
                                        "octet_length(num::text) + octet_length(ts::text) + 1 + "
                                        "octet_length(f8::text) + 2 + 2 * octet_length(by) + "
                                        "octet_length(js::text)) from bench_wide"));
    return std::atof(PQgetvalue(size.get(), 0, 0));
}

// The peak resident memory so far (VmHWM), in MB.
double peakResidentMb() {
    double kb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %lf", &kb) == 1)
                break;
        std::fclose(f);
    }
    return kb / 1024.0;
}

long residentBytes() {
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

struct SortMeasure {
    double ms = 0;
    long extraBytes = 0;
};

// A click on the header of the text column t (index 2), waited for on the
// main thread; what it took and what it left in resident memory.
SortMeasure measureSort(QApplication &app, QueryViewController *page) {
    malloc_trim(0);
    const long before = residentBytes();
    QElapsedTimer clock;
    clock.start();
    page->tableViewDidClickTableColumn(2);
    while (page->isSorting())
        app.processEvents(QEventLoop::WaitForMoreEvents, 5);
    SortMeasure measure;
    measure.ms = clock.nsecsElapsed() / 1e6;
    malloc_trim(0);
    measure.extraBytes = residentBytes() - before;
    return measure;
}

struct CopyMeasure {
    double selectMs = 0;
    double copyMs[4] = {0, 0, 0, 0};
    qsizetype copyChars[4] = {0, 0, 0, 0};
    double exportMs = 0;
};

// Select All in the grid, then each copy mode of all rows to the clipboard
// (the rows as shown: sorted), then the CSV export of the same rows to a file,
// which writes them on its own queue while the main thread waits here.
CopyMeasure measureCopyAndExport(QApplication &app, QWidget &window, QueryViewController *page) {
    CopyMeasure measure;
    QElapsedTimer clock;
    clock.start();
    page->tableView()->selectAll();
    measure.selectMs = clock.nsecsElapsed() / 1e6;
    for (int mode = ZNTCopyModeText; mode <= ZNTCopyModeInsertStatements; ++mode) {
        QApplication::clipboard()->clear();
        clock.restart();
        page->copySpecial(mode);
        measure.copyMs[mode] = clock.nsecsElapsed() / 1e6;
        measure.copyChars[mode] = QApplication::clipboard()->text().size();
    }
    QApplication::clipboard()->clear();
    page->tableView()->clearSelection();

    QTemporaryDir folder;
    auto shown = std::make_shared<QueryViewResult>(*page->currentResult());
    shown->setRowOrder(page->resultModel()->rowOrder());
    clock.restart();
    auto exporter = CSVExportManager::withQueryViewResult(shown);
    exporter->exportToLocation(&window, folder.filePath(QStringLiteral("result.csv")));
    while (CSVExportManager::runningCount() > 0)
        app.processEvents(QEventLoop::WaitForMoreEvents, 5);
    measure.exportMs = clock.nsecsElapsed() / 1e6;
    return measure;
}

// ---- the editor child: prints "key=value" lines for the parent ----

// The editor page of the server's main database in window, as the main
// window places it, with the benchmark's text.
QueryViewController *showPage(QWidget &window, const std::shared_ptr<ZNTServer> &server) {
    window.resize(1280, 800);
    auto *page = QueryViewController::viewControllerForItem(server->mainDatabase()->queryObject());
    page->setParent(&window);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(page->view(), 1);
    layout->addWidget(page->accessoryView());
    window.show();
    page->textView()->setPlainText(QString::fromUtf8(kSql));
    return page;
}

int childEditor(int argc, char **argv, const Server &server) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    auto zntServer = ZNTServer::create(server.params());
    QWidget window;
    QueryViewController *page = showPage(window, zntServer);

    // The main thread's lateness: a 1 ms timer, how late it fires.
    std::vector<double> lateness;
    QElapsedTimer clock;
    qint64 lastNs = 0;
    bool streaming = false;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastNs && streaming)
            lateness.push_back(std::max(0.0, (now - lastNs) / 1e6 - 1.0));
        lastNs = now;
    });

    // The first paint of the grid with rows in it.
    double firstPaintMs = -1;
    struct PaintWatch : QObject {
        std::function<void()> painted;
        bool eventFilter(QObject *, QEvent *event) override {
            if (event->type() == QEvent::Paint)
                painted();
            return false;
        }
    } watch;
    watch.painted = [&] {
        if (firstPaintMs < 0 && page->resultModel()->rowCount() > 0)
            firstPaintMs = clock.nsecsElapsed() / 1e6;
    };
    page->tableView()->viewport()->installEventFilter(&watch);

    double lastRowMs = 0;
    QObject::connect(page, &QueryViewController::queryFinished, [&] {
        lastRowMs = clock.nsecsElapsed() / 1e6;
        streaming = false;
        app.quit();
    });
    // Connected before timing, as a user's editor is.
    zntServer->mainConnection()->connectInBackground();
    while (zntServer->mainConnection()->state() != 3)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    // And painted, as the user's page is before a run: the window's first
    // exposure is not part of the rows' streaming.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        app.processEvents(QEventLoop::AllEvents, 20);
    tick.start();
    clock.start();
    streaming = true;
    page->executeQuery();
    app.exec();
    tick.stop();

    const qsizetype rows = page->resultModel()->rowCount();
    const SortMeasure sort = measureSort(app, page);
    // The copies' texts are the user's to hold: the peak of the rows is taken before.
    const double peakMb = peakResidentMb();
    const CopyMeasure copied = measureCopyAndExport(app, window, page);
    std::sort(lateness.begin(), lateness.end());
    auto at = [&](double q) { return lateness.empty() ? 0.0 : lateness[size_t(q * double(lateness.size() - 1))]; };
    std::printf("first_row_ms=%.1f\nfetch_ms=%.1f\nrows=%lld\n", firstPaintMs, lastRowMs, (long long)rows);
    std::printf("lateness_p50_ms=%.3f\nlateness_p99_ms=%.3f\nlateness_max_ms=%.3f\n", at(0.5), at(0.99), at(1.0));
    std::printf("sort_ms=%.1f\nsort_extra_bytes=%ld\n", sort.ms, sort.extraBytes);
    std::printf("peak_rss_mb=%.1f\n", peakMb);
    std::printf("select_all_ms=%.1f\nexport_ms=%.1f\n", copied.selectMs, copied.exportMs);
    for (int mode = 0; mode < 4; ++mode)
        std::printf("copy%d_ms=%.1f\ncopy%d_chars=%lld\n", mode, copied.copyMs[mode], mode,
                    (long long)copied.copyChars[mode]);
    const auto store = page->currentResult() ? page->currentResult()->rows() : nullptr;
    std::printf("stored_bytes=%lld\n", store ? (long long)store->storedBytes() : 0LL);
    return 0;
}

// ---- parent ----

struct Run {
    double wallMs = 0, maxRssMb = 0;
    std::map<std::string, double> values;
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
            run.values[line.substr(0, eq)] = std::atof(line.substr(eq + 1).c_str());
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
} // namespace

int main(int argc, char **argv) {
    QString url;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--child" && i + 1 < argc)
            return childEditor(argc, argv, serverFrom(QString::fromLocal8Bit(argv[i + 1])));
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            url = arg;
    }
    const Server server = serverFrom(url);
    const double textBytes = ensureTable(server);
    const std::string self = argv[0], urlArg = url.isEmpty() ? "-" : url.toStdString();
    std::vector<double> editorMs, firstMs, psqlMs, editorRss, psqlRss, sortMs, sortExtra, p99, worst;
    std::vector<double> selectMs, exportMs, copyMs[4], copyRatio;
    Run last;
    // Interleaved rounds: a busy moment hits both alike.
    for (int r = 0; r < runs; ++r) {
        last = runChild({self, "--child", urlArg}, false);
        editorMs.push_back(last.values["fetch_ms"]);
        firstMs.push_back(last.values["first_row_ms"]);
        editorRss.push_back(last.values["peak_rss_mb"]);
        sortMs.push_back(last.values["sort_ms"]);
        sortExtra.push_back(last.values["sort_extra_bytes"]);
        p99.push_back(last.values["lateness_p99_ms"]);
        worst.push_back(last.values["lateness_max_ms"]);
        selectMs.push_back(last.values["select_all_ms"]);
        exportMs.push_back(last.values["export_ms"]);
        double slowest = 0;
        for (int mode = 0; mode < 4; ++mode) {
            const double ms = last.values["copy" + std::to_string(mode) + "_ms"];
            copyMs[mode].push_back(ms);
            slowest = std::max(slowest, ms);
        }
        copyRatio.push_back(slowest / std::max(last.values["export_ms"], 0.001));
        const Run psql = runChild({"psql", server.conninfo().toStdString(), "-X", "-A", "-c", kSql}, true);
        psqlMs.push_back(psql.wallMs);
        psqlRss.push_back(psql.maxRssMb);
    }
    const double rows = last.values["rows"];
    const double textMb = textBytes / 1e6;
    std::printf("\n== bench_editor: %s, %.0f rows, values' text %.1f MB, %d runs ==\n", kSql, rows, textMb, runs);
    std::printf("%-8s %14s %12s %10s\n", "variant", "first row", "last row", "peak RSS");
    std::printf("%-8s %12.0fms %10.0fms %8.1fMB\n", "editor", median(firstMs), median(editorMs),
                *std::max_element(editorRss.begin(), editorRss.end()));
    std::printf("%-8s %14s %10.0fms %8.1fMB\n", "psql -A", "-", median(psqlMs),
                *std::max_element(psqlRss.begin(), psqlRss.end()));
    std::printf("last row: %.2f x psql (target <= 1.0)\n", median(editorMs) / median(psqlMs));
    std::printf("peak RSS: %.2f x the text (target <= 2.0); row store %.1f MB\n",
                *std::max_element(editorRss.begin(), editorRss.end()) / textMb, last.values["stored_bytes"] / 1e6);
    std::printf("main thread while rows stream: 1 ms timer late p99 %.2f ms, worst %.2f ms (target <= 20)\n",
                median(p99), *std::max_element(worst.begin(), worst.end()));
    std::printf("sort by a text column: %.0f ms (target <= 2000), resident memory %+.1f bytes a row (target <= 8)\n",
                median(sortMs), median(sortExtra) / std::max(rows, 1.0));
    static const char *const modes[4] = {"text", "CSV", "CSV with header", "INSERT"};
    std::printf("copy of all rows, sorted, after Select All (%.0f ms):\n", median(selectMs));
    for (int mode = 0; mode < 4; ++mode)
        std::printf("  %-16s %8.0f ms %8.1f M characters\n", modes[mode], median(copyMs[mode]),
                    last.values["copy" + std::to_string(mode) + "_chars"] / 1e6);
    std::printf("  CSV export       %8.0f ms\n", median(exportMs));
    std::printf("slowest copy: %.2f x the export (target <= 1.0)\n", median(copyRatio));
    return 0;
}
