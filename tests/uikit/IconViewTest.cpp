#include "uikit/IconView.h"
#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/IconViewCell.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// An icon of one flat colour with one size of its own.
QIcon flatIcon(QSize size, QColor colour) {
    QPixmap pixmap(size);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QStandardItem *icon(const QString &name, QSize size = QSize(64, 53)) {
    auto *item = new QStandardItem(name);
    item->setData(flatIcon(size, QColor(90, 140, 200)), IconView::BigImageRole);
    item->setData(QStringLiteral("id:") + name, IconView::IdentityRole);
    return item;
}

QStandardItem *section(const QString &name, const QStringList &children) {
    auto *item = new QStandardItem(name);
    item->setData(flatIcon(QSize(16, 16), Qt::darkGray), Qt::DecorationRole);
    item->setData(QStringLiteral("id:") + name, IconView::IdentityRole);
    for (const QString &child : children)
        item->appendRow(icon(child));
    return item;
}

QVariant id(const QString &name) {
    return QStringLiteral("id:") + name;
}

// The grid in a scroll area as the pages hold it, 4 columns wide, with a model of
// one loose icon and two sections.
class IconViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        model.appendRow(icon("SQL Query"));
        model.appendRow(section("public", {"a", "b", "c", "d", "e"}));
        model.appendRow(section("sales", {"orders", "customers"}));
        grid = new IconView;
        grid->setModel(&model);
        grid->setExpanded(id("public"), true);
        area.setWidget(grid);
        area.setWidgetResizable(true);
        area.setFrameShape(QFrame::NoFrame);
        area.resize(4 * 131 + 25 + area.verticalScrollBar()->sizeHint().width(), 420);
        uikittest::activate(&area);
        pumpFor(20ms);
    }

    QModelIndex named(const QString &name) const {
        const auto found =
            model.match(model.index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly | Qt::MatchRecursive);
        return found.value(0);
    }
    QStringList selectedNames() const {
        QStringList names;
        for (const QModelIndex &index : grid->selectedIndexes())
            names << index.data().toString();
        return names;
    }
    // A point on an icon's image, as a user aims.
    QPoint onIcon(const QString &name) const { return grid->visualRect(named(name)).center() - QPoint(0, 20); }
    void click(const QPoint &point, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(grid, Qt::LeftButton, modifiers, point);
    }
    // What a user's double click sends: a click, then a second press that is a double click, and its release.
    void doubleClick(const QPoint &point, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(grid, Qt::LeftButton, modifiers, point);
        QTest::mouseDClick(grid, Qt::LeftButton, modifiers, point);
        QTest::mouseRelease(grid, Qt::LeftButton, modifiers, point);
    }
    void key(int key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(grid, Qt::Key(key), modifiers); }

    QStandardItemModel model;
    QScrollArea area;
    IconView *grid = nullptr;
};

} // namespace

TEST(IconViewGeometry, AnEmptyGridIsSixtyHighAndAskForFourColumnsUntilItHasAWidth) {
    QStandardItemModel empty;
    IconView grid;
    grid.setModel(&empty);
    EXPECT_EQ(grid.sizeHint(), QSize(4 * 131 + 5, 60));
    EXPECT_EQ(grid.contentHeight(), 0);
    grid.resize(100, 300); // narrower than a cell: still one column
    grid.show();
    EXPECT_EQ(grid.numColumns(), 1);
    EXPECT_EQ(grid.heightForWidth(100), 60);
}

