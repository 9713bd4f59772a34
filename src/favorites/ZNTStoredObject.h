#pragma once

#include <QtGlobal>
#include <memory>

class ZNTFavoritesStore;
struct sqlite3;
class Error;
using ErrorPtr = std::shared_ptr<const Error>;

// An object of the favorites store: one row of one of its tables, identified by
// its id for its whole life. Changes stay in memory until the store saves them;
// a save that fails leaves them there for the next one. main thread.
class ZNTStoredObject : public std::enable_shared_from_this<ZNTStoredObject> {
public:
    enum class State { Saved, Inserted, Updated, Deleted, Gone };

    virtual ~ZNTStoredObject() = default;

    qint64 objectID() const { return m_id; }
    State storeState() const { return m_state; }
    // Deleted from the store, or about to be with the next save.
    bool isDeleted() const { return m_state == State::Deleted || m_state == State::Gone; }
    std::shared_ptr<ZNTFavoritesStore> store() const { return m_store.lock(); }
    // The favorite the object belongs to (a favorite: itself).
    virtual qint64 favoriteID() const = 0;

protected:
    ZNTStoredObject(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state)
        : m_store(std::move(store)), m_id(id), m_state(state) {}

    enum class SaveDelay { Favorite, ViewSetting };
    // Marks the object changed and has the store save it after the delay of its
    // kind.
    void didChange(SaveDelay delay);

private:
    friend class ZNTFavoritesStore;
    // Writes the pending change (insert, update or delete) inside the store's
    // transaction.
    virtual bool writeChange(sqlite3 *db, ErrorPtr *error) = 0;
    // After a successful save.
    virtual void didSave() {}

    std::weak_ptr<ZNTFavoritesStore> m_store;
    qint64 m_id;
    State m_state;
    bool m_pending = false;
};
