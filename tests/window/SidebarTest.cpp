#include "WindowTestSupport.h"
#include "model/ServerTestSupport.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTableSchema.h"
#include "support/PlainTextSupport.h"
#include "uikit/AlertSheet.h"
#include "uikit/ContextMenuKey.h"
#include "window/ZNTSidebarController.h"
#include "window/ZNTSidebarOutlineView.h"
#include "window/ZNTSidebarTreeModel.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace windowtest;
using Command = ZNTSidebarController::Command;

namespace {
// A scratch database seen by a role of its own whose search path is two of its
// schemas; psql, connected as that role, says what the sidebar must list.
class SidebarTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetWindowDefaults();
        role = db.name.left(56) + QStringLiteral("_r"); // names longer than 63 bytes are cut
        psql("postgres", QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
        psql("postgres", QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
        db.run(QStringLiteral("CREATE SCHEMA alpha; CREATE SCHEMA beta; CREATE SCHEMA gamma;"
                              "CREATE TABLE alpha.t1 (id int); CREATE VIEW alpha.v2 AS SELECT 1 AS one;"
                              "CREATE TABLE beta.t0 (id int); CREATE MATERIALIZED VIEW beta.m3 AS SELECT 1 AS one;"
                              "CREATE TABLE gamma.g (id int); CREATE TABLE public.p (id int);"
                              "GRANT USAGE ON SCHEMA alpha, beta, gamma TO %1;"
                              "ALTER ROLE %1 IN DATABASE %2 SET search_path = alpha, beta")
                   .arg(role, db.name));
    }
    void TearDown() override {
        psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(db.name));
        psql("postgres", QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
    }

    // psql as the role itself, so that its search path applies.
    QString psqlAsRole(const QString &sql) const {
        QProcess process;
        process.start("psql", {"-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", requiredEnv("TRELLAN_PG_HOST"),
                               "-p", requiredEnv("TRELLAN_PG_PORT"), "-U", role, "-d", db.name, "-c", sql});
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    ZNTSidebarController *sidebarOn(const std::shared_ptr<ZNTObject> &root) {
        sidebar = std::make_unique<ZNTSidebarController>();
        sidebar->resize(260, 500);
        sidebar->show();
        sidebar->setRootItem(root);
        EXPECT_TRUE(settled());
        return sidebar.get();
    }
    bool settled() const {
        return pumpUntil([&] { return sidebar->model()->runningLoads() == 0; }, std::chrono::seconds(30));
    }
    QStringList rows(const QModelIndex &parent = {}) const {
        QStringList names;
        auto *model = sidebar->model();
        for (int r = 0; r < model->rowCount(parent); ++r)
            names << model->index(r, 0, parent).data().toString();
        return names;
    }
    QModelIndex rowNamed(const QString &name, const QModelIndex &parent = {}) const {
        auto *model = sidebar->model();
        for (int r = 0; r < model->rowCount(parent); ++r) {
            if (model->index(r, 0, parent).data().toString() == name)
                return model->index(r, 0, parent);
        }
        return {};
    }
    void expand(const QModelIndex &index) {
        sidebar->outlineView()->expand(index);
        EXPECT_TRUE(settled());
    }

    ScratchDatabase db;
    QString role;
    std::unique_ptr<ZNTSidebarController> sidebar;
};
} // namespace

TEST_F(SidebarTest, ListsTheSearchPathsRelationsThenTheOtherSchemasAsTheServerSeesThem) {
    auto server = connectedServer(db.name, role);
    sidebarOn(server->mainDatabase());
    const QStringList relations =
        psqlAsRole("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "WHERE c.relkind IN ('r', 'v', 'm') AND n.nspname = ANY (current_schemas(false)) ORDER BY 1")
            .split('\n');
    const QStringList schemas =
        psqlAsRole("SELECT nspname FROM pg_namespace WHERE nspname <> ALL (current_schemas(true)) "
                   "AND nspname NOT LIKE 'pg\\_%' AND nspname <> 'information_schema' ORDER BY 1")
            .split('\n');
    ASSERT_EQ(relations, QStringList({"m3", "t0", "t1", "v2"})); // the fixture is what the test thinks it is
    EXPECT_EQ(rows(), QStringList({"SQL Query"}) + relations + schemas);

    const QModelIndex gamma = rowNamed("gamma");
    EXPECT_EQ(sidebar->model()->rowKind(sidebar->model()->index(0, 0, gamma)), ZNTSidebarTreeModel::RowKind::Loading);
    EXPECT_FALSE(sidebar->model()->flags(sidebar->model()->index(0, 0, gamma)) & Qt::ItemIsSelectable);
    expand(gamma);
    EXPECT_EQ(rows(gamma), QStringList({"g"}));
    EXPECT_FALSE(sidebar->model()->hasChildren(rowNamed("t1")));
}

TEST_F(SidebarTest, AReloadKeepsEveryRowsInstanceItsExpansionAndTheSelection) {
    auto server = connectedServer(db.name, role);
    sidebarOn(server->mainDatabase());
    expand(rowNamed("gamma"));
    const QPersistentModelIndex g = rowNamed("g", rowNamed("gamma"));
    const auto gItem = sidebar->model()->itemForIndex(g);
    const auto t1Item = sidebar->model()->itemForIndex(rowNamed("t1"));
    sidebar->selectItem(ZNTTable::create("g", "gamma", server->mainDatabase())); // as the window does
    ASSERT_TRUE(sidebar->outlineView()->selectionModel()->isSelected(g));

    db.run("CREATE TABLE alpha.a0 (id int); DROP TABLE beta.t0; CREATE TABLE gamma.f (id int)");
    int resets = 0;
    QObject::connect(sidebar->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    sidebar->performReload();
    ASSERT_TRUE(settled());
    EXPECT_EQ(rows(), QStringList({"SQL Query", "a0", "m3", "t1", "v2", "gamma", "public"}));
    EXPECT_EQ(rows(rowNamed("gamma")), QStringList({"f", "g"}));
    EXPECT_EQ(resets, 0);
    EXPECT_TRUE(g.isValid());
    EXPECT_EQ(sidebar->model()->itemForIndex(g), gItem);
    EXPECT_EQ(sidebar->model()->itemForIndex(rowNamed("t1")), t1Item);
    EXPECT_TRUE(sidebar->outlineView()->isExpanded(rowNamed("gamma")));
    EXPECT_TRUE(sidebar->outlineView()->selectionModel()->isSelected(g));
}

TEST_F(SidebarTest, ADatabaseWithoutConnectRightsEndsInAnErrorRowThatCannotBeUsed) {
    const QString locked = db.name.left(56) + QStringLiteral("_l");
    psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1").arg(locked));
    psql("postgres", QStringLiteral("CREATE DATABASE %1").arg(locked));
    psql("postgres", QStringLiteral("REVOKE CONNECT ON DATABASE %1 FROM PUBLIC").arg(locked));
    auto favorite = std::make_shared<FakeFavorite>();
    favorite->allDatabases = true;
    auto server = connectedServer(db.name, role);
    server->setFavorite(favorite);
    sidebarOn(server);
    EXPECT_TRUE(rows().contains(locked));
    EXPECT_TRUE(rows().contains(db.name));

    const QModelIndex lockedRow = rowNamed(locked);
    expand(lockedRow);
    ASSERT_EQ(sidebar->model()->rowCount(lockedRow), 1);
    const QModelIndex error = sidebar->model()->index(0, 0, lockedRow);
    EXPECT_EQ(sidebar->model()->rowKind(error), ZNTSidebarTreeModel::RowKind::Error);
    EXPECT_TRUE(error.data().toString().contains("permission denied")) << error.data().toString().toStdString();
    EXPECT_FALSE(sidebar->model()->flags(error) & Qt::ItemIsSelectable);
    sidebar->setClickedRow(error);
    for (Command command :
         {Command::OpenSidebarItem, Command::OpenSidebarItemInNewWindow, Command::CopySidebarItemName})
        EXPECT_FALSE(sidebar->validateMenuItem(command)) << int(command);
    // The database's own row works as any other.
    sidebar->setClickedRow(lockedRow);
    EXPECT_TRUE(sidebar->validateMenuItem(Command::OpenSidebarItem));
    saveShot(sidebar.get(), "sidebar-error-row.png");
    sidebar.reset();
    psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1").arg(locked));
}

TEST_F(SidebarTest, AnAnswerForARootNoLongerShownIsDropped) {
    const QString other = db.name.left(56) + QStringLiteral("_o");
    psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1").arg(other));
    psql("postgres", QStringLiteral("CREATE DATABASE %1").arg(other));
    psql(other, "CREATE TABLE only_in_other (id int)");
    auto server = connectedServer(db.name, role);
    auto first = server->mainDatabase();
    auto second = std::make_shared<ZNTDatabase>(other, server);

    sidebar = std::make_unique<ZNTSidebarController>();
    sidebar->setRootItem(first);
    sidebar->setRootItem(second); // no turn of the event loop in between
    ASSERT_TRUE(settled());
    // Whatever the first root's listing answers now has nowhere to go.
    ZNTObjectList firstListing;
    auto listing = first->descendantQuery();
    listing->setForSidebar(true);
    runListing(listing);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(rows(), QStringList({"SQL Query", "only_in_other"}));

    // A level asked for twice answers once, with the later answer.
    sidebar->setRootItem(first);
    ASSERT_TRUE(settled());
    sidebar->performReload();
    sidebar->performReload();
    EXPECT_EQ(sidebar->model()->runningLoads(), 1);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(rows().contains("t1"));
    sidebar.reset();
    psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(other));
}

TEST_F(SidebarTest, SelectingNavigatesTheWindowButNotToASchemaAndAltOpensTheStructure) {
    UserDefaults::standard().setObject(true, "ShowSidebar");
    auto server = connectedServer(db.name, role);
    auto window = ZNTWindowController::create(server->mainDatabase());
    window->resize(900, 600);
    uikittest::activate(window.get());
    ASSERT_TRUE(window->sidebarController());
    sidebar.reset();
    ZNTSidebarController *bar = window->sidebarController();
    ASSERT_TRUE(pumpUntil([&] { return bar->model()->runningLoads() == 0 && bar->model()->rowCount() > 1; }));
    ZNTSidebarOutlineView *outline = bar->outlineView();
    auto rowOf = [&](const QString &name, const QModelIndex &parent = {}) {
        for (int r = 0; r < bar->model()->rowCount(parent); ++r)
            if (bar->model()->index(r, 0, parent).data().toString() == name)
                return bar->model()->index(r, 0, parent);
        return QModelIndex();
    };
    auto click = [&](const QModelIndex &row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, modifiers, outline->visualRect(row).center());
    };

    click(rowOf("t1"));
    EXPECT_EQ(window->currentItem()->name(), "t1");
    EXPECT_EQ(window->navigation().backwardHistory().size(), 1);
    EXPECT_TRUE(outline->hasFocus()); // navigation from the sidebar leaves the focus there
    click(rowOf("gamma"));
    EXPECT_EQ(window->currentItem()->name(), "t1");
    // A right click opens the menu on a row without selecting it.
    QTest::mouseClick(outline->viewport(), Qt::RightButton, {}, outline->visualRect(rowOf("t0")).center());
    EXPECT_EQ(window->currentItem()->name(), "t1");
    EXPECT_FALSE(outline->selectionModel()->isSelected(rowOf("t0")));
    bar->contextMenu()->hide();
    click(rowOf("v2"), Qt::AltModifier);
    EXPECT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::TableSchema);
    EXPECT_EQ(window->currentItem()->name(), "v2");

