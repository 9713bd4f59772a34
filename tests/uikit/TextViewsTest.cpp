#include "UikitTestSupport.h"
#include "engine/Value.h"
#include "support/TestSupport.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTTextContainerWithCorner.h"
#include "uikit/ZNTTextView.h"
#include "uikit/ZNTTextViewCell.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class SmallCell : public ZNTTextViewCell {
public:
    static qreal defaultTextFieldMinHeight() { return 16; }
    static QMarginsF defaultTextFieldInsets() { return {5, 2, 5, 2}; }
    static qreal defaultHeight() { return ZNTTextViewCell::defaultHeight({16, defaultTextFieldInsets()}); }
    explicit SmallCell(QWidget *parent = nullptr)
        : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {}
};

struct Scroller : ZNTTextViewScrollDelegateProtocol {
    bool answer = true;
    int asked = 0;
    bool textViewScrollRangeToVisible(ZNTTextView *, int, int) override {
        ++asked;
        return answer;
    }
};

QString longText(int words) {
    QStringList list;
    for (int i = 0; i < words; ++i)
        list << QStringLiteral("word%1").arg(i);
    return list.join(QLatin1Char(' '));
}

} // namespace

TEST(TextViewCell, InsetsHeightsAndTheTextOfAValue) {
    uikittest::useFixedLook();
    EXPECT_EQ(ZNTTextViewCell::defaultHeight(), 34);
    EXPECT_EQ(SmallCell::defaultHeight(), 20);
    ZNTTextViewCell cell;
    cell.resize(100, 60);
    cell.show();
    EXPECT_EQ(cell.textFieldFrame(), QRectF(14, 20, 72, 36));
    EXPECT_EQ(cell.textView()->pos(), QPoint(14, 20));
    EXPECT_EQ(cell.textView()->width(), 72);
    EXPECT_GE(cell.textView()->height(), 10);
    EXPECT_FALSE(cell.textView()->isReadOnly() == false) << "shows, does not edit, until its owner says so";

    cell.setObjectValue(QStringLiteral("first"));
    EXPECT_EQ(cell.textView()->toPlainText(), "first");
    cell.setObjectValue(QVariant::fromValue(Value::fromInt(5)));
    EXPECT_EQ(cell.textView()->toPlainText(), "5");
    cell.setObjectValue(QVariant());
    EXPECT_EQ(cell.textView()->toPlainText(), "5") << "no value keeps the text";
    cell.setObjectValue(QVariant::fromValue(Value::null()));
    EXPECT_EQ(cell.textView()->toPlainText(), "");
}

TEST(TextViewCell, TheTextViewGrowsWithItsTextAndTheRowIsTold) {
    uikittest::useFixedLook();
    ZNTTextViewCell cell;
    cell.resize(200, 60);
    cell.show();
    const qreal before = cell.preferredHeight();
    int told = 0;
    QObject::connect(&cell, &ZNTTextViewCell::preferredHeightChanged, [&] { ++told; });
    cell.setObjectValue(QStringLiteral("one\ntwo\nthree\nfour\nfive\nsix"));
    ASSERT_TRUE(pumpUntil([&] { return cell.preferredHeight() > before + 40; }));
    EXPECT_GT(told, 0);
    EXPECT_EQ(cell.preferredHeight(), cell.textView()->height() + 24);
    EXPECT_EQ(cell.textView()->y(), 20) << "it keeps its distance from the top";
}

TEST(TextViewCell, RemovingObserversCutsEveryListenerOfTheCellAndItsTextView) {
    uikittest::useFixedLook();
    ZNTTextViewCell cell;
    QObject rowEditor;
    int heard = 0, focused = 0;
    QObject::connect(&cell, &ZNTTextViewCell::preferredHeightChanged, &rowEditor, [&] { ++heard; });
    QObject::connect(cell.textView(), &ZNTTextView::frameChanged, &rowEditor, [&] { ++heard; });
    cell.addTextViewObserver(&rowEditor);
    cell.addTextViewObserver(
        observe(cell.textView(), ZNTTextViewDidBecomeFirstResponder, [&](const Notification &) { ++focused; }));
    cell.addTextViewObserver(&rowEditor);
    EXPECT_EQ(cell.textViewObservers().size(), 1);
    cell.show();
    cell.resize(300, 80);
    cell.textView()->resize(250, 40);
    EXPECT_GT(heard, 0);
    cell.removeTextViewObservers();
    heard = 0;
    EXPECT_TRUE(cell.textViewObservers().isEmpty());
    cell.textView()->resize(260, 50);
    emit cell.preferredHeightChanged();
    NotificationCenter::defaultCenter().post(ZNTTextViewDidBecomeFirstResponder, unownedObject(cell.textView()));
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(focused, 0);
}

