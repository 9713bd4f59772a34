#include "ZNTByteaValue.h"

#include "engine/KesError.h"
#include "engine/SizeFormatting.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <magic.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZNTByteaValue {

namespace {
const QString kUnknownType = QStringLiteral("application/octet-stream");
// libmagic's answers come from the beginning of the data.
constexpr qsizetype kBytesExamined = 1024 * 1024;

// One libmagic handle for the process; a handle is not for two threads at once.
class Magic {
public:
    static Magic &shared() {
        static Magic magic;
        return magic;
    }
    QString mimeType(const QByteArray &data) {
        std::lock_guard lock(m_mutex);
        if (!m_cookie)
            return kUnknownType;
        const char *type = magic_buffer(m_cookie, data.constData(), size_t(std::min(data.size(), kBytesExamined)));
        return type ? QString::fromUtf8(type) : kUnknownType;
    }

private:
    Magic() : m_cookie(magic_open(MAGIC_MIME_TYPE)) {
        if (m_cookie && magic_load(m_cookie, nullptr) != 0) {
            magic_close(m_cookie);
            m_cookie = nullptr;
        }
    }
    ~Magic() {
        if (m_cookie)
            magic_close(m_cookie);
    }
    std::mutex m_mutex;
    magic_t m_cookie;
};
} // namespace

FileType fileTypeOfData(const QByteArray &data) {
    FileType type;
    type.mimeType = Magic::shared().mimeType(data);
    type.extension = extensionForMimeType(type.mimeType);
    return type;
}

QString extensionForMimeType(const QString &mimeType) {
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    QString extension = type.isValid() ? type.preferredSuffix() : QString();
    if (extension.isEmpty() && mimeType.contains(QLatin1String("x-ms-bmp"), Qt::CaseInsensitive))
        extension = QStringLiteral("bmp");
    return extension;
}

QStringList iconNamesForMimeType(const QString &mimeType) {
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    if (!type.isValid())
        return {QStringLiteral("application-octet-stream")};
    return {type.iconName(), type.genericIconName()};
}

QString titleForFileType(const FileType &type) {
    if (type.extension.isEmpty())
        return QStringLiteral("unknown data type");
    return QStringLiteral("%1 file").arg(type.extension.toUpper());
}

QString proposedFileName(const FileType &type) {
    QString kind = type.mimeType.section(u'/', 0, 0);
    if (kind.isEmpty() || kind == QLatin1String("application"))
        kind = QStringLiteral("document");
    return type.extension.isEmpty() ? kind : kind + u'.' + type.extension;
}

Display displayOf(const Value &value) {
    Display display;
    switch (value.kind()) {
    case Value::Kind::Null:
        display.title = QStringLiteral("NULL");
        display.isNull = true;
        break;
    case Value::Kind::Default:
        display.title = QStringLiteral("DEFAULT");
        display.isNull = true;
        break;
    case Value::Kind::Multiple:
        display.title = QStringLiteral("MULTIPLE");
        display.isNull = true;
        break;
    case Value::Kind::Bytes:
        display.isData = true;
        display.type = fileTypeOfData(value.toBytes());
        display.title = titleForFileType(display.type);
        display.size = stringFromSize(value.toBytes().size());
        break;
    default:
        display.title = value.description();
        break;
    }
    return display;
}

qreal preferredHeight(const QSizeF &imageSize, qreal viewWidth) {
    const qreal w = imageSize.width(), h = imageSize.height();
    if (w <= 0 || h <= 0)
        return kHeightWithoutPreview;
    const qreal scale = std::min<qreal>(1, viewWidth / w);
    const qreal shown = std::round(h * scale);
    return shown > 0 ? kHeightWithoutPreview + shown : kHeightWithoutPreview;
}

ErrorPtr tooLargeError(const QString &path, qint64 size, qint64 limit) {
    if (size <= limit)
        return nullptr;
    return KesError::errorWithCode(1, QStringLiteral("The file “%1” is too large.").arg(QFileInfo(path).fileName()),
                                   QStringLiteral("It holds %1; a value loaded from a file can hold at most %2.")
                                       .arg(stringFromSize(size), stringFromSize(limit)));
}

namespace {
// Closes the file when the read ends, however it ends.
struct FileDescriptor {
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int fd;
};

// How often a wait for data looks whether the load was cancelled.
constexpr int kCancelCheckMs = 100;

// Waits until fd has data, or its writer has gone; false when cancelled first.
bool waitForData(int fd, const std::atomic<bool> *cancelled) {
    for (;;) {
        if (cancelled && cancelled->load())
            return false;
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, kCancelCheckMs);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true; // the read that follows tells what there is
    }
}
} // namespace

bool readFile(const QString &path, QByteArray *data, ErrorPtr *error, qint64 limit,
              const std::atomic<bool> *cancelled) {
    const QString name = QFileInfo(path).fileName();
    const auto unreadable = [&](int code) {
        return failWith(error, KesError::errorWithCode(1, QStringLiteral("The file “%1” could not be read.").arg(name),
                                                       qt_error_string(code)));
    };
    // Opening a pipe blocks until a writer comes, which may be never: the
    // file is opened without waiting, and a pipe or device is waited for
    // below, where a cancel is seen.
    const FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status = {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0)
        return unreadable(errno);
    const bool waits = S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode);
    if (!waits && ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK) != 0)
        return unreadable(errno);
    const qint64 size = S_ISREG(status.st_mode) ? qint64(status.st_size) : 0;
    if (ErrorPtr tooLarge = tooLargeError(path, size, limit))
        return failWith(error, tooLarge);
    // The size is only where to begin: read until the file ends, and at most
    // one byte past the limit, which tells that the file holds more.
    constexpr qint64 kChunk = 1024 * 1024;
    QByteArray bytes;
    bytes.reserve(qsizetype(std::min(size, limit) + 1));
    while (bytes.size() <= limit) {
        if ((waits && !waitForData(file.fd, cancelled)) || (cancelled && cancelled->load()))
            return failWith(
                error, KesError::errorWithCode(1, QStringLiteral("Loading the file “%1” was cancelled.").arg(name)));
        const qsizetype at = bytes.size();
        const qint64 wanted = std::min<qint64>(kChunk, limit + 1 - at);
        bytes.resize(at + qsizetype(wanted));
        const ssize_t got = ::read(file.fd, bytes.data() + at, size_t(wanted));
        const int code = errno;
        bytes.resize(at + qsizetype(std::max<ssize_t>(got, 0)));
        if (got < 0 && (code == EINTR || code == EAGAIN))
            continue;
        if (got < 0)
            return unreadable(code);
        if (got == 0)
            break;
    }
    if (bytes.size() > limit)
        return failWith(error,
                        KesError::errorWithCode(
                            1, QStringLiteral("The file “%1” is too large.").arg(name),
                            QStringLiteral("It holds more than %1; a value loaded from a file can hold at most %1.")
                                .arg(stringFromSize(limit))));
    *data = std::move(bytes);
    return true;
}

bool writeFile(const QString &path, const QByteArray &data, ErrorPtr *error) {
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
    if (!written)
        return failWith(error,
                        KesError::errorWithCode(
                            1, QStringLiteral("The file “%1” could not be saved.").arg(QFileInfo(path).fileName()),
                            file.errorString()));
    return true;
}

} // namespace ZNTByteaValue
