// Favorite files: a file mailed by a colleague or found in a shared folder is
// imported as a favorite, history included. The input is the file, binary or
// XML. It is read without a password, and when it asks for one with a fixed
// password beyond ASCII; what is read becomes a favorite of a store in a
// temporary folder (its passwords kept in memory), whose own file, written
// with the passwords and the history, reads back as what was imported.
#include "FuzzSupport.h"
#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTFavoriteFile.h"
#include "favorites/ZNTFavoriteFiles.h"
#include "favorites/ZNTFavoritesStore.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "platform/SecretStore.h"

#include <QTemporaryDir>
#include <numeric>

namespace {

const QString kPassword = QString::fromUtf8("export pw€");

struct Fixture {
    explicit Fixture(const QString &folder)
        : store(ZNTFavoritesStore::create(folder + QStringLiteral("/Trellan/ConnectionFavorites.db"))) {
        SecretStore::setShared(std::make_shared<MemorySecretStore>());
        ErrorPtr error;
        FUZZ_CHECK(store->open(&error));
    }
    std::shared_ptr<ZNTFavoritesStore> store;
};

// What importing keeps of a file's dictionary: empty passwords and an empty
// history are none, and the history is kept by date (entries of one date in
// file order).
QVariantMap imported(QVariantMap params) {
    for (const char *key : {"password", "sshPassword"})
        if (params.value(QLatin1String(key)).toString().isEmpty())
            params.remove(QLatin1String(key));
    if (!params.contains(QStringLiteral("history")))
        return params;
    const QVariantMap history = params.value(QStringLiteral("history")).toMap();
    const QVariantList texts = history.value(QStringLiteral("texts")).toList();
    const QVariantList dates = history.value(QStringLiteral("dates")).toList();
    if (texts.isEmpty()) {
        params.remove(QStringLiteral("history"));
        return params;
    }
    std::vector<qsizetype> order(size_t(texts.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return dates[a].toDateTime() < dates[b].toDateTime(); });
    QVariantList sortedTexts, sortedDates;
    for (const qsizetype i : order) {
        sortedTexts << texts[i];
        sortedDates << dates[i];
    }
    params.insert(QStringLiteral("history"),
                  QVariantMap{{QStringLiteral("texts"), sortedTexts}, {QStringLiteral("dates"), sortedDates}});
    return params;
}

void checkImport(ZNTFavoritesStore &store, const QVariantMap &params) {
    const std::shared_ptr<ZNTFavorite> favorite = store.insertFavorite();
    favorite->takeParamsFromDictionary(params);
    FUZZ_CHECK(favorite->host() == params.value(QStringLiteral("host")).toString());
    FUZZ_CHECK(favorite->port() == (params.contains(QStringLiteral("port"))
                                        ? std::optional<int>(params.value(QStringLiteral("port")).toInt())
                                        : std::nullopt));

    const quint32 options = ZNTFavoriteFile::IncludePasswords | ZNTFavoriteFile::IncludeHistory;
    const ZNTFavoriteFile::Contents contents = ZNTFavoriteFiles::contents(*favorite, options);
    ErrorPtr error;
    const std::optional<QByteArray> file = ZNTFavoriteFile::dataWithOptions(contents, options, std::nullopt, &error);
    FUZZ_CHECK(file);
    const std::optional<QVariantMap> again = ZNTFavoriteFile::paramsForData(*file, std::nullopt, &error);
    FUZZ_CHECK(again);
    FUZZ_CHECK(imported(*again) == imported(params));
    store.deleteFavorite(favorite);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The store is never destroyed, as its queues outlive the run; its folder
    // still goes at exit.
    static QTemporaryDir folder;
    static Fixture &fixture = *new Fixture(folder.path());
    const QByteArray file = Fuzz::bytes(data, size);
    ErrorPtr error;
    std::optional<QVariantMap> params = ZNTFavoriteFile::paramsForData(file, std::nullopt, &error);
    if (!params && error->domain() == ZNTFavoriteFile::PasswordErrorDomain)
        params = ZNTFavoriteFile::paramsForData(file, kPassword, &error);
    if (!params) {
        FUZZ_CHECK(error && !error->localizedDescription().isEmpty());
        return 0;
    }
    FUZZ_CHECK(!params->isEmpty());
    checkImport(*fixture.store, *params);
    return 0;
}
