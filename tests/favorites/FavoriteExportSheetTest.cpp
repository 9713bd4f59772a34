#include "favorites/FavoriteExportSheet.h"
#include "TestSupport.h"
#include "platform/UserDefaults.h"
#include "support/Screenshots.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ExportSheet : public ::testing::Test {
protected:
    void SetUp() override {
        defaults.registerDefaults({{"FavoriteExportUseEncryption", false},
                                   {"FavoriteExportIncludePasswords", true},
                                   {"FavoriteExportIncludeHistory", false}});
        window.resize(640, 480);
        window.show();
    }
    // Gathers favorites of the given names, each with a password and history;
    // the options it was asked for are kept.
    ZNTFavoriteExporter::Gatherer gatherer(const QStringList &names, ErrorPtr failSecond = nullptr) {
        return [this, names, failSecond](quint32 options, auto done) {
            askedOptions = options;
            QList<FavoriteFileWriting::Item> items;
            for (const QString &name : names) {
                FavoriteFileWriting::Item item;
                item.displayName = name;
                item.contents.nickname = name;
                item.contents.password = "db pw";
                item.contents.history = {{"select 1", QDateTime::currentDateTimeUtc()}};
                if (failSecond && items.size() == 1)
                    item.error = failSecond;
                items.append(item);
            }
            done(items);
        };
    }
    std::optional<QVariantMap> read(const QString &path, const std::optional<QString> &password) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        ErrorPtr error;
        return ZNTFavoriteFile::paramsForData(file.readAll(), password, &error);
    }
    Alert *shownAlert() {
        Alert *alert = nullptr;
        pumpUntil([&] { return (alert = window.findChild<Alert *>()) && alert->isVisible(); });
        return alert;
    }

    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath("d.ini")};
    QWidget window;
    std::optional<quint32> askedOptions;
    bool finished = false;
};

} // namespace

TEST_F(ExportSheet, OneFavoriteIsProposedByNameAndWrittenWithTheChosenOptions) {
    QFileDialog *panel = ZNTFavoriteExporter::exportFavorites(&window, {"Prod/EU"}, gatherer({"Prod/EU"}), defaults,
                                                              [this] { finished = true; });
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "Prod-EU.tqbfav");
    auto *options = panel->findChild<ZNTFavoriteExportOptionsView *>();
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->includePasswordCheckbox()->isChecked());
    EXPECT_FALSE(options->passwordField()->isEnabled());
    options->includeHistoryCheckbox()->setChecked(true);
    options->encryptCheckbox()->setChecked(true);
    options->passwordField()->setText("export pw");
    saveScreenshot(panel, "favorites", "export-panel.png");
    EXPECT_TRUE(defaults.boolForKey("FavoriteExportIncludeHistory"));
    EXPECT_TRUE(defaults.boolForKey("FavoriteExportUseEncryption"));

    const QString target = dir.filePath("chosen.tqbfav");
    panel->selectFile(target);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(pumpUntil([&] { return finished; }));
    EXPECT_EQ(askedOptions, ZNTFavoriteFile::IncludePasswords | ZNTFavoriteFile::IncludeHistory);
    EXPECT_FALSE(read(target, std::nullopt)) << "written without the export password";
    auto params = read(target, QString("export pw"));
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), "db pw");
    EXPECT_EQ(params->value("history").toMap().value("texts").toStringList(), QStringList{"select 1"});
    EXPECT_FALSE(window.findChild<Alert *>());
}

TEST_F(ExportSheet, EncryptingWithoutAPasswordWritesNothingAndSaysSo) {
    ZNTFavoriteExporter::run(&window, 1, dir.filePath("x.tqbfav"),
                             FavoriteExportRequest::fromChoices(true, false, true, QString()), gatherer({"Prod"}),
                             [this] { finished = true; });
    Alert *alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "No password provided");
    EXPECT_EQ(alert->informativeText(), "You must provide a password to encrypt favorite data.");
    EXPECT_FALSE(askedOptions) << "favorites were gathered";
    saveScreenshot(alert, "favorites", "export-no-password.png");
    alert->defaultButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return finished; }));
    EXPECT_FALSE(QFile::exists(dir.filePath("x.tqbfav")));
}

TEST_F(ExportSheet, SeveralGoIntoOneFolderAndTheLastFailureIsShown) {
    QFileDialog *panel = ZNTFavoriteExporter::exportFavorites(
        &window, {"Prod", "Prod", "Prod"},
        gatherer({"Prod", "Prod", "Prod"}, Error::make("test", 3, {{Error::DescriptionKey, "keyring locked"}})),
        defaults, [this] { finished = true; });
    ASSERT_TRUE(panel);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "Trellan Favorites");
    panel->selectFile(dir.filePath("Trellan Favorites"));
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(pumpUntil([&] { return finished; }));
    EXPECT_EQ(QDir(dir.filePath("Trellan Favorites")).entryList(QDir::Files),
              (QStringList{"Prod 1.tqbfav", "Prod.tqbfav"}));
    Alert *alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "keyring locked");
}

TEST_F(ExportSheet, NoFavoritesBeepsAndShowsNothing) {
    int beeps = 0;
    setBeepHook([&] { ++beeps; });
    EXPECT_FALSE(ZNTFavoriteExporter::exportFavorites(&window, {}, gatherer({}), defaults));
    setBeepHook({});
    EXPECT_EQ(beeps, 1);
}