TEST_F(IconViewTest, SectionsStartOnANewRowOpenAtFortyClosedAtTwentyEight) {
    EXPECT_EQ(grid->numColumns(), 4);
    // The loose icon, then "public" on a row of its own: 30 + one row.
    EXPECT_EQ(grid->visualRect(named("SQL Query")), QRect(5, 30, 126, 115));
    const int publicTop = 30 + 115;
    QRect header;
    EXPECT_EQ(grid->sectionAt(QPoint(200, publicTop + 3), &header), named("public"));
    EXPECT_EQ(header, QRect(0, publicTop, grid->width(), 28));
    EXPECT_EQ(grid->visualRect(named("a")), QRect(5, publicTop + 40, 126, 115));
    EXPECT_EQ(grid->visualRect(named("d")), QRect(5 + 3 * 131, publicTop + 40, 126, 115));
    EXPECT_EQ(grid->visualRect(named("e")), QRect(5, publicTop + 40 + 115, 126, 115)); // the fifth wraps
    // "sales" is closed: its header alone, its icons nowhere.
    const int salesTop = publicTop + 40 + 2 * 115;
    EXPECT_EQ(grid->sectionAt(QPoint(60, salesTop + 27)), named("sales"));
    EXPECT_TRUE(grid->visualRect(named("orders")).isEmpty());
    EXPECT_EQ(grid->contentHeight(), salesTop + 28 - 30);
    EXPECT_EQ(grid->heightForWidth(grid->width()), salesTop + 28 + 30);
    for (int y = salesTop + 28; y < salesTop + 28 + 115; y += 10)
        EXPECT_FALSE(grid->indexAt(QPoint(60, y)).isValid()) << y;
}

TEST_F(IconViewTest, OnlyTheImageAndTheNameAreHitsNotTheBlankOfTheCell) {
    const QRect cell = grid->visualRect(named("b"));
    QRect found;
    EXPECT_EQ(grid->indexAt(onIcon("b"), &found), named("b"));
    EXPECT_EQ(found, cell);
    EXPECT_EQ(grid->indexAt(QPoint(cell.center().x(), cell.bottom() - 45)), named("b")); // the name
    for (QPoint blank : {cell.topLeft() + QPoint(3, 3), QPoint(cell.left() + 4, cell.center().y()),
                         QPoint(cell.right() - 4, cell.bottom() - 3)})
        EXPECT_FALSE(grid->indexAt(blank).isValid()) << blank.x() << "," << blank.y();
    click(cell.topLeft() + QPoint(3, 3));
    EXPECT_TRUE(selectedNames().isEmpty());
}

TEST_F(IconViewTest, ClicksSelectControlTogglesAndShiftToggles) {
    click(onIcon("a"));
    click(onIcon("c"), Qt::ControlModifier);
    EXPECT_EQ(selectedNames(), QStringList({"a", "c"}));
    click(onIcon("a"), Qt::ShiftModifier);
    EXPECT_EQ(selectedNames(), QStringList({"c"}));
    click(onIcon("b"));
    EXPECT_EQ(selectedNames(), QStringList({"b"}));
    click(QPoint(grid->width() - 3, 20)); // blank space above the first row
    EXPECT_TRUE(selectedNames().isEmpty());
}

TEST_F(IconViewTest, ControlClickInAnInactiveWindowSelectsTheIconAlone) {
    click(onIcon("a"));
    QWidget other;
    uikittest::activate(&other);
    ASSERT_FALSE(area.isActiveWindow());
    click(onIcon("c"), Qt::ControlModifier);
    EXPECT_EQ(selectedNames(), QStringList({"c"}));
    // Shift with it toggles, active or not.
    click(onIcon("d"), Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(selectedNames(), QStringList({"c", "d"}));
}

TEST_F(IconViewTest, DoubleActionOnlyWhenTheIconIsSelectedAtTheSecondRelease) {
    QSignalSpy opened(grid, &IconView::doubleAction);
    doubleClick(onIcon("b"));
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(selectedNames(), QStringList({"b"}));
    // Ctrl toggles at each press: an unselected icon is selected and then not.
    doubleClick(onIcon("c"), Qt::ControlModifier);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(selectedNames(), QStringList({"b"}));
    // ... and a selected one is deselected and selected again: it opens.
    doubleClick(onIcon("b"), Qt::ControlModifier);
    EXPECT_EQ(opened.count(), 2);
    // A double click on blank space opens nothing.
    doubleClick(QPoint(grid->width() - 3, 20));
    EXPECT_EQ(opened.count(), 2);
    click(onIcon("e"));
    key(Qt::Key_Return);
    EXPECT_EQ(opened.count(), 3);
}

TEST_F(IconViewTest, RightClickReplacesTheSelectionUnlessTheIconIsPartOfIt) {
    QMenu menu;
    menu.addAction("Open");
    grid->setMenu(&menu);
    auto rightClick = [&](const QPoint &point) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, grid->mapToGlobal(point));
        QApplication::sendEvent(grid, &event);
        EXPECT_TRUE(menu.isVisible());
        menu.hide();
    };
    click(onIcon("a"));
    click(onIcon("b"), Qt::ControlModifier);
    rightClick(onIcon("b"));
    EXPECT_EQ(selectedNames(), QStringList({"a", "b"}));
    rightClick(onIcon("d"));
    EXPECT_EQ(selectedNames(), QStringList({"d"}));
    rightClick(QPoint(grid->width() - 3, 20));
    EXPECT_TRUE(selectedNames().isEmpty());
}

