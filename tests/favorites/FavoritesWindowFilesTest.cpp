// The favorites window's favorite files: rows moved by dragging, files and
// folders dropped in, the export command, and rows dragged out.
#include "FavoritesWindowTestSupport.h"
#include "StoreTestSupport.h"
#include "favorites/FavoriteExportSheet.h"
#include "favorites/FavoritesListDragging.h"
#include "favorites/ZNTFavoriteFile.h"
#include "favorites/ZNTFavoritePasteboardWriter.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "uikit/Beep.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QTest>
#include <QUrl>
#include <QUuid>
#include <atomic>

namespace {

class FavoritesWindowFiles : public FavoritesWindowFixture {
protected:
    QStringList names() const {
        QStringList list;
        for (const auto &favorite : model()->favorites())
            list.append(favorite->displayName());
        return list;
    }
    // A point in the upper half of row, where a drop goes above it.
    QPoint above(int row) const {
        const QRect rect = controller->table()->visualRect(model()->index(row));
        return QPoint(rect.center().x(), rect.top() + rect.height() / 4);
    }
    // Drags data over the list to point and drops it there; whether the list took it.
    bool drop(QMimeData *data, const QPoint &at, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        QWidget *viewport = controller->table()->viewport();
        QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
        if (!move.isAccepted())
            return false;
        EXPECT_GE(controller->dragging()->dropIndicatorRow(), 1);
        if (!screenshot.isEmpty())
            saveScreenshot(controller->window(), std::exchange(screenshot, QString()));
        QDropEvent dropEvent(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &dropEvent);
        return dropEvent.isAccepted();
    }
    QString screenshot; // the next drop's hover is saved under this name

    // The drag of a favorite of this list (or of another: list).
    std::unique_ptr<ZNTFavoritePasteboardWriter> dragOf(const std::shared_ptr<ZNTFavorite> &favorite,
                                                        const void *list = nullptr) {
        return std::make_unique<ZNTFavoritePasteboardWriter>(list ? list : controller->table(), favorite->objectID(),
                                                             QList<FavoriteFileWriting::Item>{}, nullptr);
    }

    QString writeFavoriteFile(const QString &path, const QString &nickname) {
        ZNTFavoriteFile::Contents contents;
        contents.nickname = nickname;
        contents.host = nickname.toLower() + ".example";
        contents.password = "pw of " + nickname;
        contents.history = {{"select '" + nickname + "'", QDateTime(QDate(2023, 1, 2), QTime(3, 4), Qt::UTC)}};
        ErrorPtr error;
        auto data = ZNTFavoriteFile::dataWithOptions(contents, 3, std::nullopt, &error);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data.value_or(QByteArray()));
        return path;
    }
};

} // namespace

TEST_F(FavoritesWindowFiles, ARowDraggedAboveAnotherMovesThereButNeverOntoItsOwnPlace) {
    for (const char *name : {"A", "B", "C", "D"})
        addFavorite(name);
    openWindow();
    auto b = model()->favoriteAtRow(2);
    auto ownRow = dragOf(b);
    EXPECT_FALSE(drop(ownRow.get(), above(2)));
    EXPECT_FALSE(drop(ownRow.get(), above(3)));
    auto otherWindow = dragOf(b, this);
    EXPECT_FALSE(drop(otherWindow.get(), above(1)));
    EXPECT_EQ(names(), (QStringList{"A", "B", "C", "D"}));

    screenshot = "favorites-drop-indicator";
    EXPECT_TRUE(drop(ownRow.get(), above(1)));
    EXPECT_EQ(names(), (QStringList{"B", "A", "C", "D"}));
    auto first = dragOf(model()->favoriteAtRow(1));
    const QRect padRow = controller->table()->visualRect(model()->index(5));
    EXPECT_TRUE(drop(first.get(), padRow.bottomLeft() + QPoint(5, 20))) << "below the new-favorite pad: to the end";
    EXPECT_EQ(names(), (QStringList{"A", "C", "D", "B"}));
    EXPECT_EQ(controller->table()->currentRow(), 4);

    ErrorPtr error;
    ASSERT_TRUE(store->save(&error));
    EXPECT_EQ(pythonQuery(store->path(), "SELECT group_concat(nickname, ',') FROM (SELECT nickname FROM favorite "
                                         "ORDER BY \"order\")"),
              "A,C,D,B");
}

