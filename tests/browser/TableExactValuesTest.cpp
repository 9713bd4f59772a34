// Values the table page gives back exactly as it loaded them, on the test
// server: texts longer than a line edit holds by default, opened and typed into
// in the grid and in the row editor, and floating-point values that a cell
// opened and left must not turn into an edit, nor into a column of the SET list.
#include "TablePageTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTFilter.h"
#include "browser/ZNTFilterView.h"
#include "browser/ZNTForeignKeyCell.h"
#include "browser/ZNTRowValueText.h"
#include "browser/ZNTRowValueTextCell.h"
#include "browser/ZNTRowViewController.h"
#include "uikit/ZNTTextView.h"
#include "window/ZNTContentControllerFactory.h"

#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

using namespace pagetest;

namespace {

// The text the tables hold: n characters of a repeating pattern of 16, made
// the same way by the server and here; without a blank (one long word), or
// with words: a blank after every fifteen characters.
QString pattern(int n) {
    return QStringLiteral("0123456789abcdef").repeated(n / 16 + 1).left(n);
}
QString patternSql(int n, bool words = false) {
    return QStringLiteral("left(repeat('%1', %2), %3)")
        .arg(words ? "0123456789abcde " : "0123456789abcdef")
        .arg(n / 16 + 1)
        .arg(n);
}

class ExactValues : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        BrowserPages::install();
    }
    void TearDown() override {
        if (page)
            grid()->abortEditing(); // an editor left open would commit while the window goes
        TablePageTest::TearDown();
        ZNTContentControllers::setFactory(ZNTPage::Table, nullptr);
        ZNTContentControllers::setFactory(ZNTPage::Row, nullptr);
        ZNTTableViewController::setRowEditorFactory(nullptr);
    }

    // The page with its detail sidebar beside the grid.
    void openWithSidebar(const QString &name) {
        open(name);
        host->layout()->addWidget(page->rightSidebarView());
        host->resize(1100, 560);
        pumpFor(30ms);
    }
    QModelIndex cell(int row, const QString &column) const {
        return model()->index(row, model()->displayColumnNamed(column));
    }
    // Opens a cell's editor with F2, or with a double click.
    QLineEdit *openCell(int row, const QString &column, bool doubleClick = false) {
        const QModelIndex index = cell(row, column);
        grid()->setFocus();
        grid()->setCurrentIndex(index);
        if (doubleClick) {
            const QPoint at = grid()->visualRect(index).center();
            QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(grid(), Qt::Key_F2);
        }
        pumpFor(10ms);
        return qobject_cast<QLineEdit *>(grid()->indexWidget(index));
    }
    bool hasEdits() const {
        return (page->saveBar() && page->saveBar()->isVisible()) || page->undoStack()->count() > 0;
    }
    ZNTRowViewController *rowEditor() const {
        return dynamic_cast<ZNTRowViewController *>(page->sidebarRowViewController());
    }
    void saveAndWait() {
        page->save();
        ASSERT_TRUE(saved());
        ASSERT_EQ(QApplication::activeModalWidget(), nullptr) << "the save failed";
        EXPECT_FALSE(hasEdits());
    }
    // Focuses the row editor's text and leaves it (no edit), then types "Y" at
    // its end and saves.
    void leaveThenAppendAndSave(QWidget *text) {
        text->setFocus(Qt::TabFocusReason);
        pumpFor(10ms);
        grid()->setFocus(Qt::TabFocusReason);
        pumpFor(10ms);
        EXPECT_FALSE(hasEdits()) << "the field focused and left";
        text->setFocus(Qt::TabFocusReason);
        QTest::keyClick(text, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(text, "Y");
        grid()->setFocus(Qt::TabFocusReason);
        pumpFor(10ms);
        EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
        saveAndWait();
    }
};

} // namespace

TEST_F(ExactValues, ALongTextOpenedInTheGridAndLeftIsNoEditAndTypingKeepsEveryCharacter) {
    const QList<int> lengths = {32768, 1000000};
    db.run(QStringLiteral("CREATE TABLE t (id int PRIMARY KEY, body text); "
                          "INSERT INTO t VALUES (1, %1), (2, %2)")
               .arg(patternSql(lengths[0]), patternSql(lengths[1])));
    open("t");
    for (int row = 0; row < 2; ++row) {
        for (bool doubleClick : {false, true}) {
            QLineEdit *editor = openCell(row, "body", doubleClick);
            ASSERT_NE(editor, nullptr);
            EXPECT_EQ(editor->text().size(), lengths[row]);
            QTest::keyClick(editor, Qt::Key_Return);
            pumpFor(10ms);
            EXPECT_FALSE(hasEdits()) << lengths[row] << " characters opened and left";
        }
        QLineEdit *editor = openCell(row, "body");
        ASSERT_NE(editor, nullptr);
        QTest::keyClick(editor, Qt::Key_End);
        QTest::keyClicks(editor, "Z");
        QTest::keyClick(editor, Qt::Key_Return);
        pumpFor(10ms);
        EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
        saveAndWait();
    }
    EXPECT_EQ(db.run(QStringLiteral("SELECT string_agg(length(body) || ':' || (body = CASE id WHEN 1 THEN %1 ELSE %2 "
                                    "END || 'Z'), ',' ORDER BY id) FROM t")
                         .arg(patternSql(lengths[0]), patternSql(lengths[1]))),
              "32769:true,1000001:true");
}

