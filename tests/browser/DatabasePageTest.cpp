// The database page on the test server, with psql as the oracle: what it
// lists and in which order, the estimates it shows, what a batch leaves alone,
// and its commands.
#include "ExportTestSupport.h"
#include "OverviewTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTDatabaseTreeModel.h"
#include "browser/ZNTDatabaseViewController.h"
#include "engine/SizeFormatting.h"
#include "model/ServerTestSupport.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTableSchema.h"
#include "model/ZNTVariousObjectsQuery.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/IconView.h"
#include "uikit/ProgressSheet.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

using namespace std::chrono_literals;
using namespace windowtest;
using namespace overviewtest;
using Command = ZNTDatabaseViewController::Command;
using Presentation = ZNTDatabaseViewController::Presentation;

namespace {

// Random text that does not compress: rows of it go to the TOAST table.
const char *kSetUp = R"sql(
CREATE SCHEMA "Sales2"; CREATE SCHEMA sales10; CREATE SCHEMA nothing;
CREATE TABLE public.t10 (id int PRIMARY KEY, note text);
INSERT INTO public.t10 SELECT i, (SELECT string_agg(md5(random()::text || i || j), '') FROM generate_series(1, 120) j)
  FROM generate_series(1, 300) i;
CREATE TABLE public."T9" (id int PRIMARY KEY);
INSERT INTO public."T9" SELECT generate_series(1, 50);
CREATE TABLE public.noindex (v int);
INSERT INTO public.noindex SELECT generate_series(1, 5000);
CREATE TABLE public.fresh (v int) WITH (autovacuum_enabled = off);
INSERT INTO public.fresh SELECT generate_series(1, 100);
CREATE VIEW "Sales2".recent AS SELECT id FROM public.t10;
CREATE MATERIALIZED VIEW "Sales2".totals AS SELECT count(*) AS n FROM public.t10;
CREATE TABLE sales10.measurements (at date, v int) PARTITION BY RANGE (at);
CREATE TABLE sales10.measurements_2024 PARTITION OF sales10.measurements
  FOR VALUES FROM ('2024-01-01') TO ('2025-01-01');
INSERT INTO sales10.measurements SELECT date '2024-01-01' + i % 300, i FROM generate_series(1, 3000) i;
)sql";
// Every relation but "fresh", which stays never analysed.
const char *kVacuum = R"sql(
VACUUM ANALYZE public.t10, public."T9", public.noindex, "Sales2".totals, sales10.measurements,
  sales10.measurements_2024
)sql";

class DatabasePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        uikittest::useFixedLook();
        db.run(QString::fromUtf8(kSetUp));
        db.run(QString::fromUtf8(kVacuum));
        server = connectedServer(db.name);
    }
    void TearDown() override { window.reset(); }

    // A main window on the database, its page listed.
    ZNTDatabaseViewController *openWindow() {
        window = ZNTWindowController::create(server->mainDatabase());
        window->resize(900, 640);
        uikittest::activate(window.get());
        auto *page = dynamic_cast<ZNTDatabaseViewController *>(window->mainViewController());
        EXPECT_TRUE(page);
        if (page) {
            EXPECT_TRUE(listed(page));
        }
        return page;
    }
    static bool listed(ZNTDatabaseViewController *page) {
        return pumpUntil([&] { return !page->objectsQuery() || page->initialQueryDone(); }, 30s) &&
               pumpUntil([&] { return page->objectsQuery()->objects().has_value(); }) &&
               pumpUntil([&] { return !page->progressIndicator()->isAnimating(); });
    }
    // Waits for the listing that a reload (or a drop) started to end.
    static bool relisted(ZNTDatabaseViewController *page, const std::shared_ptr<ZNTVariousObjectsQuery> &before) {
        return pumpUntil([&] { return page->objectsQuery() != before; }, 30s) &&
               pumpUntil([&] { return !page->progressIndicator()->isAnimating(); }, 30s);
    }

    static QModelIndex row(ZNTDatabaseViewController *page, const QString &schema, const QString &name = {}) {
        const QModelIndex section = page->model()->schemaIndex(schema);
        if (name.isEmpty())
            return section;
        for (int r = 0; r < page->model()->rowCount(section); ++r) {
            if (page->model()->index(r, 0, section).data().toString() == name)
                return page->model()->index(r, 0, section);
        }
        return {};
    }
    static QStringList children(ZNTDatabaseViewController *page, const QModelIndex &parent = {}) {
        QStringList names;
        for (int r = 0; r < page->model()->rowCount(parent); ++r)
            names << page->model()->index(r, 0, parent).data().toString();
        return names;
    }
    // A user's double click on the grid.
    static void doubleClickIcon(IconView *grid, const QModelIndex &index, Qt::KeyboardModifiers modifiers = {}) {
        const QPoint point = grid->visualRect(index).center() - QPoint(0, 20);
        QTest::mouseClick(grid, Qt::LeftButton, modifiers, point);
        QTest::mouseDClick(grid, Qt::LeftButton, modifiers, point);
        QTest::mouseRelease(grid, Qt::LeftButton, modifiers, point);
    }
    static Alert *waitForAlert(QWidget *other = nullptr) {
        Alert *alert = nullptr;
        EXPECT_TRUE(pumpUntil(
            [&] { return (alert = qobject_cast<Alert *>(QApplication::activeModalWidget())) && alert != other; }, 30s));
        return alert;
    }
    static QPushButton *button(Alert *alert, const QString &title) {
        for (QPushButton *each : alert->buttons()) {
            if (each->text() == title)
                return each;
        }
        return nullptr;
    }

    InstalledPages pages;
    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTWindowController> window;
};

} // namespace

