#include "UikitTestSupport.h"
#include "support/TestSupport.h"
#include "uikit/AltTyping.h"
#include "uikit/BlockObservers.h"
#include "uikit/Contrast.h"
#include "uikit/SQLPreviewTextField.h"
#include "uikit/ZNTAutosizingTextField.h"
#include "uikit/ZNTBeveledTextField.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(BeveledTextField, BoxesOutlinesAndCornersRoundOnlyWhileNotEditable) {
    uikittest::useFixedLook();
    QWidget strip;
    strip.resize(240, 40);
    auto *editable = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable, &strip);
    editable->setGeometry(0, 0, 100, 22);
    EXPECT_EQ(editable->boxRect(), QRectF(1.5, 0.5, 97, 21));
    EXPECT_FALSE(editable->isReadOnly());
    auto *label = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleLabel, &strip);
    label->setGeometry(120, 0, 100, 22);
    EXPECT_EQ(label->boxRect(), QRectF(1, 0, 98, 22));
    EXPECT_TRUE(label->isReadOnly());
    label->setText("name");
    for (auto set : {&ZNTBeveledTextField::setHasRoundTopLeft, &ZNTBeveledTextField::setHasRoundTopRight,
                     &ZNTBeveledTextField::setHasRoundBottomLeft, &ZNTBeveledTextField::setHasRoundBottomRight})
        (label->*set)(true);
    strip.show();
    // How much darker than the page a pixel is: the faint box is a little.
    const int page = qGray(strip.palette().color(QPalette::Window).rgb());
    auto ink = [&](const QImage &image, int x, int y) { return page - qGray(image.pixel(x, y)); };
    const QImage rounded = label->grab().toImage();
    ASSERT_GT(ink(rounded, 50, 0), 3);
    EXPECT_LT(ink(rounded, 1, 0), ink(rounded, 50, 0) / 2) << "the corner is cut round";
    EXPECT_EQ(ink(rounded, 3, 11), ink(rounded, 50, 11));
    label->setReadOnly(false);
    const QImage square = label->grab().toImage();
    EXPECT_GE(ink(square, 1, 1), ink(square, 50, 1) - 1) << "an editable box has square corners";
    const QImage box = editable->grab().toImage();
    EXPECT_LT(qGray(box.pixel(1, 11)), 220) << "the outline";
}

// An editable box's outline reads at 3:1 against its fill, light and dark.
TEST(BeveledTextField, TheOutlineReadsInBothPalettes) {
    uikittest::useFixedLook();
    for (const bool dark : {false, true}) {
        QWidget strip;
        strip.setPalette(dark ? darkPalette() : QApplication::palette());
        strip.resize(120, 30);
        auto *field = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable, &strip);
        field->setGeometry(0, 0, 100, 22);
        strip.show();
        const QImage image = field->grab().toImage();
        const QColor fill = commonColour(image, QRect(20, 8, 20, 6));
        EXPECT_GE(strongestContrast(image, QRect(0, 8, 3, 6), fill), 3.0) << (dark ? "dark" : "light");
    }
}

