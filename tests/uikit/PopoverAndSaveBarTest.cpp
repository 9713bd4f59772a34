#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/ZNTPopover.h"
#include "uikit/ZNTSaveBarView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A window with an anchor near its middle and a popover with a field and a
// button that closes it.
class Popover : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        auto *layout = new QVBoxLayout(&window);
        layout->addStretch();
        anchor = new QPushButton("Page 3 of 9");
        layout->addWidget(anchor);
        layout->addStretch();
        window.resize(400, 400);
        uikittest::activate(&window);
        ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));

        popover = new ZNTPopover(&window);
        auto *form = new QWidget;
        auto *formLayout = new QVBoxLayout(form);
        formLayout->addWidget(new QLabel("Go to page:"));
        field = new QLineEdit;
        formLayout->addWidget(field);
        go = new QPushButton("Go");
        formLayout->addWidget(go);
        QObject::connect(go, &QPushButton::clicked, popover, &ZNTPopover::performClose);
        popover->setContentView(form);
    }

    QWidget window;
    QPushButton *anchor = nullptr;
    ZNTPopover *popover = nullptr;
    QLineEdit *field = nullptr;
    QPushButton *go = nullptr;
};

} // namespace

TEST_F(Popover, OpensBesideItsAnchorWithTheFocusInItsFirstField) {
    popover->showRelativeToRect({}, anchor, ZNTPopover::Edge::Above);
    ASSERT_TRUE(pumpUntil([&] { return popover->isShown() && field->hasFocus(); }, 5s));
    const QRect at(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    EXPECT_LE(popover->geometry().bottom(), at.top());
    EXPECT_NEAR(popover->geometry().center().x(), at.center().x(), 2);
    EXPECT_TRUE(saveScreenshot(popover, QStringLiteral("uikit"), QStringLiteral("popover.png")));
    popover->performClose();

    const QRect segment(anchor->width() / 2 + 20, 0, 10, anchor->height());
    popover->showRelativeToRect(segment, anchor, ZNTPopover::Edge::Below);
    ASSERT_TRUE(pumpUntil([&] { return popover->isShown(); }, 5s));
    EXPECT_GE(popover->geometry().top(), at.bottom());
    EXPECT_NEAR(popover->geometry().center().x(), at.left() + segment.center().x(), 2);
}

TEST_F(Popover, NoRoomAboveOpensBelowAndNeverOffTheScreen) {
    const QRect screen = anchor->screen()->availableGeometry();
    window.move(screen.right() - 60, screen.top()); // anchor at the top right corner
    pumpFor(50ms);
    popover->showRelativeToRect({}, anchor, ZNTPopover::Edge::Above);
    ASSERT_TRUE(pumpUntil([&] { return popover->isShown(); }, 5s));
    EXPECT_GE(popover->geometry().top(), screen.top());
    EXPECT_LE(popover->geometry().right(), screen.right());
}

// An anchor beyond the screen's bottom (a window taller than the screen): the
// popover still opens in sight, where what is typed into it can be seen.
TEST_F(Popover, AnAnchorBelowTheScreenStillGetsItsPopoverInSight) {
    const QRect screen = anchor->screen()->availableGeometry();
    window.move(screen.left() + 20, screen.bottom() - 100); // the anchor lies below the bottom edge
    pumpFor(50ms);
    ASSERT_GT(anchor->mapToGlobal(QPoint(0, 0)).y(), screen.bottom());
    for (const auto edge : {ZNTPopover::Edge::Below, ZNTPopover::Edge::Above}) {
        popover->showRelativeToRect({}, anchor, edge);
        ASSERT_TRUE(pumpUntil([&] { return popover->isShown(); }, 5s));
        EXPECT_TRUE(screen.contains(popover->geometry())) << popover->geometry().y() << " " << screen.bottom();
        popover->performClose();
        ASSERT_TRUE(pumpUntil([&] { return !popover->isShown(); }, 5s));
    }
}

TEST_F(Popover, EscapeItsButtonOrAClickOutsideCloseItEachOnce) {
    QSignalSpy closed(popover, &ZNTPopover::didClose);
    popover->showRelativeToRect({}, anchor);
    ASSERT_TRUE(pumpUntil([&] { return field->hasFocus(); }, 5s));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(pumpUntil([&] { return !popover->isShown(); }, 5s));
    EXPECT_EQ(closed.count(), 1);

    popover->showRelativeToRect({}, anchor);
    ASSERT_TRUE(pumpUntil([&] { return popover->isShown(); }, 5s));
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_TRUE(pumpUntil([&] { return !popover->isShown(); }, 5s));
    EXPECT_EQ(closed.count(), 2);

    popover->showRelativeToRect({}, anchor);
    ASSERT_TRUE(pumpUntil([&] { return popover->isShown(); }, 5s));
    QTest::mouseClick(popover, Qt::LeftButton, {}, QPoint(-20, -20)); // outside it
    EXPECT_TRUE(pumpUntil([&] { return !popover->isShown(); }, 5s));
    EXPECT_EQ(closed.count(), 3);
}

TEST_F(Popover, OneThatStaysIgnoresClicksOutsideButNotEscape) {
    popover->setClosesOnOutsideClick(false);
    popover->showRelativeToRect({}, anchor);
    ASSERT_TRUE(pumpUntil([&] { return popover->isShown(); }, 5s));
    QTest::mouseClick(popover, Qt::LeftButton, {}, QPoint(-20, -20));
    pumpFor(100ms);
    EXPECT_TRUE(popover->isShown());
    QTest::keyClick(popover, Qt::Key_Escape);
    EXPECT_TRUE(pumpUntil([&] { return !popover->isShown(); }, 5s));
}

TEST(SaveBar, TellsWhatIsPendingAndWhichButtonWasPressedInBothPalettes) {
    uikittest::useFixedLook();
    ZNTSaveBarView bar;
    bar.setStatusText(QStringLiteral("2 new rows, 1 edited row, 3 deleted rows"));
    bar.resize(560, bar.sizeHint().height());
    QSignalSpy saved(&bar, &ZNTSaveBarView::saveClicked);
    QSignalSpy discarded(&bar, &ZNTSaveBarView::discardClicked);
    QWidget *previewSender = nullptr;
    QObject::connect(&bar, &ZNTSaveBarView::previewClicked, &bar, [&](QWidget *sender) { previewSender = sender; });
    uikittest::activate(&bar);
    ASSERT_TRUE(pumpUntil([&] { return bar.isActiveWindow(); }));
    QTest::mouseClick(bar.saveButton(), Qt::LeftButton);
    QTest::keyClick(&bar, Qt::Key_D, Qt::AltModifier);
    EXPECT_TRUE(pumpUntil([&] { return discarded.count() == 1; })); // a mnemonic clicks after a moment
    QTest::mouseClick(bar.previewButton(), Qt::LeftButton);
    EXPECT_EQ(saved.count(), 1);
    EXPECT_EQ(previewSender, bar.previewButton());
    // Every button and the whole text are visible at this width.
    EXPECT_GE(bar.statusField()->width(), bar.statusField()->sizeHint().width());
    EXPECT_TRUE(saveScreenshot(&bar, QStringLiteral("uikit"), QStringLiteral("save-bar.png")));
    bar.setPalette(darkPalette());
    for (QWidget *child : bar.findChildren<QWidget *>())
        child->setPalette(darkPalette());
    EXPECT_TRUE(saveScreenshot(&bar, QStringLiteral("uikit"), QStringLiteral("save-bar-dark.png")));

    bar.setBusy(true);
    QTest::mouseClick(bar.saveButton(), Qt::LeftButton);
    EXPECT_EQ(saved.count(), 1);
    EXPECT_EQ(bar.statusText(), "2 new rows, 1 edited row, 3 deleted rows");
}
