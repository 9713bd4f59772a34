// The terminal's result grids: widths remembered by column name, the sort of
// three clicks (numbers by value), copying rows and cells, opening a row, the
// grids' menu, and heights that show every row under Qt's size limit.
#include "TerminalTestSupport.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTTableGridView.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTRow.h"
#include "query/QueryPages.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "window/WindowTestSupport.h"

#include <QClipboard>
#include <QMenu>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QStyleFactory>
#include <QTest>
#include <QWheelEvent>

using namespace terminaltest;

namespace {
class TerminalGrid : public TerminalPageFixture {
protected:
    void sortBy(ZNTTerminalQueryTabularResult *grid, int column) {
        page->tableViewDidClickTableColumn(grid, column);
        ASSERT_TRUE(pumpUntil([&] { return !page->isSorting(); }));
    }
    QStringList column(ZNTTerminalQueryTabularResult *grid, int column) const {
        QStringList values;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            values << grid->model()->index(row, column).data().toString();
        return values;
    }
    void select(ZNTTerminalQueryTabularResult *grid, const QList<int> &rows) {
        grid->tableView()->setFocus();
        QItemSelection selection;
        for (int row : rows)
            selection.select(grid->model()->index(row, 0), grid->model()->index(row, grid->model()->columnCount() - 1));
        grid->tableView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    int rowHeightOf(const std::shared_ptr<ZNTTerminalQuery> &query) const {
        ZNTTerminalOutlineView *outline = page->terminalOutlineView();
        return outline->rowHeight(outline->rowForKey(query->cachedResultAtIndex(0).get()));
    }
};

// Fusion whose scroll bars overlay the content.
class TransientScrollBars : public QProxyStyle {
public:
    TransientScrollBars() : QProxyStyle(QStyleFactory::create("Fusion")) {}
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *data) const override {
        if (hint == SH_ScrollBar_Transient)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};
} // namespace

TEST_F(TerminalGrid, AWidthGivenInOneResultOpensTheNextColumnOfThatName) {
    std::shared_ptr<ZNTTerminalQuery> first;
    ASSERT_NO_FATAL_FAILURE(first = run("SELECT 1 AS amount, 'x'::text AS label"));
    auto *grid = firstGrid(first);
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->headerView()->sectionSize(0), 60);  // a number
    EXPECT_EQ(grid->headerView()->sectionSize(1), 250); // text
    grid->headerView()->resizeSection(0, 222);          // as the user drags it
    EXPECT_EQ(grid->tableView()->columnWidth(0), 222);  // the grid follows its header
    std::shared_ptr<ZNTTerminalQuery> second;
    ASSERT_NO_FATAL_FAILURE(second = run("SELECT 5 AS amount, 6 AS other"));
    auto *next = firstGrid(second);
    EXPECT_EQ(next->headerView()->sectionSize(0), 222);
    EXPECT_EQ(next->headerView()->sectionSize(1), 60);
    EXPECT_EQ(next->tableView()->columnWidth(0), 222);
}

TEST_F(TerminalGrid, ThreeClicksSortUpDownAndBackNumbersByValueAndNullsAtTheEnd) {
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query =
                                run("SELECT * FROM (VALUES (10.5::numeric, 'a10'), (9::numeric, 'a9'), (NULL, 'A2'),"
                                    " (100::numeric, NULL), (-1e20::numeric, 'b')) v(n, s)"));
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    const QStringList serverOrder = column(grid, 0);
    sortBy(grid, 0);
    EXPECT_EQ(column(grid, 0), QStringList({"-100000000000000000000", "9", "10.5", "100", "NULL"}));
    EXPECT_EQ(grid->headerView()->sortMode(0), ZNTSortModeAscending);
    sortBy(grid, 0);
    EXPECT_EQ(column(grid, 0), QStringList({"NULL", "100", "10.5", "9", "-100000000000000000000"}));
    EXPECT_EQ(grid->headerView()->sortMode(0), ZNTSortModeDescending);
    sortBy(grid, 0);
    EXPECT_EQ(column(grid, 0), serverOrder);
    EXPECT_EQ(grid->headerView()->sortMode(0), ZNTSortModeNone);
    // Another column: the indicator moves there; text is natural and without case.
    sortBy(grid, 0);
    sortBy(grid, 1);
    EXPECT_EQ(grid->headerView()->sortMode(0), ZNTSortModeNone);
    EXPECT_EQ(grid->headerView()->sortMode(1), ZNTSortModeAscending);
    EXPECT_EQ(column(grid, 1), QStringList({"A2", "a9", "a10", "b", "NULL"}));
    EXPECT_EQ(grid->tableView()->cell()->highlightedColumn(), 1);
}

