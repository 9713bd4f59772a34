#include "FavoriteFileWriting.h"

#include "engine/KesError.h"
#include "platform/FileReplacement.h"
#include "platform/Posix.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FavoriteFileWriting {

namespace {

ErrorPtr fileError(const QString &description, int errorNumber) {
    return KesError::errorWithCode(errorNumber, description, Posix::errnoText(errorNumber));
}

using FileReplacement::moveIntoPlace;
using FileReplacement::sidePath;

} // namespace

QString fileBaseName(const QString &displayName) {
    QString base = displayName;
    return base.replace('/', '-');
}

QString freeFileName(const QString &folder, const QString &displayName) {
    const QString base = fileBaseName(displayName);
    const QDir dir(folder);
    QString name = QStringLiteral("%1.%2").arg(base, ZNTFavoriteFile::FileExtension);
    for (int n = 1; QFileInfo::exists(dir.filePath(name)) || QFileInfo(dir.filePath(name)).isSymLink(); ++n)
        name = QStringLiteral("%1 %2.%3").arg(base).arg(n).arg(ZNTFavoriteFile::FileExtension);
    return name;
}

bool writeNewFile(const QString &path, const QByteArray &data, ErrorPtr *error) {
    const QString name = QFileInfo(path).fileName();
    // O_EXCL also refuses a dangling symbolic link, so nothing is written through one.
    int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return failWith(error, fileError(QStringLiteral("“%1” could not be created.").arg(name), errno));
    if (!Posix::writeAll(fd, data)) {
        const int saved = errno;
        ::close(fd);
        ::unlink(QFile::encodeName(path).constData());
        return failWith(error, fileError(QStringLiteral("“%1” could not be written.").arg(name), saved));
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(QFile::encodeName(path).constData());
        return failWith(error, fileError(QStringLiteral("“%1” could not be written.").arg(name), saved));
    }
    return true;
}

Outcome exportFile(const Item &item, quint32 options, const std::optional<QString> &exportPassword,
                   const QString &location) {
    Outcome outcome;
    if (item.error) {
        outcome.lastError = item.error;
        return outcome;
    }
    auto data = ZNTFavoriteFile::dataWithOptions(item.contents, options, exportPassword, &outcome.lastError);
    if (!data)
        return outcome;
    const QString building = sidePath(location, "new");
    if (!writeNewFile(building, *data, &outcome.lastError))
        return outcome;
    if (!moveIntoPlace(building, location, &outcome.lastError)) {
        QFile::remove(building);
        return outcome;
    }
    outcome.written = 1;
    return outcome;
}

Outcome exportFolder(const QList<Item> &items, quint32 options, const std::optional<QString> &exportPassword,
                     const QString &location) {
    Outcome outcome;
    const QString building = sidePath(location, "new");
    if (::mkdir(QFile::encodeName(building).constData(), 0700) != 0) {
        outcome.lastError = fileError(
            QStringLiteral("The folder “%1” could not be created.").arg(QFileInfo(location).fileName()), errno);
        return outcome;
    }
    for (const Item &item : items) {
        ErrorPtr error = item.error;
        auto data =
            error ? std::nullopt : ZNTFavoriteFile::dataWithOptions(item.contents, options, exportPassword, &error);
        if (data && writeNewFile(QDir(building).filePath(freeFileName(building, item.displayName)), *data, &error))
            ++outcome.written;
        else
            outcome.lastError = error;
    }
    ErrorPtr placeError;
    if (outcome.written == 0 || !moveIntoPlace(building, location, &placeError)) {
        QDir(building).removeRecursively();
        if (placeError)
            outcome.lastError = placeError;
        outcome.written = 0;
    }
    return outcome;
}

} // namespace FavoriteFileWriting
