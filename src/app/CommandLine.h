#pragma once

#include <QString>
#include <QStringList>

// What a start of the program, the desktop or a later start asks to open.
struct OpenRequest {
    QStringList urls;      // connection URLs, as given
    QStringList files;     // absolute paths
    QStringList malformed; // texts with a scheme that is not a connection URL's (FavoriteURL::hasConnectionScheme)
    bool isEmpty() const { return urls.isEmpty() && files.isEmpty() && malformed.isEmpty(); }
};

namespace CommandLine {
// The arguments as another process can read them: file: URLs and relative paths
// become absolute paths (the running instance has another working directory);
// everything else stays as given.
QStringList normalizedArguments(const QStringList &arguments, const QString &workingDirectory);

// Sorts normalized arguments into URLs, files and texts that are neither.
OpenRequest classify(const QStringList &arguments);
} // namespace CommandLine