TEST_F(DatabasePageTest, ListsSchemasAndRelationsInOrderWithTheCatalogsEstimates) {
    ZNTDatabaseViewController page(server->mainDatabase());
    page.view()->resize(800, 600);
    page.view()->show();
    EXPECT_TRUE(page.progressIndicator()->isAnimating());
    ASSERT_TRUE(listed(&page));
    const QStringList top = children(&page);
    EXPECT_EQ(top, QStringList({"SQL Query", "public", "Sales2", "sales10", "pg_catalog", "information_schema"}));
    EXPECT_EQ(children(&page, row(&page, "public")), QStringList({"fresh", "noindex", "T9", "t10"}));
    EXPECT_EQ(children(&page, row(&page, "Sales2")), QStringList({"recent", "totals"}));
    EXPECT_EQ(children(&page, row(&page, "sales10")), QStringList({"measurements", "measurements_2024"}));

    // Every column of every relation of the three schemas, as the catalog has it.
    const QStringList oracle =
        db.run("SELECT n.nspname, c.relname,"
               " CASE c.relkind WHEN 'v' THEN 'View' WHEN 'm' THEN 'Materialized View' ELSE 'Table' END,"
               " CASE WHEN c.relkind = 'v' OR c.reltuples < 0 THEN '--' ELSE c.reltuples::bigint::text END,"
               " CASE WHEN c.relkind = 'v' THEN -1 ELSE c.relpages + coalesce(t.relpages, 0) END,"
               " CASE WHEN c.relkind = 'v' THEN -1 ELSE coalesce((SELECT sum(i.relpages) FROM pg_index x"
               "   JOIN pg_class i ON i.oid = x.indexrelid WHERE x.indrelid = c.oid), 0) END,"
               " coalesce(t.relpages, 0)"
               " FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace"
               " LEFT JOIN pg_class t ON t.oid = c.reltoastrelid"
               " WHERE n.nspname IN ('public', 'Sales2', 'sales10') AND c.relkind IN ('r', 'v', 'm', 'p')")
            .split('\n');
    ASSERT_EQ(oracle.size(), 8);
    for (const QString &line : oracle) {
        const QStringList f = line.split('|');
        const QModelIndex name = row(&page, f[0], f[1]);
        ASSERT_TRUE(name.isValid()) << line.toStdString();
        auto text = [&](int column) { return name.sibling(name.row(), column).data().toString(); };
        const qint64 pages = f[4].toLongLong(), indexPages = f[5].toLongLong();
        EXPECT_EQ(text(ZNTDatabaseTreeModel::Schema), f[0]);
        EXPECT_EQ(text(ZNTDatabaseTreeModel::Kind), f[2]) << line.toStdString();
        EXPECT_EQ(text(ZNTDatabaseTreeModel::Rows), f[3]) << line.toStdString();
        EXPECT_EQ(text(ZNTDatabaseTreeModel::Size), pages < 0 ? "--" : stringFromSize(pages * 8192))
            << line.toStdString();
        EXPECT_EQ(text(ZNTDatabaseTreeModel::IndexSize), indexPages < 1 ? "--" : stringFromSize(indexPages * 8192))
            << line.toStdString();
        if (f[1] == "t10") {
            EXPECT_GT(f[6].toInt(), 0) << "the TOAST table counts in the size";
        }
    }
    // The cases the oracle must cover: a table never analysed, one without indexes, a view.
    EXPECT_EQ(row(&page, "public", "fresh").siblingAtColumn(ZNTDatabaseTreeModel::Rows).data(), "--");
    EXPECT_EQ(row(&page, "public", "noindex").siblingAtColumn(ZNTDatabaseTreeModel::IndexSize).data(), "--");
    EXPECT_EQ(row(&page, "Sales2", "recent").siblingAtColumn(ZNTDatabaseTreeModel::Size).data(), "--");
    EXPECT_EQ(row(&page, "sales10", "measurements").siblingAtColumn(ZNTDatabaseTreeModel::Size).data(), "--");
}

