// Compressed history texts: an entry of a favorite's query history as the store
// keeps it, and the whole history inside a favorite file. Both are a zlib stream
// beside the length it declares, from a file a user may have been sent. The
// first eight bytes are the declared length (signed, little-endian), the rest
// the stream.
#include "FuzzSupport.h"
#include "platform/Compression.h"

#include <QStringDecoder>
#include <cstring>
#include <zlib.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8)
        return 0;
    qint64 declared = 0;
    for (int i = 7; i >= 0; --i)
        declared = qint64(quint64(declared) << 8 | data[i]);
    const QByteArray stream = Fuzz::bytes(data + 8, size - 8);
    std::optional<int> status;
    const auto bytes = Compression::uncompressDeclared(stream, declared, &status);
    if (!bytes) {
        FUZZ_CHECK(!status || *status != Z_OK); // a failure always says which
        return 0;
    }
    FUZZ_CHECK(!status);
    FUZZ_CHECK(bytes->size() <= declared);
    // What a history entry shows: the bytes as UTF-8, "" when they are not.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(*bytes);
    FUZZ_CHECK(decoder.hasError() || text.toUtf8() == *bytes);
    return 0;
}
