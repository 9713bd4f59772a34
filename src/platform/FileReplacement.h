#pragma once

#include "Error.h"

#include <QString>

// Putting a finished file or folder in the place of what the user chose, so
// that the old one stays as it was until the new one is complete. Any thread.
namespace FileReplacement {

// A name beside path that nothing uses, hidden, for building the new item or
// setting the old one aside: on the same file system, so renames never copy.
QString sidePath(const QString &path, const QString &purpose);

// Puts the item at newPath in the place of whatever is at location. A file over
// a file (or over nothing) is one rename. Otherwise the old item is moved aside,
// the new one in (the old one put back when that fails), then the old one
// deleted. Errors are in the program's domain with the system's reason.
bool moveIntoPlace(const QString &newPath, const QString &location, ErrorPtr *error);

} // namespace FileReplacement
