// The row editor with its text, boolean and bytea cells in a plain window:
// cells made only for the entries in sight and reused, row heights, what the
// cells report, Tab order, read-only rows and the row page.
#include "RowEditorTestSupport.h"
#include "browser/BrowserPages.h"
#include "browser/ZNTBooleanCell.h"
#include "browser/ZNTByteaCellView.h"
#include "browser/ZNTForeignKeyCell.h"
#include "browser/ZNTRowValueTextCell.h"
#include "engine/SizeFormatting.h"
#include "uikit/ZNTTextView.h"
#include "window/ZNTContentControllerFactory.h"

#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QToolButton>

using namespace roweditortest;
using namespace std::chrono_literals;

namespace {

// n text columns c0 ... c(n-1) with values prefix0 ...
std::shared_ptr<ZNTRow> wideRow(int n, const QString &prefix) {
    ZNTColumnList columns;
    ZNTRowValues values;
    for (int i = 0; i < n; ++i) {
        columns << column(QStringLiteral("c%1").arg(i), 25, 'S');
        values.push_back(Value::fromString(prefix + QString::number(i)));
    }
    return looseRow(columns, values);
}

QString shownText(ZNTRowValueTextCell *cell) {
    return cell->textView()->toPlainText();
}

QByteArray pngOf(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    QByteArray png;
    QBuffer buffer(&png);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

TEST(RowEditor, OnlyEntriesInSightHaveCellsAndANewRowReusesThem) {
    EditorHost host;
    host.editor->setRow(wideRow(200, QStringLiteral("a")));
    host.settle();
    const qsizetype made = host.editor->tableView()->allViews().size();
    EXPECT_LT(made, 25) << "a 560-point list shows about a dozen entries of 42 points";
    EXPECT_GT(made, 5);
    QList<QWidget *> before = host.editor->tableView()->allViews();

    host.editor->setRow(wideRow(200, QStringLiteral("b")));
    host.settle();
    EXPECT_EQ(host.editor->tableView()->allViews(), before) << "the same widgets show the next row";
    EXPECT_EQ(shownText(host.cell<ZNTRowValueTextCell>(3)), "b3");

    QScrollBar *bar = host.editor->tableView()->verticalScrollBar();
    bar->setValue(bar->maximum());
    host.settle();
    EXPECT_LE(host.editor->tableView()->allViews().size(), made + 2) << "scrolling reuses the cells gone by";
    const QList<int> shown = host.editor->tableView()->visibleRows();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.back(), 199);
    EXPECT_EQ(shownText(host.cell<ZNTRowValueTextCell>(199)), "b199");
    EXPECT_EQ(host.cell<ZNTRowValueTextCell>(199)->rowHeightIdentifier().toInt(), 199);
}

TEST(RowEditor, RowHeightsFollowTheCellsAndTheText) {
    EditorHost host;
    ZNTColumnList columns{column("flag", 16, 'B'), column("data", 17, 'U'), column("note", 25, 'S'),
                          column("short", 25, 'S')};
    host.editor->setRow(looseRow(columns, {Value::fromBool(true), Value::null(),
                                           Value::fromString("one\ntwo\nthree\nfour"), Value::fromString("x")}));
    host.settle();
    ZNTRowListView *list = host.editor->tableView();
    EXPECT_EQ(list->rectOfRow(0).height(), 41);
    EXPECT_EQ(list->rectOfRow(1).height(), 65) << "a NULL bytea has no preview";
    EXPECT_EQ(list->rectOfRow(3).height(), 42);
    auto *note = host.cell<ZNTRowValueTextCell>(2);
    EXPECT_GT(list->rectOfRow(2).height(), 42 + 40) << "four lines of text";
    EXPECT_EQ(list->rectOfRow(2).height(), int(std::ceil(note->preferredHeight())));
    EXPECT_EQ(ZNTRowValueTextCell::defaultHeight(), 42);

    // Typing more lines grows the entry; the entries below move down.
    note->textView()->setFocus();
    QTest::keyClick(note->textView(), Qt::Key_End, Qt::ControlModifier);
    for (const char *line : {"five", "six"}) {
        QTest::keyClick(note->textView(), Qt::Key_Return);
        QTest::keyClicks(note->textView(), line);
    }
    host.settle();
    EXPECT_EQ(list->rectOfRow(3).top(), list->rectOfRow(2).bottom() + 1);
    EXPECT_EQ(list->rectOfRow(2).height(), int(std::ceil(note->preferredHeight())));
}

TEST(RowEditor, FocusingANullAndLeavingReportsNothingClearingAValueReportsNullOnce) {
    EditorHost host;
    std::vector<QString> begun;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTRowValueDidBeginEditing, nullptr, [&](const Notification &) { begun.push_back("begun"); });
    host.editor->setRow(looseRow({column("a", 25, 'S'), column("b", 25, 'S'), column("n", 23, 'N')},
                                 {Value::null(), Value::fromString("abc"), Value::fromInt(5)}));
    host.settle();
    auto *a = host.cell<ZNTRowValueTextCell>(0);
    auto *b = host.cell<ZNTRowValueTextCell>(1);
    EXPECT_EQ(shownText(a), "NULL");
    EXPECT_EQ(a->textView()->palette().color(QPalette::Text), a->palette().color(QPalette::PlaceholderText));

