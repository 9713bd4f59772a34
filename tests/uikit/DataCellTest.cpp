#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/DataCellLines.h"
#include "uikit/KRVTableDataCell.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using Stats = KRVTableDataCell::CacheStatistics;

QFont testFont() {
    return QFont(QStringLiteral("DejaVu Sans"), 9);
}

// What drawing one cell adds to the cache's counters.
Stats delta(const Stats &before) {
    const Stats now = KRVTableDataCell::cacheStatistics();
    return {now.layouts - before.layouts, now.hits - before.hits};
}

void drawCell(const QString &text, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    KRVTableDataCell::drawWithFrame(&painter, QRect(QPoint(0, 0), size), {text, false, false}, 0,
                                    QApplication::palette(), testFont(), false);
}

QColor blend(QColor under, QColor over) {
    const float a = over.alphaF();
    return QColor::fromRgbF(under.redF() * (1 - a) + over.redF() * a, under.greenF() * (1 - a) + over.greenF() * a,
                            under.blueF() * (1 - a) + over.blueF() * a);
}

::testing::AssertionResult near(QColor actual, QColor expected) {
    const int d = std::max({std::abs(actual.red() - expected.red()), std::abs(actual.green() - expected.green()),
                            std::abs(actual.blue() - expected.blue())});
    if (d <= 3)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name().toStdString() << " is not " << expected.name().toStdString();
}

// A grid whose rows carry a value and a cell style, drawn by the data cell.
class Grid : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        model.setColumnCount(2);
        view.setModel(&model);
        view.setItemDelegate(new KRVTableDataCell(&view));
        view.setShowGrid(false);
        view.verticalHeader()->setDefaultSectionSize(24);
        view.horizontalHeader()->setDefaultSectionSize(150);
        view.resize(420, 300);
    }

    void addRow(const Value &left, const Value &right, int style, const QString &editText = {}) {
        QList<QStandardItem *> items;
        for (const Value &v : {left, right}) {
            auto *item = new QStandardItem;
            item->setData(QVariant::fromValue(v), KRVTableDataCell::ValueRole);
            item->setData(style, KRVTableDataCell::CellStyleRole);
            if (!editText.isNull())
                item->setData(editText, Qt::EditRole);
            items.append(item);
        }
        model.appendRow(items);
    }

    QImage shot() {
        view.show();
        return view.viewport()->grab().toImage();
    }

    QRect cell(int row, int column) { return view.visualRect(model.index(row, column)); }

    QStandardItemModel model;
    QTableView view;
};

} // namespace

TEST(DataCellText, ValuesShowAsTheGridShowsThem) {
    struct Case {
        const char *name;
        Value value;
        QString text;
        bool grey, placeholder;
    } cases[] = {
        {"null", Value::null(), "NULL", true, true},
        {"bytes", Value::fromBytes(QByteArray(2048, 'x')), "BINARY (2 KB)", true, true},
        {"emptyBytes", Value::fromBytes({}), "BINARY (0 bytes)", true, true},
        {"default", Value::defaultMarker(), "DEFAULT", true, true},
        {"multiple", Value::multipleMarker(), "MULTIPLE", true, true},
        {"booleanTrue", Value::fromBool(true), "TRUE", false, false},
        {"booleanFalse", Value::fromBool(false), "FALSE", false, false},
        {"integerOneIsNoBoolean", Value::fromInt(1), "1", false, false},
        {"double", Value::fromDouble(0.1), "0.1", false, false},
        {"stringNull", Value::fromString("NULL"), "NULL", false, false},
        {"emptyString", Value::fromString(""), "", false, false},
    };
    for (const Case &c : cases) {
        const KRVTableDataCell::DisplayValue shown = KRVTableDataCell::displayValue(c.value);
        EXPECT_EQ(shown.text, c.text) << c.name;
        EXPECT_EQ(shown.isGrey, c.grey) << c.name;
        EXPECT_EQ(shown.isPlaceholder, c.placeholder) << c.name;
    }
}