// The style's check boxes, radio buttons, line edits and spin boxes, checked
// or not, focused or not, have outlines that read at 3:1 against the panel,
// light and dark, at 1x and 2x.
TEST(StyleOutlines, CheckBoxesRadioButtonsAndLineEditsReadInBothPalettesAndScales) {
    uikittest::useFixedLook();
    for (const bool dark : {false, true}) {
        QWidget panel;
        QPalette deep = darkPalette();
        deep.setColor(QPalette::Highlight, QColor(0x15, 0x53, 0x9e)); // a desktop's deep focus blue
        panel.setPalette(dark ? deep : QApplication::palette());
        auto *layout = new QVBoxLayout(&panel);
        auto *checked = new QCheckBox("Show all databases");
        auto *focused = new QLineEdit("focused.example.org");
        auto *chosen = new QRadioButton("Compressed");
        auto *spin = new QSpinBox;
        for (QWidget *control :
             std::initializer_list<QWidget *>{checked, new QCheckBox("Save password"), new QRadioButton("Plain"),
                                              chosen, new QLineEdit("db.example.org"), focused, spin})
            layout->addWidget(control);
        checked->setChecked(true);
        chosen->setChecked(true);
        uikittest::activate(&panel);
        ASSERT_TRUE(pumpUntil([&] { return panel.isActiveWindow(); }));
        for (QWidget *focus : {static_cast<QWidget *>(focused), static_cast<QWidget *>(spin)}) {
            focus->setFocus(Qt::TabFocusReason);
            for (const int ratio : {1, 2}) {
                QImage shot(panel.size() * ratio, QImage::Format_ARGB32_Premultiplied);
                shot.setDevicePixelRatio(ratio);
                panel.render(&shot);
                saveScreenshot(shot, "uikit",
                               QStringLiteral("outlines-%1-%2-%3x.png")
                                   .arg(dark ? "dark" : "light", focus == spin ? "spin" : "field")
                                   .arg(ratio));
                QString which;
                EXPECT_GE(weakestOutline(shot, ratio, &panel, &which), 3.0)
                    << which.toStdString() << ", " << dark << ratio;
                const QPoint edge = spin->mapTo(&panel, QPoint(0, spin->height() / 2)) * ratio;
                const auto outline = focus == spin ? focusOutlineColour : fieldOutlineColour;
                EXPECT_EQ(shot.pixelColor(edge).name().toStdString(), outline(spin->palette()).name().toStdString())
                    << "the spin box's outline";
            }
        }
    }
}

TEST(BeveledTextField, TakingTheFocusIsAnnouncedOncePerFocus) {
    uikittest::useFixedLook();
    QWidget window;
    auto *first = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable, &window);
    auto *field = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable, &window);
    field->move(0, 30);
    uikittest::activate(&window);
    ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));
    first->setFocus();
    int posts = 0;
    ObserverToken token = observe(field, NSTextFieldDidBecomeFirstResponder, [&](const Notification &n) {
        EXPECT_EQ(n.object.get(), field);
        EXPECT_TRUE(n.userInfo.empty());
        ++posts;
    });
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_EQ(posts, 1);
    QWidget elsewhere;
    uikittest::activate(&elsewhere);
    ASSERT_TRUE(pumpUntil([&] { return !window.isActiveWindow(); }));
    uikittest::activate(&window);
    ASSERT_TRUE(pumpUntil([&] { return field->hasFocus(); }));
    EXPECT_EQ(posts, 1);
}

TEST(BeveledTextField, MeasuresLongTextAtThePreferredWidth) {
    uikittest::useFixedLook();
    ZNTBeveledTextField label(ZNTBeveledTextFieldStyleLabel);
    label.setText(QString(80, QLatin1Char('x')));
    const int natural = label.sizeHint().width();
    label.setPreferredMaxLayoutWidth(200);
    EXPECT_GT(natural, 200);
    EXPECT_EQ(label.sizeHint().width(), 200);
    EXPECT_EQ(label.sizeHint().height(), label.fontMetrics().height() + 8);
}

TEST(AutosizingTextField, GrowsWithWhatIsBeingTyped) {
    uikittest::useFixedLook();
    QWidget window;
    auto *field = new ZNTAutosizingTextField;
    auto *layout = new QHBoxLayout(&window);
    layout->addWidget(field);
    layout->addStretch(1);
    window.resize(600, 60);
    uikittest::activate(&window);
    field->setText("ab");
    ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));
    field->setFocus();
    pumpFor(20ms);
    const int before = field->width();
    QTest::keyClicks(field, "cdefghijklmnop");
    EXPECT_TRUE(field->isEditing());
    ASSERT_TRUE(pumpUntil([&] { return field->width() > before + 50; })) << before << " -> " << field->width();
    EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(field->text()));
    field->setPreferredMaxLayoutWidth(60);
    EXPECT_EQ(field->sizeHint().width(), 60);
}

TEST(SQLPreviewTextField, WrapsAt450AndIsAsTallAsTheWrappedText) {
    uikittest::useFixedLook();
    SQLPreviewTextField field;
    field.setPlainText("SELECT 1;");
    const QSize small = field.sizeHint();
    EXPECT_LT(small.width(), 300);
    QString statement = QStringLiteral("UPDATE \"films\" SET \"title\" = 'x' WHERE ");
    while (statement.size() < 2000)
        statement += QStringLiteral("\"id\" = 12345 OR ");
    field.setPlainText(statement);
    const QSize big = field.sizeHint();
    EXPECT_LE(big.width(), SQLPreviewTextField::kWrapWidth + 10);
    EXPECT_GE(big.width(), SQLPreviewTextField::kWrapWidth - 20);
    EXPECT_GT(big.height(), 5 * field.fontMetrics().height());
    field.setPlainText(statement.repeated(20));
    EXPECT_LE(field.sizeHint().height(), SQLPreviewTextField::kMaxHeight + 10) << "huge statements scroll";
}

