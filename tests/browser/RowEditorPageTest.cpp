// The row editor in the table page's detail sidebar and on pages of its own,
// against the test server: foreign keys with the referenced row and the
// picker, booleans of several rows, bytea files, JSON, each checked with psql.
#include "RowEditorTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTBooleanCell.h"
#include "browser/ZNTByteaCellView.h"
#include "browser/ZNTForeignKeyCell.h"
#include "browser/ZNTForeignTablePopover.h"
#include "browser/ZNTRowValueText.h"
#include "browser/ZNTRowValueTextCell.h"
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableGridView.h"
#include "browser/ZNTTableViewController.h"
#include "model/ZNTAsynchronousRow.h"
#include "uikit/AlertSheet.h"
#include "uikit/ZNTTextView.h"
#include "window/ZNTActionRoute.h"
#include "window/ZNTContentControllerFactory.h"

#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QMenu>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUndoStack>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace roweditortest;
using namespace std::chrono_literals;

namespace {

const char *const kShop = R"sql(
CREATE TABLE customers (id int PRIMARY KEY, name text NOT NULL, city text);
INSERT INTO customers VALUES (1, 'Ada', 'London'), (2, 'Bob', 'Paris'), (3, 'Cy', 'Rome');
CREATE TABLE orders (id int PRIMARY KEY, customer_id int REFERENCES customers (id), note text);
INSERT INTO orders VALUES (10, 1, 'first'), (11, 2, 'second'), (12, NULL, 'nobody');
)sql";

// A table page with its detail sidebar in a window, its first page loaded.
struct PageHost {
    explicit PageHost(const std::shared_ptr<ZNTTable> &table) {
        uikittest::useFixedLook();
        BrowserPages::install();
        page = new ZNTTableViewController(table);
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(page->view(), 2);
        layout->addWidget(page->rightSidebarView(), 1);
        window.resize(1100, 640);
        uikittest::activate(&window);
        EXPECT_TRUE(pumpUntil([&] { return page->contentModel()->rowCount() > 0 && !page->isBusy(); }, 30s));
    }
    ~PageHost() {
        delete page;
        ZNTContentControllers::setFactory(ZNTPage::Table, nullptr);
        ZNTContentControllers::setFactory(ZNTPage::Row, nullptr);
        ZNTTableViewController::setRowEditorFactory(nullptr);
    }

    void select(const QList<int> &rows) {
        QItemSelection selection;
        for (int row : rows)
            selection.select(page->contentModel()->index(row, 0), page->contentModel()->index(row, 0));
        page->tableView()->selectionModel()->select(selection,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        pumpFor(60ms);
    }
    ZNTRowViewController *editor() const {
        return dynamic_cast<ZNTRowViewController *>(page->sidebarRowViewController());
    }
    template <class Cell> Cell *cell(int index) {
        return editor() ? dynamic_cast<Cell *>(editor()->cellAtRow(index, true)) : nullptr;
    }
    // The grid's row whose first column shows text.
    int rowWithKey(const QString &text) const {
        for (int row = 0; row < page->contentModel()->rowCount(); ++row)
            if (page->contentModel()->valueAt(row, 0).description() == text)
                return row;
        return -1;
    }
    Value valueAt(int row, const QString &column) const {
        const int display = page->contentModel()->displayColumnNamed(column);
        return page->contentModel()->valueAt(row, display);
    }
    bool save() {
        bool done = false, ok = false;
        page->saveEditsWithCompletionHandler([&](bool success, ErrorPtr) {
            done = true;
            ok = success;
        });
        EXPECT_TRUE(pumpUntil([&] { return done; }, 30s));
        return ok;
    }

    QWidget window;
    ZNTTableViewController *page = nullptr;
};

void waitLoaded(ZNTForeignKeyCell *cell) {
    EXPECT_TRUE(pumpUntil(
        [&] {
            auto row = std::dynamic_pointer_cast<ZNTAsynchronousRow>(cell->foreignRow());
            return !row || row->hasLoaded();
        },
        30s));
    pumpFor(30ms);
}

QStringList stripTexts(ZNTForeignKeyCell *cell) {
    QStringList texts;
    for (qsizetype i = 0; i < cell->headerFields().size(); ++i) {
        ZNTBeveledTextField *data = cell->dataFields()[i];
        const auto *value = qobject_cast<ZNTForeignValueField *>(data);
        texts << cell->headerFields()[i]->text() + "=" + (value ? value->shownText() : data->text());
    }
    return texts;
}

// The window of the editor takes the route's actions, as the main window does.
class Navigator : public QWidget, public ZNTResponder {
public:
    bool performAction(const ZNTAction &action) override {
        if (action.name != ZNTActionName::navigateToItem)
            return false;
        items.push_back(std::any_cast<std::shared_ptr<ZNTObject>>(action.argument));
        return true;
    }
    std::vector<std::shared_ptr<ZNTObject>> items;
};

} // namespace

