// COPY benchmark: the terminal page moving bench_wide (1,000,000 rows, ten
// columns, the table of bench_fetch) out to a file with COPY TO STDOUT and
// back in with COPY FROM STDIN, through its copy delegate and file dialog
// (offscreen), next to psql's \copy both ways in the same run.
//
//     build/bench/bench_copy [postgresql://user@host:port/db] [--runs N] [--dir DIR]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER (database "postgres"). Each run of each variant is a
// child process. The terminal's time runs from the answer of the dialog to the
// statement's end; psql's is its process time (connection included, a few
// milliseconds). The terminal's memory is the growth of its resident size
// over the transfer (the peak measured from the moment the dialog is
// answered); psql's its peak.
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTerminal.h"
#include "query/ZNTTerminalCells.h"
#include "query/ZNTTerminalViewController.h"
#include "uikit/ZNTTextView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
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

void execute(PGconn *conn, const char *sql) {
    PGresultPtr result(PQexec(conn, sql));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK && PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "%s: %s", sql, PQerrorMessage(conn));
        std::exit(2);
    }
}

// bench_wide when missing, and an empty unlogged twin that the copies in fill.
void prepareTables(const Server &server) {
    PGconnPtr conn = connect(server);
    PGresultPtr exists(PQexec(conn.get(), "select to_regclass('bench_wide') is not null"));
    if (std::strcmp(PQgetvalue(exists.get(), 0, 0), "t") != 0) {
        std::fprintf(stderr, "creating bench_wide...\n");
        execute(conn.get(), kTable);
        execute(conn.get(), "vacuum analyze bench_wide");
    }
    execute(conn.get(), "drop table if exists bench_wide_in");
    execute(conn.get(), "create unlogged table bench_wide_in (like bench_wide)");
}

void truncateTarget(const Server &server) {
    PGconnPtr conn = connect(server);
    execute(conn.get(), "truncate bench_wide_in");
}

void dropTarget(const Server &server) {
    PGconnPtr conn = connect(server);
    execute(conn.get(), "drop table if exists bench_wide_in");
}

long statusKb(const char *field) {
    long value = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t length = std::strlen(field);
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, field, length) == 0)
                value = std::atol(line + length);
        }
        std::fclose(f);
    }
    return value;
}

// Starts the peak resident size afresh (Linux: 5 into clear_refs).
void resetPeak() {
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// ---- the terminal's child: one COPY through the page, its dialog answered with path ----

int childTerminal(int argc, char **argv, const Server &server, bool out, const QString &path) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    auto serverObject = ZNTServer::create(server.params());
    auto database = serverObject->mainDatabase();
    auto terminal = std::make_shared<ZNTTerminal>(database);
    auto *page = ZNTTerminalViewController::viewControllerForItem(terminal);
    QWidget window;
    window.resize(900, 700);
    page->setParent(&window);
    page->view()->setParent(&window);
    window.show();

    long idleKb = 0;
    QElapsedTimer transfer;
    QTimer answer;
    answer.setInterval(1);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QFileDialog *panel = page->copyPanel();
        if (!panel || !panel->isVisible())
            return;
        answer.stop();
        auto *name = panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        name->setText(path);
        panel->setOption(QFileDialog::DontConfirmOverwrite);
        idleKb = statusKb("VmRSS:");
        resetPeak();
        transfer.start();
        QMetaObject::invokeMethod(panel, "accept");
    });
    QObject::connect(page, &ZNTTerminalViewController::queryFinished, &app, &QApplication::quit);
    // Connected first, as the page would find it.
    auto connection = database->connection();
    connection->connectInBackground();
    QTimer::singleShot(0, [&] {
        QElapsedTimer wait;
        wait.start();
        while (connection->state() != 3 && wait.elapsed() < 30000)
            app.processEvents(QEventLoop::AllEvents, 10);
        auto *editor = page->queryView()->textView();
        editor->setPlainText(out ? "COPY bench_wide TO STDOUT" : "COPY bench_wide_in FROM STDIN");
        answer.start();
        page->executeQuery(page->queryView());
    });
    app.exec();
    const double ms = transfer.nsecsElapsed() / 1e6;
    const long peakKb = statusKb("VmHWM:");
    const auto query = page->queries().front();
    std::printf("copy_ms=%.1f\nidle_kb=%ld\npeak_kb=%ld\nstate=%s\n", ms, idleKb, peakKb,
                qPrintable(query->queryState));
    delete page;
    return 0;
}