// Both fields show stored values (a foreign key, a column's default) that may
// be written back: neither cuts a text longer than a line edit's usual limit.
TEST(TextFields, TakeTextsOfAnyLengthWhole) {
    const QString text = QStringLiteral("0123456789abcdef").repeated(2500);
    ZNTBeveledTextField beveled(ZNTBeveledTextFieldStyleEditable);
    ZNTAutosizingTextField autosizing;
    for (QLineEdit *field : {static_cast<QLineEdit *>(&beveled), static_cast<QLineEdit *>(&autosizing)}) {
        field->setText(text);
        EXPECT_EQ(field->text(), text);
        field->setCursorPosition(int(text.size()));
        QTest::keyClicks(field, "Z");
        EXPECT_EQ(field->text(), text + "Z");
    }
}

// A name wider than its field shows its start, not its end, while the field
// does not have the focus: given by the program, and after the user leaves it;
// a menu taking the focus for a moment leaves the cursor where it was; Tab
// selects the whole text, also of a field given its text just before.
TEST(TextFields, ShowTheStartOfATextWiderThanTheFieldWhileNotFocused) {
    uikittest::useFixedLook();
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *beveled = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleEditable);
    auto *autosizing = new ZNTAutosizingTextField;
    autosizing->setPreferredMaxLayoutWidth(60);
    auto *other = new QLineEdit;
    layout->addWidget(beveled);
    layout->addWidget(autosizing);
    layout->addWidget(other);
    beveled->setFixedWidth(60);
    window.resize(400, 40);
    uikittest::activate(&window);
    ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));
    const QString name = QStringLiteral("order_items_of_the_north_warehouse");
    for (QLineEdit *field : {static_cast<QLineEdit *>(beveled), static_cast<QLineEdit *>(autosizing)}) {
        field->setText(name);
        pumpFor(10ms);
        EXPECT_LT(field->width(), field->fontMetrics().horizontalAdvance(name));
        EXPECT_EQ(field->cursorPosition(), 0) << "a text given by the program";

        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClicks(field, "_x");
        other->setFocus(Qt::PopupFocusReason);
        EXPECT_EQ(field->cursorPosition(), name.size() + 2) << "a menu came up";
        field->setFocus(Qt::PopupFocusReason);
        other->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(field->cursorPosition(), 0) << "the field was left";
        EXPECT_EQ(field->text(), name + "_x");

        other->setFocus(Qt::TabFocusReason);
        field->setText(name);
        field->setFocus(Qt::TabFocusReason);
        pumpFor(10ms);
        EXPECT_EQ(field->selectedText(), name) << "given a text and tabbed into at once";
    }
}

// A field made of several widgets: none types a letter pressed with Alt, which
// goes on to the field's parent; AltGr types; a menu opened from the field
// keeps its letters.
TEST(TextFields, AltLettersSkipEveryWidgetOfAFieldButNotItsMenus) {
    struct Page : QWidget {
        QStringList reached;
        void keyPressEvent(QKeyEvent *event) override {
            if (!event->text().isEmpty()) // not Alt itself
                reached << event->text();
        }
    } page;
    auto *field = new QWidget(&page);
    auto *inner = new QLineEdit(field);
    auto *menu = new QMenu(field);
    QAction *null = menu->addAction(QStringLiteral("&NULL"));
    uv_skipAltTypingIn(field);
    QTest::keyClick(inner, Qt::Key_D, Qt::AltModifier);
    QTest::keyClick(inner, '@', Qt::GroupSwitchModifier);
    EXPECT_EQ(inner->text(), "@");
    EXPECT_EQ(page.reached, QStringList({"d"}));

    bool chosen = false;
    QObject::connect(null, &QAction::triggered, [&] { chosen = true; });
    menu->popup(QPoint(0, 0));
    QTest::keyClick(menu, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(chosen);
}
