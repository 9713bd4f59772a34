// Stored zlib streams and their declared lengths, with streams made by zlib's
// own compress() and by Python's zlib.
#include "platform/Compression.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

namespace {

QByteArray zlibCompressed(const QByteArray &bytes) {
    uLongf length = compressBound(uLong(bytes.size()));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    EXPECT_EQ(compress(reinterpret_cast<Bytef *>(out.data()), &length,
                       reinterpret_cast<const Bytef *>(bytes.constData()), uLong(bytes.size())),
              Z_OK);
    out.truncate(qsizetype(length));
    return out;
}

QByteArray randomBytes(qsizetype size) {
    std::mt19937 random(7);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random());
    return bytes;
}

struct Outcome {
    std::optional<QByteArray> bytes;
    std::optional<int> status;
};

Outcome inflate(const QByteArray &stream, qint64 declared) {
    Outcome outcome;
    outcome.bytes = Compression::uncompressDeclared(stream, declared, &outcome.status);
    return outcome;
}

} // namespace

TEST(Compression, AStreamGivesWhatItHoldsUpToItsDeclaredLength) {
    const QByteArray text = QByteArray("SELECT größe FROM artikel;\n").repeated(300);
    const QByteArray stream = QByteArray::fromBase64(runPython(
        "import base64, sys, zlib\nsys.stdout.write(base64.b64encode(zlib.compress(sys.argv[1].encode())).decode())",
        {QString::fromUtf8(text)}));
    EXPECT_EQ(inflate(stream, text.size()).bytes, text);
    EXPECT_EQ(inflate(stream, text.size() + 1).bytes, text) << "a longer claim gets what the stream holds";
    const Outcome shorter = inflate(stream, text.size() - 1);
    EXPECT_FALSE(shorter.bytes);
    EXPECT_EQ(shorter.status, Z_BUF_ERROR);
    EXPECT_EQ(inflate(zlibCompressed(QByteArray()), 0).bytes, QByteArray(""));
}

TEST(Compression, DamagedStreamsFailWithZlibsCode) {
    QByteArray stream = zlibCompressed(QByteArray(5000, 'x'));
    stream[stream.size() / 2] = char(stream[stream.size() / 2] ^ 0x55);
    const Outcome damaged = inflate(stream, 5000);
    EXPECT_FALSE(damaged.bytes);
    EXPECT_EQ(damaged.status, Z_DATA_ERROR);
    const Outcome notZlib = inflate("not a zlib stream at all", 5000);
    EXPECT_FALSE(notZlib.bytes);
    EXPECT_EQ(notZlib.status, Z_DATA_ERROR);
}

// A claim no stream of that size can meet is refused before zlib runs, so no
// buffer of the claimed size is ever made.
TEST(Compression, ImplausibleLengthsAreRefusedWithoutInflating) {
    const QByteArray zeros = zlibCompressed(QByteArray(1 << 20, '\0'));
    const qint64 ratioLimit = qint64(zeros.size()) * 1032;
    EXPECT_EQ(inflate(zeros, ratioLimit).bytes, QByteArray(1 << 20, '\0')) << "the limit itself is a claim to try";
    // Random bytes do not compress: a stream long enough that the ratio allows
    // more than the most any stream may declare.
    const QByteArray incompressible = zlibCompressed(randomBytes(300 * 1024));
    ASSERT_GT(qint64(incompressible.size()) * 1032, Compression::MaxDeclaredLength);
    EXPECT_EQ(inflate(incompressible, Compression::MaxDeclaredLength).bytes.value_or("").size(), 300 * 1024);
    for (const auto &[name, stream, declared] : {
             std::tuple{"negative", zeros, qint64(-1)},
             std::tuple{"beyondTheRatio", zeros, ratioLimit + 1},
             std::tuple{"beyondAnyHistory", incompressible, Compression::MaxDeclaredLength + 1},
             std::tuple{"absurd", zeros, qint64(1) << 60},
         }) {
        const Outcome refused = inflate(stream, declared);
        EXPECT_FALSE(refused.bytes) << name;
        EXPECT_FALSE(refused.status) << name << ": zlib never ran";
    }
}
