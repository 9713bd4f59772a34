#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/TableViewAdditions.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class CountingTable : public QTableView {
public:
    int relayouts = 0;
    void doItemsLayout() override {
        ++relayouts;
        QTableView::doItemsLayout();
    }
};

void fill(QStandardItemModel &model, int rows) {
    model.setColumnCount(2);
    for (int r = 0; r < rows; ++r)
        model.appendRow({new QStandardItem(QStringLiteral("row %1").arg(r)), new QStandardItem("x")});
}

// A right-click as the user makes it: press and release, then the menu request.
QList<int> rightClick(QTableView &view, QPoint pos) {
    QList<int> rows;
    QObject::connect(&view, &QWidget::customContextMenuRequested, &view,
                     [&](QPoint p) { rows = clickedRowIndexes(&view, view.rowAt(p.y())); });
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, pos);
    QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, pos);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, pos, view.viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view.viewport(), &menu);
    QObject::disconnect(&view, &QWidget::customContextMenuRequested, &view, nullptr);
    return rows;
}

} // namespace

TEST(ClickedRows, UnselectedRowAloneSelectedRowBringsTheSelectionEmptySpaceNothing) {
    uikittest::useFixedLook();
    QStandardItemModel model;
    fill(model, 10);
    QTableView view;
    view.setModel(&model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setContextMenuPolicy(Qt::CustomContextMenu);
    view.resize(300, 400);
    uikittest::activate(&view);
    auto selectThree = [&] {
        view.clearSelection();
        for (int r : {6, 2, 4})
            view.selectionModel()->select(model.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    auto rowPos = [&](int r) { return view.visualRect(model.index(r, 1)).center(); };
    selectThree();
    EXPECT_EQ(rightClick(view, rowPos(4)), (QList<int>{2, 4, 6}));
    selectThree();
    EXPECT_EQ(rightClick(view, rowPos(3)), (QList<int>{3}));
    selectThree();
    EXPECT_EQ(rightClick(view, QPoint(10, view.viewport()->height() - 3)), (QList<int>{}));
    // Cells of a row count: one selected cell puts its row into the selection.
    view.clearSelection();
    view.selectionModel()->select(model.index(5, 1), QItemSelectionModel::Select);
    view.selectionModel()->select(model.index(8, 0), QItemSelectionModel::Select);
    EXPECT_EQ(clickedRowIndexes(&view, 8), (QList<int>{5, 8}));
    // Whole rows are those with every cell selected, also one cell at a time.
    view.selectionModel()->select(model.index(5, 0), QItemSelectionModel::Select);
    view.selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(selectedRowsOf(view.selectionModel(), true), (QList<int>{2, 5}));
    EXPECT_EQ(selectedRowsOf(view.selectionModel(), false), (QList<int>{2, 5, 8}));
}

TEST(ClickedRows, TreeItemsComeInTheOrderTheTreeShowsThem) {
    QStandardItemModel model;
    auto *schemaA = new QStandardItem("a");
    auto *schemaB = new QStandardItem("b");
    for (int i = 0; i < 3; ++i) {
        schemaA->appendRow(new QStandardItem(QStringLiteral("a%1").arg(i)));
        schemaB->appendRow(new QStandardItem(QStringLiteral("b%1").arg(i)));
    }
    model.appendRow(schemaA);
    model.appendRow(schemaB);
    QTreeView tree;
    tree.setModel(&model);
    tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree.expandAll();
    auto *sel = tree.selectionModel();
    // Selected out of order, across parents.
    sel->select(schemaB->child(0)->index(), QItemSelectionModel::Select);
    sel->select(schemaA->child(2)->index(), QItemSelectionModel::Select);
    sel->select(schemaA->index(), QItemSelectionModel::Select);
    sel->select(schemaA->child(0)->index(), QItemSelectionModel::Select);
    auto names = [](const QModelIndexList &items) {
        QStringList out;
        for (const QModelIndex &i : items)
            out << i.data().toString();
        return out;
    };
    EXPECT_EQ(names(selectedItems(&tree)), (QStringList{"a", "a0", "a2", "b0"}));
    EXPECT_EQ(names(clickedItems(&tree, schemaA->child(2)->index())), (QStringList{"a", "a0", "a2", "b0"}));
    EXPECT_EQ(names(clickedItems(&tree, schemaB->child(1)->index())), (QStringList{"b1"}));
    EXPECT_TRUE(clickedItems(&tree, QModelIndex()).isEmpty());
    tree.collapse(schemaA->index());
    EXPECT_EQ(names(selectedItems(&tree)), (QStringList{"a", "b0"})) << "rows inside a collapsed item are not shown";
}

// A hundred rows of 20 pixels, scrolled by pixels, in an active window.
class AnimatedScroll : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        fill(model, 100);
        view.setModel(&model);
        view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view.verticalHeader()->setDefaultSectionSize(20);
        view.resize(300, 230);
        uikittest::activate(&view);
    }

    QStandardItemModel model;
    CountingTable view;
};

TEST_F(AnimatedScroll, RowAboveGetsAMarginRowBelowEndsFlushAVisibleRowMovesNothing) {
    view.verticalScrollBar()->setValue(800); // row 40 at the top
    pumpFor(50ms);                           // the view's own first layout
    const int initial = view.relayouts;

    scrollRowToVisibleWithAnimation(&view, model.index(10, 0));
    ASSERT_TRUE(pumpUntil([&] { return view.relayouts > initial; }, 5s));
    EXPECT_EQ(view.visualRect(model.index(10, 0)).top(), 5);

    const int before = view.relayouts;
    scrollRowToVisibleWithAnimation(&view, model.index(60, 0));
    ASSERT_TRUE(pumpUntil([&] { return view.relayouts > before; }, 5s));
    EXPECT_EQ(view.visualRect(model.index(60, 0)).bottom() + 1, view.viewport()->height());

    const int settled = view.relayouts;
    const int value = view.verticalScrollBar()->value();
    scrollRowToVisibleWithAnimation(&view, model.index(57, 0));
    pumpFor(400ms);
    EXPECT_EQ(view.relayouts, settled);
    EXPECT_EQ(view.verticalScrollBar()->value(), value);
}

TEST_F(AnimatedScroll, AnOpenEditorIsCommittedAndOpenedAgainOnItsCell) {
    ASSERT_TRUE(pumpUntil([&] { return view.isActiveWindow(); }));
    const QModelIndex cell = model.index(7, 1);
    view.setCurrentIndex(cell);
    view.edit(cell);
    QLineEdit *editor = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (editor = qobject_cast<QLineEdit *>(QApplication::focusWidget())); }));
    editor->selectAll();
    QTest::keyClicks(editor, "typed");

    pumpFor(50ms);
    const int initial = view.relayouts;
    scrollRowToVisibleWithAnimation(&view, model.index(50, 0));
    ASSERT_TRUE(pumpUntil([&] { return view.relayouts > initial; }, 5s));
    EXPECT_EQ(model.item(7, 1)->text(), "typed") << "committed before the relayout";
    QLineEdit *again = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (again = qobject_cast<QLineEdit *>(QApplication::focusWidget())); }));
    EXPECT_EQ(view.currentIndex(), cell);
    EXPECT_EQ(again->text(), "typed");
}

