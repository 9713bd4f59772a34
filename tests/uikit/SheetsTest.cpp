#include "UikitTestSupport.h"
#include "platform/Error.h"
#include "support/TestSupport.h"
#include "uikit/AlertSheet.h"
#include "uikit/ProgressSheet.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

using namespace std::chrono_literals;

namespace {

// A sheet deletes itself later; the test loop's processEvents does not run
// deferred deletions on its own.
template <class W> bool deletedSoon(const QPointer<W> &widget) {
    return pumpUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return widget.isNull();
        },
        5s);
}

class Sheets : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        window.resize(500, 300);
        uikittest::activate(&window);
    }

    // Begins the alert on the window and waits until it is the modal widget.
    Alert *begin(Alert *alert) {
        alert->compatibleBeginSheetModalForWindow(&window, [this](int code) { codes.push_back(code); });
        EXPECT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == alert; }, 5s));
        uikittest::activate(alert);
        return alert;
    }

    QPushButton *modalButton(const QString &title) {
        for (QPushButton *b : QApplication::activeModalWidget()->findChildren<QPushButton *>())
            if (b->text() == title)
                return b;
        return nullptr;
    }

    QWidget window;
    std::vector<int> codes;
};

Alert *saveSheet() {
    return Alert::alertWithMessageText(QStringLiteral("Save changes to the database?"), QStringLiteral("Save"),
                                       QStringLiteral("Discard Changes"), QStringLiteral("Cancel"), {});
}

} // namespace

TEST_F(Sheets, EachButtonEndsTheSheetOnceWithItsCode) {
    const std::pair<QString, int> cases[] = {{"Save", 1}, {"Discard Changes", 0}, {"Cancel", -1}};
    for (const auto &[title, code] : cases) {
        codes.clear();
        QPointer<Alert> alert = begin(saveSheet());
        EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
        EXPECT_EQ(alert->parentWidget(), &window);
        QPushButton *button = modalButton(title);
        ASSERT_NE(button, nullptr) << title.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(deletedSoon(alert)) << "the alert deletes itself";
        EXPECT_EQ(codes, std::vector<int>{code}) << title.toStdString();
    }
}

TEST_F(Sheets, EscapeAndTheCloseButtonAnswerCancelNeverTheAlternateButton) {
    QPointer<Alert> alert = begin(saveSheet());
    QTest::keyClick(alert, Qt::Key_Escape);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::OtherReturn});

    codes.clear();
    alert = begin(saveSheet());
    alert->close();
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::OtherReturn});

    // A confirmation whose alternate button is Cancel answers its code, 0.
    codes.clear();
    alert = begin(Alert::alertWithMessageText("Analyze?", "Analyze", "Cancel", {}, {}));
    QTest::keyClick(alert, Qt::Key_Escape);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::AlternateReturn});

    // Without a Cancel button, Escape ends a one-button alert and nothing else.
    codes.clear();
    alert = begin(Alert::alertWithMessageText("Can't delete", "OK", {}, {}, "No items are selected."));
    QTest::keyClick(alert, Qt::Key_Escape);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::DefaultReturn});

    codes.clear();
    alert = begin(Alert::alertWithMessageText("Which?", "Left", "Right", {}, {}));
    QTest::keyClick(alert, Qt::Key_Escape);
    alert->close();
    pumpFor(50ms);
    EXPECT_TRUE(alert && alert->isVisible());
    EXPECT_TRUE(codes.empty());
    QTest::mouseClick(modalButton("Right"), Qt::LeftButton);
    ASSERT_TRUE(deletedSoon(alert));
}

TEST_F(Sheets, ReturnNeverConfirmsADestructiveButtonWithItsOwnKey) {
    QPointer<Alert> alert = Alert::alertWithMessageText("Do you want to truncate t?", "Truncate", "Cancel", {}, {});
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::Key_T));
    begin(alert);
    EXPECT_EQ(alert->defaultButton(), nullptr);
    EXPECT_TRUE(modalButton("Cancel")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(alert, Qt::Key_Enter);
    pumpFor(50ms);
    EXPECT_TRUE(codes.empty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_T);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::DefaultReturn});

    codes.clear();
    alert = Alert::alertWithMessageText("Do you want to delete t?", "Delete", "Cancel", {}, "This can not be undone.");
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    begin(alert);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    pumpFor(50ms);
    EXPECT_TRUE(codes.empty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace, Qt::ControlModifier);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::DefaultReturn});
}