TEST(DataCellText, LongTextsAreCutBeforeLayoutAndNeverInsideACharacter) {
    uikittest::useFixedLook();
    QString words;
    while (words.size() < 6000)
        words += QStringLiteral("lorem ipsum ");
    const QSize size(200, 40);
    const qreal width = KRVTableDataCell::titleRectForBounds(QRect(QPoint(), size)).width();
    drawCell(words, size);
    Stats before = KRVTableDataCell::cacheStatistics();
    dataCellLines(words.left(5000), testFont(), width, true);
    EXPECT_EQ(delta(before).hits, 1u) << "the cell laid out the first 5000 units only";

    const QString smiley = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString split = QString(4999, QLatin1Char('a')) + smiley + QString(1000, QLatin1Char('b'));
    drawCell(split, size);
    before = KRVTableDataCell::cacheStatistics();
    dataCellLines(split.left(4999), testFont(), width, true);
    EXPECT_EQ(delta(before).hits, 1u) << "the cut steps back before the character's first half";
}

TEST(DataCellText, TheSecondLineEndsInAnEllipsisOnlyWhenMoreFollows) {
    uikittest::useFixedLook();
    const QFont font = testFont();
    const DataCellLines &many = dataCellLines("alpha beta gamma delta epsilon zeta eta theta iota", font, 90, true);
    EXPECT_TRUE(many.twoLines);
    EXPECT_TRUE(many.line1Text.startsWith("alpha")) << many.line1Text.toStdString();
    EXPECT_FALSE(many.line1Text.trimmed().endsWith(QChar(0x2026)));
    EXPECT_TRUE(many.line2Text.endsWith(QChar(0x2026))) << many.line2Text.toStdString();
    EXPECT_LE(QFontMetricsF(font).horizontalAdvance(many.line2Text), 90);

    const qreal alpha = QFontMetricsF(font).horizontalAdvance("alpha ");
    const DataCellLines &exact = dataCellLines("alpha beta", font, alpha + 2, true);
    EXPECT_EQ(exact.line2Text, "beta") << "the whole rest fits: no ellipsis";

    const DataCellLines &breaks = dataCellLines("first\nsecond\nthird", font, 300, true);
    EXPECT_EQ(breaks.line1Text, "first");
    EXPECT_EQ(breaks.line2Text, QStringLiteral("second…"));
    const DataCellLines &low = dataCellLines("first\nsecond", font, 300, false);
    EXPECT_EQ(low.line1Text, QStringLiteral("first…")) << "a row too low for two lines shows one, elided";
    EXPECT_FALSE(low.twoLines);
}

TEST(DataCellText, TheCacheKeepsLinesUntilTheWidthNarrowsOrATwoLineEntryChangesWidth) {
    uikittest::useFixedLook();
    KRVTableDataCell::resetLineCache();
    const QFont font = testFont();
    dataCellLines("hello", font, 100, true);
    EXPECT_EQ(KRVTableDataCell::cacheStatistics().layouts, 1u);
    dataCellLines("hello", font, 100, true);
    dataCellLines("hello", font, 300, true);
    EXPECT_EQ(KRVTableDataCell::cacheStatistics().hits, 2u) << "same width, and a wider column for a fitting line";
    dataCellLines("hello", font, 20, true);
    EXPECT_EQ(KRVTableDataCell::cacheStatistics().layouts, 2u) << "narrower than the line";

    const QString two = "a text long enough to need two lines here";
    dataCellLines(two, font, 100, true);
    dataCellLines(two, font, 101, true);
    dataCellLines(two, font, 100, true);
    EXPECT_EQ(KRVTableDataCell::cacheStatistics().layouts, 5u) << "any other width rebuilds two lines";
    QFont bold = font;
    bold.setBold(true);
    dataCellLines(two, bold, 100, true);
    EXPECT_EQ(KRVTableDataCell::cacheStatistics().layouts, 6u) << "another font is another entry";
    dataCellLines(two, bold, 100, true);
    EXPECT_EQ(KRVTableDataCell::cacheStatistics().hits, 3u);
}

