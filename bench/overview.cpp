// Database page benchmark: the page over the database of 10,000 tables in 20
// schemas that bench_catalog makes. Per run, interleaved, after a warm-up:
//   - the page's listing (ZNTVariousObjectsQuery) alone, to its done notification;
//   - the page made as the window makes it on navigation, in a 1920 x 1080
//     window, shown as icons and as a list, to the last batch painted: the total
//     time, and the longest the GUI thread spent on one batch (the page's
//     handling of it and the paint that shows it).
// Then one full repaint of the grid at 1920 x 1080 with every schema open: the
// first (names laid out and images drawn for the first time) and the median
// of 30 more.
//
//   bench_overview [postgresql://user@host:port] [--runs N]
//
// Without a URL the server comes from TRELLAN_PG_HOST, TRELLAN_PG_PORT and
// TRELLAN_PG_ADMIN_USER. Runs on the offscreen platform unless QT_QPA_PLATFORM
// names another; DejaVu Sans 9 pt, the Fusion style.
#include "CatalogDatabase.h"
#include "browser/ZNTDatabaseTreeModel.h"
#include "browser/ZNTDatabaseViewController.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTSchema.h"
#include "model/ZNTServer.h"
#include "model/ZNTVariousObjectsQuery.h"
#include "uikit/IconView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleFactory>
#include <QVBoxLayout>

namespace {
using namespace benchcatalog;
using Presentation = ZNTDatabaseViewController::Presentation;

struct PageRun {
    double total = 0;      // navigation to the last batch painted, ms
    double worstBatch = 0; // the longest batch, ms
    int batches = 0;
    qsizetype items = 0;
};

// What the event loop would do before showing the page: lay it out and paint it.
void layOutAndPaint(QWidget *window) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    window->repaint();
}

void waitFor(const std::function<bool()> &done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

PageRun runPage(const std::shared_ptr<ZNTDatabase> &database, Presentation presentation) {
    QWidget window;
    window.resize(1920, 1080);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    window.show();
    PageRun run;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    // Registered before the page's own observer, so it hears each batch first.
    QElapsedTimer batch;
    ObserverToken batchBegins =
        center.observe(ZNTObjectQuery::NewObjectNotification, nullptr, [&](const Notification &) { batch.start(); });
    QElapsedTimer total;
    total.start();
    ZNTDatabaseViewController page(database);
    page.setPresentation(presentation);
    layout->addWidget(page.view());
    layout->addWidget(page.accessoryView());
    ObserverToken batchEnds =
        center.observe(ZNTObjectQuery::NewObjectNotification, page.objectsQuery().get(), [&](const Notification &) {
            layOutAndPaint(&window);
            run.worstBatch = std::max(run.worstBatch, batch.nsecsElapsed() / 1e6);
            ++run.batches;
        });
    waitFor([&] { return page.initialQueryDone(); });
    layOutAndPaint(&window);
    run.total = total.nsecsElapsed() / 1e6;
    run.items = page.objectsQuery()->objects().value_or(ZNTObjectList()).size();
    return run;
}

// One paint of the grid's whole 1920 x 1080 window, every schema open, scrolled to the middle.
std::pair<double, double> repaintGrid(const std::shared_ptr<ZNTDatabase> &database) {
    QWidget window;
    window.resize(1920, 1080);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    ZNTDatabaseViewController page(database);
    layout->addWidget(page.view());
    window.show();
    waitFor([&] { return page.initialQueryDone(); });
    IconView *grid = page.iconView();
    for (int row = 1; row < page.model()->rowCount(); ++row)
        grid->setExpanded(page.model()->index(row, 0).data(IconView::IdentityRole), true);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    auto *area = qobject_cast<QScrollArea *>(grid->parentWidget()->parentWidget());
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum() / 2);
    QElapsedTimer timer;
    timer.start();
    grid->repaint();
    const double first = timer.nsecsElapsed() / 1e6;
    std::vector<double> warm;
    for (int i = 0; i < 30; ++i) {
        timer.start();
        grid->repaint();
        warm.push_back(timer.nsecsElapsed() / 1e6);
    }
    return {first, median(warm)};
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    QApplication::setFont(font);
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
    const auto database = zntServer->mainDatabase();

    std::vector<double> alone, icons, list, iconsBatch, listBatch;
    int batches = 0;
    qsizetype items = 0;
    for (int r = 0; r < runs + 1; ++r) {
        QElapsedTimer timer;
        timer.start();
        items = runListing(std::make_shared<ZNTVariousObjectsQuery>(database));
        const double listing = timer.nsecsElapsed() / 1e6;
        const PageRun asIcons = runPage(database, Presentation::Icons);
        const PageRun asList = runPage(database, Presentation::List);
        if (r == 0)
            continue; // warm-up
        alone.push_back(listing);
        icons.push_back(asIcons.total);
        list.push_back(asList.total);
        iconsBatch.push_back(asIcons.worstBatch);
        listBatch.push_back(asList.worstBatch);
        batches = std::max(asIcons.batches, asList.batches);
    }
    const auto [firstPaint, warmPaint] = repaintGrid(database);

    const double base = median(alone);
    auto worst = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); };
    std::printf("database page over %lld relations in %d schemas, %d runs, median (worst) in ms\n", (long long)items,
                kSchemas, runs);
    std::printf("  listing alone            %8.1f (%.1f)\n", base, worst(alone));
    std::printf("  page as icons, to shown  %8.1f (%.1f)  %.2f x listing\n", median(icons), worst(icons),
                median(icons) / base);
    std::printf("  page as a list, to shown %8.1f (%.1f)  %.2f x listing\n", median(list), worst(list),
                median(list) / base);
    std::printf("  longest batch, icons     %8.1f (%.1f)  of up to %d batches\n", median(iconsBatch), worst(iconsBatch),
                batches);
    std::printf("  longest batch, list      %8.1f (%.1f)\n", median(listBatch), worst(listBatch));
    std::printf("  grid repaint 1920x1080   %8.1f first, %.1f median of 30\n", firstPaint, warmPaint);
    return 0;
}
