// Scroll bars as the user sees them, on the database page's icons and on a
// table's grid, over tables of the test server: at the top, in the middle and at
// the end, in the light and the dark palette, at 1x and 2x, the thumb reads
// against its groove (3:1 at least, as a control's parts must) and lies where
// the scroll position says, once.
#include "OverviewTestSupport.h"
#include "TablePageTestSupport.h"
#include "browser/ZNTDatabaseViewController.h"
#include "uikit/IconView.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>

using namespace std::chrono_literals;

namespace {

QStyleOptionSlider optionOf(const QScrollBar *bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.upsideDown = bar->invertedAppearance();
    return option;
}

QRect scaled(const QRect &rect, int ratio) {
    return {rect.topLeft() * ratio, rect.size() * ratio};
}

// The vertical bar as its window shows it (a grab of the window, at 1x) or
// drawn on its own at 2x.
QImage shotOf(QScrollBar *bar, int ratio) {
    if (ratio == 1)
        return bar->window()->grab().toImage().copy(QRect(bar->mapTo(bar->window(), QPoint()), bar->size()));
    QImage image(bar->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::magenta);
    bar->render(&image);
    image.setDevicePixelRatio(1);
    return image;
}

// The thumb's colour in shot, checked against the groove before and after it,
// and the one run of pixels along the bar's middle that stand out from the
// groove: from the thumb's start to its end, nowhere else.
QColor expectReadableThumb(QScrollBar *bar, const QImage &shot, int ratio, const std::string &where) {
    SCOPED_TRACE(where);
    const QStyleOptionSlider option = optionOf(bar);
    const QRect groove = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, bar);
    const QRect slider = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    EXPECT_GT(slider.height(), 12);
    const QColor thumb = commonColour(shot, scaled(slider.adjusted(4, 4, -4, -4), ratio));
    QColor ground;
    const QRect before(groove.left(), groove.top(), groove.width(), slider.top() - groove.top());
    const QRect after(groove.left(), slider.bottom() + 1, groove.width(), groove.bottom() - slider.bottom());
    for (const QRect &part : {before, after}) {
        if (part.height() < 6)
            continue;
        ground = commonColour(shot, scaled(part.adjusted(4, 2, -4, -2), ratio));
        EXPECT_GE(wcagContrast(thumb, ground), 3.0)
            << "thumb " << thumb.name().toStdString() << " on groove " << ground.name().toStdString();
    }
    EXPECT_TRUE(ground.isValid()) << "no groove beside the thumb";
    int first = -1, last = -1, runs = 0;
    const int x = scaled(groove, ratio).center().x();
    for (int y = groove.top() * ratio; y < (groove.bottom() + 1) * ratio; ++y) {
        const bool stands = wcagContrast(shot.pixelColor(x, y), ground) >= 2.0;
        if (stands && last != y - 1) {
            ++runs;
            first = first < 0 ? y : first;
        }
        last = stands ? y : last;
    }
    EXPECT_EQ(runs, 1);
    EXPECT_NEAR(first, slider.top() * ratio, 2 * ratio);
    EXPECT_NEAR(last, (slider.bottom() + 1) * ratio - 1, 2 * ratio);
    return thumb;
}

