// Editing on the table page against the test server, read back with psql:
// typed text the server converts or refuses, rows shown as stored after a
// save, new rows with the server's keys, undo and discard, the prompt before a
// page change, the detail sidebar, and the read-only page of the row picker.
#include "TablePageTestSupport.h"
#include "browser/ZNTCopyModes.h"
#include "browser/ZNTRowEditorHook.h"
#include "model/ZNTRow.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>

using namespace pagetest;

namespace {

// A row editor that records what it is given and reports edits when told.
class FakeRowEditor : public ZNTSidebarRowEditor {
public:
    explicit FakeRowEditor(std::shared_ptr<ZNTRow> row) : row(std::move(row)) { ++made; }
    ~FakeRowEditor() override { --made; }
    QWidget *editorView() override { return &view; }
    void setRow(const std::shared_ptr<ZNTRow> &r) override { row = r; }
    void setDisableEditing(bool disable) override { disabled = disable; }
    void setDelegate(ZNTRowViewControllerDelegate *d) override { delegate = d; }
    void edit(qsizetype column, const Value &value) { delegate->rowViewControllerDidEditColumn(this, column, value); }

    static inline int made = 0;
    static inline FakeRowEditor *last = nullptr;
    QLabel view{"row editor"};
    std::shared_ptr<ZNTRow> row;
    bool disabled = false;
    ZNTRowViewControllerDelegate *delegate = nullptr;
};

class Picker : public ZNTTableViewControllerDoubleDelegate {
public:
    void tableViewControllerDidDoubleClickRow(ZNTTableViewController *, const std::shared_ptr<ZNTRow> &row) override {
        picked = row;
    }
    std::shared_ptr<ZNTRow> picked;
};

class TableEdits : public TablePageTest {
protected:
    void TearDown() override {
        ZNTTableViewController::setRowEditorFactory(nullptr);
        TablePageTest::TearDown();
    }
    void saveAndWait() {
        page->save();
        ASSERT_TRUE(saved());
    }
    // A page on another relation in place of the one shown.
    void reopen(const QString &name) {
        delete host;
        host = nullptr;
        delete page;
        page = nullptr;
        ASSERT_NO_FATAL_FAILURE(open(name));
    }
};

} // namespace

TEST_F(TableEdits, TextTheServerRefusesFailsTheSaveWithItsWordsAndKeepsEveryEdit) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, n int, name text); INSERT INTO t VALUES (1, 10, 'a'), (2, 20, 'b')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    typeInto(0, "n", "abc");
    typeInto(1, "name", "bee");
    EXPECT_EQ(page->saveBar()->statusText(), "2 edited rows");
    page->save();
    ASSERT_TRUE(saved());
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Could not save changes");
    EXPECT_EQ(alert->informativeText(), "The server said: invalid input syntax for type integer: \"abc\"");
    press(alert, "OK");
    // Nothing reached the table; every edit is still pending.
    EXPECT_EQ(db.run("SELECT string_agg(id || ':' || n || ':' || name, ',' ORDER BY id) FROM t"), "1:10:a,2:20:b");
    EXPECT_EQ(page->saveBar()->statusText(), "2 edited rows");
    EXPECT_EQ(shownColumn("n"), QStringList({"abc", "20"}));
    EXPECT_EQ(shownColumn("name"), QStringList({"a", "bee"}));

    // Typing the loaded text back removes that edit; the other saves.
    typeInto(0, "n", "10");
    EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
    saveAndWait();
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_EQ(db.run("SELECT string_agg(id || ':' || n || ':' || name, ',' ORDER BY id) FROM t"), "1:10:a,2:20:bee");
}