TEST_F(TerminalGrid, AHeaderClickWhileItsQueryRunsBeepsAndSortsNothing) {
    BeepCounter beeps;
    const auto query = start("SELECT g FROM generate_series(1, 20000) g; SELECT pg_sleep(3)");
    ASSERT_TRUE(pumpUntil([&] { return firstGrid(query) && firstGrid(query)->model()->rowCount() > 0; }));
    page->tableViewDidClickTableColumn(firstGrid(query), 0);
    EXPECT_EQ(beeps.count, 1);
    EXPECT_EQ(query->cachedResultAtIndex(0)->sortColumnIndex(), -1);
    page->clearDisplay();
}

TEST_F(TerminalGrid, TwoRowsCopiedAsInsertStatementsRunOnTheServer) {
    database->run("CREATE TABLE source(id int, name text, amount numeric, at timestamptz, flag bool, data bytea);"
                  "CREATE TABLE target (LIKE source);"
                  "INSERT INTO source VALUES (1, 'it''s', 12.50, '2024-05-01 10:00+00', true, '\\x00ff'),"
                  " (2, E'two\\nlines\\\\', NULL, NULL, false, NULL), (3, 'not copied', 3, now(), true, NULL)");
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT * FROM source ORDER BY id"));
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    select(grid, {0, 1});
    ZNTTerminalQueryTabularResult *selected = nullptr;
    EXPECT_EQ(page->selectedRowIndicesForTerminalResult(&selected), QList<int>({0, 1}));
    EXPECT_EQ(selected, grid);
    page->copySpecial(ZNTCopyModeInsertStatements);
    QString statement = QApplication::clipboard()->text();
    ASSERT_TRUE(statement.startsWith("INSERT INTO \"some_table\"(")) << statement.toStdString();
    EXPECT_TRUE(statement.endsWith(");"));
    EXPECT_EQ(statement.count("), ("), 1);
    statement.replace("INSERT INTO \"some_table\"(", "INSERT INTO target(");
    database->run(statement);
    EXPECT_EQ(database->run("SELECT count(*) FROM (SELECT * FROM source WHERE id < 3 EXCEPT SELECT * FROM target) d"),
              "0");
    EXPECT_EQ(database->run("SELECT count(*) FROM target"), "2");
    // Plain copy: the clipboard's tab-separated rows.
    page->copy();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("1\tit's\t12.50\t"));
}

TEST_F(TerminalGrid, TheMenuCopiesTheClickedCellAndFramesItWhileCopyCellIsChosen) {
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT 1 AS a, E'tab\\there' AS b UNION ALL SELECT 2, NULL ORDER BY a"));
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    QMenu *menu = page->tableContextMenuForClick(grid, 0, 1);
    EXPECT_EQ(menu->actions().first()->text(), "&Copy Row");
    EXPECT_TRUE(page->copyCellAction()->isEnabled());
    page->menuWillHighlightItem(page->copyCellAction());
    EXPECT_EQ(grid->tableView()->markedCell(), grid->model()->index(0, 1));
    shot("terminal-copy-cell-frame.png");
    page->menuWillHighlightItem(menu->actions().first());
    EXPECT_FALSE(grid->tableView()->markedCell().isValid());
    page->copyClickedCell();
    EXPECT_EQ(QApplication::clipboard()->text(), "tab here"); // the clipboard coder's text
    page->tableContextMenuForClick(grid, 1, 1);
    page->copyClickedCell();
    EXPECT_EQ(QApplication::clipboard()->text(), ""); // NULL

    // Two selected rows, one of them clicked: both, and no row to open.
    select(grid, {0, 1});
    page->tableContextMenuForClick(grid, 1, 0);
    EXPECT_EQ(menu->actions().first()->text(), "&Copy Rows");
    page->copyClickedRows(ZNTCopyModeCSVWithHeader);
    EXPECT_EQ(QApplication::clipboard()->text(), "\"a\",\"b\"\n1,\"tab\there\"\n2,\n");
    BeepCounter beeps;
    page->tableContextMenuForClick(grid, -1, -1);
    page->copyClickedCell();
    page->copyClickedRows(0);
    EXPECT_EQ(beeps.count, 2);
}

