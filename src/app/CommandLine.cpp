#include "CommandLine.h"

#include "favorites/ZNTFavoriteURL.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

QStringList CommandLine::normalizedArguments(const QStringList &arguments, const QString &workingDirectory) {
    QStringList result;
    const QDir base(workingDirectory);
    for (const QString &argument : arguments) {
        const QString scheme = FavoriteURL::schemeOf(argument);
        if (FavoriteURL::hasConnectionScheme(argument)) {
            result << argument;
        } else if (scheme == QLatin1String("file")) {
            const QUrl url(argument);
            result << (url.isLocalFile() ? url.toLocalFile() : argument);
        } else if (scheme.isEmpty() || QFileInfo::exists(base.filePath(argument))) {
            result << QDir::cleanPath(base.absoluteFilePath(argument));
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
