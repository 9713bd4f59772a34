#include "SystemInfo.h"

#include <pwd.h>
#include <unistd.h>

#ifndef TRELLAN_VERSION
#error "the build defines TRELLAN_VERSION"
#endif

QString SystemInfo::shortVersionString() {
    return QStringLiteral(TRELLAN_VERSION);
}

QString SystemInfo::loginName() {
    // The password database names the user even where $USER is unset or stale
    // (su, services, containers).
    if (const passwd *entry = getpwuid(getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}
