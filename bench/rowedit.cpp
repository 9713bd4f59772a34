// Row editor benchmark, two parts, each beside a plain peer in the same run.
//
//   bench_rowedit [postgresql://user@host:port/db] [--runs N] [--typing-only | --selecting-only]
//
// Typing: a character typed into the middle of a 10 KB, 100 KB and 1 MB value
// (lines of about 80 characters) in a text view laid out by the kit's corner
// container, and in a stock QTextEdit of the same size, each followed by a
// full repaint; median per character.
//
// Selecting: the rows of a 200-column table are selected one after another on
// a table page with its detail sidebar; the time runs from the selection to
// the sidebar painted. The peer is a scroll area of 200 QLabel + QLineEdit
// pairs of the same size whose texts are set to the same row's values, then
// painted. Without a URL the server comes from TRELLAN_PG_HOST,
// TRELLAN_PG_PORT and TRELLAN_PG_ADMIN_USER (database postgres); the table
// bench_rowedit is made on first use and kept.
//
// Both run on the offscreen platform at DejaVu Sans 9 pt in the Fusion
// style; the variants take turns, so that a busy moment hits both alike.
#include "browser/BrowserPages.h"
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "uikit/ZNTTextContainerWithCorner.h"
#include "uikit/ZNTTextView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QStyleFactory>
#include <QTextBlock>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kColumns = 200;
constexpr int kRows = 40;
const QString kTable = QStringLiteral("bench_rowedit");

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double timed(const std::function<void()> &run) {
    QElapsedTimer timer;
    timer.start();
    run();
    return timer.nsecsElapsed() / 1e6;
}

// --- typing -----------------------------------------------------------------------

QString valueOfSize(qsizetype bytes) {
    QString text;
    text.reserve(bytes + 100);
    for (int line = 0; text.size() < bytes; ++line)
        text += QStringLiteral("line %1 of a long value, with words enough to fill about eighty chars.\n")
                    .arg(line, 6, 10, QLatin1Char('0'));
    return text;
}

void prepare(QTextEdit *view, const QString &text) {
    view->resize(400, 300);
    view->setPlainText(text);
    view->show();
    QTextCursor cursor(view->document()->findBlockByNumber(view->document()->blockCount() / 2));
    view->setTextCursor(cursor);
    view->ensureCursorVisible();
    QApplication::processEvents();
}

double typeOne(QTextEdit *view) {
    return timed([view] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(view, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(view, &release);
        QApplication::processEvents();
        view->viewport()->repaint();
    });
}

void benchTyping(int runs) {
    std::printf("typing one character into the middle of a value, median ms (%d characters)\n", runs);
    std::printf("  %-8s %12s %12s %8s\n", "value", "corner", "QTextEdit", "ratio");
    for (qsizetype size : {qsizetype(10'000), qsizetype(100'000), qsizetype(1'000'000)}) {
        const QString text = valueOfSize(size);
        ZNTTextView corner;
        corner.document()->setDocumentMargin(0);
        corner.document()->setDocumentLayout(new ZNTTextContainerWithCorner(corner.document()));
        QTextEdit stock;
        stock.document()->setDocumentMargin(0);
        prepare(&corner, text);
        prepare(&stock, text);
        std::vector<double> ours, theirs;
        for (int i = 0; i < runs; ++i) {
            ours.push_back(typeOne(&corner));
            theirs.push_back(typeOne(&stock));
        }
        std::printf("  %-8s %12.3f %12.3f %8.2f\n",
                    size >= 1'000'000 ? "1 MB"
                    : size >= 100'000 ? "100 KB"
                                      : "10 KB",
                    median(ours), median(theirs), median(ours) / median(theirs));
    }
}

// --- selecting --------------------------------------------------------------------

struct Server {
    QString host, port, user, database;
};

Server serverFrom(const QString &url) {
    if (url.isEmpty())
        return Server{qEnvironmentVariable("TRELLAN_PG_HOST", "127.0.0.1"),
                      qEnvironmentVariable("TRELLAN_PG_PORT", "5432"),
                      qEnvironmentVariable("TRELLAN_PG_ADMIN_USER", "postgres"), QStringLiteral("postgres")};
    const QUrl u(url);
    const QString database = u.path().mid(1);
    return Server{u.host(), QString::number(u.port(5432)), u.userName(),
                  database.isEmpty() ? QStringLiteral("postgres") : database};
}

// Columns of the kinds a wide table has: text, integers, numbers, booleans, dates.
QString columnType(int c) {
    switch (c % 5) {
    case 0:
        return QStringLiteral("int");
    case 1:
    case 2:
        return QStringLiteral("text");
    case 3:
        return QStringLiteral("numeric");
    default:
        return c % 10 == 4 ? QStringLiteral("boolean") : QStringLiteral("date");
    }
}

