#include "CommandLine.h"

#include "favorites/ZNTFavoriteURL.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

QStringList CommandLine::normalizedArguments(const QStringList &arguments, const QString &workingDirectory) {
    QStringList result;
    const QString base = QDir(workingDirectory).absolutePath();
    for (const QString &argument : arguments) {
        const QString scheme = FavoriteURL::schemeOf(argument);
        // Joined by hand: QDir takes a name that begins with ":" for one of Qt's
        // resources, and would leave it relative.
        const QString path = argument.startsWith(u'/') ? argument : base + u'/' + argument;
        if (FavoriteURL::hasConnectionScheme(argument)) {
            result << argument;
        } else if (scheme == QLatin1String("file")) {
            const QUrl url(argument);
            result << (url.isLocalFile() ? url.toLocalFile() : argument);
        } else if (scheme.isEmpty() || QFileInfo::exists(path)) {
            result << QDir::cleanPath(path);
        } else {
            result << argument;
        }
    }
    return result;
}

OpenRequest CommandLine::classify(const QStringList &arguments) {
    OpenRequest request;
    for (const QString &argument : arguments) {
        if (FavoriteURL::hasConnectionScheme(argument))
            request.urls << argument;
        else if (argument.startsWith(QLatin1Char('/')))
            request.files << argument;
        else
            request.malformed << argument;
    }
    return request;
}
