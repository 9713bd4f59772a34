// Favorites of a real store going into favorite files: passwords read from the
// secret store first, every history entry, and a failed read never hidden.
#include "StoreTestSupport.h"
#include "favorites/ZNTFavoriteFiles.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "platform/SecretStore.h"

namespace {

class LockableStore : public MemorySecretStore {
public:
    std::atomic<bool> locked{false};
    SecretStatus find(const QString &s, const QString &a) override {
        return locked ? failure() : MemorySecretStore::find(s, a);
    }
    SecretStatus read(const QString &s, const QString &a, QString *p, QString *l) override {
        return locked ? failure() : MemorySecretStore::read(s, a, p, l);
    }

private:
    static SecretStatus failure() { return SecretStatus::failed(SecretStore::Locked, QStringLiteral("locked")); }
};

class FavoriteFilesOfStore : public StoreFixture {
protected:
    void SetUp() override { SecretStore::setShared(secrets); }
    void TearDown() override { SecretStore::setShared(previous); }

    // A favorite whose password lives only in the secret store, as after a restart.
    std::shared_ptr<ZNTFavorite> storedFavorite(const std::shared_ptr<ZNTFavoritesStore> &store, const QString &host) {
        auto favorite = store->insertFavorite();
        favorite->setNickname(host);
        favorite->setHost(host);
        favorite->setPort(6543);
        favorite->setSavePassword(true);
        secrets->add(favorite->keychainItemName(), favorite->keychainItemAccount(), "label", "kept in keyring");
        return favorite;
    }
    QList<FavoriteFileWriting::Item> gather(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites,
                                            quint32 options) {
        std::optional<QList<FavoriteFileWriting::Item>> items;
        ZNTFavoriteFiles::gatherItems(favorites, options, [&](auto gathered) { items = gathered; });
        EXPECT_TRUE(pumpUntil([&] { return items.has_value(); }));
        return items.value_or(QList<FavoriteFileWriting::Item>());
    }

    std::shared_ptr<SecretStore> previous = SecretStore::shared();
    std::shared_ptr<LockableStore> secrets = std::make_shared<LockableStore>();
};

} // namespace

TEST_F(FavoriteFilesOfStore, FileCarriesTheKeyringPasswordAndEveryHistoryEntry) {
    auto store = openStore();
    auto favorite = storedFavorite(store, "db.example");
    const qint64 day = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC).toMSecsSinceEpoch() * 1000;
    favorite->insertQueryHistoryElement("select 1", day);
    favorite->insertQueryHistoryElement("select 2", day); // the same moment
    saveOrFail(store);
    settle(store);
    favorite->insertQueryHistoryElement("select 3", day + 1); // not saved yet
    EXPECT_TRUE(favorite->password().isNull());

    const auto items = gather({favorite}, ZNTFavoriteFile::IncludePasswords | ZNTFavoriteFile::IncludeHistory);
    ASSERT_EQ(items.size(), 1);
    EXPECT_FALSE(items[0].error);
    EXPECT_EQ(items[0].displayName, "db.example");
    EXPECT_EQ(items[0].contents.password, QString("kept in keyring"));
    ErrorPtr error;
    auto data = ZNTFavoriteFile::dataWithOptions(items[0].contents, 3, std::nullopt, &error);
    ASSERT_TRUE(data);
    auto params = ZNTFavorite::paramsForData(*data, std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("port").toInt(), 6543);
    EXPECT_EQ(params->value("password").toString(), "kept in keyring");
    EXPECT_EQ(params->value("history").toMap().value("texts").toStringList(),
              (QStringList{"select 1", "select 2", "select 3"}));
    EXPECT_EQ(params->value("history").toMap().value("dates").toList().first().toDateTime(),
              QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC));
}

TEST_F(FavoriteFilesOfStore, AKeyringThatCannotAnswerFailsThatFavoriteInsteadOfDroppingItsPassword) {
    auto store = openStore();
    auto locked = storedFavorite(store, "locked.example");
    auto fine = store->insertFavorite();
    fine->setNickname("typed in");
    fine->setPassword("typed"); // nothing to read
    secrets->locked = true;
    const auto items = gather({locked, fine}, ZNTFavoriteFile::IncludePasswords);
    ASSERT_EQ(items.size(), 2);
    ASSERT_TRUE(items[0].error);
    EXPECT_TRUE(items[0].error->localizedDescription().contains("could not be read"))
        << items[0].error->localizedDescription().toStdString();
    EXPECT_FALSE(items[1].error);

    const QString folder = dir.filePath("Export");
    FavoriteFileWriting::Outcome outcome =
        FavoriteFileWriting::exportFolder(items, ZNTFavoriteFile::IncludePasswords, std::nullopt, folder);
    EXPECT_EQ(outcome.written, 1);
    EXPECT_EQ(outcome.lastError, items[0].error);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"typed in.tqbfav"});

    // Without passwords nothing is read, so nothing can fail.
    const auto bare = gather({locked}, 0);
    EXPECT_FALSE(bare[0].error);
    EXPECT_FALSE(bare[0].contents.password);
}

TEST_F(FavoriteFilesOfStore, AFavoriteWithAKeyFileKeepsItsSshPasswordOut) {
    auto store = openStore();
    auto favorite = store->insertFavorite();
    favorite->setSshEnabled(true);
    favorite->setSshHost("gw.example");
    favorite->setSshPassword("ssh pw");
    favorite->setPassword("db pw");
    favorite->setSshPrivateKeyBookmark("/home/ann/.ssh/id_ed25519");
    ErrorPtr error;
    auto data = favorite->dataWithOptions(ZNTFavoriteFile::IncludePasswords, std::nullopt, &error);
    ASSERT_TRUE(data);
    auto params = ZNTFavorite::paramsForData(*data, std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), "db pw");
    EXPECT_FALSE(params->contains("sshPassword"));
    EXPECT_EQ(params->value("sshHost").toString(), "gw.example");
    EXPECT_TRUE(params->value("sshEnabled").toBool());
}