TEST_F(ExactValues, ATextPastTheRowEditorsLimitIsRefusedInTheGridWithAWord) {
    db.run(QStringLiteral("CREATE TABLE t (id int PRIMARY KEY, body text); INSERT INTO t VALUES (1, %1)")
               .arg(patternSql(4 * 1024 * 1024 + 1)));
    open("t");
    EXPECT_EQ(openCell(0, "body"), nullptr);
    EXPECT_FALSE(grid()->isEditing());
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(QToolTip::text(), ZNTTableGridCell::tooLongToEditText());
    EXPECT_FALSE(hasEdits());
}

TEST_F(ExactValues, TheRowEditorShowsLongTextsAndKeysWholeAndSavesWhatIsTyped) {
    const QString key = pattern(40000);
    db.run(QStringLiteral(R"(CREATE TABLE p (k text PRIMARY KEY); INSERT INTO p VALUES (%1);
                             CREATE TABLE t (id int PRIMARY KEY, body text, k text REFERENCES p);
                             INSERT INTO t VALUES (1, %2, %1), (2, %3, NULL))")
               .arg(patternSql(key.size()), patternSql(32768, true), patternSql(1000000, true)));
    openWithSidebar("t");
    for (int row = 0; row < 2; ++row) {
        selectRows({row});
        pumpFor(30ms);
        ZNTRowViewController *editor = rowEditor();
        ASSERT_NE(editor, nullptr);
        auto *body = dynamic_cast<ZNTRowValueTextCell *>(editor->cellAtRow(1, true));
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(body->textView()->toPlainText().size(), row == 0 ? 32768 : 1000000);
        if (row == 0) {
            auto *foreign = dynamic_cast<ZNTForeignKeyCell *>(editor->cellAtRow(2, true));
            ASSERT_NE(foreign, nullptr);
            EXPECT_EQ(foreign->textField()->text(), key) << "the key field cut the key";
            foreign->textField()->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(foreign->textField(), Qt::Key_Return);
        }
        leaveThenAppendAndSave(body->textView());
    }
    EXPECT_EQ(db.run(QStringLiteral("SELECT string_agg(length(body) || ':' || (body IN (%1 || 'Y', %2 || 'Y')) || ':' "
                                    "|| coalesce(length(k), 0), ',' ORDER BY id) FROM t")
                         .arg(patternSql(32768, true), patternSql(1000000, true))),
              "32769:true:40000,1000001:true:0");
}

// A text without a blank is one word longer than any line: the row editor
// shows it whole (its lines hold every character), takes the focus and gives
// it back without an edit, and saves what is typed into it whole, up to four
// million characters; past that it shows the first 100,000, read-only.
TEST_F(ExactValues, ATextWithoutBlanksIsShownInTheRowEditorAndSavedWhole) {
    const int over = int(ZNTRowValueText::kMaxEditableLength) + 1;
    db.run(
        QStringLiteral("CREATE TABLE t (id int PRIMARY KEY, body text); INSERT INTO t VALUES (1, %1), (2, %2), (3, %3)")
            .arg(patternSql(1000000), patternSql(4000000), patternSql(over)));
    openWithSidebar("t");
    for (int row = 0; row < 3; ++row) {
        selectRows({row});
        pumpFor(30ms);
        ASSERT_NE(rowEditor(), nullptr);
        auto *body = dynamic_cast<ZNTRowValueTextCell *>(rowEditor()->cellAtRow(1, true));
        ASSERT_NE(body, nullptr);
        const QString shown = body->textView()->toPlainText();
        const QTextLayout *layout = body->textView()->document()->firstBlock().layout();
        ASSERT_GT(layout->lineCount(), 1);
        const QTextLine last = layout->lineAt(layout->lineCount() - 1);
        EXPECT_EQ(last.textStart() + last.textLength(), shown.size()) << "the lines hold the whole text";
        if (row == 2) {
            EXPECT_EQ(shown, pattern(int(ZNTRowValueText::kShownLengthOfLongText)) + QStringLiteral("…"));
            EXPECT_TRUE(body->textView()->isReadOnly());
            continue;
        }
        EXPECT_TRUE(shown == pattern(row == 0 ? 1000000 : 4000000)) << shown.size();
        if (row == 0)
            screenshot("row-editor-text-without-blanks.png");
        leaveThenAppendAndSave(body->textView());
    }
    EXPECT_EQ(db.run(QStringLiteral("SELECT string_agg(length(body) || ':' || (body IN (%1 || 'Y', %2 || 'Y', %3)), "
                                    "',' ORDER BY id) FROM t")
                         .arg(patternSql(1000000), patternSql(4000000), patternSql(over))),
              QStringLiteral("1000001:true,4000001:true,%1:true").arg(over));
}

