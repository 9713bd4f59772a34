#include "Keychain.h"

#include "platform/Log.h"
#include "platform/SecretStore.h"

#include <mutex>

namespace {

// The functions are called from connection queues and workers alike;
// one at a time keeps a look-up and the change that depends on it together.
std::mutex keychainMutex;

QString itemLabel(const QString &service, const QString &account) {
    return QStringLiteral("%1 (%2)").arg(service, account);
}

bool missing(const QString &service, const QString &account) {
    return service.isNull() || account.isNull();
}

void logAddFailure(const SecretStatus &status, const QString &service, const QString &account) {
    Log(QStringLiteral("Error (%1) while trying to add password for name: %2 account: %3")
            .arg(QString::number(status.code), service, account));
}

// A store that failed is not a store without the item; the callers cannot tell
// them apart, so the log must.
void logReadFailure(const SecretStatus &status, const QString &service, const QString &account) {
    if (status.isFailed())
        Log(QStringLiteral("Error (%1) while trying to read password for name: %2 account: %3 (%4)")
                .arg(QString::number(status.code), service, account, status.message));
}

} // namespace

namespace {
SecretStatus noItem() {
    return SecretStatus::absent();
}
SecretStatus nothingToStore() {
    return SecretStatus::failed(SecretStore::BadArgument, QStringLiteral("no service or account"));
}
void report(SecretStatus *out, const SecretStatus &status) {
    if (out)
        *out = status;
}
} // namespace

bool KeychainHasPassword(const QString &service, const QString &account, SecretStatus *out) {
    if (missing(service, account)) {
        report(out, noItem());
        return false;
    }
    std::lock_guard lock(keychainMutex);
    SecretStatus status = SecretStore::shared()->find(service, account);
    logReadFailure(status, service, account);
    report(out, status);
    return status.isDone();
}

QString KeychainGetPassword(const QString &service, const QString &account, SecretStatus *out) {
    if (missing(service, account)) {
        report(out, noItem());
        return QString();
    }
    std::lock_guard lock(keychainMutex);
    QString password;
    SecretStatus status = SecretStore::shared()->read(service, account, &password);
    logReadFailure(status, service, account);
    report(out, status);
    if (status.isFailed())
        return QString();
    if (status.isAbsent() || password.isNull())
        return QStringLiteral("");
    return password;
}

SecretStatus KeychainAddPassword(const QString &service, const QString &account, const QString &password) {
    if (missing(service, account))
        return nothingToStore();
    std::lock_guard lock(keychainMutex);
    auto store = SecretStore::shared();
    SecretStatus found = store->find(service, account);
    if (found.isDone())
        return found;
    // Adding after a failed look-up could replace a password we could not see.
    SecretStatus added = found.isFailed() ? found : store->add(service, account, itemLabel(service, account), password);
    if (added.isFailed())
        logAddFailure(added, service, account);
    return added;
}

SecretStatus KeychainDeletePassword(const QString &service, const QString &account) {
    if (missing(service, account))
        return noItem();
    std::lock_guard lock(keychainMutex);
    SecretStatus status = SecretStore::shared()->deleteItem(service, account);
    if (status.isFailed())
        Log(QStringLiteral("Error (%1) while trying to delete password for name: %2 account: %3")
                .arg(QString::number(status.code), service, account));
    return status;
}

SecretStatus KeychainModifyPassword(const QString &service, const QString &account, const QString &newService,
                                    const QString &newAccount, const QString &newPassword) {
    if (missing(service, account))
        return noItem();
    // The label always names the pair the item ends up under, also when only
    // one of the two changes.
    const bool moves = !newService.isNull() || !newAccount.isNull();
    const QString toService = newService.isNull() ? service : newService;
    const QString toAccount = newAccount.isNull() ? account : newAccount;
    const QString label = moves ? itemLabel(toService, toAccount) : QString();
    std::lock_guard lock(keychainMutex);
    SecretStatus status = SecretStore::shared()->modify(service, account, newService, newAccount, label, newPassword);
    if (status.isAbsent())
        Log(QStringLiteral("Keychain error: Tried to modify non-existing password for name: %1, account: %2")
                .arg(service, account));
    else if (status.isFailed())
        Log(QStringLiteral("Keychain Error (%1) while trying to modify password for name: %2 account: %3")
                .arg(QString::number(status.code), service, account));
    return status;
}

SecretStatus KeychainSetPassword(const QString &service, const QString &account, const QString &password) {
    if (missing(service, account))
        return nothingToStore();
    std::lock_guard lock(keychainMutex);
    auto store = SecretStore::shared();
    QString stored;
    SecretStatus read = store->read(service, account, &stored);
    if (read.isDone() && stored == password)
        return read;
    // Storing replaces an item of the same pair in one step, so a failure
    // leaves the old password rather than none.
    SecretStatus added = store->add(service, account, itemLabel(service, account), password);
    if (added.isFailed())
        logAddFailure(added, service, account);
    return added;
}
