#include "FavoritesWindowTestSupport.h"
#include "favorites/FavoriteSettingsForm.h"
#include "support/PlainTextSupport.h"

#include "platform/Log.h"

#include <QCheckBox>
#include <QLabel>
#include <cmath>

TEST_F(ConnectFixture, APasswordPromptRetriesAndAGoodConnectOpensTheMainWindow) {
    auto favorite =
        addFavorite("Scram", requiredEnv("TRELLAN_PG_HOST"), requiredEnv("TRELLAN_PG_SCRAM_USER"), "postgres");
    favorite->setPort(requiredEnv("TRELLAN_PG_PORT").toInt());
    openWindow();
    const int shownBefore = TestMainWindow::shown;
    controller->connectToFavorite(1);
    EXPECT_TRUE(favorite->connectionStateBusy);
    EXPECT_EQ(favorite->connectionStateString, "Working…");

    Alert *prompt = waitForAlert("Password required");
    ASSERT_TRUE(prompt);
    EXPECT_TRUE(favorite->connectionStateError);
    EXPECT_TRUE(ZNTServerController::sharedController()->servers().empty()) << "the failed server stays registered";
    EXPECT_EQ(prompt->informativeText(), "Please provide password for Scram:");
    EXPECT_FALSE(prompt->accessoryView()->findChild<QCheckBox *>()->isChecked());
    secretField(prompt)->setText(requiredEnv("TRELLAN_PG_SCRAM_PASSWORD"));
    prompt->accessoryView()->findChild<QCheckBox *>()->setChecked(true);
    QTest::keyClick(secretField(prompt), Qt::Key_Return);

    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    EXPECT_FALSE(favorite->connectionStateBusy);
    EXPECT_FALSE(favorite->connectionStateError);
    EXPECT_TRUE(favorite->savePassword());
    EXPECT_EQ(TestMainWindow::shown, shownBefore + 1);
    EXPECT_FALSE(controller->window()->isVisible()) << "the favorites window stays open after connecting";
    EXPECT_FALSE(controller->validate(FavoritesListModel::Command::Connect, 1));
    EXPECT_TRUE(controller->validate(FavoritesListModel::Command::Disconnect, 1));

    // Connecting a connected favorite brings its window forward, nothing more.
    controller->connectToFavorite(favorite);
    EXPECT_EQ(TestMainWindow::shown, shownBefore + 2);
    EXPECT_EQ(ZNTServerController::sharedController()->servers().size(), 1u);

    // Disconnecting closes its windows; the favorite is free again.
    controller->disconnectFromFavorite(1);
    ASSERT_TRUE(pumpUntil([&] { return !favorite->connectionStateConnected; }));
    EXPECT_TRUE(ZNTServerController::sharedController()->servers().empty());
}

TEST_F(ConnectFixture, ReturnDeclinesAConnectionWithoutEncryptionAndTheButtonAcceptsIt) {
    // A name that reaches the local server without counting as loopback, on the
    // cluster without TLS: the program must ask.
    auto favorite = addFavorite("Plain", "LOCALHOST", requiredEnv("TRELLAN_PG_TRUST_USER"), "postgres");
    favorite->setPort(requiredEnv("TRELLAN_PG_PLAIN_PORT").toInt());
    openWindow();
    controller->connectToFavorite(1);
    Alert *prompt = waitForAlert("Connect without encryption?");
    ASSERT_TRUE(prompt) << favorite->connectionErrorString.toStdString();
    QTest::keyClick(prompt, Qt::Key_Return);
    ASSERT_TRUE(pumpUntil([&] { return !openAlert(); }));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(favorite->connectionStateError);
    EXPECT_FALSE(favorite->connectionStateBusy) << "Return started a connection without encryption";
    EXPECT_FALSE(favorite->allowPlainTextConnection);
    EXPECT_FALSE(favorite->connectionErrorString.isEmpty());

    controller->connectToFavorite(1);
    prompt = waitForAlert("Connect without encryption?");
    ASSERT_TRUE(prompt);
    QTest::mouseClick(button(prompt, "Connect"), Qt::LeftButton);
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    EXPECT_TRUE(favorite->allowPlainTextConnection);
}