// After a save the page shows and copies what the server stored, as a reload
// shows it: a changed row, rows changed alike (one statement) that a trigger
// stores apart, and a new row; in a partitioned table too.
TEST_F(TableEdits, ValuesTypedAsTextAreStoredExactlyAndShownAndCopiedAsStored) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, big bigint, flag boolean, amount numeric, price numeric(14,2), "
           "at timestamptz, tag text); INSERT INTO t SELECT g, 0, true, 0, 0, NULL FROM generate_series(3, 1, -1) g; "
           "CREATE FUNCTION tagged() RETURNS trigger LANGUAGE plpgsql AS "
           "$$ BEGIN NEW.tag := NEW.tag || '-' || NEW.id; RETURN NEW; END $$; "
           "CREATE TRIGGER tagged BEFORE UPDATE ON t FOR EACH ROW EXECUTE FUNCTION tagged()");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    typeInto(0, "big", "9007199254740993");
    typeInto(0, "flag", "no");
    typeInto(0, "amount", "12345678901234567890.123456789");
    typeInto(0, "at", "2024-05-06 10:00:00+02");
    for (int row : {1, 2}) {
        typeInto(row, "price", "10.999");
        typeInto(row, "tag", "q");
    }
    page->newRow();
    grid()->abortEditing();
    typeInto(3, "id", "4");
    typeInto(3, "price", "1.005");
    saveAndWait();
    EXPECT_EQ(db.run("SELECT big || ' ' || flag || ' ' || amount FROM t WHERE id = 1"),
              "9007199254740993 false 12345678901234567890.123456789");
    EXPECT_EQ(shownColumn("price"), QStringList({"0.00", "11.00", "11.00", "1.01"}));
    EXPECT_EQ(shownColumn("tag").mid(1, 2), QStringList({"q-2", "q-3"}));
    screenshot("table-saved-as-stored.png");
    const auto look = [&] {
        QStringList seen;
        for (int row = 0; row < model()->rowCount(); ++row)
            seen << shownRow(row).join('|');
        selectRows({0, 1, 2, 3});
        for (int mode : {ZNTCopyModeCSV, ZNTCopyModeInsertStatements}) {
            page->copySpecial(mode);
            seen << QApplication::clipboard()->text();
        }
        return seen;
    };
    const QStringList saved = look();
    page->reloadWithStructure(false);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(saved, look());

    db.run("CREATE TABLE p (id int PRIMARY KEY, price numeric(14,2)) PARTITION BY RANGE (id); "
           "CREATE TABLE p_all PARTITION OF p DEFAULT; INSERT INTO p VALUES (1, 0)");
    ASSERT_NO_FATAL_FAILURE(reopen("p"));
    typeInto(0, "price", "10.999");
    saveAndWait();
    EXPECT_EQ(shownColumn("price"), QStringList({"11.00"}));
}

// A view or a table written through DO INSTEAD rules cannot return the rows
// written, nor can a table return a row its writer's SELECT policy hides: the
// server would refuse the save. They save as typed, and the page shows what
// was typed.
TEST_F(TableEdits, AViewOrATableWrittenThroughRulesSavesAnEditAndANewRowAsTyped) {
    db.run(
        "CREATE TABLE base (id int PRIMARY KEY, name text, price numeric(14,2)); INSERT INTO base VALUES (1, 'a', 1); "
        "CREATE VIEW v AS SELECT * FROM base; CREATE RULE up AS ON UPDATE TO v DO INSTEAD "
        "UPDATE base SET name = NEW.name, price = NEW.price WHERE id = OLD.id; "
        "CREATE RULE ins AS ON INSERT TO v DO INSTEAD INSERT INTO base VALUES (NEW.id, NEW.name, NEW.price)");
    connect();
    ASSERT_NO_FATAL_FAILURE(open(ZNTView::create("v", "public", server->mainDatabase())));
    typeInto(0, "price", "2.345");
    addRow(1, {{"id", "2"}, {"name", "b"}, {"price", "1.005"}});
    saveAndWait();
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_EQ(db.run("SELECT string_agg(id || name || price, ',' ORDER BY id) FROM base"), "1a2.35,2b1.01");
    EXPECT_EQ(shownColumn("price"), QStringList({"2.345", "1.005"}));

    db.run("CREATE TABLE r (LIKE base INCLUDING ALL); INSERT INTO r SELECT * FROM base; CREATE RULE up AS ON UPDATE "
           "TO r DO INSTEAD UPDATE base SET price = NEW.price WHERE id = OLD.id");
    ASSERT_NO_FATAL_FAILURE(reopen("r"));
    typeInto(1, "price", "3.456");
    saveAndWait();
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_EQ(db.run("SELECT price FROM base WHERE id = 2"), "3.46");
    EXPECT_EQ(shownColumn("price"), QStringList({"2.35", "3.456"}));
}