TEST(RowEditorPage, AChangedKeyReachesThePageOnceAndTheReferencedRowFollows) {
    Database d;
    d.db.run(kShop);
    std::shared_ptr<ZNTTable> ordersTable;
    ASSERT_NO_FATAL_FAILURE(ordersTable = d.loaded("orders"));
    PageHost host(ordersTable);
    host.select({host.rowWithKey("10")});
    ASSERT_TRUE(host.editor());
    auto *customer = host.cell<ZNTForeignKeyCell>(1);
    ASSERT_TRUE(customer) << "the single column of a foreign key";
    waitLoaded(customer);
    EXPECT_EQ(stripTexts(customer), (QStringList{"id=1", "name=Ada", "city=London"}));
    EXPECT_EQ(customer->selectButton()->text(), "customers");
    EXPECT_TRUE(customer->foreignRowEditable());

    const int steps = host.page->undoStack()->count();
    customer->textField()->setFocus(Qt::MouseFocusReason);
    customer->textField()->selectAll();
    QTest::keyClicks(customer->textField(), "2");
    EXPECT_EQ(stripTexts(customer), (QStringList{"id=2", "name=", "city="})) << "typing clears the old row's values";
    QTest::keyClick(customer->textField(), Qt::Key_Return);
    host.cell<ZNTRowValueTextCell>(2)->textView()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(host.page->undoStack()->count(), steps + 1) << "one edit, though Return and leaving both end it";
    EXPECT_EQ(host.valueAt(host.rowWithKey("10"), "customer_id").description(), "2");
    waitLoaded(customer);
    EXPECT_EQ(stripTexts(customer), (QStringList{"id=2", "name=Bob", "city=Paris"}));

    // Escape takes typing back: the key and the row shown are as before.
    customer->textField()->setFocus(Qt::MouseFocusReason);
    customer->textField()->selectAll();
    QTest::keyClicks(customer->textField(), "3");
    QTest::keyClick(customer->textField(), Qt::Key_Escape);
    EXPECT_EQ(customer->textField()->text(), "2");
    EXPECT_EQ(stripTexts(customer), (QStringList{"id=2", "name=Bob", "city=Paris"}));
    EXPECT_TRUE(customer->textField()->hasFocus());
    host.cell<ZNTRowValueTextCell>(2)->textView()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(host.page->undoStack()->count(), steps + 1);

    ASSERT_TRUE(host.save());
    EXPECT_EQ(d.db.run("SELECT customer_id FROM orders WHERE id = 10"), "2");
}

