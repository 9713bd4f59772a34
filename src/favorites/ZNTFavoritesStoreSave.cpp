// Changes and saving of the favorites store: which objects have unsaved
// changes, the delayed saves, the one-transaction write, the order repair, and
// the secret-store pass that runs before each save.
#include "FavoritesKeychain.h"
#include "ZNTFavorite.h"
#include "ZNTFavoritesStore.h"
#include "ZNTPrefContainer.h"
#include "ZNTQueryHistoryElement.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"

#include <QDateTime>
#include <algorithm>
#include <sqlite3.h>

void ZNTStoredObject::didChange(SaveDelay delay) {
    if (m_state == State::Gone)
        return;
    if (m_state == State::Saved)
        m_state = State::Updated;
    if (auto store = m_store.lock())
        store->registerChange(this, delay == SaveDelay::ViewSetting);
}

void ZNTFavoritesStore::registerChange(ZNTStoredObject *object, bool viewSetting) {
    if (!object->m_pending) {
        object->m_pending = true;
        m_pending.push_back(object->shared_from_this());
    }
    scheduleSave(viewSetting ? ViewSettingSaveDelayMs : FavoriteSaveDelayMs);
}

// One timer serves every change due by its deadline; a change due earlier gets a
// timer of its own.
void ZNTFavoritesStore::scheduleSave(int delayMs) {
    const qint64 due = QDateTime::currentMSecsSinceEpoch() + delayMs;
    if (m_saveDueAt && *m_saveDueAt <= due)
        return;
    m_saveDueAt = due;
    Main::after(delayMs, [weakSelf = weak_from_this(), due] {
        auto self = weakSelf.lock();
        if (!self || self->m_saveDueAt != due)
            return;
        self->m_saveDueAt.reset();
        ErrorPtr error;
        if (!self->save(&error))
            Log(QStringLiteral("Failed to save favorites: %1").arg(error->localizedDescription()));
        if (self->m_scheduledSaveHandler)
            self->m_scheduledSaveHandler(error);
    });
}

void ZNTFavoritesStore::insertObject(const std::shared_ptr<ZNTStoredObject> &object, bool viewSetting) {
    object->m_state = ZNTStoredObject::State::Inserted;
    registerChange(object.get(), viewSetting);
}

void ZNTFavoritesStore::deleteObject(ZNTStoredObject *object, bool viewSetting) {
    if (object->isDeleted())
        return;
    // Never written: it simply goes.
    const bool written = object->m_state != ZNTStoredObject::State::Inserted;
    object->m_state = written ? ZNTStoredObject::State::Deleted : ZNTStoredObject::State::Gone;
    if (written) {
        registerChange(object, viewSetting);
    } else {
        object->m_pending = false;
        std::erase_if(m_pending, [&](const auto &p) { return p.get() == object; });
    }
}

std::vector<std::shared_ptr<ZNTFavorite>> ZNTFavoritesStore::favorites() const {
    auto sorted = m_favorites;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) {
        return a->order() != b->order() ? a->order() < b->order() : a->objectID() < b->objectID();
    });
    return sorted;
}

bool ZNTFavoritesStore::reloadData() {
    requireMainThread("ZNTFavoritesStore::reloadData");
    const auto list = favorites();
    qint32 previous = 0;
    const bool ordered = std::all_of(list.begin(), list.end(), [&](const auto &favorite) {
        const bool increases = favorite->order() > previous;
        previous = favorite->order();
        return increases;
    });
    if (ordered)
        return false;
    qint32 order = 0;
    for (const auto &favorite : list)
        favorite->setOrder(++order);
    save();
    return true;
}

qint32 ZNTFavoritesStore::maxOrderValue() const {
    qint32 highest = 0;
    for (const auto &favorite : m_favorites)
        highest = std::max(highest, favorite->order());
    return highest;
}

std::shared_ptr<ZNTFavorite> ZNTFavoritesStore::insertFavorite() {
    requireMainThread("ZNTFavoritesStore::insertFavorite");
    if (!isOpen())
        throw ProgramError("IncorrectUsage", "a favorite was inserted into a store that is not open");
    ZNTFavoriteValues values;
    values.order = maxOrderValue() + 1;
    std::shared_ptr<ZNTFavorite> favorite(
        new ZNTFavorite(weak_from_this(), nextID("favorite"), ZNTStoredObject::State::Inserted, values));
    m_favorites.push_back(favorite);
    insertObject(favorite, false);
    return favorite;
}

void ZNTFavoritesStore::deleteFavorite(const std::shared_ptr<ZNTFavorite> &favorite) {
    requireMainThread("ZNTFavoritesStore::deleteFavorite");
    if (!favorite || favorite->store().get() != this || favorite->isDeleted())
        return;
    std::erase(m_favorites, favorite);
    // The rows of its containers, properties and history go with its row (the
    // schema cascades); their objects go now, and what of them was never
    // written is not written.
    const qint64 id = favorite->objectID();
    auto isChild = [&](const ZNTStoredObject *object) {
        return object != favorite.get() && object->favoriteID() == id;
    };
    auto dropAll = [&](auto &map) {
        for (const auto &[key, weak] : map) {
            if (auto object = weak.lock(); object && isChild(object.get()))
                object->m_state = ZNTStoredObject::State::Gone;
        }
    };
    dropAll(m_containers);
    dropAll(m_properties);
    dropAll(m_historyElements);
    std::erase_if(m_pending, [&](const auto &object) {
        if (!isChild(object.get()))
            return false;
        object->m_state = ZNTStoredObject::State::Gone;
        return true;
    });
    deleteObject(favorite.get(), false);
}