TEST_F(IconViewTest, ArrowsMoveAcrossSectionsAndSkipClosedOnes) {
    model.appendRow(section("zeta", {"z1"}));
    grid->setExpanded(id("zeta"), true);
    pumpFor(20ms); // the scroll area gives the grid its new height
    click(onIcon("SQL Query"));
    key(Qt::Key_Down);
    EXPECT_EQ(selectedNames(), QStringList({"a"}));
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    EXPECT_EQ(selectedNames(), QStringList({"c"}));
    key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(selectedNames(), QStringList({"b", "c"}));
    click(onIcon("e"));
    key(Qt::Key_Down); // over the closed "sales" into "zeta"
    EXPECT_EQ(selectedNames(), QStringList({"z1"}));
    key(Qt::Key_Down); // nothing further down
    EXPECT_EQ(selectedNames(), QStringList({"z1"}));
    key(Qt::Key_Up);
    key(Qt::Key_Up);
    EXPECT_EQ(selectedNames(), QStringList({"a"}));
    // Other keys go on to the parent: the scroll area pages down.
    const int scrolled = area.verticalScrollBar()->value();
    ASSERT_LT(scrolled, area.verticalScrollBar()->maximum());
    key(Qt::Key_PageDown);
    EXPECT_GT(area.verticalScrollBar()->value(), scrolled);
}

TEST_F(IconViewTest, AHeaderOpensOnReleaseOverItAndNotWhenDraggedAway) {
    QRect header;
    const int salesTop = 30 + 115 + 40 + 2 * 115;
    ASSERT_EQ(grid->sectionAt(QPoint(100, salesTop + 5), &header), named("sales"));
    auto shade = [&] { return grid->grab().toImage().pixelColor(header.center().x() + 150, header.center().y()); };
    const QColor plain = shade();
    QTest::mousePress(grid, Qt::LeftButton, {}, header.center());
    EXPECT_NE(shade(), plain); // highlighted while pressed
    QTest::mouseMove(grid, header.center() + QPoint(0, 60));
    EXPECT_EQ(shade(), plain);
    QTest::mouseMove(grid, header.center());
    EXPECT_NE(shade(), plain);
    QTest::mouseMove(grid, header.center() + QPoint(0, 60));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, header.center() + QPoint(0, 60));
    EXPECT_FALSE(grid->isExpanded(id("sales")));
    EXPECT_EQ(shade(), plain);

    QTest::mouseClick(grid, Qt::LeftButton, {}, header.center());
    EXPECT_TRUE(grid->isExpanded(id("sales")));
    EXPECT_FALSE(grid->visualRect(named("orders")).isEmpty());
    EXPECT_EQ(shade(), plain);
}

TEST_F(IconViewTest, SelectionAndOpenSectionsFollowIdentityThroughChangesOfTheModel) {
    click(onIcon("c"));
    click(onIcon("orders"), Qt::ControlModifier); // closed: not clickable
    EXPECT_EQ(selectedNames(), QStringList({"c"}));
    // "c" goes and comes back as a new item; a new section arrives in between.
    QStandardItem *publicSection = model.itemFromIndex(named("public"));
    publicSection->removeRow(2);
    EXPECT_TRUE(selectedNames().isEmpty());
    EXPECT_EQ(grid->selectedIdentities(), QVariantList({id("c")}));
    model.insertRow(1, section("inventory", {"stock"}));
    publicSection->insertRow(0, icon("c"));
    EXPECT_EQ(selectedNames(), QStringList({"c"}));
    EXPECT_TRUE(grid->isExpanded(id("public")));
    EXPECT_FALSE(grid->isExpanded(id("inventory")));
    // A selected icon inside a closed section stays selected but is not listed.
    grid->setExpanded(id("sales"), true);
    click(onIcon("orders"), Qt::ControlModifier);
    grid->setExpanded(id("sales"), false);
    EXPECT_EQ(selectedNames(), QStringList({"c"}));
    EXPECT_EQ(grid->selectedIdentities().size(), 2);
}