void ensureTable(const Server &server) {
    const QString info =
        QStringLiteral("host=%1 port=%2 user=%3 dbname=%4").arg(server.host, server.port, server.user, server.database);
    PGconnPtr conn(PQconnectdb(info.toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
    PGresultPtr exists(PQexec(conn.get(), "SELECT 1 FROM pg_tables WHERE tablename = 'bench_rowedit'"));
    if (PQntuples(exists.get()) == 1)
        return;
    QStringList columns{"id int PRIMARY KEY"}, values{"g"};
    for (int c = 1; c < kColumns; ++c) {
        columns << QStringLiteral("c%1 %2").arg(c, 3, 10, QLatin1Char('0')).arg(columnType(c));
        const QString type = columnType(c);
        values << (type == "int"       ? QStringLiteral("g * %1").arg(c)
                   : type == "text"    ? QStringLiteral("'value ' || g || ' of column %1'").arg(c)
                   : type == "numeric" ? QStringLiteral("g * 1.25 + %1").arg(c)
                   : type == "boolean" ? QStringLiteral("g % 2 = 0")
                                       : QStringLiteral("date '2024-01-01' + g + %1").arg(c));
    }
    const QString sql = QStringLiteral("CREATE TABLE %1 (%2); INSERT INTO %1 SELECT %3 FROM generate_series(1, %4) g")
                            .arg(kTable, columns.join(", "), values.join(", "))
                            .arg(kRows);
    PGresultPtr made(PQexec(conn.get(), sql.toUtf8().constData()));
    if (PQresultStatus(made.get()) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(conn.get()));
        std::exit(2);
    }
}

// The plain peer: a label and a line edit per column in a scroll area.
struct Peer {
    Peer() {
        auto *content = new QWidget;
        auto *form = new QFormLayout(content);
        for (int c = 0; c < kColumns; ++c) {
            auto *edit = new QLineEdit;
            edits.push_back(edit);
            form->addRow(new QLabel(QStringLiteral("c%1").arg(c)), edit);
        }
        area.setWidget(content);
        area.setWidgetResizable(true);
        area.resize(320, 700);
        area.show();
    }
    QScrollArea area;
    std::vector<QLineEdit *> edits;
};

void benchSelecting(const Server &server, int runs) {
    ensureTable(server);
    auto zntServer = ZNTServer::create(
        {{"host", server.host}, {"port", server.port}, {"user", server.user}, {"dbname", server.database}});
    auto connection = zntServer->mainConnection();
    connection->connectInBackground();
    while (connection->state() != ZNTConnection::ZNTConnectionStateConnected || !connection->serverVersion())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    BrowserPages::install();
    auto table = ZNTTable::create(kTable, QStringLiteral("public"), zntServer->mainDatabase());
    auto *page = new ZNTTableViewController(table);
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    layout->addWidget(page->view(), 2);
    QWidget *sidebar = page->rightSidebarView();
    sidebar->setFixedSize(320, 700);
    layout->addWidget(sidebar);
    window.resize(1200, 720);
    window.show();
    while (page->contentModel()->rowCount() < kRows || page->isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    Peer peer;

    std::vector<double> ours, theirs;
    for (int r = 0; r < runs + 1; ++r) {
        const int row = r % kRows;
        // Painted: the event loop has run the paints the changes asked for,
        // and what those let follow (the editor sets row heights a turn later).
        const double a = timed([&] {
            page->tableView()->selectRow(row);
            QApplication::processEvents();
            QApplication::processEvents();
        });
        const double b = timed([&] {
            for (int c = 0; c < kColumns; ++c)
                peer.edits[size_t(c)]->setText(page->contentModel()->valueAt(row, c).description());
            QApplication::processEvents();
            QApplication::processEvents();
        });
        if (r > 0) { // the first round makes the cells
            ours.push_back(a);
            theirs.push_back(b);
        }
    }
    std::printf("selecting a row of a %d-column table to the sidebar painted, median ms (%d rows)\n", kColumns, runs);
    std::printf("  row editor %8.3f   label + line edit peer %8.3f   ratio %.2f\n", median(ours), median(theirs),
                median(ours) / median(theirs));
    delete page;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    QString url;
    int runs = 41;
    bool typingOnly = false, selectingOnly = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == "--typing-only")
            typingOnly = true;
        else if (args[i] == "--selecting-only")
            selectingOnly = true;
        else
            url = args[i];
    }
    if (!selectingOnly)
        benchTyping(runs);
    if (!typingOnly)
        benchSelecting(serverFrom(url), runs);
    return 0;
}
