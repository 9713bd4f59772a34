// The filter bar as a user drives it with the keyboard, in a plain window on a
// table of the test server.
#include "FilterTestSupport.h"
#include "browser/ZNTFilterController.h"
#include "support/Screenshots.h"
#include "uikit/UikitTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace filtertest;
using namespace std::chrono_literals;

namespace {

const char *kTable = R"(CREATE TABLE t (n int PRIMARY KEY, name text, amount numeric, active boolean,
                                       photo bytea, gone text);
                        INSERT INTO t SELECT g, 'name ' || g, g * 2, g % 2 = 0, NULL, NULL
                        FROM generate_series(1, 20) g;)";

class RecordingDelegate : public ZNTFilterControllerDelegate {
public:
    void filterControllerDidClickFind(ZNTFilterController &) override { ++finds; }
    void filterControllerDidRemoveLastFilter(ZNTFilterController &) override { ++removals; }
    int finds = 0;
    int removals = 0;
};

// The bar above a stand-in for the grid, as the table page will host it.
class FilterBar : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        FilterBarModel::setFindText(QString());
        db.run(kTable);
        ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "t"));
    }

    void show(int width = 720) {
        controller = std::make_unique<ZNTFilterController>(loaded.table);
        controller->setDelegate(&delegate);
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(controller->view());
        auto *grid = new QTableWidget(6, 4);
        grid->setHorizontalHeaderLabels({"n", "name", "amount", "active"});
        layout->addWidget(grid, 1);
        window.resize(width, 320);
        uikittest::activate(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    ZNTFilterView *row(int i) const { return controller->filterViews().value(i); }
    QWidget *focus() const { return window.focusWidget(); }
    QString describeRow(int i) const {
        ZNTFilterView *r = row(i);
        const QComboBox *op = r->detailOperatorPopupButton();
        return QStringLiteral("%1 | %2 | %3 | %4")
            .arg(r->popupButton()->currentText(), r->detailViewNibName(), op ? op->currentText() : "-",
                 r->detailTextField()->isHidden() ? "(hidden)" : r->detailTextField()->text());
    }
    // Opens a popup of the bar from the keyboard and chooses the item of that text.
    void choose(QComboBox *popup, const QString &text) {
        popup->setFocus();
        QTest::keyClick(popup, Qt::Key_Down);
        ASSERT_TRUE(pumpUntil([&] { return popup->view()->isVisible(); }, 5s));
        const int target = popup->findText(text);
        ASSERT_GE(target, 0) << text.toStdString();
        while (popup->view()->currentIndex().row() != target) {
            const int before = popup->view()->currentIndex().row();
            QTest::keyClick(popup->view(), before < target ? Qt::Key_Down : Qt::Key_Up);
            ASSERT_NE(popup->view()->currentIndex().row(), before);
        }
        QTest::keyClick(popup->view(), Qt::Key_Return);
        // The offscreen platform does not give the window back its activation
        // when a popup closes, as window managers do.
        ASSERT_TRUE(pumpUntil([&] { return !popup->view()->isVisible(); }, 5s));
        uikittest::activate(&window);
        pumpFor(20ms);
    }
    void settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pumpFor(20ms);
    }

    ScratchDatabase db;
    LoadedTable loaded;
    RecordingDelegate delegate;
    QWidget window;
    std::unique_ptr<ZNTFilterController> controller;
};

} // namespace

TEST_F(FilterBar, FirstRowSearchesAnyColumnForTheLastTextSearched) {
    show();
    ASSERT_EQ(controller->filterViews().size(), 1);
    EXPECT_EQ(describeRow(0), "Any Column | AnyColumnFilterDetailView | contains | ");
    EXPECT_TRUE(controller->makeFirstResponder());
    EXPECT_EQ(focus(), controller->firstTextField());

    // Typing edits the filter; Return runs the filters and leaves the text for
    // the next bar.
    QTest::keyClicks(focus(), "name 1");
    EXPECT_EQ(controller->filters().first()->stringValue(), "name 1");
    QTest::keyClick(focus(), Qt::Key_Return);
    EXPECT_EQ(delegate.finds, 1);
    EXPECT_EQ(FilterBarModel::findText(), "name 1");
    const Outcome outcome = runFiltered(loaded, controller->filters());
    EXPECT_EQ(keys(outcome.rows), QStringList({"1", "10", "11", "12", "13", "14", "15", "16", "17", "18", "19"}));

    ZNTFilterController next(loaded.table);
    next.view();
    EXPECT_EQ(next.filters().first()->stringValue(), "name 1");
    EXPECT_EQ(next.firstTextField()->text(), "name 1");
}