TEST_F(DatabasePageTest, ABatchKeepsWhatTheUserOpenedClosedAndSelected) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    IconView *grid = page->iconView();
    QTreeView *list = page->outlineView();
    const QVariant sales2 =
        ZNTDatabaseTreeModel::identity(std::make_shared<ZNTSchema>("Sales2", server->mainDatabase()));
    const QVariant sales10 =
        ZNTDatabaseTreeModel::identity(std::make_shared<ZNTSchema>("sales10", server->mainDatabase()));
    EXPECT_TRUE(grid->isExpanded(
        ZNTDatabaseTreeModel::identity(std::make_shared<ZNTSchema>("public", server->mainDatabase()))));
    EXPECT_TRUE(list->isExpanded(row(page, "public")));
    // The user opens and closes "Sales2" and opens "sales10", in both, and selects t10.
    grid->setExpanded(sales2, true);
    grid->setExpanded(sales2, false);
    grid->setExpanded(sales10, true);
    grid->selectIndex(row(page, "public", "t10"), false);
    list->expand(row(page, "Sales2"));
    list->collapse(row(page, "Sales2"));
    list->expand(row(page, "sales10"));
    list->selectionModel()->select(row(page, "public", "t10"),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QPersistentModelIndex t10 = row(page, "public", "t10");

    db.run("CREATE TABLE public.t11 (id int); CREATE TABLE \"Sales2\".s3 (id int)");
    const auto before = page->objectsQuery();
    page->performReload();
    EXPECT_EQ(children(page, row(page, "public")), QStringList({"fresh", "noindex", "T9", "t10"}))
        << "the old tree stays";
    ASSERT_TRUE(relisted(page, before));
    EXPECT_EQ(children(page, row(page, "public")), QStringList({"fresh", "noindex", "T9", "t10", "t11"}));
    EXPECT_TRUE(t10.isValid());
    EXPECT_FALSE(grid->isExpanded(sales2));
    EXPECT_TRUE(grid->isExpanded(sales10));
    EXPECT_EQ(grid->selectedIndexes(), QModelIndexList({row(page, "public", "t10")}));
    EXPECT_FALSE(list->isExpanded(row(page, "Sales2")));
    EXPECT_TRUE(list->isExpanded(row(page, "sales10")));
    EXPECT_TRUE(list->selectionModel()->isSelected(t10));
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);
}

TEST_F(DatabasePageTest, OpeningShowsTheContentsAndWithAltTheStructure) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->presentation(), Presentation::Icons);
    EXPECT_TRUE(page->iconView()->hasFocus());
    doubleClickIcon(page->iconView(), row(page, "public", "t10"), Qt::AltModifier);
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::TableSchema);
    EXPECT_EQ(window->currentItem()->name(), "t10");
    window->goBack();
    ASSERT_EQ(window->mainViewController(), page);
    doubleClickIcon(page->iconView(), page->model()->index(0, 0), Qt::AltModifier);
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::QueryObject); // no structure: the editor
    window->goBack();

    page->viewModeControl()->segmentButton(1)->click();
    EXPECT_EQ(page->presentation(), Presentation::List);
    QTreeView *list = page->outlineView();
    EXPECT_TRUE(list->hasFocus());
    const QPoint t9 = list->visualRect(row(page, "public", "T9")).center();
    auto doubleClickRow = [&](Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, t9);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, modifiers, t9);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, modifiers, t9);
    };
    doubleClickRow(Qt::AltModifier);
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::TableSchema);
    EXPECT_EQ(window->currentItem()->name(), "T9");
    window->goBack();
    doubleClickRow({});
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::Table);
    EXPECT_EQ(window->currentItem()->name(), "T9");
    window->goBack();
    EXPECT_EQ(page->presentation(), Presentation::List); // the page is as it was left

    // Open Structure with two relations, or nothing to open: a beep, no navigation.
    BeepCounter beeps;
    page->setPresentation(Presentation::Icons);
    page->iconView()->selectIndex({}, false);
    page->openFromGrid();
    page->iconView()->selectIndex(row(page, "public", "T9"), false);
    page->iconView()->selectIndex(row(page, "public", "t10"), true);
    page->performCommand(Command::OpenStructure);
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::Database);
}