TEST_F(TerminalGrid, GridsAreAsHighAsTheirRowsWithRoomForAScrollBarUnlessItIsTransient) {
    std::shared_ptr<ZNTTerminalQuery> none;
    ASSERT_NO_FATAL_FAILURE(none = run("SELECT 1 AS n WHERE false"));
    std::shared_ptr<ZNTTerminalQuery> one;
    ASSERT_NO_FATAL_FAILURE(one = run("SELECT 1 AS n"));
    std::shared_ptr<ZNTTerminalQuery> ten;
    ASSERT_NO_FATAL_FAILURE(ten = run("SELECT g AS n FROM generate_series(1, 10) g"));
    auto *grid = firstGrid(one);
    const int extent = grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, grid);
    ASSERT_GT(extent, 0);
    EXPECT_EQ(rowHeightOf(none), 97 + extent);
    EXPECT_EQ(rowHeightOf(one), 97 + extent);
    EXPECT_EQ(rowHeightOf(ten), 385 + extent);
    EXPECT_EQ(firstGrid(ten)->height(), 385 + extent);
    EXPECT_EQ(firstGrid(ten)->tableView()->height(), 10 * 32);
    EXPECT_FALSE(firstGrid(ten)->tableView()->verticalScrollBar()->isVisible());

    QApplication::setStyle(new TransientScrollBars);
    pumpFor(std::chrono::milliseconds(30));
    EXPECT_EQ(rowHeightOf(none), 97);
    EXPECT_EQ(rowHeightOf(one), 97);
    EXPECT_EQ(rowHeightOf(ten), 385);
    shot("terminal-grids-transient.png");
    uikittest::useFixedLook();
    pumpFor(std::chrono::milliseconds(30));
    EXPECT_EQ(rowHeightOf(ten), 385 + extent);
}

TEST_F(TerminalGrid, AMillionRowGridStaysUnderTheSizeLimitAndItsLastRowCanBeReached) {
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT g AS n, 'row ' || g AS label FROM generate_series(1, 1000000) g"));
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->model()->rowCount(), 1000000);
    EXPECT_EQ(grid->rowCountField()->text(), "1000000 rows");
    EXPECT_LE(grid->height(), QWIDGETSIZE_MAX);
    EXPECT_EQ(rowHeightOf(query), QWIDGETSIZE_MAX);
    ZNTTerminalTableView *table = grid->tableView();
    table->setFocus();
    table->setCurrentIndex(grid->model()->index(0, 0));
    QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
    const QModelIndex last = table->currentIndex();
    EXPECT_EQ(last.row(), 999999);
    pumpFor(std::chrono::milliseconds(30));
    // The last row is in the grid's sight and the grid's part with it in the transcript's.
    const QRect inTable = table->visualRect(last);
    EXPECT_GE(inTable.top(), 0);
    EXPECT_LE(inTable.bottom(), table->viewport()->height());
    ZNTTerminalOutlineView *outline = page->terminalOutlineView();
    const QPoint inViewport = table->viewport()->mapTo(outline->viewport(), inTable.topLeft());
    EXPECT_GE(inViewport.y(), 0);
    EXPECT_LE(inViewport.y() + inTable.height(), outline->viewport()->height());
    // Not under the header or the row count, which float over the rows.
    const QRect inGrid(table->viewport()->mapTo(grid, inTable.topLeft()), inTable.size());
    EXPECT_FALSE(inGrid.intersects(grid->rowCountField()->parentWidget()->geometry()));
    EXPECT_FALSE(inGrid.intersects(grid->headerView()->geometry()));
    EXPECT_EQ(table->model()->index(last.row(), 1).data().toString(), "row 1000000");
    shot("terminal-million-rows-end.png");
}

// Opening a row goes to the window: the row shown third of a grid sorted
// descending, named by that place.
TEST_F(TerminalGrid, OpeningTheThirdRowOfAGridSortedDescendingOpensTheRowShownThird) {
    windowtest::resetWindowDefaults();
    QueryPages::install();
    auto mainWindow = ZNTWindowController::create(server->mainDatabase());
    mainWindow->resize(1000, 700);
    mainWindow->show();
    mainWindow->navigateToItem(terminal);
    auto *shown = qobject_cast<ZNTTerminalViewController *>(mainWindow->mainViewController());
    ASSERT_TRUE(shown);
    std::swap(page, shown);
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT g AS n, g * 10 AS tens FROM generate_series(1, 5) g"));
    auto *grid = firstGrid(query);
    sortBy(grid, 0);
    sortBy(grid, 0);
    page->tableContextMenuForClick(grid, 2, 0);
    page->openClickedRow();
    auto row = std::dynamic_pointer_cast<ZNTRow>(mainWindow->currentItem());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->name(), "Row 3");
    EXPECT_TRUE(row->isReadOnly());
    ASSERT_EQ(row->values().size(), 2u);
    EXPECT_EQ(row->values()[0].description(), "3");
    EXPECT_EQ(row->values()[1].description(), "30");
    EXPECT_TRUE(sameItem(row->parent(), std::shared_ptr<ZNTObject>(terminal)));
    std::swap(page, shown);
    ZNTContentControllers::setFactory(ZNTPage::Terminal, nullptr);
    ZNTContentControllers::setFactory(ZNTPage::Query, nullptr);
    mainWindow->close();
    mainWindow.reset();
    pumpFor(std::chrono::milliseconds(30));
}

