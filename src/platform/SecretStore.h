#pragma once

#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

// The answer of one call to a secret store:
//   Done    the call did what it was asked (found, read, stored, changed, deleted);
//   Absent  the store answered that no item holds the pair;
//   Failed  the store gave no answer about the item: no Secret Service, a keyring
//           that stayed locked, a call that ran out of time, a refused change.
//           The item may or may not exist; nothing was read or changed.
// A failure is never an absence: a caller that treats Failed as "no password"
// would forget, overwrite or report as deleted an item that is still there.
// Failed carries a status number for the log: the GError code from libsecret,
// or one of SecretStore's own codes.
struct SecretStatus {
    enum Kind { Done, Absent, Failed };
    Kind kind = Done;
    int code = 0;
    QString message;

    static SecretStatus done() { return {}; }
    static SecretStatus absent() { return {Absent, 0, {}}; }
    static SecretStatus failed(int code, QString message) { return {Failed, code, std::move(message)}; }
    bool isDone() const { return kind == Done; }
    bool isAbsent() const { return kind == Absent; }
    bool isFailed() const { return kind == Failed; }
};

// Generic passwords keyed by the pair (service, account), each with a label.
// Any thread; calls are bounded in time. Every call answers Failed, never Absent,
// when the store cannot be reached (Unavailable), stays locked (Locked) or does
// not answer in time. A null service or account names no item: look-ups, changes
// and deletes answer Absent, add answers Failed (BadArgument).
class SecretStore {
public:
    enum Code : int {
        Unavailable = -1,   // no secret service answered
        DuplicateItem = -2, // the pair an item would move to is taken
        BadArgument = -3,   // a null service or account
        Locked = -4,        // the keyring stayed locked
    };

    virtual ~SecretStore() = default;

    // Done when an item for the pair exists, Absent when none does.
    virtual SecretStatus find(const QString &service, const QString &account) = 0;
    // Done with *password (and *label when given) filled in; both are left
    // untouched when the answer is Absent or Failed.
    virtual SecretStatus read(const QString &service, const QString &account, QString *password,
                              QString *label = nullptr) = 0;
    // Stores an item, replacing one that holds the same pair. Done or Failed.
    virtual SecretStatus add(const QString &service, const QString &account, const QString &label,
                             const QString &password) = 0;
    // Changes the item of (service, account): a non-null newService/newAccount
    // moves it, a non-null label relabels it, a non-null password replaces the
    // password. Absent when there is no such item; Failed (DuplicateItem among
    // others) leaves the item where it was.
    virtual SecretStatus modify(const QString &service, const QString &account, const QString &newService,
                                const QString &newAccount, const QString &newLabel, const QString &newPassword) = 0;
    // Done only when an item was deleted; Absent when there was nothing to
    // delete; Failed when it is unknown whether an item is still there.
    virtual SecretStatus deleteItem(const QString &service, const QString &account) = 0;

    // The store the program uses: the Secret Service unless a test set another.
    static std::shared_ptr<SecretStore> shared();
    static void setShared(std::shared_ptr<SecretStore> store);
};

// The Secret Service of the desktop session (D-Bus), through libsecret, under
// the schema "norvane.Trellan.Password". Before each call it asks the session
// bus whether the service is there, so that a missing or stuck service costs a
// short, bounded wait and one log line instead of a hang.
class SecretDeadline;

class LibsecretStore : public SecretStore {
public:
    static inline const char *const SchemaName = "norvane.Trellan.Password";

    explicit LibsecretStore(std::chrono::milliseconds probeTimeout = std::chrono::milliseconds(1500),
                            std::chrono::milliseconds callTimeout = std::chrono::seconds(25));

    SecretStatus find(const QString &service, const QString &account) override;
    SecretStatus read(const QString &service, const QString &account, QString *password,
                      QString *label = nullptr) override;
    SecretStatus add(const QString &service, const QString &account, const QString &label,
                     const QString &password) override;
    SecretStatus modify(const QString &service, const QString &account, const QString &newService,
                        const QString &newAccount, const QString &newLabel, const QString &newPassword) override;
    SecretStatus deleteItem(const QString &service, const QString &account) override;

private:
    bool serviceReachable();
    template <class Body>
    SecretStatus withService(const QString &service, const QString &account, SecretStatus noName, Body body);
    SecretStatus modifyLocked(const QString &service, const QString &account, const QString &newService,
                              const QString &newAccount, const QString &newLabel, const QString &newPassword,
                              SecretDeadline &deadline);

    // libsecret's blocking calls each run a private main loop; one at a time
    // keeps them from interleaving on the shared D-Bus connection's proxies.
    std::mutex m_mutex;
    std::chrono::milliseconds m_probeTimeout;
    std::chrono::milliseconds m_callTimeout;
    bool m_reportedUnavailable = false;
    // A bus that did not answer the probe is not asked again for a while: each
    // ask would cost the caller the whole probe timeout.
    std::chrono::steady_clock::time_point m_quietUntil{};
};

// A store in memory, for tests.
class MemorySecretStore : public SecretStore {
public:
    struct Item {
        QString label;
        QString password;
    };

    SecretStatus find(const QString &service, const QString &account) override;
    SecretStatus read(const QString &service, const QString &account, QString *password,
                      QString *label = nullptr) override;
    SecretStatus add(const QString &service, const QString &account, const QString &label,
                     const QString &password) override;
    SecretStatus modify(const QString &service, const QString &account, const QString &newService,
                        const QString &newAccount, const QString &newLabel, const QString &newPassword) override;
    SecretStatus deleteItem(const QString &service, const QString &account) override;

    std::map<std::pair<QString, QString>, Item> items() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::pair<QString, QString>, Item> m_items;
};