    // The window going back highlights the item without navigating again.
    window->goBack();
    EXPECT_TRUE(outline->selectionModel()->isSelected(rowOf("t1")));
    EXPECT_EQ(window->navigation().forwardHistory().size(), 1);
    window->goBack(); // the database: it has no row under its own root
    EXPECT_FALSE(outline->selectionModel()->hasSelection());
    EXPECT_EQ(window->navigation().backwardHistory().size(), 0);

    // Tab hands the focus to the page.
    outline->setFocus();
    QTest::keyClick(outline, Qt::Key_Tab);
    EXPECT_FALSE(window->isSidebarFirstResponder());
    EXPECT_TRUE(window->mainView()->isAncestorOf(QApplication::focusWidget()));
    saveShot(window.get(), "window-with-sidebar.png");
    saveDarkShot(window.get(), "window-with-sidebar-dark.png");
}

// The menu of a right click acts on the clicked row, not on the highlighted
// one: while it is open, that row wears a ring.
TEST_F(SidebarTest, ARightClickedRowIsMarkedWhileItsMenuIsOpen) {
    auto server = connectedServer(db.name, role);
    sidebarOn(server->mainDatabase());
    uikittest::activate(sidebar.get());
    ZNTSidebarOutlineView *outline = sidebar->outlineView();
    outline->selectionModel()->select(rowNamed("t1"), QItemSelectionModel::ClearAndSelect);
    const QRect t0 = outline->visualRect(rowNamed("t0"));
    const QColor highlight = outline->palette().color(QPalette::Highlight);
    auto ringShows = [&] {
        const QImage shot = outline->viewport()->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        // The row's lower edge, under the text's start: plain ground unless a ring is drawn.
        const QColor edge = shot.pixelColor(QPointF(t0.left() + t0.width() / 2, t0.bottom() - 1).toPoint() * ratio);
        return std::abs(edge.hueF() - highlight.hueF()) < 0.05 && edge.saturationF() > 0.3;
    };
    EXPECT_FALSE(ringShows());
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, t0.center(), outline->viewport()->mapToGlobal(t0.center()));
    QApplication::sendEvent(outline->viewport(), &rightClick);
    ASSERT_TRUE(pumpUntil([&] { return sidebar->contextMenu()->isVisible(); }));
    EXPECT_TRUE(ringShows()) << "the clicked row is not marked";
    saveShot(sidebar.get(), "sidebar-context-menu-row.png");
    sidebar->contextMenu()->hide();
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(ringShows()) << "the ring stays after the menu closed";

    // Shift+F10 opens it too, on the current row, as the Menu key does.
    uv_openContextMenusWithShiftF10(); // as the program does at start-up
    outline->setCurrentIndex(rowNamed("t0"));
    QTest::keyClick(outline, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(pumpUntil([&] { return sidebar->contextMenu()->isVisible(); }));
    EXPECT_TRUE(ringShows());
    sidebar->contextMenu()->hide();
}