TEST(TextView, AnnouncesEachNewFocusOnceAndNotAWindowComingBack) {
    uikittest::useFixedLook();
    QWidget window;
    auto *view = new ZNTTextView(&window);
    auto *other = new ZNTTextView(&window);
    other->move(0, 100);
    window.resize(300, 200);
    uikittest::activate(&window);
    ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));
    other->setFocus(Qt::OtherFocusReason);
    int posts = 0;
    ObserverToken token = observe(view, ZNTTextViewDidBecomeFirstResponder, [&](const Notification &n) {
        EXPECT_EQ(n.object.get(), view);
        ++posts;
    });
    view->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(posts, 1);
    QWidget elsewhere;
    uikittest::activate(&elsewhere);
    ASSERT_TRUE(pumpUntil([&] { return !window.isActiveWindow(); }));
    uikittest::activate(&window);
    ASSERT_TRUE(pumpUntil([&] { return view->hasFocus(); }));
    EXPECT_EQ(posts, 1) << "the window came back; the view did not take the focus anew";
    other->setFocus(Qt::TabFocusReason);
    view->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(posts, 2);
}

TEST(TextView, TheBlankCornerShowsAnArrowAndKeepsTextOut) {
    uikittest::useFixedLook();
    ZNTTextView view;
    view.setFrameShape(QFrame::NoFrame);
    view.resize(300, 120);
    view.setBlankTopRightCornerSize({19, 18});
    view.show();
    EXPECT_TRUE(view.isInBlankCorner({290, 5}));
    EXPECT_FALSE(view.isInBlankCorner({290, 20}));
    EXPECT_FALSE(view.isInBlankCorner({200, 5}));
    QTest::mouseMove(view.viewport(), QPoint(290, 5));
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseMove(view.viewport(), QPoint(100, 40));
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::IBeamCursor);

    view.document()->setDocumentMargin(0);
    view.document()->setDocumentLayout(new ZNTTextContainerWithCorner(view.document()));
    view.setPlainText(longText(60));
    ASSERT_TRUE(pumpUntil([&] { return view.document()->firstBlock().layout()->lineCount() > 3; }));
    const QTextLayout *layout = view.document()->firstBlock().layout();
    const qreal full = view.document()->textWidth();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const qreal expected = line.y() < 12 ? full - 18 : full;
        EXPECT_EQ(line.width(), expected) << "line " << i << " at y " << line.y();
    }
    const QImage shot = view.viewport()->grab().toImage();
    shot.save(screenshotPath("uikit", "text-view-corner.png"));
    int inkInCorner = 0, inkBeside = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < shot.width(); ++x)
            (x >= shot.width() - 18 ? inkInCorner : inkBeside) += qGray(shot.pixel(x, y)) < 128;
    EXPECT_EQ(inkInCorner, 0);
    EXPECT_GT(inkBeside, 0);

    // Text flowing round the corner is still edited as usual.
    view.setReadOnly(false);
    QTextCursor c(view.document());
    c.setPosition(0);
    view.setTextCursor(c);
    c.movePosition(QTextCursor::Down);
    EXPECT_GT(c.position(), 0);
    EXPECT_EQ(view.document()->documentLayout()->hitTest(QPointF(1, 1), Qt::FuzzyHit), 0);
    const QPointF onThirdLine(1, layout->lineAt(2).y() + 2);
    EXPECT_EQ(view.document()->documentLayout()->hitTest(onThirdLine, Qt::FuzzyHit), layout->lineAt(2).textStart());
}

TEST(TextView, AScrollDelegateThatScrollsItselfStopsTheViewsOwnScrolling) {
    uikittest::useFixedLook();
    ZNTTextView view;
    view.resize(200, 60);
    view.setPlainText(longText(200));
    view.show();
    Scroller delegate;
    view.setScrollDelegate(&delegate);
    view.verticalScrollBar()->setValue(0);
    view.scrollRangeToVisible(view.document()->characterCount() - 1, 0);
    EXPECT_EQ(delegate.asked, 1);
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    delegate.answer = false;
    view.scrollRangeToVisible(view.document()->characterCount() - 1, 0);
    EXPECT_GT(view.verticalScrollBar()->value(), 0);
    view.setScrollDelegate(nullptr);
}