TEST_F(Grid, StyleBackgroundsSelectionAndFaintPlaceholders) {
    addRow(Value::fromString("x"), Value::null(), KRVTableDataCellStyleEdited);
    addRow(Value::fromString("x"), Value::null(), KRVTableDataCellStyleNewRow);
    addRow(Value::fromString("x"), Value::null(), KRVTableDataCellStyleDeleted);
    addRow(Value::fromString("NULL"), Value::null(), KRVTableDataCellStyleEdited);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.selectRow(3);
    uikittest::activate(&view);
    ASSERT_TRUE(pumpUntil([&] { return view.isActiveWindow(); }));
    const QImage image = shot();
    image.save(screenshotPath("uikit", "data-cell-styles.png"));
    const QPalette palette = view.palette();
    const QColor base = palette.color(QPalette::Base);
    const QColor yellow = QColor::fromHsvF(0.153f, 0.36f, 1.0f, 0.8f);

    const QRect edited = cell(0, 1);
    EXPECT_TRUE(near(image.pixelColor(edited.topLeft()), base)) << "the rounded box leaves the corner";
    EXPECT_TRUE(near(image.pixelColor(edited.left() + 2, edited.center().y()), blend(base, yellow)));
    EXPECT_TRUE(near(image.pixelColor(edited.left() + 2, edited.top() + 1), base)) << "2 px free above";
    const QRect newRow = cell(1, 1);
    EXPECT_TRUE(near(image.pixelColor(newRow.topLeft()), blend(base, yellow)));
    const QRect deleted = cell(2, 1);
    EXPECT_TRUE(near(image.pixelColor(deleted.topLeft() + QPoint(1, 1)),
                     blend(base, QColor::fromHsvF(0.0f, 0.36f, 1.0f, 0.4f))));

    const QRect selected = cell(3, 1);
    QColor yellowOnSelection = yellow;
    yellowOnSelection.setAlphaF(0.4f);
    const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
    EXPECT_TRUE(
        near(image.pixelColor(selected.left() + 2, selected.center().y()), blend(highlight, yellowOnSelection)));
    // On a selected row a NULL placeholder reads as the row's text does, in
    // the same colour.
    const QColor tinted = image.pixelColor(selected.left() + 2, selected.center().y());
    EXPECT_NEAR(strongestContrast(image, cell(3, 1), tinted), strongestContrast(image, cell(3, 0), tinted), 0.1);
}

// Placeholders read at 4.5:1 against what is behind them, grey on a plain or
// an alternate row and in the selection's text colour on a selected one,
// light and dark. (The light palette's selection itself gives its text less:
// the placeholder reads as well as the row's own text there.) On new, changed
// and deleted rows, selected or not, every text reads at 4.5:1 on the row's
// colour.
TEST_F(Grid, PlaceholdersReadOnPlainAlternateAndSelectedRowsInBothPalettes) {
    addRow(Value::fromString("text"), Value::null(), KRVTableDataCellStyleNormal);
    addRow(Value::fromString("text"), Value::null(), KRVTableDataCellStyleNormal);
    addRow(Value::fromString("text"), Value::defaultMarker(), KRVTableDataCellStyleNormal);
    const int marked[] = {KRVTableDataCellStyleNewRow, KRVTableDataCellStyleEdited, KRVTableDataCellStyleDeleted};
    for (int i = 0; i < 6; ++i)
        addRow(Value::fromString("text"), i % 3 ? Value::null() : Value::defaultMarker(), marked[i % 3]);
    view.setAlternatingRowColors(true);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    for (const int row : {2, 6, 7, 8})
        view.selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    uikittest::activate(&view);
    ASSERT_TRUE(pumpUntil([&] { return view.isActiveWindow(); }));
    for (const bool dark : {false, true}) {
        view.setPalette(dark ? darkPalette() : QApplication::palette());
        const QImage image = shot();
        image.save(screenshotPath("uikit", dark ? "data-cell-placeholders-dark.png" : "data-cell-placeholders.png"));
        const char *palette = dark ? "dark" : "light";
        const QRect plain = cell(0, 1), alternate = cell(1, 1), selected = cell(2, 1), selectedText = cell(2, 0);
        const QColor base = commonColour(image, plain), highlight = commonColour(image, selected);
        const QColor alternateBase = commonColour(image, alternate);
        ASSERT_NE(alternateBase, base) << palette;
        EXPECT_GE(strongestContrast(image, plain, base), 4.5) << palette << ": NULL on a plain row";
        EXPECT_GE(strongestContrast(image, alternate, alternateBase), 4.5) << palette << ": NULL on an alternate row";
        const double placeholder = strongestContrast(image, selected, highlight);
        EXPECT_GE(placeholder, std::min(4.5, strongestContrast(image, selectedText, highlight) - 0.1))
            << palette << ": DEFAULT on the selection";
        if (dark)
            EXPECT_GE(placeholder, 4.5);
        // Still grey where it is not selected: fainter than the text beside it.
        EXPECT_LT(strongestContrast(image, plain, base), strongestContrast(image, cell(0, 0), base)) << palette;
        for (int row = 3; row < 9; ++row) {
            for (int column = 0; column < 2; ++column) {
                // Inside the changed cell's rounded box, clear of the focus frame.
                const QRect text = cell(row, column).adjusted(4, 3, -1, -4);
                EXPECT_GE(strongestContrast(image, text, commonColour(image, text)), 4.5)
                    << palette << ": row " << row << ", column " << column;
            }
        }
    }
}