namespace {
void wheel(QWidget *target, QPoint pixels, Qt::ScrollPhase phase) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), pixels, pixels * 4, Qt::NoButton, Qt::NoModifier, phase, false);
    // As from the window system, which an ignored wheel event travels up from
    // (sendEvent would make it a synthesized one, which stays where it is sent).
    QSpontaneKeyEvent::setSpontaneous(&event);
    QCoreApplication::instance()->notify(target, &event);
}
} // namespace

// A gesture that begins sideways scrolls the grid sideways to its end; one
// that begins up or down scrolls the transcript, also over the grid.
TEST_F(TerminalGrid, AWheelGestureThatBeginsSidewaysStaysWithTheGrid) {
    QStringList columns;
    for (int i = 0; i < 12; ++i)
        columns << QStringLiteral("repeat('w', 40) AS wide%1").arg(i);
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT " + columns.join(", ") + " FROM generate_series(1, 60)"));
    auto *grid = firstGrid(query);
    ASSERT_TRUE(grid);
    ZNTTerminalOutlineView *outline = page->terminalOutlineView();
    outline->scrollToTop(100);
    QScrollBar *sideways = grid->tableView()->horizontalScrollBar();
    ASSERT_GT(sideways->maximum(), 0);
    QWidget *viewport = grid->tableView()->viewport();

    wheel(viewport, {-30, -4}, Qt::ScrollBegin);
    wheel(viewport, {-5, -40}, Qt::ScrollUpdate); // turned vertical: still the grid's
    wheel(viewport, {0, -40}, Qt::ScrollEnd);
    EXPECT_EQ(sideways->value(), 35);
    EXPECT_EQ(outline->visibleTop(), 100);

    wheel(viewport, {0, -40}, Qt::ScrollBegin);
    wheel(viewport, {-30, 0}, Qt::ScrollUpdate); // turned sideways: still the transcript's
    wheel(viewport, {0, 0}, Qt::ScrollEnd);
    EXPECT_EQ(sideways->value(), 35);
    EXPECT_GT(outline->visibleTop(), 100);

    // A wheel of clicks: each event by itself.
    const int top = outline->visibleTop();
    wheel(viewport, {-20, 0}, Qt::NoScrollPhase);
    EXPECT_EQ(sideways->value(), 55);
    wheel(viewport, {0, 20}, Qt::NoScrollPhase);
    EXPECT_LT(outline->visibleTop(), top);
    // The header follows the grid sideways.
    EXPECT_EQ(grid->headerView()->offset(), sideways->value());
    EXPECT_EQ(grid->horizontalScroller()->value(), sideways->value());
    // Over the header the same.
    const int before = outline->visibleTop();
    wheel(grid->headerView()->viewport(), {0, -40}, Qt::NoScrollPhase);
    EXPECT_GT(outline->visibleTop(), before);
    wheel(grid->headerView()->viewport(), {-10, 0}, Qt::NoScrollPhase);
    EXPECT_EQ(sideways->value(), 65);
}

TEST_F(TerminalGrid, TheHeaderStaysAtTheTopOfTheVisibleAreaUntilTheGridsEndComesUp) {
    std::shared_ptr<ZNTTerminalQuery> query;
    ASSERT_NO_FATAL_FAILURE(query = run("SELECT g AS n FROM generate_series(1, 1000) g"));
    auto *grid = firstGrid(query);
    ZNTTerminalOutlineView *outline = page->terminalOutlineView();
    const int gridTop = outline->rectOfRow(outline->rowForView(grid)).top();
    outline->scrollToTop(gridTop + 5000);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(grid->headerView()->geometry().top(), 5000 - 1);
    EXPECT_EQ(grid->rowCountField()->parentWidget()->geometry().bottom() + 1, 5000 + outline->viewport()->height());
    shot("terminal-floating-header.png");
    outline->scrollToTop(gridTop + grid->height() - 40);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(grid->headerView()->geometry().top(),
              ::TerminalGrid::kHeaderTop + grid->height() - ZNTTerminalQueryTabularResult::heightForRowCount(0, grid));
}
