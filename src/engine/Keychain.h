#pragma once

#include "platform/SecretStore.h"

#include <QString>

// Generic passwords in the user's secret store, keyed by service and account and
// labelled "service (account)". Any thread; keep them off the GUI thread, where a
// locked keyring would hold a call for many seconds.
//
// Every function tells how the call ended (a SecretStatus, see SecretStore.h):
//   Done    the item was found, read, stored, changed or deleted;
//   Absent  the store answered that there is no such item;
//   Failed  the store could not be asked or did not answer (no Secret Service,
//           a locked keyring, a time-out, a refused change): whether the item
//           exists is unknown, and nothing was read, stored or deleted.
// A caller that keeps its own copy of what is stored must not drop or replace
// that copy on Failed. A null service or account names no item: look-ups,
// changes and deletes answer Absent, add and set answer Failed. Failures are also
// logged, once per call.

// True when an item exists; false when none does, and false on a failure.
bool KeychainHasPassword(const QString &service, const QString &account, SecretStatus *status = nullptr);
// The password when one is stored; "" when there is no item; a null string when
// nothing could be read (a failure, or a null service or account).
QString KeychainGetPassword(const QString &service, const QString &account, SecretStatus *status = nullptr);
// Adds an item; an existing one is left as it is (and answers Done).
SecretStatus KeychainAddPassword(const QString &service, const QString &account, const QString &password);
// Done only when an item was deleted.
SecretStatus KeychainDeletePassword(const QString &service, const QString &account);
// Moves the item to newService/newAccount (each only when non-null), labels it
// after the pair it ends up under, and replaces its password unless newPassword
// is null. Absent when there is no item; Failed, with the item left where it
// was, when the pair it would move to is taken.
SecretStatus KeychainModifyPassword(const QString &service, const QString &account, const QString &newService,
                                    const QString &newAccount, const QString &newPassword);
// Makes the item hold password, replacing whatever was there. Done or Failed.
SecretStatus KeychainSetPassword(const QString &service, const QString &account, const QString &password);