TEST_F(Grid, ADarkPaletteKeepsEditedCellsDark) {
    view.setPalette(darkPalette());
    addRow(Value::fromString("text"), Value::fromInt(5), KRVTableDataCellStyleNewRow);
    const QImage image = shot();
    image.save(screenshotPath("uikit", "data-cell-dark.png"));
    EXPECT_LT(image.pixelColor(cell(0, 0).topLeft()).lightness(), 110);
}

TEST_F(Grid, EditingAPlaceholderStartsEmptyAndTextStartsWithItself) {
    addRow(Value::null(), Value::fromString("abc"), 0, QStringLiteral("abc"));
    addRow(Value::defaultMarker(), Value::fromBytes("xyz"), 0, QStringLiteral("DEFAULT"));
    addRow(Value::fromInt(42), Value::fromBool(true), 0);
    uikittest::activate(&view);
    auto editorText = [&](int row, int column) -> QString {
        view.setCurrentIndex(model.index(row, column));
        view.edit(model.index(row, column));
        QLineEdit *editor = nullptr;
        pumpUntil([&] { return (editor = qobject_cast<QLineEdit *>(QApplication::focusWidget())) != nullptr; }, 2s);
        const QString text = editor ? editor->text() : QStringLiteral("<no editor>");
        if (editor)
            QTest::keyClick(editor, Qt::Key_Escape);
        pumpUntil([&] { return !qobject_cast<QLineEdit *>(QApplication::focusWidget()); }, 2s);
        return text;
    };
    EXPECT_EQ(editorText(0, 0), "");
    EXPECT_EQ(editorText(0, 1), "abc");
    EXPECT_EQ(editorText(1, 0), "") << "even when the model offers the marker's text";
    EXPECT_EQ(editorText(1, 1), "");
    EXPECT_EQ(editorText(2, 0), "42") << "without an edit text the shown text";
}

// A line edit keeps 32,767 characters unless told otherwise: the editor must
// take a longer text whole, give nothing back when left untouched, and all of
// it with what was typed.
TEST_F(Grid, AnEditorTakesALongTextWholeAndGivesItBackOnlyWhenTypedInto) {
    const QString text = QStringLiteral("0123456789abcdef").repeated(2500);
    addRow(Value::fromString(text), Value::null(), 0, text);
    int changes = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++changes; });
    uikittest::activate(&view);
    auto open = [&] {
        view.setCurrentIndex(model.index(0, 0));
        view.edit(model.index(0, 0));
        QLineEdit *editor = nullptr;
        pumpUntil([&] { return (editor = qobject_cast<QLineEdit *>(QApplication::focusWidget())) != nullptr; }, 2s);
        return editor;
    };
    QLineEdit *editor = open();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->text(), text);
    QTest::keyClick(editor, Qt::Key_Return);
    pumpFor(10ms);
    EXPECT_EQ(changes, 0) << "an editor left untouched gave its text back";
    editor = open();
    ASSERT_TRUE(editor);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, "Z");
    EXPECT_EQ(editor->text().size(), text.size() + 1);
    QTest::keyClick(editor, Qt::Key_Return);
    pumpFor(10ms);
    const QString stored = model.index(0, 0).data(Qt::EditRole).toString();
    EXPECT_EQ(stored.size(), text.size() + 1);
    EXPECT_TRUE(stored == text + "Z");
}

