// The table page in a main window: installed at start-up, its commands in the
// window's Edit menu, its keys (also from its editors and the sidebars),
// Export through the installed exporter, the switch to the structure, and a
// window reload that asks first.
#include "TablePageTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTRowValueTextCell.h"
#include "browser/ZNTRowViewController.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTQuery.h"
#include "uikit/BarButtons.h"
#include "uikit/SQLPreview.h"
#include "uikit/SQLPreviewTextField.h"
#include "uikit/ZNTTextView.h"
#include "window/ZNTSidebarController.h"
#include "window/ZNTSidebarOutlineView.h"
#include "window/ZNTWindowController.h"

#include <QClipboard>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

using namespace pagetest;

namespace {

class TableInWindow : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        UserDefaults::standard().removeObject("ShowRightSidebar");
        BrowserPages::install();
        ZNTTableViewController::setExporter(nullptr); // the export test installs its own
        db.run("CREATE TABLE t (id int PRIMARY KEY, name text); INSERT INTO t VALUES (1, 'a'), (2, 'b')");
    }
    void TearDown() override {
        ZNTTableViewController::setExporter(nullptr);
        TablePageTest::TearDown();
    }
    QMenu *editMenu() const {
        for (QMenu *menu : window->menuBar()->findChildren<QMenu *>(Qt::FindDirectChildrenOnly)) {
            if (menu->title() == QLatin1String("&Edit"))
                return menu;
        }
        return nullptr;
    }
    QAction *editItem(const QString &title) const {
        for (QAction *action : editMenu()->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }

    static void key(int code, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(code), modifiers);
    }
    // Types into the name of row as the keyboard does: in its cell (the first
    // letter opens the editor) or in the detail sidebar's field.
    void typeName(int row, const QString &text, bool inSidebar = false) {
        if (inSidebar) {
            selectRows({row});
            pumpFor(60ms); // the row editor lays out a new row on the next turn
            auto *editor = dynamic_cast<ZNTRowViewController *>(page->sidebarRowViewController());
            ASSERT_NE(editor, nullptr);
            ZNTTextView *field = qobject_cast<ZNTRowValueTextCell *>(editor->cellAtRow(1)->cellWidget())->textView();
            field->setFocus();
            field->selectAll();
        } else {
            grid()->setFocus();
            grid()->setCurrentIndex(model()->index(row, model()->displayColumnNamed("name")));
        }
        for (QChar letter : text)
            QTest::keyClicks(QApplication::focusWidget(), letter);
    }

    // Alt+N, then Alt+D, in the editor of each cell of the first row and in
    // each field of the detail sidebar (a pop-up's list too), every field left
    // at once, as leaving it keeps what it took: none may leave a change.
    // Returns how many editors and entries took the keys.
    int pressAltLettersInEveryField() {
        int reached = 0;
        for (int column = 0; column < model()->columnCount(); ++column) {
            if (!(model()->flags(model()->index(0, column)) & Qt::ItemIsEditable))
                continue; // bytea
            grid()->setFocus();
            grid()->editCell(0, column);
            if (!grid()->isEditing())
                continue;
            key(Qt::Key_N, Qt::AltModifier);
            key(Qt::Key_D, Qt::AltModifier);
            grid()->endEditing();
            EXPECT_FALSE(edits().counts().any())
                << "the grid's " << model()->displayColumns()[column]->name().toStdString();
            ++reached;
        }
        auto *editor = dynamic_cast<ZNTRowViewController *>(page->sidebarRowViewController());
        for (int entry = 0; editor && editor->cellAtRow(entry); ++entry) {
            bool took = false;
            for (qsizetype k = 0; k < editor->cellAtRow(entry)->keyViews().size(); ++k) {
                editor->setFirstResponderToFieldAtIndex(entry); // scrolled into sight
                QWidget *field = editor->cellAtRow(entry)->keyViews()[k];
                field->setFocus(Qt::TabFocusReason);
                if (!field->hasFocus())
                    continue;
                key(Qt::Key_N, Qt::AltModifier);
                key(Qt::Key_D, Qt::AltModifier);
                if (auto *popup = qobject_cast<QComboBox *>(editor->cellAtRow(entry)->keyViews()[k])) {
                    popup->showPopup(); // and its list
                    key(Qt::Key_N, Qt::AltModifier);
                    key(Qt::Key_D, Qt::AltModifier);
                    key(Qt::Key_Escape);
                }
                grid()->setFocus();
                EXPECT_FALSE(edits().counts().any())
                    << "the sidebar's " << editor->cellAtRow(entry)->column()->name().toStdString() << " " << k;
                took = true;
            }
            reached += took;
        }
        return reached;
    }
};

} // namespace

