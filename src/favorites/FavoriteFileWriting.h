#pragma once

#include "ZNTFavoriteFile.h"

#include <QList>
#include <QString>

// Writing favorite files to disk: the naming rule, owner-only files that never
// overwrite, and exports that replace what is at the chosen place only once the
// new data exists. Any thread.
namespace FavoriteFileWriting {

// The display name as a file name: a "/", which no file name may hold, becomes "-".
QString fileBaseName(const QString &displayName);

// "name.tqbfav", else "name 1.tqbfav", "name 2.tqbfav", ... whichever is free in
// folder.
QString freeFileName(const QString &folder, const QString &displayName);

// Creates path with mode 0600 and writes data; refuses when path exists.
bool writeNewFile(const QString &path, const QByteArray &data, ErrorPtr *error);

// One favorite of an export: its name and contents, or the error that kept its
// contents from being gathered (a password that could not be read).
struct Item {
    QString displayName;
    ZNTFavoriteFile::Contents contents;
    ErrorPtr error;
};

struct Outcome {
    int written = 0;
    ErrorPtr lastError; // of the last favorite that could not be written, or of the whole export
};

// One favorite as a file at location, written beside it and renamed over it.
Outcome exportFile(const Item &item, quint32 options, const std::optional<QString> &exportPassword,
                   const QString &location);
// Several favorites as files in a new folder at location, built beside it and
// moved in. A favorite that fails is left out and its error kept; when none could
// be written, what is at location stays as it was.
Outcome exportFolder(const QList<Item> &items, quint32 options, const std::optional<QString> &exportPassword,
                     const QString &location);

} // namespace FavoriteFileWriting
