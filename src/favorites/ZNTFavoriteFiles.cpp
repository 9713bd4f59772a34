#include "ZNTFavoriteFiles.h"

#include "ZNTFavorite.h"
#include "ZNTFavoritesStore.h"
#include "ZNTQueryHistoryElement.h"
#include "platform/ProgramError.h"

#include <algorithm>
#include <set>
#include <sqlite3.h>

std::vector<std::shared_ptr<ZNTQueryHistoryElement>> ZNTFavoritesStore::fetchHistoryElements(qint64 favoriteID) {
    std::vector<std::shared_ptr<ZNTQueryHistoryElement>> elements;
    std::set<qint64> seen;
    SqliteStatement rows(m_db.get(), "SELECT id, date, text, compressedText, uncompressedLength "
                                     "FROM queryHistoryElement WHERE favorite = ?1 ORDER BY date, id");
    rows.bind(1, favoriteID);
    while (rows.step() == SQLITE_ROW) {
        // The entry's object when someone holds it already, so changes are not split.
        auto known = m_historyElements.find(rows.int64(0));
        auto element = known != m_historyElements.end() ? known->second.lock() : nullptr;
        if (!element) {
            element.reset(new ZNTQueryHistoryElement(weak_from_this(), rows.int64(0), ZNTStoredObject::State::Saved,
                                                     favoriteID, rows.int64(1), rows.text(2), rows.blob(3),
                                                     rows.optionalInt64(4)));
            m_historyElements[element->objectID()] = element;
        }
        seen.insert(element->objectID());
        if (!element->isDeleted())
            elements.push_back(element);
    }
    // Entries not saved yet (imported a moment ago) count as well.
    for (const auto &object : m_pending) {
        auto element = std::dynamic_pointer_cast<ZNTQueryHistoryElement>(object);
        if (element && element->favoriteID() == favoriteID && !element->isDeleted() && !seen.count(element->objectID()))
            elements.push_back(element);
    }
    std::stable_sort(elements.begin(), elements.end(), [](const auto &a, const auto &b) {
        return std::pair(a->dateMicroseconds(), a->objectID()) < std::pair(b->dateMicroseconds(), b->objectID());
    });
    return elements;
}

std::vector<std::shared_ptr<ZNTQueryHistoryElement>> ZNTFavorite::queryHistoryElements() {
    requireMainThread("ZNTFavorite::queryHistoryElements");
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return {};
    return store->fetchHistoryElements(objectID());
}

std::optional<QByteArray> ZNTFavorite::dataWithOptions(quint32 options, const std::optional<QString> &exportPassword,
                                                       ErrorPtr *error) {
    return ZNTFavoriteFile::dataWithOptions(ZNTFavoriteFiles::contents(*this, options), options, exportPassword, error);
}

std::optional<QVariantMap> ZNTFavorite::paramsForData(const QByteArray &data, const std::optional<QString> &password,
                                                      ErrorPtr *error) {
    return ZNTFavoriteFile::paramsForData(data, password, error);
}

namespace ZNTFavoriteFiles {

namespace {
std::optional<QString> present(const QString &value) {
    return value.isNull() ? std::nullopt : std::optional<QString>(value);
}
std::optional<qint64> present(const std::optional<int> &value) {
    return value ? std::optional<qint64>(*value) : std::nullopt;
}

// One favorite's file, with the passwords read for it (option 1), or the error
// that kept them from being read.
FavoriteFileWriting::Item item(ZNTFavorite &favorite, quint32 options, const ZNTFavorite::FilePasswords &passwords,
                               const ErrorPtr &error) {
    FavoriteFileWriting::Item item;
    item.displayName = favorite.displayName();
    item.error = error;
    if (error)
        return item;
    item.contents = contents(favorite, options & ~quint32(ZNTFavoriteFile::IncludePasswords));
    if (options & ZNTFavoriteFile::IncludePasswords) {
        item.contents.password = present(passwords.password);
        item.contents.sshPassword = present(passwords.sshPassword);
    }
    return item;
}
} // namespace

ZNTFavoriteFile::Contents contents(ZNTFavorite &favorite, quint32 options) {
    const ZNTFavoriteValues &v = favorite.values();
    ZNTFavoriteFile::Contents c;
    c.nickname = present(v.nickname);
    c.host = present(v.host);
    c.port = present(v.port);
    c.user = present(v.user);
    c.database = present(v.database);
    c.showAllDatabases = v.showAllDatabases;
    c.sshEnabled = v.sshEnabled;
    c.sshHost = present(v.sshHost);
    c.sshPort = present(v.sshPort);
    c.sshUser = present(v.sshUser);
    c.hasSshPrivateKey = !v.sshPrivateKeyBookmark.isEmpty();
    if (options & ZNTFavoriteFile::IncludePasswords) {
        c.password = present(favorite.password());
        c.sshPassword = present(favorite.sshPassword());
    }
    if (options & ZNTFavoriteFile::IncludeHistory) {
        for (const auto &element : favorite.queryHistoryElements())
            c.history.push_back({element->text(), element->date()});
    }
    return c;
}

void gatherItems(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites, quint32 options,
                 std::function<void(QList<FavoriteFileWriting::Item>)> done) {
    requireMainThread("ZNTFavoriteFiles::gatherItems");
    struct Gathering {
        QList<FavoriteFileWriting::Item> items;
        int waiting = 0;
        std::function<void(QList<FavoriteFileWriting::Item>)> done;
    };
    auto gathering = std::make_shared<Gathering>();
    gathering->done = std::move(done);
    gathering->items.resize(qsizetype(favorites.size()));
    gathering->waiting = int(favorites.size()) + 1;
    auto finishOne = [gathering] {
        if (--gathering->waiting == 0)
            gathering->done(gathering->items);
    };
    for (qsizetype i = 0; i < qsizetype(favorites.size()); ++i) {
        auto favorite = favorites[size_t(i)];
        auto fill = [gathering, favorite, options, i, finishOne](ZNTFavorite::FilePasswords passwords, ErrorPtr error) {
            gathering->items[i] = item(*favorite, options, passwords, error);
            finishOne();
        };
        if (options & ZNTFavoriteFile::IncludePasswords)
            favorite->readFilePasswords(fill);
        else
            fill({}, nullptr);
    }
    finishOne();
}

QList<FavoriteFileWriting::Item> itemsWaiting(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites,
                                              quint32 options, std::chrono::milliseconds limit) {
    requireMainThread("ZNTFavoriteFiles::itemsWaiting");
    QList<FavoriteFileWriting::Item> items;
    for (const auto &favorite : favorites) {
        ErrorPtr error;
        std::optional<ZNTFavorite::FilePasswords> passwords;
        if (options & ZNTFavoriteFile::IncludePasswords)
            passwords = favorite->readFilePasswordsWaiting(limit, &error);
        items.append(item(*favorite, options, passwords.value_or(ZNTFavorite::FilePasswords{}), error));
    }
    return items;
}

} // namespace ZNTFavoriteFiles