TEST_F(DatabasePageTest, ADropTheUserConfirmsReloadsAndACancelledOneDoesNot) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    page->setPresentation(Presentation::List);
    QTreeView *list = page->outlineView();
    auto dropRow = [&](const QString &name) {
        list->selectionModel()->select(row(page, "public", name),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ASSERT_TRUE(page->validateCommand(Command::Drop));
        page->performCommand(Command::Drop);
    };
    const auto before = page->objectsQuery();
    dropRow("T9");
    Alert *confirm = waitForAlert();
    ASSERT_TRUE(confirm);
    button(confirm, "Cancel")->click();
    pumpFor(200ms);
    EXPECT_EQ(page->objectsQuery(), before);
    EXPECT_EQ(db.run("SELECT count(*) FROM pg_class WHERE relname = 'T9'"), "1");

    dropRow("noindex");
    confirm = waitForAlert();
    ASSERT_TRUE(confirm);
    confirm->buttons().first()->click();
    ASSERT_TRUE(relisted(page, before));
    EXPECT_EQ(children(page, row(page, "public")), QStringList({"fresh", "T9", "t10"}));
    EXPECT_EQ(db.run("SELECT count(*) FROM pg_class WHERE relname = 'noindex'"), "0");
}

TEST_F(DatabasePageTest, MaintenanceAndNewRelationsFollowTheClickedItems) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    IconView *grid = page->iconView();
    // A right click on an icon: the menu is for it alone.
    const QPoint fresh = grid->visualRect(row(page, "public", "fresh")).center() - QPoint(0, 20);
    QContextMenuEvent click(QContextMenuEvent::Mouse, fresh, grid->mapToGlobal(fresh));
    QApplication::sendEvent(grid, &click);
    ASSERT_TRUE(page->contextMenu()->isVisible());
    EXPECT_TRUE(page->menuAction(Command::Analyze)->isEnabled());
    EXPECT_TRUE(page->menuAction(Command::Truncate)->isEnabled());
    EXPECT_FALSE(page->menuAction(Command::RefreshMaterializedView)->isEnabled());
    EXPECT_TRUE(page->menuAction(Command::Export)->isEnabled());
    page->contextMenu()->hide();
    EXPECT_EQ(grid->selectedIndexes(), QModelIndexList({row(page, "public", "fresh")}));
    EXPECT_EQ(db.run("SELECT last_analyze IS NULL FROM pg_stat_user_tables WHERE relname = 'fresh'"), "t");
    page->menuAction(Command::Analyze)->trigger();
    Alert *confirm = waitForAlert();
    ASSERT_TRUE(confirm);
    confirm->buttons().first()->click();
    ASSERT_TRUE(pumpUntil(
        [&] {
            auto *sheet = qobject_cast<ProgressSheet *>(QApplication::activeModalWidget());
            return sheet && sheet->isCompleted();
        },
        30s));
    qobject_cast<ProgressSheet *>(QApplication::activeModalWidget())->okButton()->click();
    EXPECT_TRUE(pumpUntil(
        [&] { return db.run("SELECT last_analyze IS NULL FROM pg_stat_user_tables WHERE relname = 'fresh'") == "f"; },
        10s));

    // Open in New Window: a further window of the server, on the clicked item.
    StandInWindows windows;
    page->menuAction(Command::OpenInNewWindow)->trigger();
    ASSERT_EQ(windows.made.size(), 1u);
    EXPECT_TRUE(windows.at(0)->item->isEqual(*ZNTTable::create("fresh", "public", server->mainDatabase())));
    EXPECT_EQ(windows.at(0)->shown, 1);

    // New relations: in the clicked relation's schema, or the clicked schema.
    page->setPresentation(Presentation::List);
    QTreeView *list = page->outlineView();
    list->expand(row(page, "Sales2"));
    auto newFrom = [&](const QModelIndex &clicked, Command command) {
        page->setClickedRow(clicked);
        page->performCommand(command);
        auto made = std::dynamic_pointer_cast<ZNTTableSchema>(window->currentItem());
        EXPECT_TRUE(made);
        if (made)
            window->goBack();
        return made ? made->table() : nullptr;
    };
    auto view = newFrom(row(page, "Sales2", "recent"), Command::NewView);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->schemaName(), "Sales2");
    EXPECT_EQ(view->type(), ZNTTable::ZNTTableTypeView);
    EXPECT_FALSE(view->hasName());
    auto table = newFrom(row(page, "sales10"), Command::NewTable);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->schemaName(), "sales10");
    auto materialized = newFrom(page->model()->index(0, 0), Command::NewMaterializedView);
    ASSERT_TRUE(materialized);
    EXPECT_EQ(materialized->schemaName(), "public");
    EXPECT_EQ(materialized->type(), ZNTTable::ZNTTableTypeMaterializedView);
}

