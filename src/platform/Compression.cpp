#include "Compression.h"

#include <zlib.h>

namespace Compression {

namespace {
constexpr qint64 kMaxCompressionRatio = 1032;
} // namespace

std::optional<QByteArray> uncompressDeclared(const QByteArray &stream, qint64 declaredLength,
                                             std::optional<int> *zlibStatus) {
    if (zlibStatus)
        zlibStatus->reset();
    if (declaredLength < 0 || declaredLength > MaxDeclaredLength ||
        declaredLength > qint64(stream.size()) * kMaxCompressionRatio)
        return std::nullopt;
    // One byte at least, so that zlib always has a buffer to write to.
    QByteArray bytes(qsizetype(qMax<qint64>(declaredLength, 1)), Qt::Uninitialized);
    uLongf produced = uLongf(declaredLength);
    const int status = uncompress(reinterpret_cast<Bytef *>(bytes.data()), &produced,
                                  reinterpret_cast<const Bytef *>(stream.constData()), uLong(stream.size()));
    if (status != Z_OK) {
        if (zlibStatus)
            *zlibStatus = status;
        return std::nullopt;
    }
    bytes.truncate(qsizetype(produced));
    return bytes;
}

} // namespace Compression
