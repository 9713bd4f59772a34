#pragma once

#include "platform/SecretStore.h"

#include <QString>
#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <vector>

// A secret-store item as the program last read or wrote it for a favorite.
struct KeychainItemMemory {
    QString service;
    QString account;
    QString password;
    bool operator==(const KeychainItemMemory &) const = default;
};

// The secret-store side of the favorites: for every favorite's database and SSH
// items, what the program last read or wrote, and the pass that brings the items
// in line with the favorites before each save. It lives on the store's keychain
// queue, so passes and reads run one at a time in the order they were asked for;
// the main thread learns the outcome from what each call returns.
class FavoritesKeychain {
public:
    // One item of one favorite, as a save sees it.
    struct Wish {
        qint64 favoriteID = 0;
        bool ssh = false;
        bool keep = false;        // the favorite stays and its "save" flag is on
        QString password;         // in memory; null when never loaded or typed
        QString service, account; // where the item belongs now
    };
    using ItemName = std::pair<QString, QString>; // service, account
    // Every item that a favorite staying in the store names, by its saved values
    // or by the ones not saved yet, with the favorites that name it.
    using ItemUsers = std::map<ItemName, std::set<qint64>>;
    struct Memory {
        qint64 favoriteID = 0;
        bool ssh = false;
        std::optional<KeychainItemMemory> item;
        // Why the keyring did not keep a password the favorite asked it to
        // keep (no keyring, a prompt dismissed, a locked keyring); empty when it
        // did, or when nothing was to be kept.
        QString refusal;
    };
    struct Read {
        bool ssh = false;
        QString service, account;
    };
    struct ReadResult {
        bool ssh = false;
        SecretStatus status;
        KeychainItemMemory item;
    };

    // keychain queue. Items are added, moved, changed or deleted as the wishes
    // ask; a call that fails changes nothing that is remembered. An item that
    // another favorite names (users) is never deleted nor moved away from it.
    // Answers what is remembered afterwards for every wish, and why a password
    // to keep was not kept.
    std::vector<Memory> runPass(const std::vector<Wish> &wishes, const ItemUsers &users);
    // keychain queue. Reads the items; those found are remembered.
    std::vector<ReadResult> read(qint64 favoriteID, const std::vector<Read> &reads);
    // keychain queue. Reads the items and remembers nothing: for a copy of the
    // passwords that must change nothing here.
    std::vector<ReadResult> peek(const std::vector<Read> &reads) const;

    // any thread: reads queued from now on do nothing (the store is closing).
    void stopReading() { m_readingStopped = true; }

private:
    struct Entry {
        std::optional<KeychainItemMemory> item;
        // The pair last found without an item while the favorite keeps none: not
        // asked again on every save.
        std::optional<std::pair<QString, QString>> checkedAbsent;
    };
    // The keyring's answer to the last change asked of it: Failed when the
    // password is not kept.
    SecretStatus keepItem(const Wish &wish, Entry &entry, const ItemUsers &users);
    void dropItem(const Wish &wish, Entry &entry, const ItemUsers &users);
    static bool namedByOthers(const ItemUsers &users, const ItemName &item, qint64 favoriteID);

    std::map<std::pair<qint64, bool>, Entry> m_ledger;
    std::atomic<bool> m_readingStopped{false};
};