TEST_F(TableEdits, ARowTheWritersSelectPolicyHidesIsInsertedAndShownAsTyped) {
    const QString user = requiredEnv("TRELLAN_PG_TRUST_USER"); // the owner and a superuser pass by the policies
    db.run("CREATE TABLE t (id int PRIMARY KEY, owner text, price numeric(14,2)); INSERT INTO t VALUES (1, 'me', 1); "
           "ALTER TABLE t ENABLE ROW LEVEL SECURITY; CREATE POLICY seen ON t FOR SELECT USING (owner = 'me'); "
           "CREATE POLICY adds ON t FOR INSERT WITH CHECK (true); GRANT ALL ON t TO " +
           user);
    server = connectedServer(db.name, user);
    server->setFavorite(favorite);
    ASSERT_NO_FATAL_FAILURE(open("t"));
    addRow(1, {{"id", "2"}, {"owner", "you"}, {"price", "1.005"}});
    saveAndWait();
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_EQ(db.run("SELECT string_agg(id || owner || price, ',' ORDER BY id) FROM t"), "1me1.00,2you1.01");
    EXPECT_EQ(shownRow(1), QStringList({"2", "you", "1.005"}));
}

TEST_F(TableEdits, NewRowsWithDefaultKeysGetTheServersKeysInPlace) {
    db.run("CREATE TABLE t (id serial PRIMARY KEY, name text, made timestamptz DEFAULT '2001-02-03 04:05:06+00'); "
           "INSERT INTO t (name) VALUES ('first')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->newRow();
    grid()->abortEditing();
    page->newRow();
    grid()->abortEditing();
    typeInto(1, "name", "second");
    typeInto(2, "name", "third");
    EXPECT_EQ(page->saveBar()->statusText(), "2 new rows");
    saveAndWait();
    EXPECT_EQ(shownColumn("id"), QStringList({"1", "2", "3"}));
    EXPECT_EQ(shownColumn("name"), QStringList({"first", "second", "third"}));
    EXPECT_EQ(db.run("SELECT string_agg(id || ':' || name, ',' ORDER BY id) FROM t"), "1:first,2:second,3:third");
    EXPECT_TRUE(shownColumn("made")[2].startsWith("2001-02-03"));
    EXPECT_EQ(page->undoStack()->count(), 0);
}

TEST_F(TableEdits, DeleteDuplicateAndUndoEachStepByName) {
    db.run("CREATE TABLE t (id serial PRIMARY KEY, name text); INSERT INTO t (name) VALUES ('a'), ('b'), ('c')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    selectRows({1});
    page->duplicate();
    grid()->abortEditing();
    EXPECT_EQ(page->undoStack()->undoText(), "Duplicate Row");
    EXPECT_EQ(shownColumn("name"), QStringList({"a", "b", "b", "c"}));
    EXPECT_EQ(shownColumn("id")[2], "DEFAULT");
    selectRows({0, 2});
    page->deleteRows(); // a loaded row is marked, a new row goes at once
    EXPECT_EQ(page->undoStack()->undoText(), "Delete 2 rows");
    EXPECT_EQ(model()->rowCount(), 3);
    EXPECT_TRUE(edits().isDeleted(0));
    EXPECT_EQ(page->saveBar()->statusText(), "1 deleted row");
    page->undoStack()->undo();
    EXPECT_EQ(shownColumn("name"), QStringList({"a", "b", "b", "c"}));
    EXPECT_FALSE(edits().isDeleted(0));
    EXPECT_TRUE(edits().isNew(2));
    page->undoStack()->undo();
    EXPECT_EQ(model()->rowCount(), 3);
    EXPECT_FALSE(page->saveBar()->isVisible());
    page->undoStack()->redo();
    page->undoStack()->redo();
    saveAndWait();
    EXPECT_EQ(db.run("SELECT string_agg(name, ',' ORDER BY id) FROM t"), "b,c");
}

TEST_F(TableEdits, UndoingDiscardBringsEveryChangeBackAndNothingIsUndoneWhileSaving) {
    db.run("CREATE TABLE t (id serial PRIMARY KEY, name text); INSERT INTO t (name) VALUES ('a'), ('b'), ('c')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    typeInto(0, "name", "A");
    selectRows({2});
    page->deleteRows();
    page->newRow();
    grid()->abortEditing();
    EXPECT_EQ(page->saveBar()->statusText(), "1 new row, 1 edited row, 1 deleted row");
    ASSERT_TRUE(page->discardChanges());
    EXPECT_FALSE(page->saveBar()->isVisible());
    EXPECT_EQ(model()->rowCount(), 3);
    EXPECT_EQ(page->undoStack()->undoText(), "Discard Changes");
    page->undoStack()->undo();
    EXPECT_EQ(page->saveBar()->statusText(), "1 new row, 1 edited row, 1 deleted row");
    EXPECT_EQ(shownColumn("name")[0], "A");

    // While the save runs there is no undo to reach, and editing beeps.
    db.run("CREATE OR REPLACE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS "
           "$$ BEGIN PERFORM pg_sleep(0.5); RETURN NEW; END $$; "
           "CREATE TRIGGER slow BEFORE UPDATE ON t FOR EACH ROW EXECUTE FUNCTION slow()");
    page->save();
    ASSERT_TRUE(page->isBusy());
    EXPECT_EQ(page->customUndoManager(), nullptr);
    const int before = beeps;
    page->newRow();
    page->reloadWithStructure(false);
    EXPECT_EQ(beeps, before + 2);
    EXPECT_FALSE(model()->flags(model()->index(1, 1)) & Qt::ItemIsEditable);
    ASSERT_TRUE(saved());
    EXPECT_EQ(page->customUndoManager(), page->undoStack());
    EXPECT_EQ(page->undoStack()->count(), 0);
    EXPECT_EQ(db.run("SELECT string_agg(id || coalesce(name, '-'), ',' ORDER BY id) FROM t"), "1A,2b,4-");
}

TEST_F(TableEdits, PendingChangesAreSettledBeforeThePageChanges) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, name text); "
           "INSERT INTO t SELECT g, 'n' || g FROM generate_series(1, 30) g");
    UserDefaults::standard().setObject(10, "TableViewRowsPerPage");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    typeInto(0, "name", "changed");
    page->setCurrentPageIndex(1);
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Save changes to the database?");
    EXPECT_EQ(alert->informativeText(), "The page can't be changed when there are unsaved changes.");
    press(alert, "Cancel");
    EXPECT_EQ(page->currentPageIndex(), 0);
    EXPECT_EQ(shownColumn("name")[0], "changed");

    // Discard Changes by its key, Ctrl+Backspace.
    page->setCurrentPageIndex(1);
    alert = sheet();
    ASSERT_NE(alert, nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace, Qt::ControlModifier);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->currentPageIndex(), 1);
    EXPECT_EQ(db.run("SELECT name FROM t WHERE id = 1"), "n1");

    // Save: saved, then the page changes.
    typeInto(0, "name", "eleven");
    page->setCurrentPageIndex(2);
    press(sheet(), "Save");
    ASSERT_TRUE(saved());
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->currentPageIndex(), 2);
    EXPECT_EQ(db.run("SELECT name FROM t WHERE id = 11"), "eleven");
}