TEST_F(IconViewTest, FocusSelectsTheFirstIconAndSelectionColoursFollowTheWindow) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(200, 30, 30));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(30, 160, 30));
    grid->setPalette(palette);
    grid->setFocus();
    pumpFor(20ms);
    ASSERT_EQ(selectedNames(), QStringList({"SQL Query"}));
    const QRect cell = grid->visualRect(named("SQL Query"));
    // The name box's colour, a little inside its left edge.
    const int y = cell.bottom() + 1 - IconViewCell::textHeight(grid->font()) + 8;
    auto nameFill = [&] {
        const QImage image = grid->grab().toImage();
        for (int x = cell.left(); x < cell.center().x(); ++x) {
            if (image.pixelColor(x, y) != palette.color(QPalette::Base))
                return image.pixelColor(x + 2, y);
        }
        return QColor();
    };
    EXPECT_EQ(nameFill(), QColor(200, 30, 30));
    QWidget other;
    uikittest::activate(&other);
    pumpFor(20ms);
    EXPECT_EQ(nameFill(), QColor(30, 160, 30));
    uikittest::activate(&area);
    pumpFor(20ms);
    EXPECT_EQ(nameFill(), QColor(200, 30, 30));
}

TEST(IconViewCell, ALongUnderscoreNameWrapsBetweenWordsAndEndsInAnEllipsis) {
    uikittest::useFixedLook();
    const QFont font = QApplication::font();
    const QStringList three =
        IconViewCell::nameLines("customer_order_line_items_archive_before_the_migration_of_2019", font, 126);
    ASSERT_EQ(three.size(), 3);
    EXPECT_TRUE(three[0].endsWith(u'_')) << three[0].toStdString();
    EXPECT_TRUE(three[0].startsWith("customer_")) << three[0].toStdString();
    EXPECT_TRUE(three[2].endsWith(QStringLiteral("…"))) << three[2].toStdString();
    for (const QString &line : three)
        EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), 126) << line.toStdString();
    EXPECT_EQ(IconViewCell::nameLines("orders", font, 126), QStringList({"orders"}));
    EXPECT_EQ(IconViewCell::nameLines("two\nlines", font, 126), QStringList({"two lines"}));
    EXPECT_TRUE(IconViewCell::nameLines("", font, 126).isEmpty());
}

TEST(IconViewCell, ImagesShrinkToFitAndNeverGrow) {
    uikittest::useFixedLook();
    const QFont font = QApplication::font();
    const QRect frame(5, 30, 126, 115);
    const int h3 = IconViewCell::textHeight(font);
    const auto small = IconViewCell::measure(frame, QSize(32, 32), {"x"}, font);
    EXPECT_EQ(small.icon.size(), QSize(32, 32));
    EXPECT_EQ(small.icon.center().x(), frame.center().x());
    EXPECT_EQ(small.icon.bottom() + 1, frame.y() + 115 - (h3 + 8)); // resting on the text area's gap
    const auto large = IconViewCell::measure(frame, QSize(512, 256), {"x"}, font);
    EXPECT_EQ(large.icon.width(), 126);
    EXPECT_EQ(large.icon.height(), 63);
    EXPECT_EQ(large.iconHit.bottom() + 1, large.text.top());
    EXPECT_EQ(large.text, QRect(5, 30 + 115 - h3, 126, h3));
}

TEST_F(IconViewTest, LooksRightInALightAndADarkPalette) {
    model.itemFromIndex(named("public"))->appendRow(icon("customer_order_line_items_archive_before_the_migration"));
    grid->setExpanded(id("sales"), true);
    click(onIcon("b"));
    click(onIcon("c"), Qt::ControlModifier);
    grid->setFocus();
    area.resize(area.width(), 760);
    pumpFor(30ms);
    EXPECT_TRUE(saveScreenshot(&area, "uikit", "icon-view.png"));
    area.setPalette(darkPalette());
    grid->setPalette(darkPalette());
    pumpFor(30ms);
    EXPECT_TRUE(saveScreenshot(&area, "uikit", "icon-view-dark.png"));
}