TEST_F(TableInWindow, TheEditMenuCarriesThePagesCommandsAndTheirKeys) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    ASSERT_NE(editItem("&Copy"), nullptr);
    ASSERT_NE(editItem("Copy &Special"), nullptr);
    ASSERT_NE(editItem("&Add Row"), nullptr);
    ASSERT_NE(editItem("Dup&licate Row"), nullptr);
    emit editMenu()->aboutToShow();
    EXPECT_FALSE(editItem("&Copy")->isEnabled()); // nothing selected
    EXPECT_TRUE(editItem("&Add Row")->isEnabled());
    ASSERT_NE(editItem("&Delete Row"), nullptr);
    EXPECT_FALSE(editItem("&Delete Row")->isEnabled());

    selectRows({0, 1}); // the page asks the window to look again
    EXPECT_TRUE(editItem("&Copy")->isEnabled());
    EXPECT_FALSE(editItem("Dup&licate Row")->isEnabled()); // two rows
    EXPECT_TRUE(editItem("&Delete Rows")->isEnabled());

    grid()->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(grid(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "1\ta\n2\tb");
    QTest::keyClick(grid(), Qt::Key_Delete);
    EXPECT_EQ(page->saveBar()->statusText(), "2 deleted rows");
    EXPECT_EQ(window->windowAction(ZNTWindowCommand::Undo)->text(), "&Undo Delete 2 rows");
    window->windowAction(ZNTWindowCommand::Undo)->trigger();
    EXPECT_FALSE(page->saveBar()->isVisible());
    pumpFor(50ms);
    saveScreenshot(window.get(), "browser", "window-table.png");
}