TEST_F(TableEdits, TheSidebarShowsTheMergedRowAndAnEditThereIsOneStep) {
    ZNTTableViewController::setRowEditorFactory(
        [](const std::shared_ptr<ZNTRow> &row) -> std::unique_ptr<ZNTSidebarRowEditor> {
            auto editor = std::make_unique<FakeRowEditor>(row);
            FakeRowEditor::last = editor.get();
            return editor;
        });
    db.run("CREATE TABLE t (id int PRIMARY KEY, city text, zip text); "
           "INSERT INTO t VALUES (1, 'Oslo', '0150'), (2, 'Oslo', '0151'), (3, 'Bergen', '5003')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    EXPECT_TRUE(page->rightSidebarPlaceholder()->isVisibleTo(page->rightSidebarView()));
    EXPECT_EQ(page->rightSidebarPlaceholder()->text(), "No row selected.");
    selectRows({0, 1});
    ASSERT_EQ(FakeRowEditor::made, 1);
    FakeRowEditor *editor = FakeRowEditor::last;
    ASSERT_EQ(editor->row->values().size(), 3u);
    EXPECT_TRUE(editor->row->values()[0].isMultiple());
    EXPECT_EQ(editor->row->values()[1], text("Oslo"));
    EXPECT_TRUE(editor->row->values()[2].isMultiple());
    EXPECT_FALSE(page->rightSidebarPlaceholder()->isVisibleTo(page->rightSidebarView()));

    editor->edit(1, text("Trondheim"));
    EXPECT_EQ(page->undoStack()->undoText(), "Edit 2 rows");
    EXPECT_EQ(shownColumn("city"), QStringList({"Trondheim", "Trondheim", "Bergen"}));
    const int steps = page->undoStack()->count();
    editor->edit(1, text("Trondheim")); // the same again: no step
    editor->edit(2, Value::multipleMarker());
    EXPECT_EQ(page->undoStack()->count(), steps);
    page->undoStack()->undo();
    EXPECT_EQ(shownColumn("city"), QStringList({"Oslo", "Oslo", "Bergen"}));
    EXPECT_EQ(editor->row->values()[1], text("Oslo")); // the sidebar follows the undo

    // Disabled while saving; gone with the selection.
    editor->edit(2, text("0000"));
    page->save();
    EXPECT_TRUE(editor->disabled);
    ASSERT_TRUE(saved());
    EXPECT_FALSE(editor->disabled);
    grid()->clearSelection();
    EXPECT_EQ(FakeRowEditor::made, 0);
    EXPECT_EQ(db.run("SELECT string_agg(zip, ',' ORDER BY id) FROM t"), "0000,0000,5003");
}

TEST_F(TableEdits, EnterUpDownAndEscapeMoveThroughTheGrid) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, name text); INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    const int name = model()->displayColumnNamed("name");
    grid()->setFocus();
    grid()->setCurrentIndex(model()->index(0, name));
    grid()->edit(model()->index(0, name));
    auto *line = qobject_cast<QLineEdit *>(grid()->indexWidget(model()->index(0, name)));
    ASSERT_NE(line, nullptr);
    line->selectAll();
    QTest::keyClicks(line, "A");
    QTest::keyClick(line, Qt::Key_Down); // keeps the text, edits the next row
    pumpFor(20ms);
    EXPECT_EQ(shownColumn("name")[0], "A");
    ASSERT_TRUE(grid()->isEditing());
    EXPECT_EQ(grid()->currentIndex().row(), 1);
    EXPECT_EQ(grid()->selectedRowIndexes(), QList<int>({1}));
    line = qobject_cast<QLineEdit *>(grid()->indexWidget(model()->index(1, name)));
    ASSERT_NE(line, nullptr);
    QTest::keyClicks(line, "zzz");
    QTest::keyClick(line, Qt::Key_Escape); // drops the typing
    pumpFor(20ms);
    EXPECT_FALSE(grid()->isEditing());
    EXPECT_EQ(shownColumn("name")[1], "b");
    EXPECT_EQ(page->undoStack()->count(), 1);
}

