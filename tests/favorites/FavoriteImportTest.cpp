#include "FavoriteFileTestSupport.h"
#include "TestSupport.h"
#include "favorites/ZNTFavoriteFile.h"
#include "favorites/ZNTFavoriteFileImporter.h"
#include "support/Screenshots.h"
#include "uikit/AlertSheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Delegate : ZNTFavoriteFileImporterDelegate {
    void favoriteFileImporterDidFinish(ZNTFavoriteFileImporter &importer) override {
        ++calls;
        nicknames.clear();
        for (const QVariantMap &params : importer.parameterDictionaries())
            nicknames.append(params.value("nickname").toString());
        targetIndex = importer.targetIndex();
    }
    int calls = 0;
    QStringList nicknames;
    std::optional<int> targetIndex;
};

class FavoriteImport : public ::testing::Test {
protected:
    // A favorite file named name.tqbfav with a password, encrypted with
    // exportPassword when one is given.
    QString write(const QString &name, const std::optional<QString> &exportPassword = std::nullopt) {
        ZNTFavoriteFile::Contents contents;
        contents.nickname = name;
        contents.password = "db secret";
        ErrorPtr error;
        auto data =
            ZNTFavoriteFile::dataWithOptions(contents, ZNTFavoriteFile::IncludePasswords, exportPassword, &error);
        EXPECT_TRUE(data);
        return writeBytes(name + ".tqbfav", data.value_or(QByteArray()));
    }
    QString writeBytes(const QString &fileName, const QByteArray &bytes) {
        QFile file(dir.filePath(fileName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    // A file of that size that takes no room on disk (and would take much in memory).
    QString sparseFile(const QString &fileName, qint64 size) {
        QFile file(dir.filePath(fileName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
        return file.fileName();
    }
    // An importer whose prompt answers with the given answers in turn.
    std::shared_ptr<ZNTFavoriteFileImporter> importer(QList<std::optional<QString>> answers) {
        auto i = ZNTFavoriteFileImporter::make();
        i->setDelegate(delegate);
        i->setTargetIndex(3);
        i->setPasswordPrompt([this, answers](QWidget *, const QString &fileName, auto answer) mutable {
            prompts.append(fileName);
            answer(answers.isEmpty() ? std::nullopt : answers.takeFirst());
            if (answers.isEmpty())
                ended = true;
        });
        i->setErrorPresenter([this](QWidget *, const ErrorPtr &error) {
            errors.append(error->localizedDescription());
            ended = true;
        });
        return i;
    }
    bool finishedOrEnded() { return delegate->calls > 0 || ended; }

    QTemporaryDir dir;
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    QStringList prompts;
    QStringList errors;
    bool ended = false;
};

} // namespace

TEST_F(FavoriteImport, OnePasswordPromptOpensEveryEncryptedFileAndAllArriveInOrder) {
    auto i = importer({QString("pw")});
    i->addFavoriteFile(write("first"));
    i->addFavoriteFile(write("second.v2", QString("pw")));
    i->addFavoriteFile(write("third", QString("pw")));
    i->startImport();
    ASSERT_TRUE(pumpUntil([&] { return delegate->calls > 0; }));
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(delegate->calls, 1);
    EXPECT_EQ(prompts, QStringList{"second.v2"});
    EXPECT_EQ(delegate->nicknames, (QStringList{"first", "second.v2", "third"}));
    EXPECT_EQ(delegate->targetIndex, 3);
    EXPECT_EQ(i->parameterDictionaries().at(2).value("password").toString(), "db secret");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(FavoriteImport, WrongPasswordAsksAgainAndCancellingTellsNobody) {
    auto i = importer({QString("wrong"), std::nullopt});
    i->addFavoriteFile(write("plain"));
    i->addFavoriteFile(write("locked", QString("pw")));
    i->startImport();
    ASSERT_TRUE(pumpUntil([&] { return finishedOrEnded(); }));
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(prompts, (QStringList{"locked", "locked"}));
    EXPECT_EQ(i->possiblePasswords(), QStringList{"wrong"});
    EXPECT_EQ(delegate->calls, 0);
    EXPECT_EQ(i->filePaths().size(), 1) << "the locked file is still the one to import";
}

TEST_F(FavoriteImport, AFileThatCannotBeReadIsShownAndNothingIsAdded) {
    struct Case {
        const char *name;
        QString path;
        QString message;
    };
    const Case cases[] = {
        {"notAPropertyList", writeBytes("junk.tqbfav", "{ not a plist"), "The file is not a property list."},
        {"missing", dir.filePath("gone.tqbfav"), "The file “gone.tqbfav” could not be opened."},
        // No password could open it: asking for one would go on for ever.
        {"damagedEncryptedPassword", writeBytes("damaged.tqbfav", runPython(kPythonContainer + R"(
import plistlib, sys
fav = {'type': 'norvane.Trellan.favorite', 'nickname': 'd', 'encryptedPassword': encrypt(b'pw', 'x')[:40]}
sys.stdout.buffer.write(plistlib.dumps(fav, fmt=plistlib.FMT_BINARY))
)")),
         "The favorite file is damaged."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        ended = false;
        auto i = importer({});
        i->addFavoriteFile(write("good"));
        i->addFavoriteFile(c.path);
        i->addFavoriteFile(write("never reached"));
        i->startImport();
        ASSERT_TRUE(pumpUntil([&] { return finishedOrEnded(); }));
        EXPECT_EQ(errors, QStringList{c.message});
        EXPECT_EQ(delegate->calls, 0);
        EXPECT_TRUE(prompts.isEmpty());
    }
}

// One byte more than the largest file the program writes is refused for its size
// alone, before anything is read.
TEST_F(FavoriteImport, AFileLargerThanAnyFavoriteFileIsRefusedUnread) {
    const auto outcome =
        ZNTFavoriteFileImporter::readFiles({sparseFile("larger.tqbfav", ZNTFavoriteFile::MaxFileSize + 1)}, {});
    ASSERT_NE(outcome.error, nullptr);
    EXPECT_EQ(outcome.error->localizedDescription(), "The file “larger.tqbfav” could not be read.");
    EXPECT_EQ(outcome.error->localizedFailureReason(), "It is larger than any favorite file.");
    EXPECT_TRUE(outcome.dictionaries.isEmpty());
}

TEST_F(FavoriteImport, PasswordSheetOnTheWindowNamesTheFileAndTakesTheTypedPassword) {
    QWidget window;
    window.resize(480, 320);
    window.show();
    auto i = ZNTFavoriteFileImporter::make();
    i->setDelegate(delegate);
    i->setWindow(&window);
    i->addFavoriteFile(write("Staging DB", QString("s3cret")));
    i->startImport();
    Alert *sheet = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (sheet = window.findChild<Alert *>()) && sheet->isVisible(); }));
    EXPECT_EQ(sheet->messageText(), "Encrypted Favorite File");
    EXPECT_EQ(sheet->informativeText(), QString::fromUtf8("Please provide the password for ‘Staging DB’:"));
    auto *field = qobject_cast<QLineEdit *>(sheet->accessoryView());
    ASSERT_TRUE(field);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    field->setText("s3cret");
    saveScreenshot(sheet, "favorites", "import-password-sheet.png");
    sheet->defaultButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return delegate->calls == 1; }));
    EXPECT_EQ(delegate->nicknames, QStringList{"Staging DB"});
}
