// Sorting and the column layout of the table page, kept in the favorite's
// view settings; the header menu.
#include "TablePageTestSupport.h"

#include <QMenu>

using namespace pagetest;

namespace {

class TableLayout : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        db.run("CREATE TABLE t (id int PRIMARY KEY, name text, score int); "
               "INSERT INTO t VALUES (1, 'carol', 5), (2, 'alice', 7), (3, 'bob', 7)");
    }
    void click(const QString &column) {
        page->tableViewDidClickTableColumn(model()->displayColumnNamed(column));
        ASSERT_TRUE(loaded());
    }
    int sortMode(const QString &column) const {
        return grid()->header()->sortMode(model()->displayColumnNamed(column));
    }
    QVariant stored(unsigned type) const {
        auto c = container();
        return c ? c->propertyOfType(type) : QVariant();
    }
    QStringList onScreen() const {
        QStringList names;
        for (int visual = 0; visual < grid()->header()->count(); ++visual)
            names << model()->headerData(grid()->header()->logicalIndex(visual), Qt::Horizontal).toString();
        return names;
    }
    QAction *headerItem(const QString &title) const {
        for (QAction *action : page->headerMenu()->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }
};

} // namespace

TEST_F(TableLayout, AHeaderClickedThreeTimesSortsUpDownThenByTheKey) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    click("name");
    EXPECT_EQ(shownColumn("name"), QStringList({"alice", "bob", "carol"}));
    EXPECT_EQ(sortMode("name"), ZNTSortModeAscending);
    EXPECT_EQ(grid()->cell()->highlightedColumn(), model()->displayColumnNamed("name"));
    EXPECT_EQ(stored(ZNTPrefPropertySortOrder),
              QVariant(QVariantMap{{"columns", QVariantList{"name"}}, {"ascending", QVariantList{true}}}));
    click("name");
    EXPECT_EQ(shownColumn("name"), QStringList({"carol", "bob", "alice"}));
    EXPECT_EQ(sortMode("name"), ZNTSortModeDescending);
    // Another column, while one is sorted descending: the new one ascending.
    click("score");
    EXPECT_EQ(shownColumn("id"), QStringList({"1", "2", "3"})); // 5, 7, 7: ties by the key
    EXPECT_EQ(sortMode("name"), ZNTSortModeNone);
    EXPECT_EQ(sortMode("score"), ZNTSortModeAscending);
    click("score");
    EXPECT_EQ(shownColumn("id"), QStringList({"3", "2", "1"})); // the key takes the sort's direction
    click("score");
    EXPECT_EQ(page->orderColumn(), nullptr);
    EXPECT_EQ(sortMode("score"), ZNTSortModeNone);
    EXPECT_EQ(grid()->cell()->highlightedColumn(), -1);
    EXPECT_EQ(shownColumn("id"), QStringList({"1", "2", "3"}));
    EXPECT_FALSE(stored(ZNTPrefPropertySortOrder).isValid());
}

TEST_F(TableLayout, TheStoredSortIsRestoredOnceAndOneOnADroppedColumnGoes) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    click("name");
    click("name");
    delete host;
    host = nullptr;
    delete page;
    page = nullptr;
    ASSERT_NO_FATAL_FAILURE(open("t")); // a page made afresh, the structure cached: the stored sort
    ASSERT_NE(page->orderColumn(), nullptr);
    EXPECT_EQ(page->orderColumn()->name(), "name");
    EXPECT_FALSE(page->orderAscending());
    EXPECT_EQ(shownColumn("name"), QStringList({"carol", "bob", "alice"}));

    // The column goes; the next structure load drops the sort and goes to page 0.
    db.run("ALTER TABLE t DROP COLUMN name");
    page->table()->purgeMetadata();
    page->performReload();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->orderColumn(), nullptr);
    EXPECT_EQ(page->currentPageIndex(), 0);
    EXPECT_EQ(shownColumn("id"), QStringList({"1", "2", "3"}));
}