TEST(RowEditorPage, ThePickerTakesADoubleClickedRowAndTheSameRowChangesNothing) {
    Database d;
    d.db.run(kShop);
    std::shared_ptr<ZNTTable> ordersTable;
    ASSERT_NO_FATAL_FAILURE(ordersTable = d.loaded("orders"));
    PageHost host(ordersTable);
    host.select({host.rowWithKey("11")});
    auto *customer = host.cell<ZNTForeignKeyCell>(1);
    ASSERT_TRUE(customer);
    waitLoaded(customer);
    const int steps = host.page->undoStack()->count();

    auto pick = [&](const QString &id) {
        QTest::mouseClick(customer->selectButton(), Qt::LeftButton);
        ZNTForeignTablePopover *popover = host.editor()->foreignTablePopover();
        EXPECT_TRUE(popover);
        if (!popover)
            return;
        EXPECT_TRUE(host.editor()->disableEditing()) << "no editing while the picker is open";
        EXPECT_FALSE(customer->selectButton()->isEnabled());
        ZNTTableViewController *list = popover->tableViewController();
        EXPECT_TRUE(list->readOnly());
        EXPECT_EQ(popover->contentView()->size(), QSize(500, 400));
        EXPECT_TRUE(pumpUntil([&] { return list->contentModel()->rowCount() == 3 && !list->isBusy(); }, 30s));
        int row = -1;
        for (int r = 0; r < 3; ++r)
            if (list->contentModel()->valueAt(r, 0).description() == id)
                row = r;
        saveShot(popover, QStringLiteral("row-picker.png"));
        ZNTTableGridView *grid = list->tableView();
        const QRect cell = grid->visualRect(list->contentModel()->index(row, 1));
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        EXPECT_TRUE(pumpUntil([&] { return !host.editor()->foreignTablePopover(); }));
        EXPECT_FALSE(host.editor()->disableEditing());
    };
    pick("3");
    EXPECT_EQ(host.page->undoStack()->count(), steps + 1);
    EXPECT_EQ(host.valueAt(host.rowWithKey("11"), "customer_id"), Value::fromInt(3));
    EXPECT_EQ(customer->textField()->text(), "3");
    EXPECT_EQ(stripTexts(customer), (QStringList{"id=3", "name=Cy", "city=Rome"})) << "shown without a load";
    pick("3");
    EXPECT_EQ(host.page->undoStack()->count(), steps + 1) << "the row already referenced is no change";

    // The picker's page writes nothing into the referenced table.
    QTest::mouseClick(customer->selectButton(), Qt::LeftButton);
    ZNTForeignTablePopover *popover = host.editor()->foreignTablePopover();
    ASSERT_TRUE(popover);
    BeepCounter beeps;
    popover->tableViewController()->newRow();
    EXPECT_EQ(beeps.count, 1);
    QTest::keyClick(popover, Qt::Key_Escape);
    EXPECT_TRUE(pumpUntil([&] { return !host.editor()->foreignTablePopover(); }));
    ASSERT_TRUE(host.save());
    EXPECT_EQ(d.db.run("SELECT customer_id FROM orders WHERE id = 11"), "3");
}

TEST(RowEditorPage, NullKeysKeysWithoutAMatchAndCompositeKeys) {
    Database d;
    d.db.run(kShop);
    d.db.run("ALTER TABLE orders DROP CONSTRAINT orders_customer_id_fkey;"
             "INSERT INTO orders VALUES (13, 99, 'orphan');"
             "ALTER TABLE orders ADD FOREIGN KEY (customer_id) REFERENCES customers (id) NOT VALID;"
             "CREATE TABLE places (country text, code int, name text, PRIMARY KEY (country, code));"
             "INSERT INTO places VALUES ('fr', 1, 'Lyon');"
             "CREATE TABLE visits (id int PRIMARY KEY, country text, code int,"
             " FOREIGN KEY (country, code) REFERENCES places);"
             "INSERT INTO visits VALUES (1, 'fr', 1)");
    EditorHost host;
    std::shared_ptr<ZNTRow> shown;
    ASSERT_NO_FATAL_FAILURE(shown = d.row("orders", "id = 12"));
    host.editor->setRow(shown);
    auto *nobody = host.cell<ZNTForeignKeyCell>(1);
    ASSERT_TRUE(nobody);
    waitLoaded(nobody);
    EXPECT_EQ(nobody->textField()->text(), "NULL");
    EXPECT_EQ(nobody->textField()->palette().color(QPalette::Text), nobody->palette().color(QPalette::PlaceholderText));
    EXPECT_EQ(stripTexts(nobody), (QStringList{"id=NULL", "name=", "city="}));
    EXPECT_FALSE(nobody->foreignRowEditable());
    EXPECT_FALSE(nobody->editButton()->isEnabled()) << "there is no row to open";

    ASSERT_NO_FATAL_FAILURE(shown = d.row("orders", "id = 13"));
    host.editor->setRow(shown);
    auto *orphan = host.cell<ZNTForeignKeyCell>(1);
    waitLoaded(orphan);
    EXPECT_EQ(stripTexts(orphan), (QStringList{"id=99", "name=", "city="}));
    EXPECT_FALSE(orphan->foreignRowEditable());
    host.settle();
    saveShot(&host.window, QStringLiteral("row-editor-orphan-key.png"));

    ASSERT_NO_FATAL_FAILURE(shown = d.row("visits", "id = 1"));
    host.editor->setRow(shown);
    host.settle();
    EXPECT_TRUE(host.cell<ZNTRowValueTextCell>(1)) << "a key over two columns: text cells";
    EXPECT_TRUE(host.cell<ZNTRowValueTextCell>(2));
    EXPECT_FALSE(host.editor->foreignRowForColumn(1));
}