    a->textView()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(shownText(a), "") << "the grey word gives way to typing";
    b->textView()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(shownText(a), "NULL");
    EXPECT_TRUE(host.recorder.edits.empty());

    QTest::keyClick(b->textView(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(b->textView(), Qt::Key_Delete);
    EXPECT_EQ(begun.size(), 1u);
    a->textView()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(host.recorder.edits.size(), 1u);
    EXPECT_EQ(host.recorder.edits[0].column, 1);
    EXPECT_TRUE(host.recorder.edits[0].value.isNull());
    EXPECT_EQ(shownText(b), "NULL");
    b->textView()->setFocus(Qt::MouseFocusReason);
    a->textView()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(host.recorder.edits.size(), 1u) << "NULL is reported once";

    // A number typed into an integer column is handed over as its text.
    auto *n = host.cell<ZNTRowValueTextCell>(2);
    n->textView()->setFocus(Qt::MouseFocusReason);
    n->textView()->selectAll();
    QTest::keyClicks(n->textView(), "42");
    a->textView()->setFocus(Qt::MouseFocusReason);
    ASSERT_EQ(host.recorder.edits.size(), 2u);
    EXPECT_EQ(host.recorder.edits[1].value, Value::fromString("42"));
    // Typing the value's own text again is no change.
    n->textView()->setFocus(Qt::MouseFocusReason);
    n->textView()->selectAll();
    QTest::keyClicks(n->textView(), "42");
    a->textView()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(host.recorder.edits.size(), 2u);
    EXPECT_EQ(host.editor->newValues()[2], Value::fromString("42"));
}

TEST(RowEditor, TypingNotYetLeftIsDroppedWhenAnotherRowArrives) {
    EditorHost host;
    host.editor->setRow(wideRow(3, QStringLiteral("first")));
    host.settle();
    auto *cell = host.cell<ZNTRowValueTextCell>(1);
    cell->textView()->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(cell->textView(), "typed");
    host.editor->setRow(wideRow(3, QStringLiteral("second")));
    host.settle();
    QWidget elsewhere(&host.window);
    elsewhere.setFocusPolicy(Qt::StrongFocus);
    elsewhere.setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(host.recorder.edits.empty()) << "the typing was for the rows selected before";
    EXPECT_EQ(shownText(host.cell<ZNTRowValueTextCell>(1)), "second1");
}

TEST(RowEditor, TabGoesFromEntryToEntryWrappingAndPassingThoseThatTakeNoFocus) {
    EditorHost host;
    ZNTColumnList columns{column("t0", 25, 'S'), column("flag", 16, 'B'), column("data", 17, 'U'),
                          column("t3", 25, 'S')};
    const ZNTRowValues values{Value::fromString("x"), Value::fromBool(true), Value::null(), Value::fromString("y")};
    host.editor->setRow(looseRow(columns, values));
    host.settle();
    auto *t0 = host.cell<ZNTRowValueTextCell>(0);
    auto *flag = host.cell<ZNTBooleanCell>(1);
    auto *t3 = host.cell<ZNTRowValueTextCell>(3);
    t0->textView()->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), flag->popupButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->parentWidget(), host.cell<ZNTByteaCellView>(2))
        << "the bytea cell's Load button";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), t3->textView()) << "Save and NULL have nothing to act on";
    EXPECT_EQ(t3->textView()->textCursor().selectedText(), "y") << "the text is selected";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), t0->textView()) << "from the last entry to the first";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), t3->textView()) << "and back";
    EXPECT_EQ(t0->textView()->toPlainText(), "x") << "no tab character was typed";

    // The same row on a page of its own: the pop-up and the bytea cell take no
    // focus there, Tab passes them.
    ZNTRowViewController *page = ZNTRowViewController::viewControllerForItem(looseRow(columns, values));
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(page->view());
    window.resize(320, 400);
    uikittest::activate(&window);
    ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));
    ASSERT_TRUE(page->makeFirstResponder());
    auto *first = dynamic_cast<ZNTRowValueTextCell *>(page->cellAtRow(0));
    auto *last = dynamic_cast<ZNTRowValueTextCell *>(page->cellAtRow(3));
    EXPECT_EQ(QApplication::focusWidget(), first->textView());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), last->textView());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), first->textView());
    delete page;
}

