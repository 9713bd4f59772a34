#include "FavoritesKeychain.h"

#include "engine/Keychain.h"

std::vector<FavoritesKeychain::Memory> FavoritesKeychain::runPass(const std::vector<Wish> &wishes,
                                                                  const ItemUsers &users) {
    std::vector<Memory> memories;
    memories.reserve(wishes.size());
    for (const Wish &wish : wishes) {
        Entry &entry = m_ledger[{wish.favoriteID, wish.ssh}];
        SecretStatus kept;
        if (wish.keep)
            kept = keepItem(wish, entry, users);
        else
            dropItem(wish, entry, users);
        QString refusal;
        if (kept.isFailed())
            refusal = kept.message.isEmpty() ? QStringLiteral("error %1").arg(kept.code) : kept.message;
        memories.push_back({wish.favoriteID, wish.ssh, entry.item, refusal});
    }
    return memories;
}

// Saved and unsaved values both count: a favorite being typed into may name an
// item before it is saved, and one being changed still names its old item in
// the file until it is.
bool FavoritesKeychain::namedByOthers(const ItemUsers &users, const ItemName &item, qint64 favoriteID) {
    const auto found = users.find(item);
    if (found == users.end())
        return false;
    return found->second.size() > 1 || !found->second.count(favoriteID);
}

SecretStatus FavoritesKeychain::keepItem(const Wish &wish, Entry &entry, const ItemUsers &users) {
    if (wish.password.isEmpty() || wish.service.isNull() || wish.account.isNull())
        return SecretStatus::done();
    const KeychainItemMemory wanted{wish.service, wish.account, wish.password};
    if (!entry.item) {
        // Nothing known yet, but an item may be there from an earlier run (the
        // connection reads it without telling us): that item is the one to change,
        // or a password the user typed anew would never replace it.
        SecretStatus status;
        const QString stored = KeychainGetPassword(wish.service, wish.account, &status);
        if (status.isFailed())
            return status;
        if (status.isAbsent()) {
            status = KeychainAddPassword(wish.service, wish.account, wish.password);
            if (status.isDone())
                entry.item = wanted;
            return status;
        }
        entry.item = KeychainItemMemory{wish.service, wish.account, stored};
    }
    if (*entry.item == wanted)
        return SecretStatus::done();
    const bool moves = entry.item->service != wish.service || entry.item->account != wish.account;
    SecretStatus status;
    if (moves && namedByOthers(users, {entry.item->service, entry.item->account}, wish.favoriteID)) {
        // The old item stays for the favorites that still use it.
        status = KeychainAddPassword(wish.service, wish.account, wish.password);
    } else {
        status =
            KeychainModifyPassword(entry.item->service, entry.item->account, wish.service, wish.account, wish.password);
        // Deleted behind our back: the password is still here to store.
        if (status.isAbsent())
            status = KeychainAddPassword(wish.service, wish.account, wish.password);
    }
    if (status.isDone())
        entry.item = wanted;
    return status;
}

void FavoritesKeychain::dropItem(const Wish &wish, Entry &entry, const ItemUsers &users) {
    if (entry.item) {
        // Another favorite still uses it: it stays, remembered, so that it goes
        // once nobody names it any more.
        if (namedByOthers(users, {entry.item->service, entry.item->account}, wish.favoriteID))
            return;
        if (!KeychainDeletePassword(entry.item->service, entry.item->account).isFailed())
            entry.item.reset();
        return;
    }
    // Nothing known: an item left from an earlier run may still be there. It is
    // deleted without being read into the favorite, so that switching "save
    // password" off stays off.
    if (wish.service.isNull() || wish.account.isNull())
        return;
    const std::pair<QString, QString> pair{wish.service, wish.account};
    if (entry.checkedAbsent == pair || namedByOthers(users, pair, wish.favoriteID))
        return;
    if (!KeychainDeletePassword(wish.service, wish.account).isFailed())
        entry.checkedAbsent = pair;
}

std::vector<FavoritesKeychain::ReadResult> FavoritesKeychain::peek(const std::vector<Read> &reads) const {
    std::vector<ReadResult> results;
    if (m_readingStopped)
        return results;
    for (const Read &r : reads) {
        ReadResult result{r.ssh, {}, {r.service, r.account, {}}};
        result.item.password = KeychainGetPassword(r.service, r.account, &result.status);
        results.push_back(result);
    }
    return results;
}

std::vector<FavoritesKeychain::ReadResult> FavoritesKeychain::read(qint64 favoriteID, const std::vector<Read> &reads) {
    std::vector<ReadResult> results;
    if (m_readingStopped)
        return results;
    for (const Read &r : reads) {
        ReadResult result{r.ssh, {}, {r.service, r.account, {}}};
        result.item.password = KeychainGetPassword(r.service, r.account, &result.status);
        if (result.status.isDone())
            m_ledger[{favoriteID, r.ssh}].item = result.item;
        results.push_back(result);
    }
    return results;
}