// A level that fails says why in its row, not only in a tool tip that the
// keyboard cannot reach.
TEST_F(SidebarTest, AFailedLevelSaysWhatTheServerSaid) {
    auto server = connectedServer(db.name, role);
    sidebarOn(server->mainDatabase());
    psql("postgres", QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                    "WHERE datname = '%1' AND usename = '%2'")
                         .arg(db.name, role));
    sidebar->performReload();
    ASSERT_TRUE(settled());
    const QModelIndex last = sidebar->model()->index(sidebar->model()->rowCount() - 1, 0);
    ASSERT_EQ(sidebar->model()->rowKind(last), ZNTSidebarTreeModel::RowKind::Error) << rows().join(", ").toStdString();
    const QString shown = last.data().toString();
    // Over TLS libpq notices the closed socket; without it, the server's notice may come first.
    EXPECT_TRUE(shown.contains("closed") || shown.contains("terminat")) << shown.toStdString();
    EXPECT_FALSE(shown.contains('\n'));
    saveShot(sidebar.get(), "sidebar-failed-level.png");
}

TEST_F(SidebarTest, ContextCommandsFollowTheClickedRows) {
    auto server = connectedServer(db.name, role);
    sidebarOn(server->mainDatabase());
    sidebar->setClickedRow(rowNamed("SQL Query"));
    EXPECT_FALSE(sidebar->validateMenuItem(Command::CopySidebarItemName));
    EXPECT_TRUE(sidebar->validateMenuItem(Command::OpenSidebarItem));
    EXPECT_FALSE(sidebar->validateMenuItem(Command::OpenSidebarItemSchema));
    EXPECT_FALSE(sidebar->validateMenuItem(Command::ExportSidebarItem));

    sidebar->setClickedRow(rowNamed("gamma"));
    EXPECT_FALSE(sidebar->validateMenuItem(Command::OpenSidebarItem));
    EXPECT_TRUE(sidebar->validateMenuItem(Command::CopySidebarItemName));
    sidebar->menuAction(Command::CopySidebarItemName)->trigger(); // as the menu does
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "gamma");

    // Several rows: the selection when the clicked row is part of it.
    auto *selection = sidebar->outlineView()->selectionModel();
    selection->select(rowNamed("t1"), QItemSelectionModel::Select);
    selection->select(rowNamed("v2"), QItemSelectionModel::Select);
    sidebar->setClickedRow(rowNamed("v2"));
    EXPECT_EQ(sidebar->clickedItems().size(), 2);
    EXPECT_FALSE(sidebar->validateMenuItem(Command::OpenSidebarItem));
    EXPECT_FALSE(sidebar->validateMenuItem(Command::ExportSidebarItem));
    sidebar->setClickedRow(rowNamed("m3")); // not selected: alone
    EXPECT_EQ(sidebar->clickedItems().size(), 1);
    EXPECT_TRUE(sidebar->validateMenuItem(Command::OpenSidebarItemSchema));
    EXPECT_TRUE(sidebar->validateMenuItem(Command::NewTable));
}

