// The table page's File › Export…, as the program installs it: the page's
// rows in its order and with its filters, every row rather than its page of
// them.
#include "ExportTestSupport.h"
#include "TablePageTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTFilterController.h"

#include <QFileDialog>
#include <QLineEdit>

using namespace pagetest;

namespace {
class TablePageExport : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        BrowserPages::install();
        db.run("CREATE TABLE orders (id int PRIMARY KEY, customer text, total numeric(8,2));"
               "INSERT INTO orders VALUES (1, 'ann', 10), (2, 'bob', 70), (3, 'dan', 30), (4, 'Hannah', 50),"
               "(5, 'eve', 20), (6, 'anna \"x\"', 40)");
        UserDefaults::standard().setObject(2, "TableViewRowsPerPage"); // a page shows fewer rows than there are
    }
    void TearDown() override {
        ZNTTableViewController::setExporter(nullptr);
        TablePageTest::TearDown();
    }

    void sortByTotalDescending() {
        for (const auto &column : page->table()->metadata()->displayColumns())
            if (column->name() == "total")
                page->setOrderColumn(column, false);
        ASSERT_TRUE(loaded());
    }

    // Exports through the save dialog, which proposes name, into the file of
    // that name.
    QString exportAs(const QString &name) {
        page->exportContents(nullptr);
        QFileDialog *panel = nullptr;
        EXPECT_TRUE(pumpUntil([&] { return (panel = host->findChild<QFileDialog *>()) && panel->isVisible(); }));
        if (!panel)
            return {};
        EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
        EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), name);
        panel->selectFile(dir.filePath(name));
        QMetaObject::invokeMethod(panel, "accept");
        EXPECT_TRUE(exporttest::exportsEnded());
        EXPECT_FALSE(host->findChild<Alert *>());
        return dir.filePath(name);
    }

    QString psqlFile(const QString &sql) {
        const QString path = dir.filePath("psql.csv");
        exporttest::psqlCopy(db.name, sql, path);
        return path;
    }
};
} // namespace

TEST_F(TablePageExport, EveryRowInThePagesOrderNotOnlyThePageShown) {
    ASSERT_NO_FATAL_FAILURE(open("orders"));
    sortByTotalDescending();
    EXPECT_EQ(model()->rowCount(), 2);
    const QString file = exportAs("orders.csv");
    EXPECT_EQ(exporttest::compareWithPsql(psqlFile("SELECT * FROM orders ORDER BY total DESC, id DESC"), "nss", file),
              "bytes-equal\nrows-equal");
}

TEST_F(TablePageExport, AFilteredPageExportsItsFilteredRowsUnderTheFilteredName) {
    ASSERT_NO_FATAL_FAILURE(open("orders"));
    sortByTotalDescending();
    page->toggleTableFilter();
    ASSERT_NE(page->filterController(), nullptr);
    QLineEdit *field = page->filterController()->firstTextField();
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, "an");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownColumn("customer"), QStringList({"Hannah", "anna \"x\""})) << "the first page of the four";

    const QString file = exportAs("orders (filtered).csv");
    EXPECT_EQ(
        exporttest::compareWithPsql(
            psqlFile("SELECT * FROM orders WHERE customer ILIKE '%an%' ORDER BY total DESC, id DESC"), "nss", file),
        "bytes-equal\nrows-equal");
    EXPECT_EQ(exporttest::fileBytes(file).count('\n'), 5);
}