TEST_F(FilterBar, TabVisitsEveryControlInRowOrderThenTheBarsButtons) {
    show();
    controller->makeFirstResponder();
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), row(0)->removeButton());
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), row(0)->addButton());
    QTest::keyClick(focus(), Qt::Key_Space); // add a row
    settle();
    ASSERT_EQ(controller->filterViews().size(), 2);
    EXPECT_EQ(focus(), row(1)->detailTextField());
    QTest::keyClick(focus(), Qt::Key_Tab);
    QTest::keyClick(focus(), Qt::Key_Tab);
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), controller->filterButton());
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), controller->fileMenuButton());
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(focus(), Qt::Key_Backtab);
    EXPECT_EQ(focus(), row(1)->detailTextField());
    QTest::keyClick(focus(), Qt::Key_Backtab);
    EXPECT_EQ(focus(), row(1)->detailOperatorPopupButton());
    QTest::keyClick(focus(), Qt::Key_Backtab);
    EXPECT_EQ(focus(), row(1)->popupButton());
    QTest::keyClick(focus(), Qt::Key_Backtab);
    EXPECT_EQ(focus(), row(0)->addButton());

    // Space on the Filter button runs the filters.
    controller->filterButton()->setFocus();
    QTest::keyClick(focus(), Qt::Key_Space);
    EXPECT_EQ(delegate.finds, 1);
}