TEST(RowEditor, BooleanCellShowsMultipleWithoutOfferingItAndReadsText) {
    EditorHost host;
    ZNTColumnList columns{column("a", 16, 'B'), column("b", 16, 'B'), column("c", 16, 'B')};
    host.editor->setRow(
        looseRow(columns, {Value::multipleMarker(), Value::fromString(" ON "), Value::fromString("off")}));
    host.settle();
    auto *a = host.cell<ZNTBooleanCell>(0);
    EXPECT_EQ(a->popupButton()->currentText(), "MULTIPLE");
    const auto *model = qobject_cast<QStandardItemModel *>(a->popupButton()->model());
    ASSERT_TRUE(model);
    EXPECT_FALSE(model->item(a->popupButton()->currentIndex())->isEnabled()) << "MULTIPLE cannot be chosen";
    EXPECT_EQ(host.cell<ZNTBooleanCell>(1)->popupButton()->currentText(), "true");
    EXPECT_EQ(host.cell<ZNTBooleanCell>(2)->popupButton()->currentText(), "false");

    // The user's choice of the entry shown changes nothing; true is one change.
    emit a->popupButton()->activated(a->popupButton()->currentIndex());
    EXPECT_TRUE(host.recorder.edits.empty());
    emit a->popupButton()->activated(a->popupButton()->findText("true"));
    ASSERT_EQ(host.recorder.edits.size(), 1u);
    EXPECT_EQ(host.recorder.edits[0].value, Value::fromBool(true));
    emit a->popupButton()->activated(a->popupButton()->findText("true"));
    EXPECT_EQ(host.recorder.edits.size(), 1u) << "choosing what is set reaches no delegate";
}

TEST(RowEditor, AnImageValueShowsItsTypeSizeAndPreviewAndTheRowGrowsToIt) {
    EditorHost host(QSize(320, 700));
    const QByteArray png = pngOf(QSize(600, 400));
    const QByteArray noise = QByteArray::fromHex("00ff10807f01fe02fd03fc04fb05fa06");
    host.editor->setRow(looseRow({column("picture", 17, 'U'), column("blob", 17, 'U')},
                                 {Value::fromBytes(png), Value::fromBytes(noise)}));
    host.settle();
    auto *picture = host.cell<ZNTByteaCellView>(0);
    EXPECT_EQ(picture->titleString(), "PNG file");
    EXPECT_EQ(picture->sizeString(), stringFromSize(png.size()));
    ASSERT_FALSE(picture->image().isNull());
    const int width = picture->imageViewFrame().width();
    const int scaled = int(std::round(400.0 * width / 600.0));
    EXPECT_EQ(picture->imageViewFrame().height(), scaled);
    EXPECT_EQ(host.editor->tableView()->rectOfRow(0).height(), 65 + scaled);

    auto *blob = host.cell<ZNTByteaCellView>(1);
    EXPECT_EQ(blob->titleString(), "unknown data type");
    EXPECT_TRUE(blob->image().isNull());
    EXPECT_EQ(host.editor->tableView()->rectOfRow(1).height(), 65 + 32) << "the icon of unknown data";
    saveShot(&host.window, QStringLiteral("row-editor-bytea.png"));

    BeepCounter beeps;
    blob->makeNull();
    ASSERT_EQ(host.recorder.edits.size(), 1u);
    EXPECT_TRUE(host.recorder.edits[0].value.isNull());
    EXPECT_EQ(blob->titleString(), "NULL");
    EXPECT_EQ(blob->exportFile(), nullptr) << "nothing to save";
    EXPECT_EQ(beeps.count, 1);
}

