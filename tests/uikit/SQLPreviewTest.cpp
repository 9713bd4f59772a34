#include "uikit/SQLPreview.h"
#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/Beep.h"
#include "uikit/SQLPreviewTextField.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A page with pending changes, a field being edited and the preview button.
class Page : public QWidget, public SQLPreviewOwner {
public:
    Page() {
        field = new QLineEdit;
        field->setValidator(new QIntValidator(10, 99, field));
        button = new QPushButton("SQL");
        grid = new QTableWidget(3, 2);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(field);
        layout->addWidget(grid);
        layout->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, this, [this] { showSQLPreview(button); });
        resize(400, 300);
    }
    QString sqlPreviewString() override { return sql; }
    QWidget *sqlPreviewView() override { return this; }
    bool sqlPreviewCanShow() override { return canShow; }

    QString sql = QStringLiteral("UPDATE \"films\" SET \"title\" = 'Alien' WHERE \"id\" = 7;\n");
    bool canShow = true;
    QLineEdit *field;
    QPushButton *button;
    QTableWidget *grid;
};

SQLPreviewPopoverViewController *openPopover() {
    return qobject_cast<SQLPreviewPopoverViewController *>(QApplication::activePopupWidget());
}

QWidget *panelWindow() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->windowTitle() == QLatin1String("SQL Preview") && !qobject_cast<SQLPreviewPopoverViewController *>(w))
            return w;
    return nullptr;
}

class SQLPreview : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        setBeepHook([this] { ++beeps; });
        uikittest::activate(&page);
        ASSERT_TRUE(pumpUntil([&] { return page.isActiveWindow(); }));
    }
    void TearDown() override {
        setBeepHook({});
        if (SQLPreviewPanelController *panel = SQLPreviewPanelController::visibleController())
            panel->close();
    }

    Page page;
    int beeps = 0;
};

} // namespace

TEST_F(SQLPreview, AskingForTheVisiblePanelMakesNoWindow) {
    EXPECT_EQ(SQLPreviewPanelController::visibleController(), nullptr);
    EXPECT_EQ(panelWindow(), nullptr);
}

TEST_F(SQLPreview, ThePopoverShowsTheSQLAndClosesOnEscape) {
    QTest::mouseClick(page.button, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return openPopover() != nullptr; }));
    SQLPreviewPopoverViewController *popover = openPopover();
    EXPECT_EQ(popover->sqlField()->toPlainText(), page.sql);
    EXPECT_TRUE(popover->sqlField()->isReadOnly());
    popover->grab().save(screenshotPath("uikit", "sql-preview-popover.png"));
    QTest::keyClick(popover, Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return openPopover() == nullptr; }));
    EXPECT_EQ(beeps, 0);

    page.sql.clear(); // nothing pending: an empty preview, no beep
    QTest::mouseClick(page.button, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return openPopover() != nullptr; }));
    EXPECT_EQ(openPopover()->sqlField()->toPlainText(), "");
    openPopover()->close();
}

TEST_F(SQLPreview, TheGridKeepsTakingKeysOnceThePopoverCloses) {
    auto previewAndEscape = [&] {
        page.showSQLPreview(page.button);
        ASSERT_TRUE(pumpUntil([&] { return openPopover() != nullptr; }));
        QTest::keyClick(openPopover(), Qt::Key_Escape);
        ASSERT_TRUE(pumpUntil([&] { return openPopover() == nullptr && page.grid->hasFocus(); }));
    };
    page.grid->setFocus();
    page.grid->setCurrentCell(0, 0);
    previewAndEscape();
    QTest::keyClick(page.grid, Qt::Key_Down);
    EXPECT_EQ(page.grid->currentRow(), 1);

    // A cell being typed into is kept, and the keys go on to the grid.
    page.grid->setItem(1, 0, new QTableWidgetItem);
    page.grid->editItem(page.grid->item(1, 0));
    ASSERT_TRUE(pumpUntil([&] { return page.grid->isAncestorOf(QApplication::focusWidget()); }));
    QTest::keyClicks(QApplication::focusWidget(), "Alien");
    previewAndEscape();
    EXPECT_EQ(page.grid->item(1, 0)->text(), "Alien");
    QTest::keyClick(page.grid, Qt::Key_Down);
    EXPECT_EQ(page.grid->currentRow(), 2);
}

TEST_F(SQLPreview, ARefusingEditorOrNothingToShowBeepsAndShowsNothing) {
    page.field->setFocus();
    QTest::keyClicks(page.field, "5"); // too small: the field will not let go
    page.showSQLPreview(page.button);
    pumpFor(30ms);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(openPopover(), nullptr);
    EXPECT_TRUE(page.field->hasFocus());

    QTest::keyClicks(page.field, "5");
    page.canShow = false;
    page.showSQLPreview(page.button);
    pumpFor(30ms);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(openPopover(), nullptr);
}

TEST_F(SQLPreview, DetachingMakesThePanelWhichFollowsChangesAndTheButtonClosesIt) {
    QTest::mouseClick(page.button, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return openPopover() != nullptr; }));
    openPopover()->detach();
    ASSERT_TRUE(pumpUntil([&] { return SQLPreviewPanelController::visibleController() != nullptr; }));
    EXPECT_EQ(openPopover(), nullptr);
    SQLPreviewPanelController *panel = SQLPreviewPanelController::visibleController();
    EXPECT_EQ(panel, SQLPreviewPanelController::sharedController());
    EXPECT_EQ(panel->sqlField()->toPlainText(), page.sql);
    EXPECT_EQ(panelWindow(), panel->window());
    panel->window()->grab().save(screenshotPath("uikit", "sql-preview-panel.png"));

    page.sql = QStringLiteral("DELETE FROM \"films\" WHERE \"id\" = 8;\n");
    page.refreshSQLPreviewPanel();
    EXPECT_EQ(panel->sqlField()->toPlainText(), page.sql);

    page.showSQLPreview(page.button); // the button toggles the panel off
    pumpFor(30ms);
    EXPECT_EQ(SQLPreviewPanelController::visibleController(), nullptr);
    EXPECT_EQ(openPopover(), nullptr);
    page.sql = QStringLiteral("changed while hidden");
    page.refreshSQLPreviewPanel();
    EXPECT_NE(panel->sqlField()->toPlainText(), page.sql) << "a hidden panel is left alone";
}
