#include "FavoritesWindowTestSupport.h"
#include "favorites/FavoriteSettingsForm.h"
#include "uikit/Beep.h"

#include <QClipboard>
#include <QGuiApplication>

// Everything of the list is reachable from the keyboard.
TEST_F(FavoritesWindowFixture, TheListIsWorkedByKeys) {
    auto first = addFavorite("First", "127.0.0.1", "alice", "shop");
    first->setPort(1); // nothing listens: a connect fails at once
    addFavorite("Second");
    auto *form = qobject_cast<FavoriteSettingsForm *>(editByKeys(1, first));
    ZNTFavoritesTable *table = controller->table();
    ASSERT_TRUE(form);
    ASSERT_TRUE(pumpUntil([&] { return form->nicknameField()->hasFocus(); }));
    QTest::keyClick(form->nicknameField(), Qt::Key_End);
    QTest::keyClicks(form->nicknameField(), " DB");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return !controller->currentlyEditableObject(); }));
    EXPECT_EQ(first->nickname(), "First DB") << "Escape lost what was typed";
    EXPECT_TRUE(table->hasFocus());

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([] { return !QGuiApplication::clipboard()->text().isEmpty(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "postgresql://alice@127.0.0.1:1/shop");

    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_TRUE(first->connectionStateBusy || first->connectionStateError);
    ASSERT_TRUE(pumpUntil([&] { return first->connectionStateError; }));

    table->selectRow(2);
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_EQ(model()->favorites().size(), 1u);

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(controller->window(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return model()->favorites().size() == 2 && controller->currentlyEditableObject(); }));
    EXPECT_EQ(controller->currentlyEditableObject(), model()->favorites().back());
}

// An empty port field stands for the default port: clearing it (or typing a
// port that cannot be) must reach the favorite, and Return there connects as
// in every other field.
TEST_F(ConnectFixture, AClearedPortIsTheDefaultPortAndReturnThereConnects) {
    auto first = addFavorite("First", "127.0.0.1", "alice", "shop");
    first->setPort(1);
    first->setSshEnabled(true);
    first->setSshHost("127.0.0.1");
    first->setSshPort(2222);
    auto *form = qobject_cast<FavoriteSettingsForm *>(editByKeys(1, first));
    ASSERT_TRUE(form);
    auto clearAndLeave = [](QLineEdit *field, const char *typed) {
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Tab);
    };
    clearAndLeave(form->sshPortField(), "");
    EXPECT_FALSE(first->sshPort().has_value());
    clearAndLeave(form->portField(), "0");
    EXPECT_FALSE(first->port().has_value()) << "port 0 was kept";
    EXPECT_EQ(form->portField()->text(), "");

    first->setPort(1);
    QTest::mouseClick(form->sshEnabledBox(), Qt::LeftButton);
    ASSERT_FALSE(first->isSshEnabled());
    form->portField()->setFocus();
    form->portField()->selectAll();
    QTest::keyClick(form->portField(), Qt::Key_Backspace);
    QTest::keyClick(form->portField(), Qt::Key_Return);
    EXPECT_FALSE(first->port().has_value());
    EXPECT_TRUE(pumpUntil([&] { return first->connectionStateBusy || first->connectionStateError; }))
        << "Return in the empty port field did nothing";
    EXPECT_FALSE(model()->index(1).data(FavoritesListModel::DetailRole).toString().contains(":1/"));
}

// Tabbing through a new favorite's settings changes nothing: its pad keeps
// the name its empty fields imply, and a host typed and cleared again is the
// default host once more.
TEST_F(FavoritesWindowFixture, FieldsOnlyPassedThroughChangeNothing) {
    addFavorite("First");
    openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    QTest::keyClick(controller->window(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return controller->currentlyEditableObject() != nullptr; }));
    const auto made = controller->currentlyEditableObject();
    auto *form = qobject_cast<FavoriteSettingsForm *>(controller->table()->indexWidget(model()->index(2)));
    ASSERT_TRUE(form);
    ASSERT_TRUE(pumpUntil([&] { return form->nicknameField()->hasFocus(); }));
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return !controller->currentlyEditableObject(); }));
    EXPECT_EQ(made->displayName(), "localhost");
    EXPECT_EQ(model()->index(2).data(Qt::DisplayRole).toString(), "localhost");
    EXPECT_TRUE(made->host().isNull() && made->user().isNull() && made->database().isNull());

    controller->editObject(made);
    ASSERT_TRUE(pumpUntil([&] { return controller->table()->indexWidget(model()->index(2)) != nullptr; }));
    form = qobject_cast<FavoriteSettingsForm *>(controller->table()->indexWidget(model()->index(2)));
    form->hostField()->setFocus();
    QTest::keyClicks(form->hostField(), "db");
    QTest::keyClick(form->hostField(), Qt::Key_Tab);
    EXPECT_EQ(made->displayName(), "db");
    form->hostField()->setFocus();
    form->hostField()->selectAll();
    QTest::keyClick(form->hostField(), Qt::Key_Backspace);
    QTest::keyClick(form->hostField(), Qt::Key_Tab);
    EXPECT_EQ(made->displayName(), "localhost");
}