TEST_F(SidebarTest, NewRelationsGoIntoTheClickedSchemaOrTheClickedRelationsOwn) {
    auto server = connectedServer(db.name, role);
    auto window = ZNTWindowController::create(server->mainDatabase());
    window->show();
    window->toggleSidebar();
    sidebar.reset();
    ZNTSidebarController *bar = window->sidebarController();
    ASSERT_TRUE(pumpUntil([&] { return bar->model()->runningLoads() == 0 && bar->model()->rowCount() > 1; }));
    auto rowOf = [&](const QString &name) {
        for (int r = 0; r < bar->model()->rowCount(); ++r)
            if (bar->model()->index(r, 0).data().toString() == name)
                return bar->model()->index(r, 0);
        return QModelIndex();
    };
    bar->setClickedRow(rowOf("t0")); // a relation of schema beta
    bar->menuAction(Command::NewView)->trigger();
    auto made = std::dynamic_pointer_cast<ZNTTableSchema>(window->currentItem());
    ASSERT_TRUE(made);
    EXPECT_EQ(made->table()->schemaName(), "beta");
    EXPECT_EQ(made->table()->type(), ZNTTable::ZNTTableTypeView);
    EXPECT_FALSE(made->table()->hasName());

    bar->setClickedRow(rowOf("gamma"));
    bar->performMenuAction(Command::NewMaterializedView);
    made = std::dynamic_pointer_cast<ZNTTableSchema>(window->currentItem());
    EXPECT_EQ(made->table()->schemaName(), "gamma");
    EXPECT_EQ(made->table()->type(), ZNTTable::ZNTTableTypeMaterializedView);
}