// Alt+S, Alt+D and Alt+P type nothing into a value: from the first change on,
// still in its editor, they save, discard and preview as the save bar does.
TEST_F(TableInWindow, AltLettersTypeNothingAndSaveDiscardOrPreviewTheFirstChange) {
    db.run("CREATE TABLE r (id int PRIMARY KEY); INSERT INTO r VALUES (7);"
           "ALTER TABLE t ADD flag boolean DEFAULT false, ADD n int DEFAULT 5, ADD d date DEFAULT '2024-01-02',"
           " ADD j jsonb DEFAULT '{}', ADD ref int DEFAULT 7 REFERENCES r, ADD b bytea DEFAULT '\\x00ff';"
           "UPDATE t SET flag = true");
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    window->toggleRightSidebar();
    typeName(0, "bw");
    key(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(saved());
    EXPECT_EQ(db.run("SELECT name FROM t WHERE id = 1"), "bw");
    typeName(1, "x");
    key(Qt::Key_D, Qt::AltModifier);
    typeName(1, "z", true);
    key(Qt::Key_D, Qt::AltModifier);
    grid()->setFocus(); // the sidebar's field is left
    EXPECT_EQ(shownColumn("name"), QStringList({"bw", "b"}));
    EXPECT_FALSE(page->saveBar()->isVisible());

    typeName(1, "y");
    key(Qt::Key_P, Qt::AltModifier);
    auto *preview = qobject_cast<SQLPreviewPopoverViewController *>(QApplication::activePopupWidget());
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->sqlField()->toPlainText().contains("'y'"));
    preview->close();
    ASSERT_TRUE(page->discardChanges());
    uikittest::activate(window.get()); // the popup's going leaves no window active here
    ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }, 5s));

    // AltGr, which is not Alt, still types.
    typeName(0, "cd", true);
    key('@', Qt::GroupSwitchModifier);
    key(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(saved());
    EXPECT_EQ(db.run("SELECT name FROM t WHERE id = 1"), "cd@");
    // With the bar shown, the sidebar's typing is saved along, as a click on Save saves it.
    typeName(0, "e");
    key(Qt::Key_Return);
    typeName(1, "f", true);
    key(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(pumpUntil([&] { return !page->saveBar()->isVisible(); }, 30s)); // pressed, then saved
    EXPECT_EQ(db.run("SELECT string_agg(name, ',' ORDER BY id) FROM t"), "e,f");

    // In every field of every kind, with nothing pending: nothing typed, nothing changed.
    const QString asLoaded = db.run("SELECT t::text FROM t WHERE id = 1");
    EXPECT_EQ(pressAltLettersInEveryField(), 15); // the grid's editors but bytea, the sidebar's entries
    key(Qt::Key_S, Qt::AltModifier);              // saves whatever is pending
    ASSERT_TRUE(pumpUntil([&] { return !page->saveBar()->isVisible() && !page->isBusy(); }, 30s));
    EXPECT_EQ(db.run("SELECT t::text FROM t WHERE id = 1"), asLoaded);
    // A choice in the pop-up is a change that Alt+S saves.
    auto *editor = dynamic_cast<ZNTRowViewController *>(page->sidebarRowViewController());
    ASSERT_TRUE(editor && editor->setFirstResponderToFieldAtIndex(2));
    key(Qt::Key_Down);
    key(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(pumpUntil([&] { return !page->saveBar()->isVisible() && !page->isBusy(); }, 30s));
    EXPECT_EQ(db.run("SELECT flag FROM t WHERE id = 1"), "f");
}

// Add Row's key works where its menu item does; Ctrl+D and Delete stay the sidebar's.
TEST_F(TableInWindow, CtrlShiftNAddsARowFromTheNavigationSidebar) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    window->toggleSidebar();
    window->sidebarController()->outlineView()->setFocus();
    key(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    selectRows({0});
    window->sidebarController()->outlineView()->setFocus();
    key(Qt::Key_D, Qt::ControlModifier);
    key(Qt::Key_Delete);
    EXPECT_EQ(edits().counts().newRows, 1);
    EXPECT_EQ(edits().counts().deletedRows, 0);
}

TEST_F(TableInWindow, ExportHandsTheFilteredQueryAndNameToTheInstalledExporter) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    QAction *exporting = window->windowAction(ZNTWindowCommand::Export);
    window->validateActions();
    EXPECT_FALSE(exporting->isEnabled()); // no exporter yet
    QString sql, name;
    std::shared_ptr<ZNTConnection> connection;
    ZNTTableViewController::setExporter(
        [&](QWidget *w, std::shared_ptr<ZNTQuery> query, std::shared_ptr<ZNTConnection> c, QString suggested) {
            EXPECT_EQ(w, window.get());
            sql = query->sql();
            connection = std::move(c);
            name = suggested;
        });
    window->validateActions();
    EXPECT_TRUE(exporting->isEnabled());
    page->tableViewDidClickTableColumn(model()->displayColumnNamed("name"));
    ASSERT_TRUE(loaded());
    exporting->trigger();
    EXPECT_EQ(name, "t");
    EXPECT_EQ(connection, server->mainConnection());
    EXPECT_TRUE(sql.contains("ORDER BY \"name\" ASC, \"id\" ASC")) << sql.toStdString();
    EXPECT_FALSE(sql.contains("LIMIT"));
    EXPECT_FALSE(sql.contains("OFFSET"));
}

TEST_F(TableInWindow, TheSwitchGoesToTheStructureAndAReloadAsksFirst) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    QTest::mouseClick(page->structureContentsSwitcher()->segmentButton(1), Qt::LeftButton);
    ASSERT_EQ(window->currentItem()->objectKind(), ZNTObjectKind::TableSchema);
    EXPECT_EQ(window->currentItem()->name(), "t");
    window->goBack();
    ASSERT_EQ(window->mainViewController(), page); // the same page, as it was
    EXPECT_TRUE(page->structureContentsSwitcher()->isSelected(0));

    typeInto(0, "name", "A");
    window->reloadData();
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->informativeText(), "");
    press(alert, "Cancel");
    EXPECT_EQ(shownColumn("name")[0], "A");
    window->reloadData();
    press(sheet(), "Discard Changes");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(shownColumn("name")[0], "a");
    EXPECT_EQ(db.run("SELECT name FROM t WHERE id = 1"), "a");
}