TEST_F(TableEdits, ASaveKeepsTheCurrentCellAndTheSelectedRowsOnTheirRows) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, name text); "
           "INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    const int name = model()->displayColumnNamed("name");
    // Typed, saved by Alt+S, then on down the column from the keyboard.
    typeInto(1, "name", "B");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(pumpUntil([&] { return !page->hasPendingChanges() && !page->isBusy(); }, 30s));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    pumpFor(10ms);
    ASSERT_TRUE(grid()->isEditing());
    EXPECT_EQ(grid()->currentIndex(), model()->index(2, name));
    QWidget *editor = grid()->indexWidget(model()->index(2, name));
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "C");
    QTest::keyClick(editor, Qt::Key_Return);
    pumpFor(10ms);
    EXPECT_EQ(shownColumn("name"), QStringList({"a", "B", "C", "d", "e"}));

    // A deleted row goes from under the selection, a new row stays in it.
    selectRows({0});
    page->deleteRows();
    page->newRow();
    grid()->abortEditing();
    typeInto(5, "id", "6");
    selectRows({2, 5});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(pumpUntil([&] { return !page->hasPendingChanges() && !page->isBusy(); }, 30s));
    EXPECT_EQ(db.run("SELECT string_agg(id || coalesce(name, '-'), ',' ORDER BY id) FROM t"), "2B,3C,4d,5e,6-");
    EXPECT_EQ(grid()->selectedRowIndexes(), QList<int>({1, 4}));
    EXPECT_EQ(grid()->currentIndex(), model()->index(4, model()->displayColumnNamed("id")));
}

TEST_F(TableEdits, ThePickersReadOnlyPageChangesNothingAndReportsADoubleClick) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, name text); INSERT INTO t VALUES (1, 'a'), (2, 'b')");
    Picker picker;
    auto relation = table("t");
    page = new ZNTTableViewController(relation);
    page->setReadOnly(true);
    page->setDoubleDelegate(&picker);
    host = new QWidget;
    auto *layout = new QVBoxLayout(host);
    layout->addWidget(page->view());
    layout->addWidget(page->smallAccessoryView());
    host->resize(500, 300);
    uikittest::activate(host);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->smallPager()->segmentButton(1)->text(), "Page 1 of 1");
    selectRows({0});
    page->newRow();
    page->duplicate();
    page->deleteRows();
    EXPECT_EQ(beeps, 3);
    EXPECT_EQ(model()->rowCount(), 2);
    EXPECT_EQ(page->undoStack()->count(), 0);
    EXPECT_FALSE(model()->flags(model()->index(0, 1)) & Qt::ItemIsEditable);

    const QRect cell = grid()->visualRect(model()->index(1, 1));
    QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_NE(picker.picked, nullptr);
    EXPECT_EQ(picker.picked->values(), (std::vector<Value>{Value::fromInt(2), text("b")}));
    EXPECT_FALSE(grid()->isEditing());
    page->setDoubleDelegate(nullptr);
}

