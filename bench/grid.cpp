// Paints a 100,000-row, 10-column grid through KRVTableDataCell and through a
// stock QTableView with QStyledItemDelegate over the same model, offscreen at
// 1920x1080, and prints the median time of a full viewport repaint of each.
// Then the same rows as a result's row store under the table page's own model
// (ZNTTableContentModel, the path the program takes), again with both
// delegates.
//
//     build/bench/bench_grid [--frames N] [--step ROWS]
//
// Each frame scrolls both views by --step rows (3: a wheel notch) and repaints
// the whole viewport; the two views take turns frame by frame, so that a busy
// moment of the machine hits both alike.
#include "browser/ZNTTableContentModel.h"
#include "engine/RowStore.h"
#include "engine/Value.h"
#include "uikit/KRVTableDataCell.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Values of the kinds a table holds: ids, names, amounts, flags, NULLs, dates,
// longer text, bytea, e-mail addresses; every row differs from its neighbours.
class GridModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : 100000; }
    int columnCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : 10; }

    Value valueAt(int row, int column) const {
        switch (column) {
        case 0:
            return Value::fromInt(row + 1);
        case 1:
            return Value::fromString(QStringLiteral("Customer %1").arg(row * 7919 % 100000));
        case 2:
            return Value::fromDouble((row % 9973) * 1.25);
        case 3:
            return Value::fromBool(row % 3 == 0);
        case 4:
            if (row % 7 == 0)
                return Value::null();
            return Value::fromString(QStringLiteral("2024-%1-%2 %3:%4:00+00")
                                         .arg(row % 12 + 1, 2, 10, QLatin1Char('0'))
                                         .arg(row % 28 + 1, 2, 10, QLatin1Char('0'))
                                         .arg(row % 24, 2, 10, QLatin1Char('0'))
                                         .arg(row % 60, 2, 10, QLatin1Char('0')));
        case 5:
            return Value::fromString(
                QStringLiteral("Order %1 shipped to the warehouse in the north, packed twice and checked").arg(row));
        case 6:
            return Value::fromInt(qint64(row) * 104729 % 1000003);
        case 7:
            if (row % 5 == 0)
                return Value::fromBytes(QByteArray(row % 4096 + 1, 'x'));
            return Value::fromString(QStringLiteral("user%1@example.org").arg(row));
        case 8:
            return Value::fromString(QStringLiteral("%1.%2").arg(row % 1000).arg(row % 100, 2, 10, QLatin1Char('0')));
        default:
            return row % 11 == 0 ? Value::defaultMarker() : Value::fromString(QStringLiteral("note %1").arg(row));
        }
    }

    QVariant data(const QModelIndex &index, int role) const override {
        if (role == KRVTableDataCell::ValueRole)
            return QVariant::fromValue(valueAt(index.row(), index.column()));
        if (role == Qt::DisplayRole)
            return KRVTableDataCell::displayValue(valueAt(index.row(), index.column())).text;
        return {};
    }
};

// The grid model's rows in a row store, under the table page's model.
ZNTTableContentModel *pageModel(const GridModel &source, QObject *parent) {
    auto store = std::make_shared<RowStore>(source.columnCount(QModelIndex()));
    ZNTColumnList columns;
    for (int c = 0; c < source.columnCount(QModelIndex()); ++c)
        columns << std::make_shared<ZNTColumn>(QStringLiteral("c%1").arg(c));
    std::vector<Value> row(size_t(columns.size()));
    for (int r = 0; r < source.rowCount(QModelIndex()); ++r) {
        for (int c = 0; c < columns.size(); ++c)
            row[size_t(c)] = source.valueAt(r, c);
        store->appendRow(row);
    }
    auto *model = new ZNTTableContentModel(parent);
    model->setDisplayColumns(columns);
    model->setResult(columns, store);
    model->takeRows(store->rowCount());
    return model;
}

QTableView *makeView(QAbstractItemModel *model, QAbstractItemDelegate *delegate) {
    auto *view = new QTableView;
    view->setModel(model);
    if (delegate)
        view->setItemDelegate(delegate);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->horizontalHeader()->setDefaultSectionSize(185);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->resize(1920, 1080);
    view->show();
    return view;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Frame {
    double wall = 0, cpu = 0;
};

Frame repaint(QTableView *view, int firstRow) {
    view->verticalScrollBar()->setValue(firstRow * view->verticalHeader()->defaultSectionSize());
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    const double cpu = threadCpuMs();
    timer.start();
    view->viewport()->repaint();
    return {timer.nsecsElapsed() / 1e6, threadCpuMs() - cpu};
}

// Both views over model, taking turns frame by frame.
void measurePair(const char *title, QAbstractItemModel *model, int frames, int step, QApplication &app) {
    QTableView *stock = makeView(model, nullptr);
    QTableView *cell = makeView(model, new KRVTableDataCell(&app));
    for (int warm = 0; warm < 20; ++warm) {
        repaint(stock, warm);
        repaint(cell, warm);
    }
    KRVTableDataCell::resetLineCache();
    std::vector<double> stockWall, cellWall, stockCpu, cellCpu;
    for (int f = 0; f < frames; ++f) {
        const int row = 1000 + f * step;
        const Frame a = repaint(stock, row), b = repaint(cell, row);
        stockWall.push_back(a.wall);
        stockCpu.push_back(a.cpu);
        cellWall.push_back(b.wall);
        cellCpu.push_back(b.cpu);
    }
    const int rows = stock->viewport()->height() / stock->verticalHeader()->defaultSectionSize();
    const KRVTableDataCell::CacheStatistics stats = KRVTableDataCell::cacheStatistics();
    const double sw = median(stockWall), cw = median(cellWall), sc = median(stockCpu), cc = median(cellCpu);
    std::printf("%s\n", title);
    std::printf("full viewport repaint, 1920x1080, about %d rows x 10 columns, %d frames, %d rows per frame\n", rows,
                frames, step);
    std::printf("  median per repaint                 wall       processor\n");
    std::printf("  QTableView + QStyledItemDelegate  %7.2f ms  %7.2f ms\n", sw, sc);
    std::printf("  QTableView + KRVTableDataCell     %7.2f ms  %7.2f ms\n", cw, cc);
    std::printf("  ratio to stock                    %7.2f     %7.2f\n", cw / sw, cc / sc);
    std::printf("  line cache: %llu layouts, %llu hits\n\n", static_cast<unsigned long long>(stats.layouts),
                static_cast<unsigned long long>(stats.hits));
    delete stock;
    delete cell;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    int frames = 400, step = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--frames"))
            frames = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--step"))
            step = args[i + 1].toInt();
    }
    GridModel model;
    measurePair("an item model (values made per call)", &model, frames, step, app);
    ZNTTableContentModel *page = pageModel(model, &app);
    measurePair("the table page's model over a row store", page, frames, step, app);
    return 0;
}
