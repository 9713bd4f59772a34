#include "FileReplacement.h"

#include "Posix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cstdio>

namespace FileReplacement {

namespace {
ErrorPtr fileError(const QString &description, int errorNumber) {
    return Error::make(
        kBundleIdentifier, errorNumber,
        {{Error::DescriptionKey, description}, {Error::FailureReasonKey, Posix::errnoText(errorNumber)}});
}

bool renamePath(const QString &from, const QString &to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}
} // namespace

QString sidePath(const QString &path, const QString &purpose) {
    const QFileInfo info(path);
    return info.absoluteDir().filePath(
        QStringLiteral(".%1.%2-%3").arg(info.fileName(), purpose, QUuid::createUuid().toString(QUuid::Id128)));
}

bool moveIntoPlace(const QString &newPath, const QString &location, ErrorPtr *error) {
    const QFileInfo existing(location);
    const bool replaceInOneStep = !existing.exists() || (!existing.isDir() && !QFileInfo(newPath).isDir());
    if (replaceInOneStep) {
        if (!renamePath(newPath, location))
            return failWith(error,
                            fileError(QStringLiteral("“%1” could not be saved.").arg(existing.fileName()), errno));
        return true;
    }
    const QString aside = sidePath(location, "old");
    if (!renamePath(location, aside))
        return failWith(error,
                        fileError(QStringLiteral("“%1” could not be replaced.").arg(existing.fileName()), errno));
    if (!renamePath(newPath, location)) {
        const int saved = errno;
        renamePath(aside, location); // put the old one back
        return failWith(error, fileError(QStringLiteral("“%1” could not be saved.").arg(existing.fileName()), saved));
    }
    if (QFileInfo(aside).isDir())
        QDir(aside).removeRecursively();
    else
        QFile::remove(aside);
    return true;
}

} // namespace FileReplacement