TEST_F(TableInWindow, TheDetailSidebarSaysNoRowWithoutARowEditor) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    window->toggleRightSidebar();
    ASSERT_TRUE(page->rightSidebarView()->isVisible());
    EXPECT_TRUE(page->rightSidebarPlaceholder()->isVisible());
    selectRows({0});
    EXPECT_FALSE(page->rightSidebarPlaceholder()->isVisible());
    pumpFor(20ms); // the bars lay out their new texts
    saveScreenshot(window.get(), "browser", "window-table-sidebar.png");
    grid()->clearSelection();
    EXPECT_TRUE(page->rightSidebarPlaceholder()->isVisible());
}

// An edit made in the detail sidebar leaves the focus there: the next key
// goes to the sidebar's next field, never into the grid's current cell.
TEST_F(TableInWindow, AnEditInTheDetailSidebarKeepsTheFocusInTheSidebar) {
    db.run("ALTER TABLE t ADD note text, ADD flag boolean DEFAULT false");
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    window->toggleRightSidebar();
    const QStringList first = shownRow(0);
    typeName(1, "x", true);
    auto *editor = dynamic_cast<ZNTRowViewController *>(page->sidebarRowViewController());
    auto field = [&](int entry) { return editor->cellAtRow(entry)->keyViews().front(); };
    auto typed = [&](int entry) { return qobject_cast<ZNTTextView *>(field(entry))->toPlainText(); };

    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), field(2)) << "on to the note";
    QTest::keyClicks(QApplication::focusWidget(), "9");
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), field(1)) << "back to the name";
    QTest::keyClicks(QApplication::focusWidget(), "z");
    EXPECT_EQ(typed(2), "9");
    EXPECT_EQ(typed(1), "z");
    EXPECT_EQ(shownColumn("name"), QStringList({"a", "x"}));
    EXPECT_EQ(shownColumn("note")[1], "9");
    EXPECT_EQ(beeps, 0);
    EXPECT_FALSE(grid()->isEditing());
    EXPECT_EQ(shownRow(0), first);

    // A special value chosen from the menu (Alt+Down) stays on its entry.
    ASSERT_TRUE(editor->setFirstResponderToFieldAtIndex(1));
    QTimer::singleShot(0, [] {
        QWidget *menu = QApplication::activePopupWidget();
        ASSERT_NE(menu, nullptr);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(pumpUntil([] { return !QApplication::activePopupWidget(); }, 5s));
    uikittest::activate(window.get()); // the menu's going leaves no window active here
    ASSERT_TRUE(pumpUntil([&] { return window->isActiveWindow(); }, 5s));
    EXPECT_EQ(QApplication::focusWidget(), editor->cellAtRow(1)->cellWidget()) << "out of the field, not its text";
    EXPECT_EQ(shownColumn("name"), QStringList({"a", "NULL"}));
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), field(2)) << "on from there";

    // So does a choice in a boolean's pop-up.
    ASSERT_TRUE(editor->setFirstResponderToFieldAtIndex(3));
    key(Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), field(3));
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), field(0)) << "from the last entry to the first";
    EXPECT_EQ(shownColumn("flag")[1], "TRUE");
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(shownRow(0), first);
}

TEST_F(TableInWindow, ClosingTheWindowAsksAboutEditsAndThePageTakesItsViewsAlong) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    QPointer<QWidget> accessory = page->accessoryView();
    QPointer<QWidget> detail = page->rightSidebarView();
    typeInto(1, "name", "B");
    window->performClose();
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Save changes to the database?");
    press(alert, "Cancel");
    EXPECT_TRUE(window->isVisible());
    window->performClose();
    press(sheet(), "Save");
    ASSERT_TRUE(pumpUntil([&] { return !window->isVisible(); }, 30s));
    EXPECT_EQ(db.run("SELECT name FROM t WHERE id = 2"), "B");
    window.reset();
    pumpFor(20ms);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(accessory.isNull());
    EXPECT_TRUE(detail.isNull());
}

// Quitting lets go of a window still shown and active: the focus moves while
// it goes (its pages first, then its own controls) must not reach its
// half-gone parts.
TEST_F(TableInWindow, AWindowLetGoWhileShownGoesQuietly) {
    ASSERT_NO_FATAL_FAILURE(openInWindow("t"));
    QWidget *path = nullptr;
    for (QWidget *control : window->findChildren<QComboBox *>())
        if (control->accessibleName() == "Path")
            path = control;
    ASSERT_TRUE(path);
    path->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(path->hasFocus());
    QPointer<QWidget> gone = window.get();
    window.reset();
    page = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());
}