namespace {
// Every line of every block: where it starts in the text, its position and width.
QStringList linesOf(const QTextDocument &document) {
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines << QStringLiteral("%1:%2 y%3 w%4")
                         .arg(block.position() + line.textStart())
                         .arg(line.textLength())
                         .arg(layout->position().y() + line.y())
                         .arg(line.width());
        }
    }
    return lines;
}

// A view laid out by the corner container, wide enough for about 40 characters.
struct CornerView {
    CornerView() {
        view.setFrameShape(QFrame::NoFrame);
        view.resize(300, 400);
        view.document()->setDocumentMargin(0);
        container = new ZNTTextContainerWithCorner(view.document());
        view.document()->setDocumentLayout(container);
        view.setReadOnly(false);
        view.show();
    }
    ZNTTextView view;
    ZNTTextContainerWithCorner *container;
};
} // namespace

TEST(TextView, TypingWrapsOnlyTheChangedBlockAndEndsAsAFullLayoutWould) {
    uikittest::useFixedLook();
    CornerView typed;
    QStringList paragraphs;
    for (int i = 0; i < 400; ++i)
        paragraphs << longText(i % 3 == 0 ? 20 : 3);
    typed.view.setPlainText(paragraphs.join(QLatin1Char('\n')));
    ASSERT_TRUE(pumpUntil([&] { return typed.view.document()->size().height() > 400; }));

    // A character in the middle that wraps nothing new: that block alone.
    QTextCursor cursor(typed.view.document()->findBlockByNumber(200));
    quint64 before = typed.container->blocksLaidOut();
    cursor.insertText(QStringLiteral("x"));
    EXPECT_LE(typed.container->blocksLaidOut() - before, 1u);

    // A line break and a long insertion in the first block: the blocks below
    // move without being wrapped again, except those beside the corner.
    cursor = QTextCursor(typed.view.document());
    before = typed.container->blocksLaidOut();
    cursor.insertText(longText(30) + QStringLiteral("\n") + longText(5));
    EXPECT_LE(typed.container->blocksLaidOut() - before, 3u);
    // Deleting across blocks joins them; the rest moves up.
    cursor.setPosition(10);
    cursor.setPosition(typed.view.document()->findBlockByNumber(3).position() + 4, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();

    CornerView fresh;
    fresh.view.setPlainText(typed.view.toPlainText());
    ASSERT_TRUE(pumpUntil([&] { return fresh.view.document()->size() == typed.view.document()->size(); }));
    EXPECT_EQ(linesOf(*typed.view.document()), linesOf(*fresh.view.document()));
    const QTextLine first = typed.view.document()->firstBlock().layout()->lineAt(0);
    EXPECT_EQ(first.width(), typed.view.document()->textWidth() - 18) << "the corner is still kept free";

    // Hit tests find the line under a point far down the document.
    const QTextBlock deep = typed.view.document()->findBlockByNumber(300);
    const QPointF inDeep = deep.layout()->position() + QPointF(1, 2);
    EXPECT_EQ(typed.view.document()->documentLayout()->hitTest(inDeep, Qt::FuzzyHit), deep.position());
}

// A word longer than any line (a value with no blank) is broken anywhere, as
// Qt's word wrapping breaks it in the end, without that wrapping's search for
// the word's end on each of its lines: the lines are those Qt's own wrapping
// gives, and the text stays whole.
TEST(TextView, AWordLongerThanAnyLineWrapsAsQtsOwnWordWrappingDoes) {
    uikittest::useFixedLook();
    const QString word = QStringLiteral("0123456789abcdef").repeated(2000);
    const QString text = longText(30) + u' ' + word + QStringLiteral("-tail ") + longText(40) + u' ' + word.left(900) +
                         QStringLiteral(" end");
    CornerView view;
    view.view.setPlainText(text);
    ASSERT_TRUE(pumpUntil([&] { return view.view.document()->size().height() > 400; }));

    // Qt's own wrapping of the same text at the same widths.
    QTextLayout stock(text, view.view.document()->defaultFont());
    QTextOption option = view.view.document()->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    stock.setTextOption(option);
    const qreal width = view.view.document()->textWidth();
    QStringList expected;
    qreal y = 0;
    stock.beginLayout();
    for (QTextLine line = stock.createLine(); line.isValid(); line = stock.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(y < 12 ? width - 18 : width);
        expected
            << QStringLiteral("%1:%2 y%3 w%4").arg(line.textStart()).arg(line.textLength()).arg(y).arg(line.width());
        y += line.height();
    }
    stock.endLayout();
    const QStringList lines = linesOf(*view.view.document());
    EXPECT_GT(lines.size(), 500);
    EXPECT_EQ(lines, expected);
}