TEST_F(Sheets, ReturnPressesTheDefaultEvenFromAnAccessoryField) {
    QPointer<Alert> alert = new Alert;
    alert->setMessageText("Encrypted Favorite File");
    QPushButton *ok = alert->addButtonWithTitle("Ok");
    QPushButton *cancel = alert->addButtonWithTitle("Cancel");
    auto *password = new QLineEdit;
    password->setEchoMode(QLineEdit::Password);
    alert->setAccessoryView(password);
    EXPECT_EQ(alert->returnCode(ok), Alert::FirstButtonReturn);
    EXPECT_EQ(alert->returnCode(cancel), Alert::FirstButtonReturn + 1);
    QString typed;
    alert->compatibleBeginSheetModalForWindow(&window, [&, password](int code) {
        codes.push_back(code);
        typed = password->text(); // the accessory outlives the handler
    });
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == alert; }, 5s));
    uikittest::activate(alert);
    ASSERT_TRUE(pumpUntil([&] { return password->hasFocus(); }, 5s));
    QTest::keyClicks(password, "secret");
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::FirstButtonReturn});
    EXPECT_EQ(typed, "secret");
}

TEST_F(Sheets, ACallerCodeAndReturnOnCancelAnswerAsSet) {
    // A prompt where Return declines and the first button, with its own key and
    // code 1, must be chosen deliberately.
    QPointer<Alert> alert = new Alert;
    QPushButton *connect = alert->addButtonWithTitle("Connect");
    QPushButton *cancel = alert->addButtonWithTitle("Cancel");
    alert->setReturnCode(connect, 1);
    alert->setKeyEquivalent(connect, QKeySequence(Qt::CTRL | Qt::Key_C));
    alert->setKeyEquivalent(cancel, QKeySequence(Qt::Key_Return));
    begin(alert);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{Alert::FirstButtonReturn + 1});

    codes.clear();
    alert = new Alert;
    connect = alert->addButtonWithTitle("Connect");
    alert->addButtonWithTitle("Cancel");
    alert->setReturnCode(connect, 1);
    alert->setKeyEquivalent(connect, QKeySequence(Qt::CTRL | Qt::Key_C));
    begin(alert);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_EQ(codes, std::vector<int>{1});
}

TEST_F(Sheets, NoHandlerAndErrorAlerts) {
    Error error(kBundleIdentifier, 1,
                {{Error::DescriptionKey, "Query failed"}, {Error::RecoverySuggestionKey, "PostgreSQL said: oops"}});
    QPointer<Alert> alert = Alert::alertWithError(error);
    EXPECT_EQ(alert->messageText(), "Query failed");
    EXPECT_EQ(alert->informativeText(), "PostgreSQL said: oops");
    alert->compatibleBeginSheetModalForWindow(&window, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == alert; }, 5s));
    alert->grab().save(screenshotPath("uikit", "alert-error.png"));
    QTest::mouseClick(modalButton("OK"), Qt::LeftButton);
    ASSERT_TRUE(deletedSoon(alert));

    Error reasonOnly(kBundleIdentifier, 2, {{Error::FailureReasonKey, "The file is damaged."}});
    std::unique_ptr<Alert> second(Alert::alertWithError(reasonOnly));
    EXPECT_EQ(second->informativeText(), "The file is damaged.");
}

TEST_F(Sheets, ProgressSheetCancelsTheWorkThenCompletesWithOK) {
    int cancels = 0;
    QPointer<ProgressSheet> sheet =
        ProgressSheet::showStatus(QStringLiteral("Analyzing films…"), &window, [&] { ++cancels; });
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == sheet; }, 5s));
    uikittest::activate(sheet);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->progressBar()->maximum(), 0) << "busy bar";
    EXPECT_FALSE(sheet->okButton()->isVisible());
    QTest::keyClick(sheet, Qt::Key_Return);
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    QTest::keyClick(sheet, Qt::Key_Escape);
    pumpFor(30ms);
    EXPECT_EQ(cancels, 2) << "Cancel and Escape ask the work to stop; Return does nothing";
    EXPECT_TRUE(sheet && sheet->isVisible()) << "the work ends the sheet, not the button";

    sheet->completeWithStatus(QStringLiteral("Analyzed films."));
    EXPECT_FALSE(sheet->cancelButton()->isVisible());
    EXPECT_TRUE(sheet->okButton()->isVisible());
    sheet->grab().save(screenshotPath("uikit", "progress-sheet-done.png"));
    QTest::keyClick(sheet, Qt::Key_Return);
    ASSERT_TRUE(deletedSoon(sheet));
    EXPECT_EQ(cancels, 2);

    QPointer<ProgressSheet> ended = ProgressSheet::showStatus(QStringLiteral("Dropping…"), &window);
    ended->endProgressSheet();
    ASSERT_TRUE(deletedSoon(ended));
}

