#include "uikit/WindowEditing.h"
#include "UikitTestSupport.h"
#include "support/TestSupport.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Numbers from 10 to 99, as a column with a check on its values would edit them.
class TwoDigitDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const override {
        auto *edit = new QLineEdit(parent);
        edit->setValidator(new QIntValidator(10, 99, edit));
        return edit;
    }
};

struct FocusCounter : QObject {
    int outs = 0, ins = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        outs += e->type() == QEvent::FocusOut;
        ins += e->type() == QEvent::FocusIn;
        return false;
    }
};

class WindowEditing : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        model.setColumnCount(2);
        for (int r = 0; r < 3; ++r)
            model.appendRow({new QStandardItem(QString::number(10 + r)), new QStandardItem("x")});
        table = new QTableView;
        table->setModel(&model);
        table->setItemDelegateForColumn(0, new TwoDigitDelegate(table));
        field = new QLineEdit;
        button = new QPushButton("Go");
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(table);
        layout->addWidget(field);
        layout->addWidget(button);
        window.resize(400, 300);
        uikittest::activate(&window);
        ASSERT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }, 5s));
    }

    QLineEdit *openEditor(int row, int column) {
        table->setFocus();
        table->setCurrentIndex(model.index(row, column));
        table->edit(model.index(row, column));
        QLineEdit *editor = nullptr;
        pumpUntil([&] {
            editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
            return editor != nullptr && editor != field;
        });
        return editor;
    }

    QWidget window;
    QStandardItemModel model;
    QTableView *table = nullptr;
    QLineEdit *field = nullptr;
    QPushButton *button = nullptr;
};

} // namespace

TEST_F(WindowEditing, AnOpenCellEditorIsCommittedThroughItsDelegateAndTheViewKeepsTheFocus) {
    QLineEdit *editor = openEditor(1, 1);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(effectiveFirstResponder(&window), table);
    editor->selectAll();
    QTest::keyClicks(editor, "typed");
    EXPECT_TRUE(uv_endEditing(&window));
    EXPECT_EQ(model.item(1, 1)->text(), "typed");
    EXPECT_EQ(itemViewEditing(editor), nullptr) << "the editor closed";
    EXPECT_TRUE(table->hasFocus());
    EXPECT_EQ(effectiveFirstResponder(&window), table);
}

TEST_F(WindowEditing, ARejectedTextRefusesAndLeavesTheEditorAsItWas) {
    QLineEdit *editor = openEditor(0, 0);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "5"); // intermediate: too small, but typing goes on
    EXPECT_FALSE(uv_endEditing(&window));
    EXPECT_EQ(model.item(0, 0)->text(), "10");
    EXPECT_EQ(itemViewEditing(editor), table);
    EXPECT_TRUE(editor->hasFocus());
    QTest::keyClicks(editor, "7");
    EXPECT_TRUE(uv_endEditing(&window));
    EXPECT_EQ(model.item(0, 0)->text(), "57");

    field->setValidator(new QIntValidator(10, 99, field));
    field->setFocus();
    QTest::keyClicks(field, "4");
    int finished = 0;
    QObject::connect(field, &QLineEdit::editingFinished, [&] { ++finished; });
    EXPECT_FALSE(uv_endEditing(&window));
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(finished, 0);
}

TEST_F(WindowEditing, APlainFieldRunsItsEndOfEditingHandlersAndKeepsTheFocus) {
    field->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return field->hasFocus(); }));
    QTest::keyClicks(field, "abc");
    int finished = 0;
    QObject::connect(field, &QLineEdit::editingFinished, [&] { ++finished; });
    EXPECT_TRUE(uv_endEditing(&window));
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(effectiveFirstResponder(&window), field);

    // In a window that is not active the field is told all the same.
    QWidget other;
    other.resize(100, 50);
    uikittest::activate(&other);
    ASSERT_TRUE(pumpUntil([&] { return other.isActiveWindow(); }));
    field->setText("def");
    EXPECT_TRUE(uv_endEditing(&window));
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(window.focusWidget(), field);
}

TEST_F(WindowEditing, NothingBeingEditedAnswersYesWithoutTouchingTheFocus) {
    button->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return button->hasFocus(); }));
    FocusCounter counter;
    button->installEventFilter(&counter);
    EXPECT_TRUE(uv_endEditing(&window));
    EXPECT_EQ(counter.outs + counter.ins, 0);
    EXPECT_TRUE(button->hasFocus());

    QWidget empty;
    EXPECT_TRUE(uv_endEditing(&empty));
    EXPECT_EQ(effectiveFirstResponder(&empty), nullptr);
}