TEST_F(SidebarTest, PreferredWidthFitsTheWidestRow) {
    ZNTSidebarController empty;
    EXPECT_EQ(empty.preferredWidth(), 170.0);
    db.run("CREATE TABLE alpha.a_table_with_a_rather_long_name_for_a_sidebar (id int)");
    auto server = connectedServer(db.name, role);
    sidebarOn(server->mainDatabase());
    const QString longest = "a_table_with_a_rather_long_name_for_a_sidebar";
    ASSERT_TRUE(pumpUntil([&] { return rows().contains(longest); })) << rows().join(", ").toStdString();
    const double width = sidebar->preferredWidth();
    EXPECT_GT(width, sidebar->fontMetrics().horizontalAdvance(longest) + 16);
    EXPECT_LT(width, sidebar->fontMetrics().horizontalAdvance(longest) + 120);
}

TEST_F(SidebarTest, MaintenanceFollowsWhatEachActionCanDoAndASuccessfulDropReloads) {
    auto server = connectedServer(db.name); // the owner, who may drop
    auto window = ZNTWindowController::create(server->mainDatabase());
    window->show();
    window->toggleSidebar();
    sidebar.reset();
    ZNTSidebarController *bar = window->sidebarController();
    auto *model = bar->model();
    auto settledHere = [&] { return pumpUntil([&] { return model->runningLoads() == 0 && model->rowCount() > 1; }); };
    auto rowOf = [&](const QString &name, const QModelIndex &parent = {}) {
        for (int r = 0; r < model->rowCount(parent); ++r)
            if (model->index(r, 0, parent).data().toString() == name)
                return model->index(r, 0, parent);
        return QModelIndex();
    };
    ASSERT_TRUE(settledHere());
    bar->outlineView()->expand(rowOf("alpha"));
    bar->outlineView()->expand(rowOf("beta"));
    ASSERT_TRUE(pumpUntil([&] { return model->runningLoads() == 0; }));

    bar->setClickedRow(rowOf("v2", rowOf("alpha")));
    for (Command command : {Command::AnalyzeSidebarItem, Command::VacuumSidebarItem, Command::TruncateSidebarItem,
                            Command::RefreshMaterializedViewSidebarItem})
        EXPECT_FALSE(bar->validateMenuItem(command)) << int(command);
    EXPECT_TRUE(bar->validateMenuItem(Command::DeleteSidebarItem));
    EXPECT_TRUE(bar->validateMenuItem(Command::ClusterSidebarItem));
    bar->setClickedRow(rowOf("m3", rowOf("beta")));
    EXPECT_TRUE(bar->validateMenuItem(Command::RefreshMaterializedViewSidebarItem));
    EXPECT_TRUE(bar->validateMenuItem(Command::AnalyzeSidebarItem));

    // A schema and a table together: nothing to drop, nothing to analyze.
    auto *selection = bar->outlineView()->selectionModel();
    selection->select(rowOf("alpha"), QItemSelectionModel::Select);
    selection->select(rowOf("p"), QItemSelectionModel::Select);
    bar->setClickedRow(rowOf("p"));
    EXPECT_FALSE(bar->validateMenuItem(Command::DeleteSidebarItem));
    EXPECT_FALSE(bar->validateMenuItem(Command::AnalyzeSidebarItem));

    selection->clearSelection();
    bar->setClickedRow(rowOf("p"));
    ASSERT_TRUE(bar->validateMenuItem(Command::DeleteSidebarItem));
    bar->performMenuAction(Command::DeleteSidebarItem);
    Alert *confirm = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (confirm = qobject_cast<Alert *>(QApplication::activeModalWidget())); }));
    confirm->buttons().first()->click();
    ASSERT_TRUE(
        pumpUntil([&] { return !rowOf("p").isValid() && model->runningLoads() == 0; }, std::chrono::seconds(30)));
    EXPECT_EQ(db.run("SELECT count(*) FROM pg_class WHERE relname = 'p'"), "0");
    EXPECT_TRUE(bar->outlineView()->isExpanded(rowOf("alpha")));
}