TEST_F(TableEdits, AKeylessRowIsSavedByItsValuesAsShownAndTheSQLPreviewFollows) {
    db.run("CREATE TABLE k (n numeric, note text); INSERT INTO k VALUES (1.0, 'one'), (1.00, 'two')");
    ASSERT_NO_FATAL_FAILURE(open("k"));
    ASSERT_EQ(shownColumn("n"), QStringList({"1.0", "1.00"}));
    typeInto(1, "note", "changed");
    const QString sql = page->sqlPreviewString();
    EXPECT_TRUE(sql.startsWith("UPDATE ")) << sql.toStdString();
    EXPECT_TRUE(sql.contains("changed")) << sql.toStdString();
    // The preview button shows it, and an open panel follows each change.
    QTest::mouseClick(page->saveBar()->previewButton(), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([] { return QApplication::activePopupWidget() != nullptr; }, 5s));
    QApplication::activePopupWidget()->close();
    saveAndWait();
    EXPECT_EQ(db.run("SELECT string_agg(n || ':' || note, ',' ORDER BY note) FROM k"), "1.00:changed,1.0:one");
    EXPECT_EQ(page->sqlPreviewString(), "");
}

// The count under the grid follows a save: the total shown before, plus the
// rows inserted, less the rows deleted. The page does not count again, so a
// row another session added meanwhile is not in it.
TEST_F(TableEdits, TheRowCountFollowsTheRowsASaveInsertedAndDeleted) {
    db.run("CREATE TABLE t (id serial PRIMARY KEY, name text); "
           "INSERT INTO t (name) SELECT 'n' || g FROM generate_series(1, 26) g");
    open("t");
    EXPECT_EQ(page->statusText(), "26 rows");
    selectRows({0});
    page->deleteRows();
    saveAndWait();
    EXPECT_EQ(page->statusText(), "25 rows");
    db.run("INSERT INTO t (name) VALUES ('elsewhere')");
    page->newRow();
    grid()->abortEditing();
    page->newRow();
    grid()->abortEditing();
    saveAndWait();
    EXPECT_EQ(page->statusText(), "27 rows");
    EXPECT_EQ(db.run("SELECT count(*) FROM t"), "28");

    // Across pages: the last page's range and the pager follow too.
    UserDefaults::standard().setObject(10, "TableViewRowsPerPage");
    page->reloadWithStructure(false);
    ASSERT_TRUE(loaded());
    page->setCurrentPageIndex(2);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->statusText(), "Rows 21-28 of 28");
    for (int i = 0; i < 3; ++i) {
        page->newRow();
        grid()->abortEditing();
    }
    selectRows({0});
    page->deleteRows();
    saveAndWait();
    EXPECT_EQ(page->statusText(), "Rows 21-30 of 30");
    EXPECT_EQ(page->smallPager()->segmentButton(1)->text(), "Page 3 of 3");
    page->newRow();
    grid()->abortEditing();
    saveAndWait();
    EXPECT_EQ(page->smallPager()->segmentButton(1)->text(), "Page 3 of 4");

    // Not counted: the page's own rows are what the line tells.
    UserDefaults::standard().setObject(true, "DontCountRows");
    page->setCurrentPageIndex(0);
    ASSERT_TRUE(loaded());
    EXPECT_EQ(page->statusText(), "Rows 1-10");
    page->newRow();
    grid()->abortEditing();
    saveAndWait();
    EXPECT_EQ(page->statusText(), "Rows 1-11");
}