namespace {
// One column of values, as the table page's model gives them; every setData is recorded.
class RecordingModel : public QAbstractTableModel {
public:
    explicit RecordingModel(QList<Value> values) : values(std::move(values)) {}
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(values.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 1; }
    Qt::ItemFlags flags(const QModelIndex &) const override {
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    }
    QVariant data(const QModelIndex &index, int role) const override {
        const Value &value = values[index.row()];
        const KRVTableDataCell::DisplayValue shown = KRVTableDataCell::displayValue(value);
        if (role == KRVTableDataCell::ValueRole)
            return QVariant::fromValue(value);
        if (role == Qt::EditRole)
            return shown.isPlaceholder ? QString() : shown.text;
        return role == Qt::DisplayRole ? QVariant(shown.text) : QVariant();
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override {
        writes << QStringLiteral("%1:%2").arg(index.row()).arg(value.toString());
        return role == Qt::EditRole;
    }
    QList<Value> values;
    QStringList writes;
};
} // namespace

// Opening a cell and leaving it is no edit: NULL and DEFAULT must not become
// empty texts, nor a number its text, however the editor closes.
TEST(DataCellEditing, AnEditorClosedWithoutTypingWritesNothing) {
    RecordingModel model({Value::null(), Value::defaultMarker(), Value::fromString("abc"), Value::fromInt(42)});
    QTableView view;
    view.setModel(&model);
    view.setItemDelegate(new KRVTableDataCell(&view));
    view.resize(300, 200);
    uikittest::activate(&view);
    auto open = [&](int row) {
        view.setCurrentIndex(model.index(row, 0));
        view.edit(model.index(row, 0));
        auto *editor = qobject_cast<QLineEdit *>(view.indexWidget(model.index(row, 0)));
        if (editor && !pumpUntil([&] { return editor->hasFocus(); }, 2s))
            editor = nullptr;
        return editor;
    };
    auto closed = [&](int row) { return pumpUntil([&] { return !view.indexWidget(model.index(row, 0)); }, 2s); };
    for (int row = 0; row < model.rowCount(); ++row) {
        for (bool byReturn : {true, false}) { // else the focus leaves it
            QLineEdit *editor = open(row);
            ASSERT_TRUE(editor) << row;
            if (byReturn)
                QTest::keyClick(editor, Qt::Key_Return);
            else
                editor->clearFocus();
            ASSERT_TRUE(closed(row)) << row;
        }
    }
    EXPECT_EQ(model.writes.join(", "), "");

    QLineEdit *editor = open(2);
    ASSERT_TRUE(editor);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, "d");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(closed(2));
    EXPECT_EQ(model.writes.join(", "), "2:abcd") << "what is typed is written";
}

TEST_F(Grid, ACellThatCannotShowAllOfItsTextShowsItInItsToolTip) {
    const QString longText = QStringLiteral("a value much too long for its column, with more words than fit <b>");
    addRow(Value::fromString(longText), Value::fromString("short"), 0);
    view.setColumnWidth(0, 80);
    uikittest::activate(&view);
    auto tipAt = [&](int column) -> QString {
        QToolTip::hideText();
        const QPoint at = cell(0, column).center();
        QHelpEvent help(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(1), "") << "a value that fits needs no tool tip";
    EXPECT_TRUE(tipAt(0).contains(longText.toHtmlEscaped()));
    QToolTip::hideText();
}
