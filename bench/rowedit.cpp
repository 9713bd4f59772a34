// Row editor benchmark, two parts, each beside a plain peer in the same run.
//
//   bench_rowedit [postgresql://user@host:port/db] [--runs N] [--typing-only | --selecting-only | --long-only]
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
// Long values: the row editor showing a text of a million characters with and
// without blanks, and of four million without, and its field taking and
// losing the focus; the grid opening a cell of a million characters and a
// character typed into it, beside a plain line edit.
//
// All run on the offscreen platform at DejaVu Sans 9 pt in the Fusion
// style; the variants take turns, so that a busy moment hits both alike.
#include "browser/BrowserPages.h"
#include "browser/ZNTRowValueTextCell.h"
#include "browser/ZNTRowViewController.h"
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTRow.h"
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
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
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

// An "x" typed into widget: its press and its release.
void pressX(QWidget *widget) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(widget, &release);
}

double typeOne(QTextEdit *view) {
    return timed([view] {
        pressX(view);
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

// --- long values ------------------------------------------------------------------

// A text of n characters: one word without a blank, or words of 15 and a blank.
QString longValue(qsizetype n, bool words) {
    return QString(words ? QStringLiteral("0123456789abcde ") : QStringLiteral("0123456789abcdef"))
        .repeated(n / 16 + 1)
        .left(n);
}

// The row editor in a 320-point sidebar with one text entry holding the value:
// the time to show it (the row set, the event loop run, painted), and the time
// the field takes to get the focus and to lose it again.
void benchLongInRowEditor(int runs) {
    std::printf("row editor, one text value, median ms (%d rounds)\n", runs);
    std::printf("  %-22s %10s %10s %10s\n", "value", "shown", "focus in", "focus out");
    struct Case {
        const char *name;
        qsizetype size;
        bool words;
    };
    for (const Case &c : {Case{"1,000,000 with blanks", 1'000'000, true}, Case{"1,000,000 no blank", 1'000'000, false},
                          Case{"4,000,000 no blank", 4'000'000, false}}) {
        auto column = std::make_shared<ZNTColumn>(QStringLiteral("body"));
        column->setTypeOid(25);
        column->setTypeCategory('S');
        const auto row =
            ZNTRow::create(nullptr, {column}, {}, {}, true, {Value::fromString(longValue(c.size, c.words))});
        const auto empty = ZNTRow::create(nullptr, {column}, {}, {}, true, {Value::fromString(QStringLiteral("x"))});
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *editor = new ZNTRowViewController;
        layout->addWidget(editor->editorView());
        auto *other = new QLineEdit;
        layout->addWidget(other);
        window.resize(320, 700);
        window.show();
        std::vector<double> shown, in, out;
        quint64 laidOut[3] = {0, 0, 0};
        const auto blocksLaidOut = [&] {
            auto *cell = dynamic_cast<ZNTRowValueTextCell *>(editor->cellAtRow(0, false));
            auto *container =
                cell ? qobject_cast<ZNTTextContainerWithCorner *>(cell->textView()->document()->documentLayout())
                     : nullptr;
            return container ? container->blocksLaidOut() : 0;
        };
        for (int r = 0; r < runs; ++r) {
            editor->setRow(empty);
            QApplication::processEvents();
            quint64 before = blocksLaidOut();
            shown.push_back(timed([&] {
                editor->setRow(row);
                QApplication::processEvents();
                QApplication::processEvents();
                window.repaint();
            }));
            laidOut[0] += blocksLaidOut() - before;
            auto *cell = dynamic_cast<ZNTRowValueTextCell *>(editor->cellAtRow(0, true));
            other->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            before = blocksLaidOut();
            in.push_back(timed([&] {
                cell->textView()->setFocus(Qt::TabFocusReason);
                QApplication::processEvents();
                window.repaint();
            }));
            laidOut[1] += blocksLaidOut() - before;
            before = blocksLaidOut();
            out.push_back(timed([&] {
                other->setFocus(Qt::TabFocusReason);
                QApplication::processEvents();
                window.repaint();
            }));
            laidOut[2] += blocksLaidOut() - before;
            if (cell->textView()->toPlainText().size() != c.size)
                std::printf("  (%s: the field shows %lld characters)\n", c.name,
                            static_cast<long long>(cell->textView()->toPlainText().size()));
        }
        std::printf("  %-22s %10.1f %10.1f %10.1f   (blocks wrapped per round: %llu, %llu, %llu)\n", c.name,
                    median(shown), median(in), median(out), laidOut[0] / runs, laidOut[1] / runs, laidOut[2] / runs);
        delete editor;
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

// The server with its main connection connected.
std::shared_ptr<ZNTServer> connectedServer(const Server &server) {
    auto zntServer = ZNTServer::create(
        {{"host", server.host}, {"port", server.port}, {"user", server.user}, {"dbname", server.database}});
    auto connection = zntServer->mainConnection();
    connection->connectInBackground();
    while (connection->state() != ZNTConnection::ZNTConnectionStateConnected || !connection->serverVersion())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return zntServer;
}

void benchSelecting(const Server &server, int runs) {
    ensureTable(server);
    auto zntServer = connectedServer(server);
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

// The table page's grid: opening a cell of a 1,000,000-character text (the
// editor made, given the text and shown) and one character typed into it,
// beside a plain line edit given the same text and shown, and a character
// typed into that. The table bench_rowedit_long is made on first use and kept.
void benchLongInGrid(const Server &server, int runs) {
    const QString info =
        QStringLiteral("host=%1 port=%2 user=%3 dbname=%4").arg(server.host, server.port, server.user, server.database);
    PGconnPtr conn(PQconnectdb(info.toUtf8().constData()));
    PGresultPtr made(PQexec(conn.get(), "CREATE TABLE IF NOT EXISTS bench_rowedit_long (id int PRIMARY KEY, body text);"
                                        "INSERT INTO bench_rowedit_long SELECT 1, repeat('0123456789abcdef', 62500) "
                                        "ON CONFLICT DO NOTHING"));
    auto zntServer = connectedServer(server);
    BrowserPages::install();
    auto table =
        ZNTTable::create(QStringLiteral("bench_rowedit_long"), QStringLiteral("public"), zntServer->mainDatabase());
    auto *page = new ZNTTableViewController(table);
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    layout->addWidget(page->view());
    window.resize(1200, 720);
    window.show();
    while (page->contentModel()->rowCount() < 1 || page->isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const int body = page->contentModel()->displayColumnNamed(QStringLiteral("body"));
    const QString text = page->contentModel()->valueAt(0, body).description();
    const auto typeOneInto = [](QWidget *editor) {
        // After the text, not over it (an opened editor has it all selected).
        QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
        QApplication::sendEvent(editor, &end);
        QApplication::processEvents();
        return timed([editor] {
            pressX(editor);
            QApplication::processEvents();
            editor->repaint();
        });
    };
    std::vector<double> open, typed, peerOpen, peerTyped;
    for (int r = 0; r < runs; ++r) {
        open.push_back(timed([&] {
            page->tableView()->editCell(0, body);
            QApplication::processEvents();
            window.repaint();
        }));
        auto *editor = qobject_cast<QLineEdit *>(page->tableView()->indexWidget(page->contentModel()->index(0, body)));
        if (!editor) {
            std::printf("  the grid opened no editor\n");
            break;
        }
        typed.push_back(typeOneInto(editor));
        page->tableView()->abortEditing();
        QApplication::processEvents();

        QLineEdit peer;
        peerOpen.push_back(timed([&] {
            peer.setMaxLength(std::numeric_limits<int>::max());
            peer.setText(text);
            peer.resize(250, 24);
            peer.show();
            peer.setFocus();
            peer.selectAll();
            QApplication::processEvents();
            peer.repaint();
        }));
        peerTyped.push_back(typeOneInto(&peer));
    }
    if (!open.empty()) {
        std::printf("grid, a cell of 1,000,000 characters, median ms (%d rounds)\n", runs);
        std::printf("  %-10s %10s %10s\n", "", "open", "type one");
        std::printf("  %-10s %10.1f %10.1f\n", "grid", median(open), median(typed));
        std::printf("  %-10s %10.1f %10.1f\n", "QLineEdit", median(peerOpen), median(peerTyped));
    }
    delete page;
}

} // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it stands
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    QString url;
    int runs = 41;
    bool typingOnly = false, selectingOnly = false, longOnly = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == "--typing-only")
            typingOnly = true;
        else if (args[i] == "--selecting-only")
            selectingOnly = true;
        else if (args[i] == "--long-only")
            longOnly = true;
        else
            url = args[i];
    }
    if (longOnly) {
        benchLongInRowEditor(std::min(runs, 5));
        benchLongInGrid(serverFrom(url), std::min(runs, 5));
        return 0;
    }
    if (!selectingOnly)
        benchTyping(runs);
    if (!typingOnly)
        benchSelecting(serverFrom(url), runs);
    return 0;
}