TEST_F(TableLayout, OnlyTheUsersDragsStoreWidthsAndOrder) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    EXPECT_FALSE(stored(ZNTPrefPropertyColumnWidths).isValid()); // building the columns stored nothing
    EXPECT_FALSE(stored(ZNTPrefPropertyColumnOrder).isValid());
    // Default widths: integer 60, text 250.
    EXPECT_EQ(grid()->header()->sectionSize(model()->displayColumnNamed("id")), 60);
    EXPECT_EQ(grid()->header()->sectionSize(model()->displayColumnNamed("name")), 250);

    grid()->header()->resizeSection(model()->displayColumnNamed("name"), 321);
    EXPECT_EQ(stored(ZNTPrefPropertyColumnWidths), QVariant(QVariantMap{{"name", 321}}));
    EXPECT_EQ(stored(ZNTPrefPropertyColumnAttnums), QVariant(QVariantMap{{"id", 1}, {"name", 2}, {"score", 3}}));
    grid()->header()->moveSection(2, 0); // score first
    EXPECT_EQ(stored(ZNTPrefPropertyColumnOrder), QVariant(QVariantList{"score", "id", "name"}));

    // A new page takes both; a column added since comes last.
    db.run("ALTER TABLE t ADD COLUMN extra text");
    delete host;
    host = nullptr;
    delete page;
    page = nullptr;
    auto relation = table("t");
    relation->purgeMetadata(); // the cached structure has no "extra"
    ASSERT_NO_FATAL_FAILURE(open(relation));
    EXPECT_EQ(onScreen(), QStringList({"score", "id", "name", "extra"}));
    EXPECT_EQ(grid()->header()->sectionSize(model()->displayColumnNamed("name")), 321);
    EXPECT_EQ(stored(ZNTPrefPropertyColumnOrder), QVariant(QVariantList{"score", "id", "name"}));

    // The header menu puts the table's order back and forgets the stored one.
    page->validateMenuForTableColumn(page->headerMenu(), 0);
    ASSERT_NE(headerItem("&Restore Default Column Order"), nullptr);
    EXPECT_TRUE(headerItem("&Restore Default Column Order")->isEnabled());
    headerItem("&Restore Default Column Order")->trigger();
    EXPECT_EQ(onScreen(), QStringList({"id", "name", "score", "extra"}));
    EXPECT_FALSE(stored(ZNTPrefPropertyColumnOrder).isValid());
    page->validateMenuForTableColumn(page->headerMenu(), 0);
    EXPECT_FALSE(headerItem("&Restore Default Column Order")->isEnabled());
}

TEST_F(TableLayout, TheHeaderMenuSortsAndAnsweredOverNoColumnOffersNothing) {
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->validateMenuForTableColumn(page->headerMenu(), -1);
    EXPECT_FALSE(headerItem("Sort &Ascending")->isEnabled());
    EXPECT_FALSE(headerItem("Sort &Descending")->isEnabled());
    EXPECT_FALSE(headerItem("&Filter by Column")->isEnabled());

    page->validateMenuForTableColumn(page->headerMenu(), model()->displayColumnNamed("name"));
    EXPECT_TRUE(headerItem("Sort &Ascending")->isEnabled());
    EXPECT_FALSE(headerItem("Sort &Ascending")->isChecked());
    headerItem("Sort &Descending")->trigger();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownColumn("name"), QStringList({"carol", "bob", "alice"}));
    page->validateMenuForTableColumn(page->headerMenu(), model()->displayColumnNamed("name"));
    EXPECT_TRUE(headerItem("Sort &Descending")->isChecked());
    // Choosing the checked item again clears the sort.
    headerItem("Sort &Descending")->trigger();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->orderColumn(), nullptr);
}

TEST_F(TableLayout, ATableWithoutColumnsShowsOnePlaceholderColumn) {
    db.run("CREATE TABLE nothing ()");
    db.run("INSERT INTO nothing DEFAULT VALUES");
    ASSERT_NO_FATAL_FAILURE(open("nothing"));
    EXPECT_EQ(model()->columnCount(), 1);
    EXPECT_EQ(model()->headerData(0, Qt::Horizontal).toString(), "");
    EXPECT_EQ(model()->rowCount(), 1);
    EXPECT_EQ(page->statusText(), "1 row");
    page->tableViewDidClickTableColumn(0); // nothing to sort by
    EXPECT_FALSE(page->isLoading());
    EXPECT_EQ(page->orderColumn(), nullptr);
}

TEST_F(TableLayout, AColumnResizedWhileTheStructureIsPurgedKeepsEveryAttributeNumber) {
    open("t");
    const QVariant all(QVariantMap{{"id", 1}, {"name", 2}, {"score", 3}});
    // Another window's reload purged the structure; the page has its own.
    page->table()->purgeMetadata();
    grid()->header()->resizeSection(model()->displayColumnNamed("name"), 300);
    EXPECT_EQ(stored(ZNTPrefPropertyColumnWidths), QVariant(QVariantMap{{"name", 300}}));
    EXPECT_EQ(stored(ZNTPrefPropertyColumnAttnums), all);

    // The page's own reload waits for the structure; its columns still show.
    page->table()->purgeMetadata();
    page->performReload();
    ASSERT_TRUE(page->isLoading());
    grid()->header()->resizeSection(model()->displayColumnNamed("score"), 90);
    EXPECT_EQ(stored(ZNTPrefPropertyColumnWidths), QVariant(QVariantMap{{"name", 300}, {"score", 90}}));
    EXPECT_EQ(stored(ZNTPrefPropertyColumnAttnums), all);
    ASSERT_TRUE(loaded());
}