// ---- parent ----

struct Run {
    double wallMs = 0, maxRssMb = 0;
    std::map<std::string, std::string> values;
};

Run runChild(const std::vector<std::string> &args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        std::exit(3);
    QElapsedTimer wall;
    wall.start();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
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

bool sameFile(const QString &a, const QString &b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    }
    return true;
}

struct Measured {
    std::vector<double> oursMs, psqlMs, oursGrowthMb, psqlRssMb;
    std::string state;
};

void report(const char *direction, const Measured &m) {
    const double ours = median(m.oursMs), theirs = median(m.psqlMs);
    std::printf("%-4s terminal %8.0f ms   psql \\copy %8.0f ms   ratio %.2f (target <= 1.10)\n", direction, ours,
                theirs, ours / theirs);
    std::printf("     terminal's resident growth %.1f MB at most (target <= 20 MB); psql's peak %.1f MB\n",
                *std::max_element(m.oursGrowthMb.begin(), m.oursGrowthMb.end()),
                *std::max_element(m.psqlRssMb.begin(), m.psqlRssMb.end()));
    std::printf("     terminal: %s\n", m.state.c_str());
}
} // namespace

int main(int argc, char **argv) {
    QString url, dir;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--child" && i + 3 < argc)
            return childTerminal(argc, argv, serverFrom(argv[i + 2]), QString(argv[i + 1]) == "out",
                                 QString::fromLocal8Bit(argv[i + 3]));
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--dir" && i + 1 < argc)
            dir = QString::fromLocal8Bit(argv[++i]);
        else
            url = arg;
    }
    const Server server = serverFrom(url);
    prepareTables(server);
    QTemporaryDir scratch(dir.isEmpty() ? QDir::tempPath() + "/bench_copy-XXXXXX" : dir + "/bench_copy-XXXXXX");
    const std::string self = argv[0], urlArg = url.isEmpty() ? "-" : url.toStdString();
    const std::string conninfo = server.conninfo().toStdString();
    const QString ours = scratch.filePath("terminal.copy"), theirs = scratch.filePath("psql.copy");
    auto psql = [&](const std::string &command) { return runChild({"psql", conninfo, "-X", "-q", "-c", command}); };
    Measured out, in;
    bool identical = true;
    // Interleaved rounds: a busy moment of the machine or the server hits both alike.
    for (int round = 0; round < runs; ++round) {
        Run run = runChild({self, "--child", "out", urlArg, ours.toStdString()});
        out.oursMs.push_back(number(run, "copy_ms"));
        out.oursGrowthMb.push_back((number(run, "peak_kb") - number(run, "idle_kb")) / 1024);
        out.state = run.values["state"];
        run = psql("\\copy bench_wide to '" + theirs.toStdString() + "'");
        out.psqlMs.push_back(run.wallMs);
        out.psqlRssMb.push_back(run.maxRssMb);
        identical = identical && sameFile(ours, theirs);

        truncateTarget(server);
        run = runChild({self, "--child", "in", urlArg, ours.toStdString()});
        in.oursMs.push_back(number(run, "copy_ms"));
        in.oursGrowthMb.push_back((number(run, "peak_kb") - number(run, "idle_kb")) / 1024);
        in.state = run.values["state"];
        truncateTarget(server);
        run = psql("\\copy bench_wide_in from '" + theirs.toStdString() + "'");
        in.psqlMs.push_back(run.wallMs);
        in.psqlRssMb.push_back(run.maxRssMb);
    }
    std::printf("\n== bench_copy: bench_wide, %lld bytes of COPY text, %d runs, medians ==\n",
                (long long)QFile(theirs).size(), runs);
    report("out", out);
    report("in", in);
    std::printf("the terminal's file %s psql's byte for byte\n", identical ? "equals" : "DIFFERS FROM");
    dropTarget(server);
    return identical ? 0 : 1;
}