namespace {
// A listing that answers from the main loop with whatever its item holds now.
class CannedListing : public ZNTObjectQuery {
public:
    explicit CannedListing(ZNTObjectList items) : m_items(std::move(items)) {}
    void executeInBackground() override {
        std::weak_ptr<ZNTObjectQuery> weak = weak_from_this();
        QTimer::singleShot(0, [weak, items = m_items] {
            auto self = std::static_pointer_cast<CannedListing>(weak.lock());
            if (!self)
                return;
            self->append(items);
            self->publish();
            NotificationCenter::defaultCenter().post(DoneNotification, self);
        });
    }

protected:
    void newRows(const RowRange &) override {}

private:
    ZNTObjectList m_items;
};

// An item by name alone; a folder lists what the test puts into it.
class Named : public ZNTObject {
public:
    explicit Named(QString name, bool folder = false) : m_name(std::move(name)), m_folder(folder) {}
    QString name() const override { return m_name; }
    std::shared_ptr<ZNTObject> parent() const override { return nullptr; }
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Schema; }
    std::shared_ptr<ZNTObjectQuery> descendantQuery() override {
        return m_folder ? std::make_shared<CannedListing>(children) : nullptr;
    }
    bool isEqual(const ZNTObject &other) const override {
        auto *named = dynamic_cast<const Named *>(&other);
        return named && named->m_name == m_name;
    }
    size_t hash() const override { return qHash(m_name); }
    ZNTObjectList children;

private:
    QString m_name;
    bool m_folder;
};