// Export, from the menu and from File › Export: the clicked relations, one file each in a folder.
TEST_F(DatabasePageTest, ExportWritesTheClickedRelationsAsCSV) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    IconView *grid = page->iconView();
    QAction *fileExport = window->windowAction(ZNTWindowCommand::Export);
    grid->selectIndex(page->model()->index(0, 0), false); // the SQL Query item
    window->validateActions();
    EXPECT_FALSE(fileExport->isEnabled());
    grid->selectIndex(row(page, "public", "T9"), false);
    grid->selectIndex(row(page, "public", "noindex"), true);
    window->validateActions();
    ASSERT_TRUE(fileExport->isEnabled());
    fileExport->trigger();
    QFileDialog *panel = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (panel = window->findChild<QFileDialog *>()) && panel->isVisible(); }));
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "Exported Tables");
    QTemporaryDir dir;
    const QString folder = dir.filePath("public tables");
    panel->selectFile(folder);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(exporttest::exportsEnded());
    QStringList files = exporttest::entries(folder);
    files.sort();
    EXPECT_EQ(files, QStringList({"T9.csv", "noindex.csv"}));
    for (const QString &name : {QStringLiteral("T9"), QStringLiteral("noindex")}) {
        const QByteArray bytes = exporttest::fileBytes(QDir(folder).filePath(name + ".csv"));
        const QString count = db.run(QStringLiteral("SELECT count(*) FROM public.\"%1\"").arg(name));
        EXPECT_EQ(bytes.count('\n'), count.toInt() + 1) << name.toStdString(); // and the header
    }
}

TEST_F(DatabasePageTest, AFailedListingIsShownAndTheTreeKeepsWhatItHad) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    const QStringList shown = children(page, row(page, "public"));
    // The database goes away under the page: the listing cannot reconnect.
    psql("postgres", QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(db.name));
    const auto before = page->objectsQuery();
    page->performReload();
    Alert *failure = waitForAlert();
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->messageText().isEmpty());
    EXPECT_TRUE(failure->informativeText().endsWith("\n\nThe connection was lost. Choose Reload to reconnect."))
        << failure->informativeText().toStdString();
    EXPECT_EQ(failure->parentWidget(), window.get());
    failure->buttons().first()->click();
    EXPECT_FALSE(page->progressIndicator()->isAnimating());
    EXPECT_NE(page->objectsQuery(), before);
    EXPECT_EQ(children(page, row(page, "public")), shown);
}

TEST_F(DatabasePageTest, LooksRightAsIconsAndAsAList) {
    ZNTDatabaseViewController *page = openWindow();
    ASSERT_TRUE(page);
    page->iconView()->setExpanded(
        ZNTDatabaseTreeModel::identity(std::make_shared<ZNTSchema>("Sales2", server->mainDatabase())), true);
    page->iconView()->selectIndex(row(page, "public", "t10"), false);
    saveShots(window.get(), "database-page-icons");
    page->setPresentation(Presentation::List);
    page->outlineView()->expand(row(page, "Sales2"));
    page->outlineView()->selectionModel()->select(row(page, "public", "t10"),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    saveShots(window.get(), "database-page-list");
}