// At the top, in the middle and at the end, in both palettes and scales, and a
// pressed thumb in the middle.
void expectReadableThumbs(QScrollBar *bar, const QString &name) {
    // A view lays its scroll bars out a moment after its rows arrive.
    ASSERT_TRUE(pumpUntil([&] { return bar->isVisible() && bar->maximum() > 0; }, 5s))
        << "visible " << bar->isVisible() << ", maximum " << bar->maximum();
    const QPalette light = QApplication::palette();
    for (bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : light);
        for (int value : {0, bar->maximum() / 2, bar->maximum()}) {
            bar->setValue(value);
            pumpFor(30ms);
            const bool top = value == 0, end = value == bar->maximum();
            const std::string where = QStringLiteral("%1 at %2 of %3%4")
                                          .arg(name)
                                          .arg(value)
                                          .arg(bar->maximum())
                                          .arg(dark ? QStringLiteral(", dark") : QString())
                                          .toStdString();
            const QStyleOptionSlider option = optionOf(bar);
            const QRect groove =
                bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, bar);
            const QRect slider =
                bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
            EXPECT_EQ(slider.top() == groove.top(), top) << where;
            EXPECT_EQ(slider.bottom() == groove.bottom(), end) << where;
            const QImage shot = shotOf(bar, 1);
            saveScreenshot(bar->window(), QStringLiteral("browser"),
                           QStringLiteral("scroll-%1-%2%3.png")
                               .arg(name)
                               .arg(top   ? "top"
                                    : end ? "end"
                                          : "middle",
                                    dark ? "-dark" : ""));
            const QColor thumb = expectReadableThumb(bar, shot, 1, where);
            expectReadableThumb(bar, shotOf(bar, 2), 2, where + " at 2x");
            if (top || end)
                continue;
            QTest::mousePress(bar, Qt::LeftButton, {}, slider.center());
            const QColor pressed = expectReadableThumb(bar, shotOf(bar, 1), 1, where + ", pressed");
            QTest::mouseRelease(bar, Qt::LeftButton, {}, slider.center());
            EXPECT_NE(pressed, thumb) << where << ": a pressed thumb looks as one at rest";
        }
    }
    QApplication::setPalette(light);
}

class DatabasePageScrollBars : public ::testing::Test {
protected:
    void SetUp() override {
        windowtest::resetWindowDefaults();
        uikittest::useFixedLook();
    }
    void TearDown() override { window.reset(); }

    overviewtest::InstalledPages pages;
    ScratchDatabase db;
    std::shared_ptr<ZNTWindowController> window;
};

class TableGridScrollBars : public pagetest::TablePageTest {};

} // namespace

// The icons only just overflow the page: the thumb is most of the groove, the
// case where a thumb drawn like the groove leaves the groove's ends to read as
// thumbs at the wrong end.
TEST_F(DatabasePageScrollBars, IconsThatJustOverflowShowOneThumbWhereTheScrollPositionSays) {
    QString tables;
    for (int i = 1; i <= 24; ++i)
        tables += QStringLiteral("CREATE TABLE public.item%1 (id int);").arg(i);
    db.run(tables);
    window = ZNTWindowController::create(connectedServer(db.name)->mainDatabase());
    window->resize(900, 640);
    uikittest::activate(window.get());
    auto *page = dynamic_cast<ZNTDatabaseViewController *>(window->mainViewController());
    ASSERT_TRUE(page);
    ASSERT_TRUE(pumpUntil([&] { return page->initialQueryDone(); }, 30s));
    auto *area = qobject_cast<QScrollArea *>(page->iconView()->parentWidget()->parentWidget());
    ASSERT_TRUE(area);
    QScrollBar *bar = area->verticalScrollBar();
    ASSERT_TRUE(pumpUntil([&] { return bar->isVisible() && bar->maximum() > 0; }, 5s));
    pumpFor(50ms);
    ASSERT_LT(bar->maximum(), bar->pageStep()) << "the icons overflow by more than a page";
    expectReadableThumbs(bar, QStringLiteral("icons"));
}

TEST_F(TableGridScrollBars, ARowGridShowsOneThumbWhereTheScrollPositionSays) {
    db.run(QStringLiteral("CREATE TABLE public.readings (id int PRIMARY KEY, note text);"
                          "INSERT INTO public.readings SELECT i, 'reading ' || i FROM generate_series(1, 60) i;"));
    ASSERT_NO_FATAL_FAILURE(open(QStringLiteral("readings")));
    expectReadableThumbs(grid()->verticalScrollBar(), QStringLiteral("grid"));
}