ZNTObjectList named(const QStringList &names) {
    ZNTObjectList items;
    for (const QString &name : names)
        items << std::make_shared<Named>(name, name.startsWith(u'+'));
    return items;
}
} // namespace

// A tool tip reads what looks like HTML as HTML: an object's name must show as it is.
TEST(SidebarModel, ToolTipsShowObjectNamesAsText) {
    auto root = std::make_shared<Named>("root", true);
    root->children = named({kMarkup, "a < b"});
    ZNTSidebarTreeModel model;
    model.setRootItem(root);
    ASSERT_TRUE(pumpUntil([&] { return model.runningLoads() == 0; }));
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(shownText(model.index(0, 0).data(Qt::ToolTipRole).toString()), kMarkup);
    EXPECT_EQ(model.index(0, 0).data().toString(), kMarkup);
    EXPECT_EQ(shownText(model.index(1, 0).data(Qt::ToolTipRole).toString()), "a < b");
}

// New answers that reorder, add and drop rows move the rows that stay, with
// their instances and what lies under them.
TEST(SidebarModel, ReorderedAnswersMoveRowsInsteadOfReplacingThem) {
    auto root = std::make_shared<Named>("root", true);
    root->children = named({"a", "+b", "c", "d"});
    ZNTSidebarTreeModel model;
    model.setRootItem(root);
    ASSERT_TRUE(pumpUntil([&] { return model.runningLoads() == 0; }));
    auto folder = std::static_pointer_cast<Named>(model.itemForIndex(model.index(1, 0)));
    folder->children = named({"x"});
    model.loadChildrenIfNeeded(model.index(1, 0));
    ASSERT_TRUE(pumpUntil([&] { return model.runningLoads() == 0; }));
    const QPersistentModelIndex b = model.index(1, 0), c = model.index(2, 0), x = model.index(0, 0, b);
    const auto cItem = model.itemForIndex(c);
    int moves = 0, resets = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsMoved, [&] { ++moves; });
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });

    root->children = named({"c", "e", "+b", "a"}); // d gone, e new, the rest reordered
    model.performReload();
    ASSERT_TRUE(pumpUntil([&] { return model.runningLoads() == 0; }));
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r)
        rows << model.index(r, 0).data().toString();
    EXPECT_EQ(rows, QStringList({"c", "e", "+b", "a"}));
    EXPECT_EQ(resets, 0);
    EXPECT_GT(moves, 0);
    EXPECT_EQ(c.row(), 0);
    EXPECT_EQ(model.itemForIndex(c), cItem);
    EXPECT_EQ(b.row(), 2);
    EXPECT_EQ(model.itemForIndex(b), folder); // the first instance, not the new equal one
    ASSERT_TRUE(x.isValid());
    EXPECT_EQ(x.data().toString(), "x");
}