TEST_F(ConnectFixture, AnErrorWithoutPromptStaysInTheRowUntilCleared) {
    auto favorite = addFavorite("Nobody", "127.0.0.1", "alice", "x");
    favorite->setPort(1);
    openWindow();
    controller->connectToFavorite(1);
    ASSERT_TRUE(waitFailed(favorite));
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(openAlert(), nullptr);
    // libpq's own second line starts flush in the row, not with a blank.
    const QStringList lines = favorite->connectionErrorString.split('\n');
    ASSERT_GE(lines.size(), 2) << favorite->connectionErrorString.toStdString();
    EXPECT_TRUE(lines[1].startsWith("Is the server running")) << favorite->connectionErrorString.toStdString();
    for (const QString &line : lines)
        EXPECT_FALSE(line.startsWith(' ') || line.startsWith('\t')) << line.toStdString();
    EXPECT_GT(favorite->errorTextHeight, 0);
    EXPECT_EQ(model()->heightOfRow(1), 66 + int(std::ceil(favorite->errorTextHeight)));
    EXPECT_TRUE(controller->validate(FavoritesListModel::Command::ClearError, 1));

    controller->clearError(1);
    EXPECT_FALSE(favorite->connectionStateError);
    EXPECT_TRUE(favorite->connectionErrorString.isEmpty());
    EXPECT_EQ(model()->heightOfRow(1), 60);
}

namespace {

QVariantMap twoPrompts() {
    return {{"name", "login"},
            {"instruction", ""},
            {"prompts", QVariantList{QVariantMap{{"text", "Token:"}, {"echo", true}},
                                     QVariantMap{{"text", "Password:"}, {"echo", false}}}}};
}

} // namespace

TEST_F(ConnectFixture, KeyboardInteractiveAnswersGoBackInPromptOrderOrNotAtAll) {
    auto favorite = addFavorite("Tunnel");
    openWindow();
    auto server = ZNTServerController::sharedController()->serverForFavorite(favorite);

    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        auto lock = std::make_shared<ConditionLock>(0);
        auto answers = std::make_shared<QStringList>();
        controller->handleKeyboardInteractiveAuthenticationRequest(twoPrompts(), server, lock, answers);
        Alert *sheet = waitForAlert("Keyboard Interactive Authentication", std::chrono::seconds(5));
        ASSERT_TRUE(sheet);
        const QList<QLineEdit *> fields = sheet->accessoryView()->findChildren<QLineEdit *>();
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[0]->echoMode(), QLineEdit::Normal);
        EXPECT_EQ(fields[1]->echoMode(), QLineEdit::Password);
        fields[0]->setText("123456");
        fields[1]->setText("secret");
        EXPECT_EQ(lock->condition(), 0) << "released before the user answered";
        if (accept)
            QTest::mouseClick(button(sheet, "Connect"), Qt::LeftButton);
        else
            QTest::keyClick(sheet, Qt::Key_Escape);
        ASSERT_TRUE(pumpUntil([&] { return lock->condition() == 1; }, std::chrono::seconds(5)));
        EXPECT_EQ(*answers, accept ? QStringList({"123456", "secret"}) : QStringList());
    }
}

TEST_F(ConnectFixture, KeyboardInteractivePromptsShowTheSSHServersWordsAsTextAndNoLongerThanAPrompt) {
    auto favorite = addFavorite("Tunnel");
    openWindow();
    auto server = ZNTServerController::sharedController()->serverForFavorite(favorite);
    auto lock = std::make_shared<ConditionLock>(0);
    auto answers = std::make_shared<QStringList>();
    const QVariantMap request{{"name", kMarkup},
                              {"instruction", kMarkup},
                              {"prompts", QVariantList{QVariantMap{{"text", "Code " + kMarkup}, {"echo", true}},
                                                       QVariantMap{{"text", QString(20000, 'p')}, {"echo", false}}}}};
    controller->handleKeyboardInteractiveAuthenticationRequest(request, server, lock, answers);
    Alert *sheet = waitForAlert("Keyboard Interactive Authentication", std::chrono::seconds(5));
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(labelsRenderingMarkup(sheet).isEmpty()) << labelsRenderingMarkup(sheet).join('|').toStdString();
    EXPECT_EQ(labelsShowingMarkup(sheet), 1);
    for (const QLabel *label : sheet->accessoryView()->findChildren<QLabel *>())
        EXPECT_LE(label->text().size(), 501);
    EXPECT_LT(sheet->sizeHint().height(), 600) << "a long prompt made the sheet taller than a screen";
    EXPECT_LT(sheet->sizeHint().width(), 800) << "a long prompt made the sheet wider than a screen";
    saveScreenshot(sheet, "keyboard-interactive-markup");
    sheet->reject();
    ASSERT_TRUE(pumpUntil([&] { return lock->condition() == 1; }, std::chrono::seconds(5)));
}