TEST(HeaderCell, TheTitleLeavesRoomForTheIndicatorAndTheBandFollowsTheWindow) {
    uikittest::useFixedLook();
    QStandardItemModel model(3, 3);
    model.setHorizontalHeaderLabels({"id", "a rather long column title", "name"});
    QTableView view;
    view.setModel(&model);
    auto *header = new ZNTTableHeaderCell(Qt::Horizontal, &view);
    view.setHorizontalHeader(header);
    header->resizeSection(1, 120);
    const QRect section(0, 0, 120, 20);
    EXPECT_EQ(header->titleRect(section, 1).width(), 120 - 7) << "no indicator: 5 + 2 px";
    EXPECT_EQ(header->titleRect(section, 1).x(), 4);
    header->setSortMode(1, ZNTSortModeDescending);
    header->setSortMode(2, ZNTSortModeAscending);
    EXPECT_EQ(header->titleRect(section, 1).width(), 120 - 5 - (ZNTTableHeaderCell::indicatorSize().width() + 2));
    header->setSortMode(0, 7);
    EXPECT_EQ(header->titleRect(section, 0).width(), 120 - 7) << "an unknown mode shows no indicator";
    const int wide = header->sectionSizeHint(1);
    header->setSortMode(1, ZNTSortModeNone);
    EXPECT_EQ(header->sectionSizeHint(1), wide - ZNTTableHeaderCell::indicatorSize().width())
        << "fitting a column to its title leaves room for the indicator";
    header->setSortMode(1, ZNTSortModeDescending);

    view.resize(400, 150);
    uikittest::activate(&view);
    ASSERT_TRUE(pumpUntil([&] { return view.isActiveWindow(); }));
    QImage active = header->grab().toImage();
    active.save(screenshotPath("uikit", "header-active.png"));
    const QPoint band(header->sectionPosition(2) + 30, 3);
    EXPECT_EQ(active.pixel(band), QColor::fromRgbF(0.83f, 0.86f, 0.92f).rgb());
    EXPECT_EQ(active.pixel(header->sectionPosition(2), 10), QColor(Qt::white).rgb()) << "the light left edge";
    // The indicator sits 4 px from the right edge of its section.
    const int right = header->sectionPosition(1) + header->sectionSize(1) - 1;
    bool inkNearRight = false;
    for (int x = right - 4 - ZNTTableHeaderCell::indicatorSize().width(); x < right - 3; ++x)
        inkNearRight |= qGray(active.pixel(x, header->height() / 2)) < 150;
    EXPECT_TRUE(inkNearRight);

    QWidget other;
    uikittest::activate(&other);
    ASSERT_TRUE(pumpUntil([&] { return !view.isActiveWindow(); }));
    const QImage inactive = header->grab().toImage();
    EXPECT_EQ(inactive.pixel(band), QColor::fromRgbF(0.93f, 0.94f, 0.96f).rgb());
}
