#include "Posix.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Posix {

QString errnoText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

bool writeAll(int fd, const QByteArray &bytes) {
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace Posix