// The drag names the favorite, not its row: the list may change under it (a
// favorite added, deleted or moved by another way) before the drop.
TEST_F(FavoritesWindowFiles, ADropMovesTheDraggedFavoriteEvenWhenTheListChangedMeanwhile) {
    for (const char *name : {"A", "B", "C"})
        addFavorite(name);
    openWindow();
    auto c = model()->favoriteAtRow(3);
    auto dragged = dragOf(c);
    controller->deleteFavorite(1); // while the drag runs
    ASSERT_EQ(names(), (QStringList{"B", "C"}));
    EXPECT_TRUE(drop(dragged.get(), above(1)));
    EXPECT_EQ(names(), (QStringList{"C", "B"}));

    auto gone = dragOf(c);
    controller->deleteFavorite(1);
    ASSERT_EQ(names(), (QStringList{"B"}));
    EXPECT_FALSE(drop(gone.get(), above(1))) << "a favorite deleted during its drag was moved";
    EXPECT_FALSE(drop(gone.get(), above(2)));
}

TEST_F(FavoritesWindowFiles, ADroppedFolderImportsEveryFavoriteFileWhereItIsDropped) {
    addFavorite("A");
    addFavorite("B");
    openWindow();
    writeFavoriteFile(dir.filePath("drop/x.tqbfav"), "X");
    writeFavoriteFile(dir.filePath("drop/deeper/y.tqbfav"), "Y");
    writeFavoriteFile(dir.filePath("drop/notes.txt"), "ignored");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(dir.filePath("drop"))});
    EXPECT_TRUE(drop(&files, above(2)));
    ASSERT_TRUE(pumpUntil([&] { return model()->favorites().size() == 4; }));
    EXPECT_EQ(names(), (QStringList{"A", "Y", "X", "B"}));
    EXPECT_FALSE(controller->currentlyEditableObject()) << "several imported: none is edited";

    QMimeData other;
    other.setUrls({QUrl::fromLocalFile(dir.filePath("drop/notes.txt"))});
    EXPECT_FALSE(drop(&other, above(1)));
}

TEST_F(FavoritesWindowFiles, OneDroppedFileBecomesAnEditedFavoriteWithItsPasswordAndHistory) {
    addFavorite("A");
    openWindow();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(writeFavoriteFile(dir.filePath("Stage.tqbfav"), "Stage"))});
    EXPECT_TRUE(drop(&files, above(1)));
    ASSERT_TRUE(pumpUntil([&] { return model()->favorites().size() == 2; }));
    EXPECT_EQ(names(), (QStringList{"Stage", "A"}));
    const auto imported = model()->favorites().front();
    EXPECT_EQ(controller->currentlyEditableObject(), imported);
    EXPECT_EQ(imported->password(), "pw of Stage");
    EXPECT_TRUE(imported->savePassword());
    const auto history = imported->queryHistoryElements();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history.front()->text(), "select 'Stage'");

    ErrorPtr error;
    ASSERT_TRUE(store->save(&error));
    ASSERT_TRUE(pumpUntil([&] { return !store->isKeychainWorkPending(); }));
    QString kept;
    SecretStore::shared()->read(imported->keychainItemName(), imported->keychainItemAccount(), &kept);
    EXPECT_EQ(kept, "pw of Stage");
}