bool ZNTFavoritesStore::save(ErrorPtr *error) {
    requireMainThread("ZNTFavoritesStore::save");
    if (m_pending.empty())
        return true;
    if (!isOpen()) {
        m_lastSaveError = Error::make(kBundleIdentifier, 1,
                                      {{Error::DescriptionKey, QStringLiteral("The favorites store is not open.")}});
        if (error)
            *error = m_lastSaveError;
        return false;
    }
    // The items follow what is being saved, and only once it is: a save that
    // fails must not take a password whose favorite is still in the file.
    KeychainPass pass = keychainPass();
    ErrorPtr failure;
    if (!writePending(&failure)) {
        m_lastSaveError = failure;
        if (error)
            *error = failure;
        return false;
    }
    m_lastSaveError.reset();
    const auto saved = std::move(m_pending);
    m_pending.clear();
    for (const auto &object : saved) {
        object->m_pending = false;
        object->m_state = object->isDeleted() ? ZNTStoredObject::State::Gone : ZNTStoredObject::State::Saved;
        object->didSave();
    }
    startKeychainPass(std::move(pass));
    return true;
}

void ZNTFavoritesStore::saveAndSettle(std::function<void(ErrorPtr)> completion) {
    requireMainThread("ZNTFavoritesStore::saveAndSettle");
    ErrorPtr error;
    save(&error);
    // The queue runs its jobs in order: this one runs after every pass and read
    // asked for so far.
    ++m_keychainJobs;
    m_keychainQueue->async([weakSelf = weak_from_this(), completion = std::move(completion), error] {
        Main::post([weakSelf, completion, error] {
            if (auto self = weakSelf.lock())
                --self->m_keychainJobs;
            completion(error);
        });
    });
}

// One transaction: everything or, on any failure, nothing.
bool ZNTFavoritesStore::writePending(ErrorPtr *error) {
    sqlite3 *db = m_db.get();
    if (!sqliteExec(db, "BEGIN IMMEDIATE", error))
        return false;
    for (const auto &object : m_pending) {
        if (!object->writeChange(db, error)) {
            sqliteExec(db, "ROLLBACK", nullptr);
            return false;
        }
    }
    if (sqliteExec(db, "COMMIT", error))
        return true;
    // A failed COMMIT may leave the transaction open (a full disk, say).
    if (!sqlite3_get_autocommit(db))
        sqliteExec(db, "ROLLBACK", nullptr);
    return false;
}

// What the pass before a save is to do: every favorite's items as they are to
// be, and which favorites name each item.
ZNTFavoritesStore::KeychainPass ZNTFavoritesStore::keychainPass() const {
    std::vector<std::shared_ptr<ZNTFavorite>> all = m_favorites;
    for (const auto &object : m_pending) {
        if (object->isDeleted()) {
            if (auto favorite = std::dynamic_pointer_cast<ZNTFavorite>(object))
                all.push_back(favorite);
        }
    }
    auto itemOf = [](const ZNTFavoriteValues &values, bool ssh) {
        return ssh ? FavoritesKeychain::ItemName(ZNTFavorite::sshKeychainItemName(values),
                                                 ZNTFavorite::sshKeychainItemAccount(values))
                   : FavoritesKeychain::ItemName(ZNTFavorite::keychainItemName(values),
                                                 ZNTFavorite::keychainItemAccount(values));
    };
    KeychainPass pass;
    for (const auto &favorite : all) {
        for (bool ssh : {false, true}) {
            // A favorite being deleted keeps no item for anybody.
            if (!favorite->isDeleted()) {
                for (const ZNTFavoriteValues *values : {&favorite->savedValues(), &favorite->values()}) {
                    const auto item = itemOf(*values, ssh);
                    if (!item.first.isNull())
                        pass.users[item].insert(favorite->objectID());
                }
            }
            FavoritesKeychain::Wish wish;
            wish.favoriteID = favorite->objectID();
            wish.ssh = ssh;
            wish.keep = !favorite->isDeleted() && (ssh ? favorite->saveSshPassword() : favorite->savePassword());
            wish.password = ssh ? favorite->sshPassword() : favorite->password();
            wish.service = ssh ? favorite->sshKeychainItemName() : favorite->keychainItemName();
            wish.account = ssh ? favorite->sshKeychainItemAccount() : favorite->keychainItemAccount();
            pass.wishes.push_back(std::move(wish));
        }
    }
    return pass;
}

void ZNTFavoritesStore::startKeychainPass(KeychainPass pass) {
    ++m_keychainJobs;
    m_keychainQueue->async([keychain = m_keychain, pass = std::move(pass), weakSelf = weak_from_this()] {
        auto memories = keychain->runPass(pass.wishes, pass.users);
        Main::post([weakSelf, memories = std::move(memories)] {
            auto self = weakSelf.lock();
            if (!self)
                return;
            --self->m_keychainJobs;
            for (const auto &memory : memories) {
                auto favorite = self->favoriteWithID(memory.favoriteID);
                if (!favorite)
                    continue;
                favorite->rememberKeychainItem(memory.ssh, memory.item);
                // A refusal is told, not retried at every save behind the user's back.
                if (!memory.refusal.isEmpty())
                    favorite->passwordNotSaved(memory.ssh, memory.refusal);
            }
        });
    });
}

std::shared_ptr<ZNTFavorite> ZNTFavoritesStore::favoriteWithID(qint64 id) const {
    for (const auto &favorite : m_favorites) {
        if (favorite->objectID() == id)
            return favorite;
    }
    for (const auto &object : m_pending) {
        if (object->objectID() == id) {
            if (auto favorite = std::dynamic_pointer_cast<ZNTFavorite>(object))
                return favorite;
        }
    }
    return nullptr;
}
