#include "DefaultSettings.h"

#include "platform/UserDefaults.h"

QVariantMap DefaultSettings::defaults() {
    return {
        {TableViewRowsPerPage, 1000},
        {AutomaticUpdateCheck, true},
        {DidLaunchBefore, false},
        {FavoriteExportUseEncryption, false},
        {FavoriteExportIncludePasswords, true},
        {FavoriteExportIncludeHistory, false},
        {ShowSidebar, false},
        {ShowRightSidebar, false},
        {TrustStandardCertificateAuthorities, true},
    };
}

void RegisterDefaultSettings() {
    RegisterDefaultSettings(UserDefaults::standard());
}

void RegisterDefaultSettings(UserDefaults &defaults) {
    defaults.registerDefaults(DefaultSettings::defaults());
}

bool isFirstLaunch() {
    return isFirstLaunch(UserDefaults::standard());
}

bool isFirstLaunch(UserDefaults &defaults) {
    enum class Launch { Unknown, NotFirst, First };
    static Launch answer = Launch::Unknown;
    if (answer == Launch::Unknown) {
        answer = defaults.boolForKey(DefaultSettings::DidLaunchBefore) ? Launch::NotFirst : Launch::First;
        if (answer == Launch::First)
            defaults.setObject(true, DefaultSettings::DidLaunchBefore);
    }
    return answer == Launch::First;
}
