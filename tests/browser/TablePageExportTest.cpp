// The table page's File › Export…, as the program installs it: the page's
// rows in its order, every row rather than its page of them.
#include "ExportTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTTableViewController.h"
#include "platform/UserDefaults.h"

#include <QFileDialog>
#include <QVBoxLayout>

using namespace exporttest;

namespace {
class TablePageExport : public ::testing::Test {
protected:
    void SetUp() override {
        db.run(kShop);
        BrowserPages::install();
        UserDefaults::standard().setObject(2, "TableViewRowsPerPage"); // a page holds fewer rows than the table
        window.resize(900, 600);
        new QVBoxLayout(&window);
        window.show();
    }
    void TearDown() override { UserDefaults::standard().removeObject("TableViewRowsPerPage"); }

    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server = connectedServer(db.name);
    QTemporaryDir dir;
    QWidget window;
};
} // namespace

TEST_F(TablePageExport, ThePagesExportHoldsEveryRowInThePagesOrder) {
    auto orders = relation(server, "shop", "orders");
    ZNTTableViewController page(orders);
    window.layout()->addWidget(page.view());
    ASSERT_TRUE(pumpUntil([&] { return !page.isBusy() && page.totalNumRows() == 4; }, std::chrono::seconds(30)));
    std::shared_ptr<ZNTColumn> total;
    for (const auto &column : orders->metadata()->displayColumns())
        if (column->name() == "total")
            total = column;
    ASSERT_TRUE(total);
    page.setOrderColumn(total, false);
    ASSERT_TRUE(pumpUntil([&] { return !page.isBusy(); }));

    page.exportContents(nullptr);
    QFileDialog *panel = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (panel = window.findChild<QFileDialog *>()) && panel->isVisible(); }));
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "orders.csv");
    panel->selectFile(dir.filePath("orders.csv"));
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(exportsEnded());
    EXPECT_FALSE(window.findChild<Alert *>());

    const QString psqlFile = dir.filePath("psql.csv");
    psqlCopy(db.name, "SELECT * FROM shop.orders ORDER BY total DESC, id DESC", psqlFile);
    EXPECT_EQ(compareWithPsql(psqlFile, kShopOrdersKinds, dir.filePath("orders.csv")), "bytes-equal\nrows-equal");
}