TEST_F(FilterBar, AddCopiesTheRowWithoutItsValueAndRemovingTheLastRowAsksToHideTheBar) {
    show();
    choose(row(0)->popupButton(), "name");
    EXPECT_EQ(describeRow(0), "name | TextFilterDetailView | contains | ");
    EXPECT_EQ(focus(), row(0)->detailTextField());
    QTest::keyClicks(focus(), "x");
    QTest::mouseClick(row(0)->addButton(), Qt::LeftButton);
    settle();
    ASSERT_EQ(controller->filterViews().size(), 2);
    EXPECT_EQ(describeRow(0), "name | TextFilterDetailView | contains | x");
    EXPECT_EQ(describeRow(1), "name | TextFilterDetailView | contains | ");
    EXPECT_EQ(focus(), row(1)->detailTextField());
    EXPECT_EQ(controller->filters()[0]->column(), controller->filters()[1]->column());

    // Running from the second row does not touch the find text: the first row
    // is no search of any column.
    QTest::keyClick(focus(), Qt::Key_Return);
    EXPECT_EQ(delegate.finds, 1);
    EXPECT_EQ(FilterBarModel::findText(), "");

    row(1)->removeButton()->setFocus();
    QTest::keyClick(focus(), Qt::Key_Space);
    settle();
    ASSERT_EQ(controller->filterViews().size(), 1);
    EXPECT_EQ(delegate.removals, 0);
    QTest::mouseClick(row(0)->removeButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(delegate.removals, 1);
    ASSERT_EQ(controller->filterViews().size(), 1) << "the only row stays";
    EXPECT_EQ(describeRow(0), "name | TextFilterDetailView | contains | x");
}

TEST_F(FilterBar, SwitchingToSQLStartsFromTheRowsConditionAndBackClearsIt) {
    show();
    choose(row(0)->popupButton(), "name");
    QTest::keyClicks(focus(), "x");
    choose(row(0)->popupButton(), "SQL Expression");
    EXPECT_EQ(describeRow(0), R"(SQL Expression | ExpressionFilterDetailView | - | "name" ILIKE '%x%')");
    EXPECT_EQ(focus(), row(0)->detailTextField());
    EXPECT_EQ(row(0)->detailTextField()->selectedText(), R"("name" ILIKE '%x%')") << "selected, to be typed over";
    QTest::keyClick(focus(), Qt::Key_End);
    QTest::keyClicks(focus(), " AND n > 15");
    EXPECT_EQ(keys(runFiltered(loaded, controller->filters()).rows), QStringList({}));
    controller->filters().first()->setStringValue(R"("name" ILIKE '%1%' AND n > 15)");
    EXPECT_EQ(keys(runFiltered(loaded, controller->filters()).rows), QStringList({"16", "17", "18", "19"}));

    choose(row(0)->popupButton(), "amount");
    EXPECT_EQ(describeRow(0), "amount | NumericFilterDetailView | = | ");
    // A test that takes no value hides the field, and becomes SQL as it is.
    choose(row(0)->detailOperatorPopupButton(), "is not NULL");
    EXPECT_EQ(describeRow(0), "amount | NumericFilterDetailView | is not NULL | (hidden)");
    EXPECT_EQ(focus(), row(0)->detailOperatorPopupButton());
    choose(row(0)->popupButton(), "SQL Expression");
    EXPECT_EQ(describeRow(0), R"(SQL Expression | ExpressionFilterDetailView | - | "amount" IS NOT NULL)");
    // An empty text test starts as SQL that is empty; each kind of column
    // brings its own detail view.
    const QStringList expected = {
        "active | BooleanColumnFilterDetailView | is true | (hidden)",
        "photo | IsNullFilterDetailView | is not NULL | (hidden)",
        "Any Column | AnyColumnFilterDetailView | contains | ",
    };
    const QStringList choices = {"active", "photo", "Any Column"};
    for (qsizetype i = 0; i < choices.size(); ++i) {
        choose(row(0)->popupButton(), choices[i]);
        EXPECT_EQ(describeRow(0), expected[i]);
    }
    choose(row(0)->popupButton(), "SQL Expression");
    EXPECT_EQ(describeRow(0), "SQL Expression | ExpressionFilterDetailView | - | ");
}

TEST_F(FilterBar, AReloadedStructureTurnsAFilterOnADroppedColumnIntoAnyColumn) {
    show();
    ASSERT_TRUE(controller->loadDictionaryRepresentations(QVariantList{
        QVariantMap{{"type", 1}, {"columnName", "gone"}, {"operator", 12}, {"stringValue", "q"}},
        QVariantMap{{"type", 2}, {"columnName", "amount"}, {"operator", 8}, {"stringValue", "4"}},
    }));
    EXPECT_EQ(describeRow(0), "gone | TextFilterDetailView | does not contain | q");
    EXPECT_EQ(row(0)->popupButton()->findText("extra"), -1);

    db.run("ALTER TABLE t DROP COLUMN gone; ALTER TABLE t ADD COLUMN extra int; "
           "ALTER TABLE t ALTER COLUMN amount TYPE text");
    loaded.table->purgeMetadata();
    ASSERT_EQ(loadAndWait(loaded.table->metadata()), nullptr);
    settle();
    ASSERT_EQ(controller->filterViews().size(), 2);
    EXPECT_EQ(describeRow(0), "Any Column | AnyColumnFilterDetailView | does not contain | q");
    EXPECT_EQ(row(0)->popupButton()->findText("gone"), -1);
    EXPECT_GE(row(0)->popupButton()->findText("extra"), 0);
    // The kept column is the column as it is now: a text column now.
    EXPECT_EQ(controller->filters()[1]->column()->typeCategory(), 'S');
    EXPECT_EQ(controller->filters()[1]->type(), ZNTFilter::ZNTFilterTypeNumeric);

    // A reload of another table, or one that failed, changes nothing.
    auto other = ZNTTable::create("pg_class", "pg_catalog", loaded.server->mainDatabase());
    ASSERT_EQ(loadAndWait(other->metadata()), nullptr);
    auto missing = ZNTTable::create("t", "public", loaded.server->mainDatabase());
    db.run("ALTER TABLE t RENAME TO t2");
    missing->purgeMetadata();
    EXPECT_NE(loadAndWait(missing->metadata()), nullptr);
    settle();
    EXPECT_EQ(describeRow(0), "Any Column | AnyColumnFilterDetailView | does not contain | q");
    EXPECT_GE(row(0)->popupButton()->findText("extra"), 0);
}

TEST_F(FilterBar, FilteringByAColumnReplacesEveryRow) {
    show();
    controller->filterColumn(loaded.column("photo"));
    settle();
    ASSERT_EQ(controller->filterViews().size(), 1);
    EXPECT_EQ(describeRow(0), "photo | IsNullFilterDetailView | is not NULL | (hidden)");
    EXPECT_EQ(controller->filters().first()->dictionaryRepresentation(),
              QVariantMap({{"type", 4}, {"columnName", "photo"}, {"operator", 4}}));
    controller->filterColumn(nullptr);
    settle();
    EXPECT_EQ(describeRow(0), "Any Column | AnyColumnFilterDetailView | contains | ");
    EXPECT_TRUE(controller->makeFirstResponder());
}

TEST_F(FilterBar, ManyRowsScrollInsteadOfPushingTheGridAway) {
    show();
    const int oneRowHeight = controller->view()->height();
    QVariantList many;
    for (int i = 0; i < 40; ++i)
        many << QVariantMap{{"type", 1}, {"anyColumn", true}, {"stringValue", QString::number(i)}};
    ASSERT_TRUE(controller->loadDictionaryRepresentations(many));
    settle();
    ASSERT_EQ(controller->filterViews().size(), 40);
    QWidget *bar = controller->view();
    EXPECT_TRUE(pumpUntil([&] { return bar->height() == bar->sizeHint().height(); }, 5s));
    const int height = bar->height();
    EXPECT_GT(height, oneRowHeight * 5);
    EXPECT_LT(height, oneRowHeight * ZNTFilterController::kMaxRowsShown);
    // Tab reaches the last row, and the row it reaches is in view.
    controller->makeFirstResponder();
    for (int i = 0; i < 40 * 5 && focus() != row(39)->detailTextField(); ++i)
        QTest::keyClick(focus(), Qt::Key_Tab);
    ASSERT_EQ(focus(), row(39)->detailTextField());
    pumpFor(20ms);
    EXPECT_FALSE(row(39)->detailTextField()->visibleRegion().isEmpty());
    EXPECT_TRUE(row(0)->visibleRegion().isEmpty());
    EXPECT_TRUE(saveScreenshot(&window, "browser", "filter-bar-many-rows.png"));
}

// One row of each kind, in a light and a dark window, for a reviewer's eyes.
TEST_F(FilterBar, Screenshots) {
    show(760);
    ASSERT_TRUE(controller->loadDictionaryRepresentations(QVariantList{
        QVariantMap{{"type", 1}, {"anyColumn", true}, {"operator", 1}, {"stringValue", "Müller"}},
        QVariantMap{{"type", 0}, {"stringValue", "amount > 10 AND name <> 'x'"}},
        QVariantMap{{"type", 1}, {"columnName", "name"}, {"operator", 12}, {"stringValue", "50%_off"}},
        QVariantMap{{"type", 2}, {"columnName", "amount"}, {"operator", 8}, {"stringValue", "30"}},
        QVariantMap{{"type", 3}, {"columnName", "active"}, {"operator", 6}},
        QVariantMap{{"type", 4}, {"columnName", "photo"}, {"operator", 3}},
    }));
    settle();
    controller->makeFirstResponder();
    EXPECT_TRUE(saveScreenshot(&window, "browser", "filter-bar-light.png"));
    window.setPalette(darkPalette());
    settle();
    EXPECT_TRUE(saveScreenshot(&window, "browser", "filter-bar-dark.png"));
    // A narrow window keeps every control usable.
    window.setPalette(QApplication::palette());
    window.resize(460, 320);
    settle();
    EXPECT_TRUE(saveScreenshot(&window, "browser", "filter-bar-narrow.png"));
    for (ZNTFilterView *r : controller->filterViews())
        if (!r->detailTextField()->isHidden())
            EXPECT_GE(r->detailTextField()->width(), 60);
}
