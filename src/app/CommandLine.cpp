#include "CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace {

// "scheme:" at the start, as RFC 3986 spells a scheme.
QString schemeOf(const QString &text) {
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const auto match = scheme.match(text);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

} // namespace

bool CommandLine::hasConnectionScheme(const QString &text) {
    static const QStringList schemes = {QStringLiteral("postgres"), QStringLiteral("postgresql"),
                                        QStringLiteral("postgresql+ssh"), QStringLiteral("ssh+postgres"),
                                        QStringLiteral("ssh+postgresql")};
    return schemes.contains(schemeOf(text));
}

QStringList CommandLine::normalizedArguments(const QStringList &arguments, const QString &workingDirectory) {
    QStringList result;
    const QDir base(workingDirectory);
    for (const QString &argument : arguments) {
        const QString scheme = schemeOf(argument);
        if (hasConnectionScheme(argument)) {
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
        if (hasConnectionScheme(argument))
            request.urls << argument;
        else if (argument.startsWith(QLatin1Char('/')))
            request.files << argument;
        else
            request.malformed << argument;
    }
    return request;
}