TEST(RowEditor, AViewsRowAndARowPageTakeNoTyping) {
    Database d;
    d.db.run("CREATE TABLE base (id int PRIMARY KEY, name text, flag boolean, data bytea);"
             "INSERT INTO base VALUES (1, 'one', true, '\\x01');"
             "CREATE VIEW v AS SELECT * FROM base");
    EditorHost host;
    std::shared_ptr<ZNTRow> viewRow;
    ASSERT_NO_FATAL_FAILURE(viewRow = d.row("v", "id = 1", ZNTTable::ZNTTableTypeView));
    host.editor->setRow(viewRow);
    host.settle();
    auto *name = host.cell<ZNTRowValueTextCell>(1);
    EXPECT_TRUE(name->textView()->isReadOnly());
    EXPECT_FALSE(name->actionButton()->isVisible()) << "no menu and no corner kept free";
    EXPECT_TRUE(name->textView()->blankTopRightCornerSize().isEmpty());
    name->textView()->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(name->textView(), "more");
    EXPECT_EQ(shownText(name), "one");
    host.cell<ZNTRowValueTextCell>(0)->textView()->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(host.recorder.edits.empty());

    // A table's row opened on a page of its own: no cell takes a change.
    BrowserPages::install();
    std::shared_ptr<ZNTRow> tableRow;
    ASSERT_NO_FATAL_FAILURE(tableRow = d.row("base", "id = 1"));
    std::unique_ptr<ZNTContentController> page(ZNTContentControllers::controllerForItem(tableRow));
    auto *rowPage = qobject_cast<ZNTRowViewController *>(page.get());
    ASSERT_TRUE(rowPage);
    EXPECT_FALSE(rowPage->isEditable());
    rowPage->view()->resize(320, 400);
    rowPage->view()->show();
    auto *text = dynamic_cast<ZNTRowValueTextCell *>(rowPage->cellAtRow(1));
    auto *flag = dynamic_cast<ZNTBooleanCell *>(rowPage->cellAtRow(2));
    auto *data = dynamic_cast<ZNTByteaCellView *>(rowPage->cellAtRow(3));
    ASSERT_TRUE(text && flag && data);
    EXPECT_TRUE(text->textView()->isReadOnly());
    EXPECT_FALSE(flag->popupButton()->isEnabled());
    EXPECT_EQ(data->chooseFile(), nullptr);
    data->makeNull();
    EXPECT_EQ(rowPage->newValues()[3], Value::fromBytes("\x01")) << "nothing is stored on the page";
    EXPECT_EQ(data->titleString(), "unknown data type") << "the cell shows the value again";
    ZNTContentControllers::setFactory(ZNTPage::Row, nullptr);
}

TEST(RowEditor, ScreenshotsOfATypicalRow) {
    EditorHost host(QSize(340, 620));
    ZNTColumnList columns{column("id", 23, 'N'),         column("name", 25, 'S'),    column("active", 16, 'B'),
                          column("notes", 25, 'S'),      column("price", 1700, 'N'), column("created", 1184, 'D'),
                          column("settings", 3802, 'U'), column("picture", 17, 'U')};
    host.editor->setRow(
        looseRow(columns, {Value::fromInt(42), Value::fromString("Ada Lovelace"), Value::fromBool(true),
                           Value::fromString("First line of a note\nand a second one that runs on "
                                             "long enough to wrap around the field"),
                           Value::null(), Value::defaultMarker(), Value::fromString(R"({"theme": "dark", "size": 12})"),
                           Value::fromBytes(pngOf(QSize(120, 80)))}));
    host.settle();
    host.cell<ZNTRowValueTextCell>(1)->textView()->setFocus(Qt::MouseFocusReason);
    saveShot(&host.window, QStringLiteral("row-editor.png"));
    saveDarkShot(&host.window, QStringLiteral("row-editor-dark.png"));
}

// The outline of a value's field reads at 3:1 against the field, light and dark.
TEST(RowEditor, FieldOutlinesReadInBothPalettes) {
    EditorHost host(QSize(340, 300));
    host.editor->setRow(
        looseRow({column("name", 25, 'S'), column("notes", 25, 'S')}, {Value::fromString("Ada"), Value::null()}));
    host.settle();
    const QPalette before = QApplication::palette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : before);
        pumpFor(30ms);
        const QImage image = host.window.grab().toImage();
        image.save(screenshotPath("browser", dark ? "row-editor-outline-dark.png" : "row-editor-outline.png"));
        QTextEdit *text = host.cell<ZNTRowValueTextCell>(0)->textView();
        const QRect field(text->mapTo(&host.window, QPoint(0, 0)), text->size());
        const int y = field.center().y();
        // The bezel runs 5.5 px outside the text; the field's fill lies between.
        const QColor fill = commonColour(image, QRect(field.left() - 4, y - 3, 3, 7));
        const double outline = strongestContrast(image, QRect(field.left() - 8, y - 3, 4, 7), fill);
        EXPECT_GE(outline, 3.0) << (dark ? "dark" : "light");
    }
    QApplication::setPalette(before);
}