// The arrow keys, Home and End land on favorites, never on the empty rows
// above and below them, where Return would do nothing.
TEST_F(FavoritesWindowFixture, KeysMoveFromFavoriteToFavorite) {
    addFavorite("First");
    addFavorite("Second");
    openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    ZNTFavoritesTable *table = controller->table();
    table->setFocus();
    table->setCurrentIndex(QModelIndex());
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->currentRow(), 1) << "the first Down selected nothing";
    QTest::keyClick(table, Qt::Key_Up);
    EXPECT_EQ(table->currentRow(), 1);
    QTest::keyClick(table, Qt::Key_End);
    EXPECT_EQ(table->currentRow(), 2);
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->currentRow(), 2);
    EXPECT_TRUE(table->selectionModel()->isSelected(model()->index(2)));
    QTest::keyClick(table, Qt::Key_Home);
    EXPECT_EQ(table->currentRow(), 1);
}

// F2 follows the menu's Edit: a favorite that is connecting or connected, or
// the one already open, is not opened (again), and keeps its state.
TEST_F(FavoritesWindowFixture, F2OnlyOpensAFreeFavoriteNotYetOpen) {
    auto busy = addFavorite("Busy");
    auto connected = addFavorite("Connected");
    auto free = addFavorite("Free");
    openWindow();
    busy->connectionStateBusy = true;
    busy->connectionStateString = "Connecting to PostgreSQL server…";
    connected->connectionStateConnected = true;
    int beeps = 0;
    setBeepHook([&] { ++beeps; });
    ZNTFavoritesTable *table = controller->table();
    table->setFocus();
    for (int row : {1, 2}) {
        table->selectRow(row);
        QTest::keyClick(table, Qt::Key_F2);
        pumpFor(std::chrono::milliseconds(50));
        EXPECT_FALSE(controller->currentlyEditableObject()) << "row " << row;
    }
    EXPECT_EQ(beeps, 2);
    EXPECT_TRUE(busy->connectionStateBusy) << "F2 cleared the connecting state";
    EXPECT_EQ(busy->connectionStateString, "Connecting to PostgreSQL server…");
    EXPECT_TRUE(connected->connectionStateConnected);

    table->selectRow(3);
    QTest::keyClick(table, Qt::Key_F2);
    ASSERT_TRUE(pumpUntil([&] { return controller->currentlyEditableObject() == free; }));
    EXPECT_EQ(beeps, 2);
    setBeepHook({});
}

// Values longer than a line edit holds by default are shown whole, and what is
// typed in one field is stored whole, the others untouched.
TEST_F(FavoritesWindowFixture, LongValuesAreShownWholeAndTypingKeepsEveryCharacter) {
    const QString text = QStringLiteral("0123456789abcdef").repeated(2500);
    auto favorite = addFavorite(text, "h" + text, "u" + text, "d" + text);
    auto *form = qobject_cast<FavoriteSettingsForm *>(editByKeys(1, favorite));
    ASSERT_TRUE(form);
    EXPECT_EQ(form->nicknameField()->text(), text);
    EXPECT_EQ(form->hostField()->text(), "h" + text);
    EXPECT_EQ(form->userField()->text(), "u" + text);
    EXPECT_EQ(form->databaseField()->text(), "d" + text);
    pumpFor(std::chrono::milliseconds(10));
    for (QLineEdit *field : {form->nicknameField(), form->hostField(), form->userField(), form->databaseField()})
        EXPECT_EQ(field->cursorPosition(), 0) << "the value's start shows, not its end";
    form->userField()->setFocus();
    QTest::keyClick(form->userField(), Qt::Key_End);
    QTest::keyClicks(form->userField(), "Z");
    QTest::keyClick(form->userField(), Qt::Key_Tab);
    EXPECT_EQ(form->userField()->cursorPosition(), 0) << "left, the field shows its start again";
    EXPECT_EQ(favorite->user(), "u" + text + "Z");
    EXPECT_EQ(favorite->nickname(), text);
    EXPECT_EQ(favorite->host(), "h" + text);
    EXPECT_EQ(favorite->database(), "d" + text);
}