TEST_F(FavoritesWindowFiles, ExportWritesTheChosenFavoriteWithItsKeyringPassword) {
    auto prod = addFavorite("Prod");
    prod->setSavePassword(true);
    openWindow();
    SecretStore::shared()->add(prod->keychainItemName(), prod->keychainItemAccount(), "label", "from keyring");

    int beeps = 0;
    setBeepHook([&] { ++beeps; });
    controller->exportFavorite(-1);
    setBeepHook({});
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(controller->favoriteExportPanel());

    controller->exportFavorite(1);
    QFileDialog *panel = controller->favoriteExportPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "Prod.tqbfav");
    panel->findChild<ZNTFavoriteExportOptionsView *>()->includePasswordCheckbox()->setChecked(true);
    const QString target = dir.filePath("out.tqbfav");
    panel->selectFile(target);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(pumpUntil([&] { return QFile::exists(target); }));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ErrorPtr error;
    auto params = ZNTFavorite::paramsForData(file.readAll(), std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), "from keyring");
}

namespace {
// The desktop's Secret Service, counting the passwords read from it.
class CountingSecretStore : public SecretStore {
public:
    std::shared_ptr<SecretStore> real = std::make_shared<LibsecretStore>();
    std::atomic<int> reads{0};
    SecretStatus find(const QString &s, const QString &a) override {
        ++reads;
        return real->find(s, a);
    }
    SecretStatus read(const QString &s, const QString &a, QString *p, QString *l) override {
        ++reads;
        return real->read(s, a, p, l);
    }
    SecretStatus add(const QString &s, const QString &a, const QString &l, const QString &p) override {
        return real->add(s, a, l, p);
    }
    SecretStatus modify(const QString &s, const QString &a, const QString &ns, const QString &na, const QString &nl,
                        const QString &np) override {
        return real->modify(s, a, ns, na, nl, np);
    }
    SecretStatus deleteItem(const QString &s, const QString &a) override { return real->deleteItem(s, a); }
};
} // namespace

// A drag reads no password until another program asks for the file, and then
// changes nothing of the favorite: a copy that does not keep the password it
// shares with its original stays so, and a move within the list never waits
// for the keyring.
TEST_F(FavoritesWindowFiles, ADraggedRowReadsItsPasswordOnlyForItsFileAndChangesNothing) {
    auto keyring = std::make_shared<CountingSecretStore>();
    SecretStore::setShared(keyring);
    auto prod = addFavorite("Prod", QUuid::createUuid().toString(QUuid::WithoutBraces).left(8) + ".example");
    auto copy = addFavorite("Prod copy", prod->host());
    ASSERT_TRUE(keyring->real->add(prod->keychainItemName(), "alice", "label", "from keyring").isDone());
    prod->setSavePassword(true);
    openWindow();
    QMimeData *dragged = nullptr;
    controller->dragging()->setDragStarter([&](QMimeData *data, const QPixmap &image) {
        EXPECT_FALSE(image.isNull());
        dragged = data;
    });
    QWidget *viewport = controller->table()->viewport();
    const QPoint start = controller->table()->visualRect(model()->index(2)).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, start);
    QTest::mouseMove(viewport, start + QPoint(0, 40));
    ASSERT_NE(dragged, nullptr) << "the drag waited for something";
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, start + QPoint(0, 40));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(keyring->reads.load(), 0);
    auto favorite = ZNTFavoritePasteboardWriter::draggedFavorite(dragged);
    ASSERT_TRUE(favorite);
    EXPECT_EQ(favorite->favoriteID, copy->objectID());

    const QList<QUrl> urls = dragged->urls();
    ASSERT_EQ(urls.size(), 1);
    QFile file(urls.front().toLocalFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ErrorPtr error;
    auto params = ZNTFavorite::paramsForData(file.readAll(), std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), "from keyring");
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(copy->savePassword()) << "dragging turned \"save password\" on";
    EXPECT_TRUE(copy->password().isNull());
    EXPECT_FALSE(store->hasChanges());
    delete dragged;
    keyring->real->deleteItem(prod->keychainItemName(), "alice");
}
