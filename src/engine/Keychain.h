#pragma once

#include <QString>

// Generic passwords in the user's secret store, keyed by service and account and
// labelled "service (account)". A null service or account makes every function
// do nothing. Failures are logged, never reported.
bool KeychainHasPassword(const QString &service, const QString &account);
// The password; "" when there is none; a null string for a null service/account.
QString KeychainGetPassword(const QString &service, const QString &account);
// Adds an item; an existing one is left as it is.
void KeychainAddPassword(const QString &service, const QString &account, const QString &password);
void KeychainDeletePassword(const QString &service, const QString &account);
// Moves the item to newService/newAccount (each only when non-null), labels it
// after the pair it ends up under, and replaces its password unless newPassword
// is null. An absent item, or a pair already taken, is logged.
void KeychainModifyPassword(const QString &service, const QString &account, const QString &newService,
                            const QString &newAccount, const QString &newPassword);
// Makes the item hold password, replacing whatever was there.
void KeychainSetPassword(const QString &service, const QString &account, const QString &password);