TEST_F(ConnectFixture, AKeyboardInteractiveRequestForAVanishedFavoriteIsReleasedWithoutAnswers) {
    auto listed = addFavorite("Listed");
    openWindow();
    auto gone = store->insertFavorite();
    auto server = ZNTServerController::sharedController()->serverForFavorite(gone);
    auto lock = std::make_shared<ConditionLock>(0);
    auto answers = std::make_shared<QStringList>();
    LogCapture log;
    controller->handleKeyboardInteractiveAuthenticationRequest(twoPrompts(), server, lock, answers);
    EXPECT_EQ(lock->condition(), 1) << "the connection would wait for an answer nobody can give";
    EXPECT_TRUE(answers->isEmpty());
    EXPECT_EQ(openAlert(), nullptr);
    EXPECT_TRUE(log.contains("Missing favorite:"));
}

// The real libsecret path, in a child process whose session bus does not
// exist: no keyring keeps the password the user asked to save. That is told
// in the favorite's row (and in its settings while they are open), once, and
// "save password" goes off instead of the row claiming a saved password.
TEST_F(ConnectFixture, APasswordTheKeyringRefusesIsToldInItsRowAndSavingGoesOff) {
    if (!isChildRun())
        return runCurrentTestInChild(
            {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/trellan-no-bus"}, {"DISPLAY", QString()}});
    SecretStore::setShared(std::make_shared<LibsecretStore>());
    auto favorite =
        addFavorite("Scram", requiredEnv("TRELLAN_PG_HOST"), requiredEnv("TRELLAN_PG_SCRAM_USER"), "postgres");
    favorite->setPort(requiredEnv("TRELLAN_PG_PORT").toInt());
    // A password in memory that the server turns down: with no keyring to read
    // a stored one from, that is how the password sheet comes up here.
    favorite->setPassword("not the password");
    openWindow();
    int told = 0;
    ObserverToken telling = NotificationCenter::defaultCenter().observe(
        ZNTFavorite::PasswordNotSavedNotification, favorite.get(), [&](const Notification &) { ++told; });

    // Asked for in the password sheet.
    controller->connectToFavorite(1);
    Alert *prompt = waitForAlert("Password required");
    ASSERT_TRUE(prompt);
    secretField(prompt)->setText(requiredEnv("TRELLAN_PG_SCRAM_PASSWORD"));
    prompt->accessoryView()->findChild<QCheckBox *>()->setChecked(true);
    QTest::keyClick(secretField(prompt), Qt::Key_Return);
    ASSERT_TRUE(waitConnected(favorite)) << favorite->connectionErrorString.toStdString();
    ASSERT_TRUE(pumpUntil([&] { return told > 0; }));
    EXPECT_FALSE(favorite->savePassword());
    EXPECT_EQ(favorite->keychainFailureString,
              "The keyring did not save the password (no secret service), so “Save password” is off.");
    controller->disconnectFromFavorite(1);
    ASSERT_TRUE(pumpUntil([&] { return !favorite->connectionStateConnected; }));
    const QModelIndex row = model()->index(1);
    EXPECT_TRUE(row.data(FavoritesListModel::FailedRole).toBool());
    EXPECT_EQ(row.data(FavoritesListModel::ErrorRole).toString(), favorite->keychainFailureString);
    EXPECT_GT(favorite->errorTextHeight, 0);
    EXPECT_EQ(model()->heightOfRow(1), 66 + int(std::ceil(favorite->errorTextHeight)));
    controller->showWindow();
    saveScreenshot(controller->window(), "password-not-saved");
    // Once: the saves that follow do not try, nor tell, again.
    favorite->setNickname("Scram again");
    ASSERT_TRUE(store->save(nullptr));
    pumpUntil([&] { return !store->isKeychainWorkPending(); });
    EXPECT_EQ(told, 1);
    controller->clearError(1);
    EXPECT_FALSE(row.data(FavoritesListModel::FailedRole).toBool());

    // Asked for in the favorite's settings: told there while they are open.
    controller->beginEditingFavorite(1);
    auto *form = qobject_cast<FavoriteSettingsForm *>(controller->table()->indexWidget(row));
    ASSERT_NE(form, nullptr);
    form->savePasswordBox()->click();
    ASSERT_TRUE(pumpUntil([&] { return told == 2; }));
    EXPECT_FALSE(form->savePasswordBox()->isChecked());
    EXPECT_TRUE(form->keychainFailureLabel()->isVisible());
    EXPECT_EQ(form->keychainFailureLabel()->text(), favorite->keychainFailureString);
    saveScreenshot(controller->window(), "password-not-saved-settings");
}