// Every float the server writes, opened and left, is no edit; an edit of
// another column sets that column alone (a trigger on the float columns
// refuses any UPDATE that names them); and a typed "0" over "-0" is an edit.
TEST_F(ExactValues, FloatsOpenedAndLeftAreNoEditAndStayOutOfTheSetList) {
    db.run(R"(CREATE TABLE f (id int PRIMARY KEY, r4 real, d8 double precision, note text);
              INSERT INTO f VALUES (1, 'NaN', 'NaN', 'a'), (2, 'Infinity', '-Infinity', 'b'), (3, '-0', '-0', 'c'),
                  (4, '0.1', '0.30000000000000004', 'd'), (5, '1.1754944e-38', '5e-324', 'e'),
                  (6, '3.4028235e+38', '1e+15', 'f'), (7, 'NaN', 'NaN', 'g');
              CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS
                  $$BEGIN RAISE EXCEPTION 'a float column was written'; END$$;
              CREATE TRIGGER floats_untouched BEFORE UPDATE OF r4, d8 ON f FOR EACH ROW EXECUTE FUNCTION refuse();)");
    const QString loaded = db.run("SELECT string_agg(r4 || '/' || d8, ',' ORDER BY id) FROM f");
    openWithSidebar("f");
    for (int row = 0; row < 7; ++row) {
        for (const char *column : {"r4", "d8"}) {
            QLineEdit *editor = openCell(row, column);
            ASSERT_NE(editor, nullptr);
            const QString shown = editor->text();
            EXPECT_EQ(shown, model()->valueAt(row, model()->displayColumnNamed(column)).description());
            QTest::keyClick(editor, Qt::Key_Return);
            pumpFor(10ms);
            EXPECT_FALSE(hasEdits()) << "row " << row + 1 << " " << column << " opened and left";
            typeInto(row, column, shown);
            EXPECT_FALSE(hasEdits()) << "row " << row + 1 << " " << column << " typed as shown";
        }
    }
    // Two rows holding NaN show NaN in the detail sidebar, not MULTIPLE.
    selectRows({0, 6});
    pumpFor(30ms);
    ASSERT_NE(rowEditor(), nullptr);
    const ZNTRowValues shown = rowEditor()->row()->values();
    EXPECT_EQ(shown[1].description(), "NaN");
    EXPECT_EQ(shown[2].description(), "NaN");
    EXPECT_TRUE(shown[3].isMultiple());

    for (int row = 0; row < 7; ++row)
        typeInto(row, "note", "x");
    EXPECT_EQ(page->saveBar()->statusText(), "7 edited rows");
    // The statement returns every column, the float ones too, but sets note alone.
    EXPECT_TRUE(page->sqlPreviewString().startsWith("UPDATE \"public\".\"f\" SET \"note\"='x' WHERE "))
        << page->sqlPreviewString().toStdString();
    saveAndWait();
    EXPECT_EQ(db.run("SELECT string_agg(r4 || '/' || d8, ',' ORDER BY id) FROM f"), loaded);
    EXPECT_EQ(db.run("SELECT string_agg(note, '' ORDER BY id) FROM f"), "xxxxxxx");

    db.run("DROP TRIGGER floats_untouched ON f");
    typeInto(2, "r4", "0");
    typeInto(2, "d8", "0");
    EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
    saveAndWait();
    EXPECT_EQ(db.run("SELECT r4 || '/' || d8 FROM f WHERE id = 3"), "0/0");
}

TEST(FilterValues, AValueLongerThanALineEditsUsualLimitIsShownAndTypedIntoWhole) {
    const QString text = pattern(40000);
    ZNTFilterView row;
    row.loadDetailView(ZNTFilter::TextDetailView, {});
    ASSERT_TRUE(row.detailTextField());
    row.detailTextField()->setText(text);
    EXPECT_EQ(row.detailTextField()->text(), text);
    pumpFor(10ms);
    EXPECT_EQ(row.detailTextField()->cursorPosition(), 0) << "the value's start shows, not its end";
    row.detailTextField()->setCursorPosition(int(text.size()));
    QTest::keyClicks(row.detailTextField(), "Z");
    EXPECT_EQ(row.detailTextField()->text(), text + "Z");
}