// Rows given one key, which a trigger stores apart, each have a statement of
// their own, as do rows given one code that share the rest of their key: each
// row is shown whole as stored (with the count of its saves, which the trigger
// keeps), in place, and a later edit reaches only its row, not the one another
// session added under the key typed.
TEST_F(TableEdits, RowsWrittenAlikeThatTheirKeysDoNotTellApartAreShownAsStored) {
    db.run("CREATE TABLE moved (id int, code text, name text, saves int DEFAULT 0, PRIMARY KEY (id, code)); "
           "CREATE FUNCTION moved() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN "
           "IF NEW.id <> OLD.id THEN NEW.id := NEW.id * 100 + OLD.id; END IF; "
           "IF NEW.code <> OLD.code THEN NEW.code := NEW.code || OLD.code; END IF; "
           "NEW.saves := OLD.saves + 1; RETURN NEW; END$$; "
           "CREATE TRIGGER moved BEFORE UPDATE ON moved FOR EACH ROW EXECUTE FUNCTION moved(); "
           "INSERT INTO moved VALUES (1, 'a', 'x'), (1, 'b', 'y'), (2, 'a', 'w'), (3, 'a', 'v')");
    const char *stored = "SELECT string_agg(concat_ws('|', id, code, name, saves), ',' ORDER BY id, code) FROM moved";
    open("moved");
    const auto savedInPlace = [&](QList<int> rows, const char *shown, const char *held) {
        ASSERT_NO_FATAL_FAILURE(saveAndWait());
        EXPECT_FALSE(page->isLoading()); // not loaded again
        QStringList seen;
        for (int row : rows)
            seen << shownRow(row).join('|');
        EXPECT_EQ(seen.join(','), shown);
        EXPECT_EQ(db.run(stored), held);
    };
    for (int row : {2, 3}) {
        typeInto(row, "id", "10");
        typeInto(row, "code", "c");
    }
    savedInPlace({2, 3}, "1002|ca|w|1,1003|ca|v|1", "1|a|x|0,1|b|y|0,1002|ca|w|1,1003|ca|v|1");
    db.run("INSERT INTO moved VALUES (10, 'c', 'victim')");
    typeInto(2, "name", "w2");
    savedInPlace({2}, "1002|ca|w2|2", "1|a|x|0,1|b|y|0,10|c|victim|0,1002|ca|w2|2,1003|ca|v|1");
    typeInto(0, "code", "z");
    typeInto(1, "code", "z");
    savedInPlace({0, 1}, "1|za|x|1,1|zb|y|1", "1|za|x|1,1|zb|y|1,10|c|victim|0,1002|ca|w2|2,1003|ca|v|1");
}

// Without a key, a row is picked by its values: each row a save wrote is shown
// whole as the trigger stored it (c2 'B'), one alone, two different ones, and
// two identical ones, so that a later edit or deletion of the first does not
// reach the untouched row that now looks as the page would have shown it.
TEST_F(TableEdits, KeylessRowsAreShownAsStoredAndALaterChangeReachesOnlyItsRow) {
    db.run("CREATE TABLE k (c1 text, c2 text, c3 text); CREATE FUNCTION upper_b() RETURNS trigger LANGUAGE plpgsql "
           "AS $$BEGIN IF NEW.c2 = 'b' THEN NEW.c2 := 'B'; END IF; RETURN NEW; END$$; "
           "CREATE TRIGGER upper_b BEFORE UPDATE ON k FOR EACH ROW EXECUTE FUNCTION upper_b(); "
           "INSERT INTO k VALUES ('5', 'b', 'same'), ('1', 'b', 'same'), ('6', 'b', 'x'), ('7', 'b', 'y'), "
           "('8', 'b', 't'), ('8', 'b', 't')");
    const char *stored = "SELECT string_agg(c1 || c2 || c3, ',' ORDER BY c1 || c2 || c3 COLLATE \"C\") FROM k";
    open("k");
    const auto savedInPlace = [&](const char *shown, const char *held) {
        ASSERT_NO_FATAL_FAILURE(saveAndWait());
        EXPECT_FALSE(page->isLoading()); // not loaded again
        QStringList seen;
        for (int row = 0; row < model()->rowCount(); ++row)
            seen << shownRow(row).join("");
        EXPECT_EQ(seen.join(','), shown);
        EXPECT_EQ(db.run(stored), held);
    };
    typeInto(0, "c1", "1");
    savedInPlace("1Bsame,1bsame,6bx,7by,8bt,8bt", "1Bsame,1bsame,6bx,7by,8bt,8bt");
    for (int row : {2, 3, 4, 5})
        typeInto(row, "c1", "1");
    savedInPlace("1Bsame,1bsame,1Bx,1By,1Bt,1Bt", "1Bsame,1Bt,1Bt,1Bx,1By,1bsame");
    typeInto(0, "c3", "e");
    savedInPlace("1Be,1bsame,1Bx,1By,1Bt,1Bt", "1Be,1Bt,1Bt,1Bx,1By,1bsame");
    selectRows({0});
    page->deleteRows();
    savedInPlace("1bsame,1Bx,1By,1Bt,1Bt", "1Bt,1Bt,1Bx,1By,1bsame");
}

