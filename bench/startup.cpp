// Start-up benchmark: how long from starting `trellan` to its first painted
// favorites window, next to `psql -c 'select 1'` against a local server in the
// same run.
//
//   bench_startup [postgresql://user@host:port/db] [--runs N] [--trellan PATH]
//
// Each run is a new process with its own runtime directory (so it never hands
// its start to a running instance) and the offscreen platform unless
// TRELLAN_BENCH_PLATFORM names another. The program prints "painted" after its
// first paint when TRELLAN_STARTUP_PROBE is set, and ends. Without a URL the
// server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and TRELLAN_PG_ADMIN_USER.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Milliseconds until the program's first paint; negative on failure.
double startTrellan(const QString &program, const QString &home) {
    const QString runtime = home + "/run-" + QString::number(QCoreApplication::applicationPid());
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", qEnvironmentVariable("TRELLAN_BENCH_PLATFORM", "offscreen"));
    env.insert("TRELLAN_STARTUP_PROBE", "1");
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, {});
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000)) {
            std::fprintf(stderr, "trellan did not paint: %s\n", process.readAllStandardError().constData());
            process.kill();
            process.waitForFinished();
            return -1;
        }
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    process.waitForFinished(10000);
    return process.readLine().trimmed() == "painted" ? ms : -1;
}

double runPsql(const QString &conninfo) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start("psql", {"-X", "-q", "-At", "-c", "select 1", conninfo});
    process.waitForFinished(30000);
    const double ms = timer.nsecsElapsed() / 1e6;
    return process.exitCode() == 0 && process.readAllStandardOutput().trimmed() == "1" ? ms : -1;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 15;
    QString program = QDir(app.applicationDirPath()).filePath("../trellan");
    QString conninfo;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == "--trellan" && i + 1 < args.size())
            program = args[++i];
        else
            conninfo = args[i];
    }
    if (conninfo.isEmpty())
        conninfo = QStringLiteral("postgresql://%1@%2:%3/postgres")
                       .arg(qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres"),
                            qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"),
                            qEnvironmentVariable("TRELLAN_PG_PORT", "5432"));

    QTemporaryDir home;
    // The first start makes the favorites store; the runs measure the starts after it.
    if (startTrellan(program, home.path()) < 0)
        return 1;
    std::vector<double> trellan, psql;
    for (int i = 0; i < runs; ++i) {
        const double t = startTrellan(program, home.path());
        const double p = runPsql(conninfo);
        if (t < 0 || p < 0) {
            std::fprintf(stderr, "run %d failed (trellan %.1f ms, psql %.1f ms)\n", i, t, p);
            return 1;
        }
        trellan.push_back(t);
        psql.push_back(p);
    }
    std::printf("runs: %d\n", runs);
    std::printf("trellan to painted favorites window: median %.1f ms (min %.1f, max %.1f)\n", median(trellan),
                *std::min_element(trellan.begin(), trellan.end()), *std::max_element(trellan.begin(), trellan.end()));
    std::printf("psql -c 'select 1':                  median %.1f ms (min %.1f, max %.1f)\n", median(psql),
                *std::min_element(psql.begin(), psql.end()), *std::max_element(psql.begin(), psql.end()));
    std::printf("ratio: %.2f\n", median(trellan) / median(psql));
    return 0;
}
