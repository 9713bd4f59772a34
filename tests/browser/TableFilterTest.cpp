// The filter bar on the table page: shown and hidden, its filters applied to
// the page, count and export queries and kept for the table, and a filter
// whose SQL tries to add a statement.
#include "TablePageTestSupport.h"
#include "browser/FilterBarModel.h"
#include "browser/ZNTFilterController.h"
#include "engine/ZNTQuery.h"

#include <QLineEdit>
#include <QToolButton>

using namespace pagetest;

namespace {

class TableFilter : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        FilterBarModel::setFindText(QString());
        db.run("CREATE TABLE t (id int PRIMARY KEY, name text); "
               "INSERT INTO t VALUES (1, 'alice'), (2, 'bob'), (3, 'alina'), (4, 'carl')");
    }
    void TearDown() override {
        ZNTTableViewController::setExporter(nullptr);
        TablePageTest::TearDown();
    }
    // Types text into the first row's value field and runs the filters.
    void find(const QString &text) {
        QLineEdit *field = page->filterController()->firstTextField();
        ASSERT_NE(field, nullptr);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return); // runs the filters
        pumpFor(10ms);
    }
    QVariant stored(unsigned type) const {
        auto c = container();
        return c ? c->propertyOfType(type) : QVariant();
    }
};

} // namespace

TEST_F(TableFilter, ShowingOrHidingAnUnusedBarLoadsNothing) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->toggleTableFilter();
    EXPECT_TRUE(page->filterState());
    ASSERT_NE(page->filterController(), nullptr);
    EXPECT_TRUE(page->filterController()->view()->isVisible());
    EXPECT_FALSE(page->isLoading());
    page->toggleTableFilter();
    EXPECT_FALSE(page->filterState());
    EXPECT_FALSE(page->isLoading());
    EXPECT_EQ(model()->rowCount(), 4);
}

TEST_F(TableFilter, RunningTheFiltersFiltersPageCountAndExportAndKeepsThem) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->toggleTableFilter();
    find("ali");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownColumn("name"), QStringList({"alice", "alina"}));
    EXPECT_EQ(page->statusText(), "2 rows");
    EXPECT_TRUE(stored(ZNTPrefPropertyFilterBarShown).toBool());
    const QVariantList filters = stored(ZNTPrefPropertyFilters).toList();
    ASSERT_EQ(filters.size(), 1);
    EXPECT_EQ(filters[0].toMap().value("stringValue").toString(), "ali");
    screenshot("filtered.png");

    QString name, sql;
    ZNTTableViewController::setExporter(
        [&](QWidget *, std::shared_ptr<ZNTQuery> query, std::shared_ptr<ZNTConnection>, QString suggested) {
            name = suggested;
            sql = query->sql();
        });
    page->exportContents(nullptr);
    EXPECT_EQ(name, "t (filtered)");
    EXPECT_TRUE(sql.contains("ILIKE")) << sql.toStdString();

    // A new page on the table shows the bar and its rows filtered.
    delete host;
    host = nullptr;
    delete page;
    page = nullptr;
    ASSERT_NO_FATAL_FAILURE(open("t"));
    EXPECT_TRUE(page->filterState());
    EXPECT_EQ(page->filterController()->firstTextField()->text(), "ali");
    EXPECT_EQ(shownColumn("name"), QStringList({"alice", "alina"}));

    // Hiding the bar of filtered rows loads them all, and forgets that it showed.
    page->toggleTableFilter();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(model()->rowCount(), 4);
    EXPECT_FALSE(stored(ZNTPrefPropertyFilterBarShown).isValid());
}

TEST_F(TableFilter, RemovingTheLastFilterHidesTheBarAndShowsEveryRow) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->toggleTableFilter();
    find("bob");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(model()->rowCount(), 1);
    page->filterController()->removeFilter(page->filterController()->firstTextField());
    ASSERT_TRUE(loaded());
    pumpFor(20ms);
    EXPECT_FALSE(page->filterState());
    EXPECT_EQ(page->filterController(), nullptr);
    EXPECT_EQ(model()->rowCount(), 4);
}

TEST_F(TableFilter, FiltersAreAppliedOnlyAfterPendingChangesAreSettled) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    typeInto(0, "name", "ALICE");
    page->toggleTableFilter();
    find("ali");
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->informativeText(), "Filters can't be applied when there are unsaved changes.");
    press(alert, "Cancel");
    EXPECT_EQ(model()->rowCount(), 4);
    EXPECT_EQ(shownColumn("name")[0], "ALICE");
}

TEST_F(TableFilter, AFilterFileCannotAddAStatementToThePageQuery) {
    db.run("CREATE TABLE x (n int); INSERT INTO x VALUES (1)");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->toggleTableFilter();
    // What a .pfltr file holds: one expression filter.
    ASSERT_TRUE(page->filterController()->loadDictionaryRepresentations(
        QVariantList{QVariantMap{{"type", 0}, {"stringValue", "true); DROP TABLE x; SELECT (1"}}}));
    page->filterController()->filterButton()->click();
    Alert *alert = sheet(30s);
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Could not load table rows.");
    EXPECT_TRUE(alert->informativeText().startsWith("The server said: ")) << alert->informativeText().toStdString();
    press(alert, "OK");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(db.run("SELECT count(*) FROM x"), "1");
}

TEST_F(TableFilter, FilterByColumnFromTheHeaderMenu) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->validateMenuForTableColumn(page->headerMenu(), model()->displayColumnNamed("name"));
    page->filterByColumn();
    ASSERT_TRUE(page->filterState());
    const auto filters = page->filterController()->filters();
    ASSERT_EQ(filters.size(), 1);
    ASSERT_NE(filters[0]->column(), nullptr);
    EXPECT_EQ(filters[0]->column()->name(), "name");
    find("carl");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownColumn("id"), QStringList({"4"}));
}