// A keyboard user meets the options first, then the buttons in the order they
// stand; nothing is ticked before they choose to.
TEST_F(Sheets, TabFollowsTheButtonsAsTheyStandAndNoOptionStartsFocused) {
    QPointer<Alert> alert = Alert::alertWithMessageText("Do you want to delete t?", "Delete", "Cancel", {}, {});
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    auto *cascade = new QCheckBox("Cascade");
    alert->setAccessoryView(cascade);
    begin(alert);
    QPushButton *cancel = modalButton("Cancel");
    QPushButton *remove = modalButton("Delete");
    ASSERT_LT(cancel->mapTo(alert, QPoint()).x(), remove->mapTo(alert, QPoint()).x()) << "Cancel stands left";
    ASSERT_TRUE(pumpUntil([&] { return cancel->hasFocus(); }, 5s)) << "the check box took the focus";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(deletedSoon(alert));
    EXPECT_FALSE(cascade->isChecked());
    EXPECT_EQ(codes, std::vector<int>{Alert::AlternateReturn});

    codes.clear();
    alert = Alert::alertWithMessageText("Do you want to delete t?", "Delete", "Cancel", {}, {});
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    cascade = new QCheckBox("Cascade");
    alert->setAccessoryView(cascade);
    begin(alert);
    std::vector<QString> visited;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        auto *button = qobject_cast<QAbstractButton *>(focus);
        visited.push_back(button ? button->text() : QString("?"));
    }
    EXPECT_EQ(visited, (std::vector<QString>{"Delete", "Cascade", "Cancel"}));
    QTest::keyClick(alert, Qt::Key_Escape);
    ASSERT_TRUE(deletedSoon(alert));
}

// Closing a sheet gives the keys back to the widget of its window that had
// them, also when a handler follows it with a progress sheet.
TEST_F(Sheets, AClosedSheetGivesTheKeysBackToItsWindow) {
    auto *field = new QLineEdit(&window);
    field->show();
    field->setFocus();
    QPointer<ProgressSheet> progress;
    Alert *alert = Alert::alertWithMessageText("Do you want to analyze t?", "Analyze", "Cancel", {}, {});
    alert->compatibleBeginSheetModalForWindow(
        &window, [&](int) { progress = ProgressSheet::showStatus("Analyzing t…", &window); });
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == alert; }, 5s));
    uikittest::activate(alert);
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == alert; }, 5s));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(pumpUntil([&] { return progress && QApplication::activeWindow() == progress; }, 5s))
        << "the sheet that followed did not get the keys";
    progress->completeWithStatus("Analyzed t.");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == &window && field->hasFocus(); }, 5s))
        << "the window did not get the keys back";
}

// A window manager may activate a window under its sheets (with two shown at
// once it goes back and forth): the newest sheet takes the keys back, and the
// older one once the newest has closed.
TEST_F(Sheets, AWindowActivatedUnderItsSheetsPassesTheKeysToTheNewest) {
    Alert *older = begin(Alert::alertWithMessageText("Could not save changes", "OK", {}, {}, {}));
    Alert *newest = begin(saveSheet());
    window.activateWindow();
    pumpFor(50ms); // the window's activation, and what follows it
    EXPECT_EQ(QApplication::activeWindow(), newest);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    window.activateWindow();
    pumpFor(50ms);
    EXPECT_EQ(QApplication::activeWindow(), older);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == &window; }, 5s));
    EXPECT_EQ(codes, (std::vector<int>{Alert::OtherReturn, Alert::DefaultReturn}));
}