// The session is shared with the SQL Query page: a save reads and writes the
// page's rows under the settings they were loaded with, whatever the session
// holds by then (a SET after the load, a reset after it, a session ended and
// made anew by the save), and the user's setting stands after it. Row 1
// changes twice, the user's setting reset between the saves; without a key it
// is also copied. The right rows get the right values, and the page shows the
// rows as it loaded them, as a reload under those settings would.
TEST_F(TableEdits, ASaveReachesTheRowsAsLoadedWhateverTheSessionsSettingsAreNow) {
    struct Case {
        const char *table, *type, *rows, *stored, *before, *after, *setting;
    };
    const char *dates = "('2020-01-02', 'a'), ('2020-02-01', 'a')";
    const Case cases[] = {
        {"set_after_load", "date", dates, "k::text", "", "SET DateStyle = 'SQL, DMY'", "DateStyle"},
        {"loaded_under_dmy", "date", dates, "k::text", "SET DateStyle = 'SQL, DMY'", "RESET DateStyle", "DateStyle"},
        {"timestamptz_key", "timestamptz PRIMARY KEY", "('2020-01-02 00:00+00', 'a'), ('2020-02-01 00:00+00', 'a')",
         "extract(epoch FROM k)", "SET DateStyle = 'SQL, MDY'", "SET DateStyle = 'SQL, DMY'", "DateStyle"},
        {"reconnected", "date", dates, "k::text", "SET DateStyle = 'SQL, DMY'", nullptr, "DateStyle"},
        {"sql_standard_interval", "interval", "('-1 day +02:00', 'a'), ('-1 day -02:00', 'a')", "extract(epoch FROM k)",
         "SET IntervalStyle = sql_standard", "RESET IntervalStyle", "IntervalStyle"},
        {"bytea", "bytea", "('\\x413432', 'a'), ('\\x4142', 'a')", "encode(k, 'hex')", "",
         "SET standard_conforming_strings = off", "standard_conforming_strings"},
    };
    const auto onPage = [&](const QString &sql) {
        auto query = ZNTQuery::create(sql);
        query->setGuardsUserTransaction(false); // as the SQL Query page runs it
        runAndWait(query, server->mainDatabase()->connection());
        EXPECT_EQ(query->error(), nullptr) << sql.toStdString();
        return rowTexts(query).join(',');
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.table);
        const bool keyless = !QString(c.type).contains("KEY");
        db.run(QString("CREATE TABLE %1 (k %2, v text); INSERT INTO %1 VALUES %3").arg(c.table, c.type, c.rows));
        connect();
        onPage("RESET ALL");
        if (*c.before)
            onPage(c.before);
        ASSERT_NO_FATAL_FAILURE(reopen(c.table));
        const QStringList loaded = shownColumn("k");
        const QString read = QString("SELECT string_agg(%1 || ':' || v, ',' ORDER BY %1 || ':' || v COLLATE \"C\") "
                                     "FROM %2")
                                 .arg(c.stored, c.table);
        const QStringList keys =
            db.run(QString("SELECT string_agg(%1::text, ',' ORDER BY ctid) FROM %2").arg(c.stored, c.table)).split(',');
        bool ended = !c.after;
        if (c.after) {
            onPage(c.after);
        } else {
            psql("postgres",
                 "SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE datname = '" + db.name + "'");
            // The user's next statement finds the session gone; the save makes a new one.
            runAndWait(ZNTQuery::create("SELECT 1"), server->mainDatabase()->connection());
            ASSERT_EQ(server->mainDatabase()->connection()->state(), ZNTConnection::ZNTConnectionStateLost);
        }
        for (const QString letter : {"b", "c"}) {
            const QString show = QString("SHOW ") + c.setting;
            const QString held = ended ? db.run(show) : onPage(show);
            typeInto(1, "v", letter);
            if (keyless && letter == "b") {
                selectRows({1});
                page->duplicate();
                grid()->abortEditing();
            }
            page->save();
            ASSERT_TRUE(saved());
            if (QWidget *failed = QApplication::activeModalWidget()) {
                ADD_FAILURE() << "the save failed";
                failed->close();
            }
            EXPECT_FALSE(page->isLoading()); // not loaded again
            QStringList shown = loaded, stored = {keys[0] + ":a", keys[1] + ":" + letter};
            if (keyless) {
                shown.insert(2, loaded[1]);
                stored << keys[1] + ":b";
            }
            stored.sort();
            EXPECT_EQ(shownColumn("k"), shown);
            EXPECT_EQ(db.run(read), stored.join(','));
            EXPECT_EQ(onPage(show), held);
            onPage("RESET ALL");
            ended = false;
        }
    }
}
