// Structure page benchmark: how long the structure page of a 1,000-column
// table takes to stand once its metadata has loaded, and how long one pass of
// the page's comparison (updateModel) takes after an edit.
//
//   bench_structure [postgresql://user@host:port] [--runs N]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER. The database bench_structure with the table wide is
// made on first use and kept; drop it to start over. Each run purges the
// cached metadata, makes a new page in a 1100x700 window on the offscreen
// platform and times, in the same run: the metadata load (start to its done
// notification) and the page from that notification until its 1,000 rows
// stand and the window has painted. Then it renames one column 21 times and
// times each pass of updateModel that records it (the first is left out).
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "model/ZNTTableSchema.h"
#include "platform/NotificationCenter.h"
#include "structure/ZNTTableSchemaColumnView.h"
#include "structure/ZNTTableSchemaController.h"
#include "structure/ZNTTableSchemaFields.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QUndoStack>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kColumns = 1000;
const QString kDatabase = QStringLiteral("bench_structure");

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

// Columns of three types, some NOT NULL, with defaults, comments, one-column
// UNIQUE and CHECK constraints, and a primary key on the first.
QString wideTableSQL() {
    QStringList parts;
    for (int c = 1; c <= kColumns; ++c) {
        const QString name = QStringLiteral("c%1").arg(c, 4, 10, QLatin1Char('0'));
        QString column = name + (c % 3 == 0 ? " text" : c % 3 == 1 ? " integer" : " numeric(10,2)");
        if (c == 1)
            column += " PRIMARY KEY";
        else if (c % 7 == 0)
            column += " NOT NULL";
        if (c % 5 == 0)
            column += c % 3 == 0 ? " DEFAULT 'none'" : " DEFAULT 0";
        if (c % 50 == 0)
            column += " UNIQUE";
        if (c % 100 == 1 && c > 1)
            column += QStringLiteral(" CHECK (%1::text <> '')").arg(name);
        parts << column;
    }
    QString sql = QStringLiteral("CREATE TABLE wide (%1);").arg(parts.join(", "));
    for (int c = 10; c <= kColumns; c += 10)
        sql += QStringLiteral(" COMMENT ON COLUMN wide.c%1 IS 'column %2 of the wide table';")
                   .arg(c, 4, 10, QLatin1Char('0'))
                   .arg(c);
    return sql;
}

void ensureDatabase(const Server &server) {
    auto admin = connectTo(server, QStringLiteral("postgres"));
    if (scalar(admin.get(), QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(kDatabase)) == "1") {
        auto conn = connectTo(server, kDatabase);
        if (scalar(conn.get(), "SELECT count(*) FROM pg_attribute WHERE attrelid = 'wide'::regclass AND attnum > 0")
                .toInt() == kColumns)
            return;
        exec(admin.get(), QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(kDatabase));
    }
    exec(admin.get(), QStringLiteral("CREATE DATABASE %1").arg(kDatabase));
    exec(connectTo(server, kDatabase).get(), wideTableSQL());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void waitFor(const std::function<bool()> &done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

struct Run {
    double metadata = 0; // ms from the start to the metadata's done notification
    double page = 0;     // ms from that notification to the painted page
    std::vector<double> passes;
};

Run oneRun(const std::shared_ptr<ZNTServer> &server) {
    Run run;
    server->mainConnection()->purgeMetadata();
    auto table = ZNTTable::create(QStringLiteral("wide"), QStringLiteral("public"), server->mainDatabase());
    QElapsedTimer timer;
    timer.start();
    qint64 loaded = -1;
    // Told before the page, which observes after it.
    ObserverToken token =
        NotificationCenter::defaultCenter().observe(ZNTTableMetadata::DidLoadNotification, table->metadata().get(),
                                                    [&](const Notification &) { loaded = timer.nsecsElapsed(); });
    QWidget window;
    window.resize(1100, 700);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *page = ZNTTableSchemaController::viewControllerForItem(std::make_shared<ZNTTableSchema>(table));
    layout->addWidget(page->view());
    window.show();
    waitFor([&] { return loaded >= 0 && page->columnViews().size() == kColumns; });
    QCoreApplication::processEvents();
    window.repaint();
    run.metadata = loaded / 1e6;
    run.page = (timer.nsecsElapsed() - loaded) / 1e6;

    ZNTTableSchemaColumnView *row = page->columnViews()[kColumns / 2];
    for (int i = 0; i <= 20; ++i) {
        row->titleField()->setText(QStringLiteral("renamed_%1").arg(i));
        QElapsedTimer pass;
        pass.start();
        page->updateModel();
        if (i > 0)
            run.passes.push_back(pass.nsecsElapsed() / 1e6);
    }
    if (page->undoStack()->count() != 21)
        std::fprintf(stderr, "unexpected: %d steps recorded\n", page->undoStack()->count());
    delete page;
    return run;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString url;
    int runs = 7;
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
    waitFor([&] {
        return connection->state() == ZNTConnection::ZNTConnectionStateConnected && connection->serverVersion();
    });

    std::vector<double> metadata, page, passes;
    for (int r = 0; r < runs + 1; ++r) {
        const Run run = oneRun(zntServer);
        if (r == 0)
            continue; // warm-up
        metadata.push_back(run.metadata);
        page.push_back(run.page);
        passes.insert(passes.end(), run.passes.begin(), run.passes.end());
    }
    std::printf("structure page of a %d-column table, %d runs, median (max) in ms\n", kColumns, runs);
    std::printf("  metadata load              %8.1f (%.1f)\n", median(metadata),
                *std::max_element(metadata.begin(), metadata.end()));
    std::printf("  page shown beyond the load %8.1f (%.1f)   target <= 500\n", median(page),
                *std::max_element(page.begin(), page.end()));
    std::printf("  one updateModel pass       %8.2f (%.2f)   target <= 16, %zu passes\n", median(passes),
                *std::max_element(passes.begin(), passes.end()), passes.size());
    return 0;
}
