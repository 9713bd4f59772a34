#pragma once

#include "engine/Value.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <atomic>

// What the row editor's bytea cell tells of a binary value, without its
// widgets: the kind of file it holds (libmagic reads the bytes, the desktop's
// shared MIME database gives the file extension and icon name), its title and
// size, the name a saved copy is offered under, the row height its preview
// needs, and the file transfers, which run off the GUI thread.
namespace ZNTByteaValue {

// A larger file is refused before it is read: saving sends the value as hex
// text in one statement, and the server takes a statement only below 1 GB.
constexpr qint64 kMaxFileSize = 500LL * 1000 * 1000;
// The preview's height is added to this.
constexpr qreal kHeightWithoutPreview = 65;
// A cell whose preview has not been measured yet.
constexpr qreal kUnmeasuredHeight = 80;

struct FileType {
    QString mimeType;  // "image/png"; "application/octet-stream" when nothing fits
    QString extension; // "png"; empty when the type has none
};

// The type of the data; any thread.
FileType fileTypeOfData(const QByteArray &data);
// The file extension of a MIME type; "bmp" for a Windows bitmap under any of
// its names.
QString extensionForMimeType(const QString &mimeType);
// The theme icon names for the type, most specific first.
QStringList iconNamesForMimeType(const QString &mimeType);

// "PNG file", or "unknown data type" without an extension.
QString titleForFileType(const FileType &type);
// "image.png", "document.pdf" (the MIME type's kind, "application" read as
// "document"), the kind alone without an extension.
QString proposedFileName(const FileType &type);

// How a value shows: NULL, DEFAULT and MULTIPLE by name with no size and no
// data; data by its type and size; anything else (a query row's text) by its
// text.
struct Display {
    QString title;
    QString size;
    bool isNull = false; // NULL, DEFAULT or MULTIPLE: there are no bytes
    bool isData = false;
    FileType type;
};
Display displayOf(const Value &value);

// The row height for a preview of imageSize shown at most viewWidth wide
// (never enlarged): 65 plus the scaled height; 65 without a preview.
qreal preferredHeight(const QSizeF &imageSize, qreal viewWidth);

// The refusal of a file of size bytes; null when it is not too large.
ErrorPtr tooLargeError(const QString &path, qint64 size, qint64 limit = kMaxFileSize);
// The bytes of a file, read to its end whatever size it tells: files under
// /proc tell 0, a pipe has none, a file may grow while it is read. What was
// read is what is stored. Refused when it holds more than limit bytes (at
// once when its size tells so). A pipe or device is waited for as long as it
// takes (a pipe's writer may come late), but a set cancelled ends the read
// within a tenth of a second, as a failure. Any thread.
bool readFile(const QString &path, QByteArray *data, ErrorPtr *error, qint64 limit = kMaxFileSize,
              const std::atomic<bool> *cancelled = nullptr);
// Writes data beside path and then puts it in the place of path, so that a
// failure leaves any former file whole. Any thread.
bool writeFile(const QString &path, const QByteArray &data, ErrorPtr *error);

} // namespace ZNTByteaValue
