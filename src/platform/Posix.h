#pragma once

#include <QByteArray>
#include <QString>

// What the program needs around plain system calls. Any thread.
namespace Posix {
// The system's text for an errno value, in the user's language.
QString errnoText(int errorNumber);
// Writes all of bytes to fd, again after an interrupted call; false with errno
// set otherwise (EIO for a write that took nothing).
bool writeAll(int fd, const QByteArray &bytes);
} // namespace Posix