TEST(RowEditorPage, TheEditButtonOpensTheReferencedRowAndBeepsWhenNobodyTakesIt) {
    Database d;
    d.db.run(kShop);
    Navigator window;
    auto *layout = new QVBoxLayout(&window);
    auto *editor = new ZNTRowViewController;
    layout->addWidget(editor->editorView());
    window.resize(360, 500);
    uikittest::activate(&window);
    std::shared_ptr<ZNTRow> shown;
    ASSERT_NO_FATAL_FAILURE(shown = d.row("orders", "id = 10"));
    editor->setRow(shown);
    auto *customer = dynamic_cast<ZNTForeignKeyCell *>(editor->cellAtRow(1));
    ASSERT_TRUE(customer);
    waitLoaded(customer);
    QTest::mouseClick(customer->editButton(), Qt::LeftButton);
    ASSERT_EQ(window.items.size(), 1u);
    auto opened = std::dynamic_pointer_cast<ZNTRow>(window.items[0]);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->table()->name(), "customers");
    EXPECT_EQ(opened->values()[1], Value::fromString("Ada"));
    EXPECT_EQ(opened->parent(), editor->row()) << "the referenced row hangs under the row that points to it";
    saveShot(&window, QStringLiteral("row-editor-foreign-key.png"));
    saveDarkShot(&window, QStringLiteral("row-editor-foreign-key-dark.png"));

    // Opened on its page, the row takes no edits and still opens what it references.
    std::unique_ptr<ZNTRowViewController> page(ZNTRowViewController::viewControllerForItem(opened));
    EXPECT_FALSE(page->isEditable());

    QWidget plain;
    plain.setLayout(new QVBoxLayout);
    plain.layout()->addWidget(editor->editorView());
    plain.resize(360, 500);
    plain.show();
    pumpFor(30ms);
    BeepCounter beeps;
    QTest::mouseClick(customer->editButton(), Qt::LeftButton);
    EXPECT_EQ(beeps.count, 1);
    delete editor;
}

TEST(RowEditorPage, TwoRowsThatDifferShowMultipleAndTrueSetsBothInOneStep) {
    Database d;
    d.db.run("CREATE TABLE flags (id int PRIMARY KEY, on_call boolean, note text);"
             "INSERT INTO flags VALUES (1, true, 'a'), (2, false, 'b'), (3, NULL, 'c')");
    std::shared_ptr<ZNTTable> flagsTable;
    ASSERT_NO_FATAL_FAILURE(flagsTable = d.loaded("flags"));
    PageHost host(flagsTable);
    host.select({host.rowWithKey("1"), host.rowWithKey("2")});
    auto *flag = host.cell<ZNTBooleanCell>(1);
    ASSERT_TRUE(flag);
    EXPECT_EQ(flag->popupButton()->currentText(), "MULTIPLE");
    EXPECT_EQ(host.cell<ZNTRowValueTextCell>(2)->textView()->toPlainText(), "MULTIPLE");
    emit flag->popupButton()->activated(flag->popupButton()->currentIndex());
    EXPECT_FALSE(host.page->hasPendingChanges()) << "confirming what is shown overwrites nothing";
    const int steps = host.page->undoStack()->count();
    emit flag->popupButton()->activated(flag->popupButton()->findText("true"));
    EXPECT_EQ(host.page->undoStack()->count(), steps + 1);
    EXPECT_EQ(host.page->undoStack()->undoText(), "Edit 2 rows");
    ASSERT_TRUE(host.save());
    EXPECT_EQ(d.db.run("SELECT string_agg(coalesce(on_call::text, 'null'), ',' ORDER BY id) FROM flags"),
              "true,true,null");

    // Text typed into the grid is read as the server reads it.
    const int row3 = host.rowWithKey("3");
    host.page->contentModel()->cellEntered(row3, host.page->contentModel()->resultColumn(1), " ON ");
    host.select({row3});
    EXPECT_EQ(host.cell<ZNTBooleanCell>(1)->popupButton()->currentText(), "true");
    host.page->contentModel()->cellEntered(row3, host.page->contentModel()->resultColumn(1), "off");
    host.select({host.rowWithKey("1")});
    host.select({row3});
    EXPECT_EQ(host.cell<ZNTBooleanCell>(1)->popupButton()->currentText(), "false");
}

