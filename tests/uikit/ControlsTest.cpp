#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/ElidingLabel.h"
#include "uikit/ImageAndTextCell.h"
#include "uikit/SplitViewWithoutDivider.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTControlledView.h"

#include <QListView>
#include <QPainter>
#include <QStandardItemModel>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ControlledView, TheLastControllerSetIsTheOneActionsReach) {
    ZNTControlledView view;
    QObject first, second;
    EXPECT_EQ(ZNTControlledView::controllerOf(&view), nullptr);
    view.setViewController(&first);
    view.setViewController(&second);
    EXPECT_EQ(ZNTControlledView::controllerOf(&view), &second);
    QWidget plain;
    EXPECT_EQ(ZNTControlledView::controllerOf(&plain), nullptr);
    {
        QObject gone;
        view.setViewController(&gone);
    }
    EXPECT_EQ(view.viewController(), nullptr) << "a controller that went is not called";
}

TEST(ImageAndTextCell, IconFourInCentredTextAt22) {
    uikittest::useFixedLook();
    QStandardItemModel model;
    QPixmap red(16, 16);
    red.fill(Qt::red);
    auto *item = new QStandardItem(QIcon(red), "films");
    item->setSizeHint(QSize(200, 20));
    model.appendRow(item);
    QListView list;
    list.setModel(&model);
    list.setItemDelegate(new ImageAndTextCell(&list));
    list.setIconSize(QSize(16, 16));
    list.resize(200, 60);
    list.show();
    const QImage image = list.viewport()->grab().toImage();
    const QRect cell = list.visualRect(model.index(0, 0));
    EXPECT_EQ(ImageAndTextCell::iconRect(cell, {16, 16}).topLeft(), cell.topLeft() + QPoint(4, 2));
    EXPECT_EQ(image.pixelColor(cell.topLeft() + QPoint(4, 2)), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(cell.topLeft() + QPoint(19, 17)), QColor(Qt::red));
    EXPECT_NE(image.pixelColor(cell.topLeft() + QPoint(3, 2)), QColor(Qt::red));
    int textLeft = cell.width();
    for (int x = 21; x < cell.width(); ++x)
        for (int y = 0; y < cell.height(); ++y)
            if (qGray(image.pixel(cell.x() + x, cell.y() + y)) < 100)
                textLeft = std::min(textLeft, x);
    EXPECT_GE(textLeft, 22);
    EXPECT_LT(textLeft, 30);
}

TEST(SmallControls, SplitterPanesMeetAndTheSpinnerStartsByItself) {
    SplitViewWithoutDivider split;
    auto *left = new QWidget;
    auto *right = new QWidget;
    split.addWidget(left);
    split.addWidget(right);
    split.resize(300, 100);
    split.show();
    ASSERT_TRUE(pumpUntil([&] { return left->width() > 0; }));
    EXPECT_EQ(right->x(), left->width());

    ZNTAnimatingIndicator spinner;
    EXPECT_TRUE(spinner.isAnimating());
    spinner.resize(16, 16);
    spinner.show();
    const QImage a = spinner.grab().toImage();
    pumpFor(200ms);
    const QImage b = spinner.grab().toImage();
    EXPECT_NE(a, b) << "it turns";
    spinner.stopAnimation();
    const QImage stopped = spinner.grab().toImage();
    QImage empty(stopped.size(), stopped.format());
    empty.fill(spinner.palette().color(QPalette::Window));
    EXPECT_EQ(stopped, empty);
}

// The rightmost column that holds ink darker than the label's background.
static int lastInkColumn(const QImage &image) {
    for (int x = image.width() - 1; x >= 0; --x)
        for (int y = 0; y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128)
                return x;
    return -1;
}

TEST(ElidingLabel, ASqueezedCountEndsInAnEllipsisAndNeverInACutDigit) {
    uikittest::useFixedLook();
    const QString count = QStringLiteral("Rows 1-1000 of 250000");
    ElidingLabel label;
    label.setText(count);
    const int fullWidth = label.fontMetrics().horizontalAdvance(count);
    label.resize(fullWidth + 20, 24);
    label.show();
    EXPECT_EQ(label.shownText(), count);
    EXPECT_LT(lastInkColumn(label.grab().toImage()), fullWidth + 2);

    // Squeezed by a bar through the middle of the last digit.
    label.resize(fullWidth - label.fontMetrics().horizontalAdvance(QStringLiteral("0")) / 2, 24);
    const QString shown = label.shownText();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(count.startsWith(shown.chopped(1))) << shown.toStdString();
    EXPECT_EQ(label.text(), count) << "the whole text stays the label's text";
    const QImage squeezed = label.grab().toImage();
    EXPECT_LE(lastInkColumn(squeezed), label.fontMetrics().horizontalAdvance(shown) + 1)
        << "nothing is painted past the ellipsis, as a glyph cut at the edge would be";
    EXPECT_GE(lastInkColumn(squeezed), label.fontMetrics().horizontalAdvance(shown.chopped(1)))
        << "the ellipsis is painted";
}
