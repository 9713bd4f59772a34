#include "UikitTestSupport.h"
#include "platform/ProgramError.h"
#include "support/TestSupport.h"
#include "uikit/ConciseConstraints.h"

#include <QFrame>
#include <QLabel>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A view with a known size hint and policy, as a label or a bar would have.
class Box : public QWidget {
public:
    Box(QSize hint, QSizePolicy::Policy h = QSizePolicy::Preferred, QSizePolicy::Policy v = QSizePolicy::Preferred)
        : m_hint(hint) {
        setSizePolicy(h, v);
    }
    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override { return {0, 0}; }

private:
    QSize m_hint;
};

class VisualFormat : public ::testing::Test {
protected:
    void SetUp() override { uikittest::useFixedLook(); }

    // Lays out the page at the given size, as a resized window would.
    void resizeTo(int w, int h) {
        page.resize(w, h);
        page.layout()->activate();
        page.layout()->setGeometry(QRect(0, 0, w, h));
    }

    QWidget page;
};

std::string exceptionName(const std::function<void()> &f) {
    try {
        f();
    } catch (const ProgramError &e) {
        return e.name();
    }
    return "nothing raised";
}

} // namespace

TEST_F(VisualFormat, FillAndStackWithAOnePixelLine) {
    auto *content = new Box({100, 100}, QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto *line = new QFrame;
    auto *bar = new Box({80, 24}, QSizePolicy::Preferred, QSizePolicy::Fixed);
    CC_addConstraintFormat(&page, "|[%@]|", content);
    CC_addConstraintFormat(&page, "|[%@]|", line);
    CC_addConstraintFormat(&page, "H:|[%@]|", bar);
    CC_addConstraintFormat(&page, "V:|[%@][%@(==1)][%@]|", content, line, bar);
    EXPECT_EQ(content->parentWidget(), &page);
    resizeTo(300, 200);
    EXPECT_EQ(content->geometry(), QRect(0, 0, 300, 175));
    EXPECT_EQ(line->geometry(), QRect(0, 175, 300, 1));
    EXPECT_EQ(bar->geometry(), QRect(0, 176, 300, 24));
    resizeTo(500, 400);
    EXPECT_EQ(content->geometry(), QRect(0, 0, 500, 375));
    EXPECT_EQ(bar->geometry(), QRect(0, 376, 500, 24));
    EXPECT_EQ(page.layout()->sizeHint(), QSize(100, 125));
    // A shown window lays itself out when resized.
    page.show();
    page.resize(640, 480);
    EXPECT_TRUE(pumpUntil([&] { return bar->geometry() == QRect(0, 456, 640, 24); }));
}

TEST_F(VisualFormat, AtLeastGapsWithWishesJoinAChainOpenAtTheTop) {
    auto *label = new Box({60, 20});
    auto *field = new Box({60, 30}, QSizePolicy::Preferred, QSizePolicy::Fixed);
    CC_addConstraintFormat(&page, "V:[%@]-(>=3,3@500)-[%@]-(>=10,10@500)-|", label, field);
    CC_addConstraintFormat(&page, "V:|[%@]", label);
    CC_addConstraintFormat(&page, "H:|[%@]|", label);
    CC_addConstraintFormat(&page, "H:|-(%f)-[%@]-(%@)-|", 12.0, field, 8);
    resizeTo(200, 200);
    // The wishes of the gaps hold; the label takes the rest.
    EXPECT_EQ(label->geometry(), QRect(0, 0, 200, 157));
    EXPECT_EQ(field->geometry(), QRect(12, 160, 180, 30));
    // Too small: the gaps keep their minimum and the label gives way.
    resizeTo(200, 40);
    EXPECT_EQ(label->geometry().height(), 0);
    EXPECT_EQ(field->geometry().top(), 3);
}

TEST_F(VisualFormat, WeakGapsGiveWayBeforeTheViewsAndTheRestStaysOpen) {
    auto *a = new Box({50, 20});
    auto *b = new Box({60, 20});
    CC_addConstraintFormat(&page, "H:|-(20@1)-[%@]-(20@1)-[%@]-(>=0)-|", a, b);
    CC_addConstraintFormat(&page, "V:|[%@]", a);
    CC_addConstraintFormat(&page, "V:|[%@]", b);
    resizeTo(300, 50);
    EXPECT_EQ(a->geometry(), QRect(20, 0, 50, 20));
    EXPECT_EQ(b->geometry(), QRect(90, 0, 60, 20));
    resizeTo(120, 50);
    EXPECT_EQ(a->geometry(), QRect(5, 0, 50, 20));
    EXPECT_EQ(b->geometry(), QRect(60, 0, 60, 20));
}

TEST_F(VisualFormat, SizesStandardSpacingAndAlignment) {
    auto *a = new Box({50, 20});
    auto *b = new Box({40, 20}, QSizePolicy::Expanding);
    auto *c = new Box({30, 20});
    CC_addConstraintOptions(&page, LayoutFormatOption::AlignAllCenterY, "H:|-[%@(>=70)]-[%@]-[%@(==25)]-|", a, b, c);
    CC_addConstraintFormat(&page, "V:|-10-[%@(==40)]", a);
    resizeTo(300, 100);
    EXPECT_EQ(a->geometry(), QRect(20, 10, 70, 40));
    // b is the expanding one: it takes what the others leave.
    EXPECT_EQ(b->geometry(), QRect(98, 20, 149, 20));
    EXPECT_EQ(c->geometry(), QRect(255, 20, 25, 20));
}

TEST_F(VisualFormat, ViewsOfOneClassAreNumberedAndArgumentsWrittenIn) {
    QLabel a, b, c;
    const TranslatedFormat t = translateConstraintFormat("H:|[%@][%@][%@]-(%@)-[%@]-%f-|", {&a, &b, &c, 5, &a, 5});
    EXPECT_EQ(t.text, "H:|[QLabel][QLabel2][QLabel3]-(5)-[QLabel4]-5.000000-|");
    ASSERT_EQ(t.views.size(), 4);
    EXPECT_EQ(t.views[2], qMakePair(QStringLiteral("QLabel3"), static_cast<QWidget *>(&c)));
    EXPECT_EQ(t.views[3].second, &a) << "a view passed twice gets two names";
    EXPECT_EQ(translateConstraintFormat("%@ %@ 100%%", {0.5, 12}).text, "0.5 12 100%");
}

TEST_F(VisualFormat, DirectivesAndArgumentsItCannotWriteRaise) {
    QLabel a;
    EXPECT_EQ(exceptionName([&] { translateConstraintFormat("H:|[%@]|%", {&a}); }), "InvalidFormatException");
    EXPECT_EQ(exceptionName([&] { translateConstraintFormat("H:|-%d-[%@]|", {5, &a}); }), "InvalidFormatException");
    EXPECT_EQ(exceptionName([&] { translateConstraintFormat("H:|[%@]|", {QStringLiteral("a")}); }),
              "InvalidFormatException");
    EXPECT_EQ(exceptionName([&] { translateConstraintFormat("H:|[%@]|", {static_cast<QLabel *>(nullptr)}); }),
              "InvalidFormatException");
    EXPECT_EQ(exceptionName([&] { translateConstraintFormat("H:|[%@][%@]|", {&a}); }), "InvalidFormatException");
    EXPECT_EQ(exceptionName([&] { CC_addConstraintFormat(&page, "%s", &a); }), "InvalidFormatException");
    EXPECT_EQ(page.layout(), nullptr) << "nothing is added";
}

TEST_F(VisualFormat, FormatsOutsideWhatTheLayoutFollowsRaiseAndAddNothing) {
    auto *a = new Box({50, 20});
    auto *b = new Box({50, 20});
    CC_addConstraintFormat(&page, "H:|[%@]|", a);
    const char *const refused[] = {"H:|[%@(==%@)]|", "H:|[%@]-foo-[%@]|", "H:|[%@]-|-[%@]",
                                   "X:|[%@][%@]|",   "H:|[%@][%@]",       "H:|[%@]-(>=)-[%@]|"};
    for (const char *format : refused) {
        EXPECT_EQ(exceptionName([&] { CC_addConstraintFormat(&page, format, b, b); }), kVisualFormatException)
            << format;
    }
    EXPECT_EQ(exceptionName([&] { CC_addConstraintFormat(&page, "H:|-8-[%@]|", a); }), kVisualFormatException)
        << "a placed twice along one axis";
    EXPECT_EQ(exceptionName([&] { CC_addConstraintOptions(&page, LayoutFormatOption::AlignAllLeft, "H:[%@]", b); }),
              kVisualFormatException);
    QWidget elsewhere;
    auto *foreign = new Box({10, 10});
    foreign->setParent(&elsewhere);
    EXPECT_EQ(exceptionName([&] { CC_addConstraintFormat(&page, "V:|[%@]|", foreign); }), kVisualFormatException);
    EXPECT_EQ(b->parentWidget(), nullptr) << "a refused format adopts no view";
    delete b;
    resizeTo(200, 50);
    EXPECT_EQ(a->geometry().x(), 0);
    EXPECT_EQ(a->geometry().width(), 200) << "the first format still holds";
}

TEST_F(VisualFormat, ADeletedViewLeavesTheRestOfItsChainInPlace) {
    auto *content = new Box({100, 100});
    auto *line = new QFrame;
    auto *bar = new Box({80, 24});
    CC_addConstraintFormat(&page, "V:|[%@][%@(==1)][%@]|", content, line, bar);
    delete bar;
    resizeTo(300, 200);
    EXPECT_EQ(content->geometry().top(), 0);
    EXPECT_EQ(line->geometry().top(), content->geometry().bottom() + 1);
    EXPECT_EQ(line->geometry().height(), 1);
    // The view can be placed again by a new format.
    auto *newBar = new Box({80, 30}, QSizePolicy::Preferred, QSizePolicy::Fixed);
    CC_addConstraintFormat(&page, "V:[%@][%@]|", line, newBar);
    resizeTo(300, 200);
    EXPECT_EQ(newBar->geometry(), QRect(0, 170, 80, 30));
    EXPECT_EQ(line->geometry().top(), 169);
}