TEST(RowEditorPage, SpecialValuesByColumnTypeAndJSONIndentedAsWritten) {
    Database d;
    d.db.run(R"sql(CREATE TABLE kinds (id int PRIMARY KEY, t text, f float8, n numeric, d date, b jsonb, j json);
                   INSERT INTO kinds VALUES (1, 'x', 1.5, 2.5, '2024-01-01', '{"k": 1}',
                                             '{"b":12345678901234567890,"a":[1,2],"a":3}'))sql");
    std::shared_ptr<ZNTTable> kindsTable;
    ASSERT_NO_FATAL_FAILURE(kindsTable = d.loaded("kinds"));
    PageHost host(kindsTable);
    host.select({0});
    auto shownTitles = [&](int index) {
        auto *cell = host.cell<ZNTRowValueTextCell>(index);
        cell->menuNeedsUpdate();
        QStringList titles;
        for (QAction *action : cell->actionMenu()->actions())
            if (action->isVisible() && !action->isSeparator())
                titles << action->text() + (action->isEnabled() ? "" : " (off)");
        return titles;
    };
    EXPECT_EQ(shownTitles(1), (QStringList{"NULL", "DEFAULT", "Empty String"}));
    EXPECT_EQ(shownTitles(2), (QStringList{"NULL", "DEFAULT", "NaN", "Infinity", "-Infinity"}));
    EXPECT_EQ(shownTitles(3), (QStringList{"NULL", "DEFAULT", "NaN"}));
    EXPECT_EQ(shownTitles(4), (QStringList{"NULL", "DEFAULT", "Yesterday", "Today", "Tomorrow"}));
    EXPECT_EQ(shownTitles(5), (QStringList{"NULL", "DEFAULT", "Indent JSON"}));

    // Text that is no JSON leaves the entry off.
    auto *b = host.cell<ZNTRowValueTextCell>(5);
    b->textView()->setFocus(Qt::MouseFocusReason);
    b->textView()->selectAll();
    QTest::keyClicks(b->textView(), "{broken");
    EXPECT_EQ(shownTitles(5), (QStringList{"NULL", "DEFAULT", "Indent JSON (off)"}));
    b->textView()->selectAll();
    QTest::keyClicks(b->textView(), R"({"k": 1})");

    auto *j = host.cell<ZNTRowValueTextCell>(6);
    j->handleActionMenu(ZNTRowValueText::TagPrettyPrint);
    host.cell<ZNTRowValueTextCell>(4)->handleActionMenu(ZNTRowValueText::TagTomorrow);
    ASSERT_TRUE(host.save());
    EXPECT_EQ(d.db.run("SELECT j::text FROM kinds"),
              "{\n    \"b\": 12345678901234567890,\n    \"a\": [\n        1,\n        2\n    ],\n    \"a\": 3\n}");
    EXPECT_EQ(d.db.run("SELECT d = current_date + 1 FROM kinds"), "t");
    EXPECT_EQ(d.db.run("SELECT b::text FROM kinds"), R"({"k": 1})") << "the broken text never left the field";
}

