// The application shell: start-up, the single running instance, connection URLs
// and favorite files handed to the program, and quitting.
#pragma once

#include <QString>
#include <QVariantMap>

namespace DefaultSettings {
inline const QString TableViewRowsPerPage = QStringLiteral("TableViewRowsPerPage");
inline const QString AutomaticUpdateCheck = QStringLiteral("AutomaticUpdateCheck");
inline const QString DidLaunchBefore = QStringLiteral("DidLaunchBefore");
inline const QString FavoriteExportUseEncryption = QStringLiteral("FavoriteExportUseEncryption");
inline const QString FavoriteExportIncludePasswords = QStringLiteral("FavoriteExportIncludePasswords");
inline const QString FavoriteExportIncludeHistory = QStringLiteral("FavoriteExportIncludeHistory");
inline const QString ShowSidebar = QStringLiteral("ShowSidebar");
inline const QString ShowRightSidebar = QStringLiteral("ShowRightSidebar");
inline const QString TrustStandardCertificateAuthorities = QStringLiteral("TrustStandardCertificateAuthorities");

// The nine defaults every part of the program reads when the user has set nothing.
QVariantMap defaults();
} // namespace DefaultSettings

class UserDefaults;

// Registers the defaults in the standard user defaults (or in the given ones).
// Runs first at start-up, before anything reads a setting.
void RegisterDefaultSettings();
void RegisterDefaultSettings(UserDefaults &defaults);

// True in the first process after installation: the first call reads
// "DidLaunchBefore" and, when it is not set, stores it; the answer then holds for
// the rest of the process. main thread
bool isFirstLaunch();
bool isFirstLaunch(UserDefaults &defaults);