TEST(RowEditorPage, ByteaSavedThenLoadedIsTheSameBytesAndAHugeFileIsRefused) {
    Database d;
    d.db.run("CREATE TABLE files (id int PRIMARY KEY, c bytea);"
             "INSERT INTO files VALUES (1, decode('89504e470d0a1a0a0000000d49484452', 'hex') || "
             "convert_to(repeat('payload ', 50), 'UTF8') || '\\x00ff00'::bytea)");
    std::shared_ptr<ZNTTable> filesTable;
    ASSERT_NO_FATAL_FAILURE(filesTable = d.loaded("files"));
    PageHost host(filesTable);
    host.select({0});
    auto *cell = host.cell<ZNTByteaCellView>(1);
    ASSERT_TRUE(cell);
    QTemporaryDir dir;
    const QString saved = dir.filePath(cell->fileType().extension.isEmpty() ? "value" : "value.png");
    bool written = false;
    cell->saveFile(saved, cell->objectValue().toBytes(), [&](bool ok) { written = ok; });
    ASSERT_TRUE(pumpUntil([&] { return written; }));
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(file.readAll().toHex()), d.db.run("SELECT encode(c, 'hex') FROM files"));

    // Loading a file changes the value through the page, as one step.
    const QString other = dir.filePath("other.bin");
    QFile out(other);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray::fromHex("000102fffe") + QByteArray(70000, '\x7f'));
    out.close();
    cell->loadFile(other);
    ASSERT_TRUE(pumpUntil([&] { return host.page->hasPendingChanges(); }));
    ASSERT_TRUE(host.save());
    host.select({0});
    cell = host.cell<ZNTByteaCellView>(1);
    ASSERT_TRUE(cell);
    out.open(QIODevice::ReadOnly);
    EXPECT_EQ(QString::fromLatin1(out.readAll().toHex()), d.db.run("SELECT encode(c, 'hex') FROM files"));

    // A file over 500 MB is refused before a byte is read; the value stays.
    const QString huge = dir.filePath("huge.bin");
    QFile sparse(huge);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    ASSERT_TRUE(sparse.resize(501LL * 1000 * 1000));
    sparse.close();
    const Value before = cell->objectValue();
    cell->loadFile(huge);
    EXPECT_FALSE(cell->isLoading()) << "nothing was handed to the reader";
    Alert *alert = nullptr;
    ASSERT_TRUE(pumpUntil([&] {
        alert = host.window.findChild<Alert *>();
        return alert && alert->isVisible();
    }));
    EXPECT_TRUE(alert->messageText().contains("huge.bin"));
    EXPECT_TRUE(alert->informativeText().contains("500 MB"));
    alert->reject();
    EXPECT_EQ(cell->objectValue(), before);
    EXPECT_FALSE(host.page->hasPendingChanges());
}

// A pipe that no writer ever opens would keep the file queue waiting for ever
// (and every later load and save behind it): the load button stops the
// load, so does another row, and the next file loads and is saved.
TEST(RowEditorPage, LoadingFromAPipeWithoutAWriterStopsAndTheNextFileLoads) {
    Database d;
    d.db.run("CREATE TABLE files (id int PRIMARY KEY, c bytea); INSERT INTO files VALUES (1, '\\x01'), (2, NULL)");
    std::shared_ptr<ZNTTable> filesTable;
    ASSERT_NO_FATAL_FAILURE(filesTable = d.loaded("files"));
    PageHost host(filesTable);
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("pipe"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Whatever happens, no reader stays behind waiting for a writer.
    const auto releaseReaders = qScopeGuard([&] { ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK)); });
    const QString other = dir.filePath("other.bin");
    QFile out(other);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray::fromHex("00ff10"));
    out.close();

    host.select({0});
    auto *cell = host.cell<ZNTByteaCellView>(1);
    ASSERT_TRUE(cell);
    cell->loadFile(QString::fromLocal8Bit(fifo));
    pumpFor(300ms);
    EXPECT_TRUE(cell->isLoading());
    auto *stop = qobject_cast<QToolButton *>(cell->keyViews().value(0));
    ASSERT_TRUE(stop);
    EXPECT_TRUE(stop->isEnabled()) << "the load button stops the load";
    stop->click();
    EXPECT_FALSE(cell->isLoading());
    EXPECT_EQ(cell->objectValue(), Value::fromBytes(QByteArray::fromHex("01")));
    EXPECT_EQ(host.window.findChild<Alert *>(), nullptr) << "a stopped load is no failure";

    // Another row stops the load too; the value of that row stays as it was.
    cell->loadFile(QString::fromLocal8Bit(fifo));
    pumpFor(100ms);
    host.select({1});
    cell = host.cell<ZNTByteaCellView>(1);
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->isLoading());
    EXPECT_TRUE(cell->objectValue().isNull());
    EXPECT_FALSE(host.page->hasPendingChanges());

    cell->loadFile(other);
    ASSERT_TRUE(pumpUntil([&] { return host.page->hasPendingChanges(); }, 10s)) << "the file queue is still waiting";
    ASSERT_TRUE(host.save());
    EXPECT_EQ(d.db.run("SELECT string_agg(coalesce(encode(c, 'hex'), 'null'), ',' ORDER BY id) FROM files"),
              "01,00ff10");
}
