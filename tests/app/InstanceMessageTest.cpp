#include "app/InstanceMessage.h"

#include <QtEndian>
#include <gtest/gtest.h>

using namespace InstanceMessage;

namespace {

QByteArray header(quint32 length, const char *magic = "TRL2") {
    QByteArray bytes(magic, 4);
    char size[4];
    qToBigEndian(length, size);
    return bytes + QByteArray(size, 4);
}

QByteArray argument(const QByteArray &utf8, quint32 declared) {
    char size[4];
    qToBigEndian(declared, size);
    return QByteArray(size, 4) + utf8;
}

} // namespace

TEST(InstanceMessage, ArgumentsSurviveTheFrameAndEveryBeginningOfItWaitsForMore) {
    const std::vector<QStringList> lists = {
        {},
        {""},
        {"postgresql://u:p%40ss@h/db", "/tmp/Prod.tqbfav"},
        {QString::fromUtf8("/home/ü/😀 Läger.tqbfav"), "", "x"},
        {QChar(0xfeff) + QString("/tmp/begins with a byte-order mark.tqbfav")},
    };
    for (const QStringList &arguments : lists) {
        const QByteArray frame = encode(arguments);
        ASSERT_FALSE(frame.isEmpty());
        const Decoded decoded = decode(frame);
        EXPECT_EQ(decoded.status, Status::Complete);
        EXPECT_EQ(decoded.arguments, arguments);
        for (qsizetype n = 0; n < frame.size(); ++n)
            ASSERT_EQ(decode(frame.left(n)).status, Status::Incomplete) << n;
    }
}

TEST(InstanceMessage, AFrameIsAtMost64KB) {
    const QString big(kMaxSize - 8 - 4, 'a');
    EXPECT_EQ(decode(encode({big})).arguments, QStringList{big});
    EXPECT_TRUE(encode({big + "a"}).isEmpty());
    EXPECT_TRUE(encode({QString(40000, 'a'), QString(40000, 'b')}).isEmpty());
    // A header that announces more is refused at once, before any of it arrives.
    EXPECT_EQ(decode(header(32 * 1024 * 1024)).status, Status::Refused);
    EXPECT_EQ(decode(header(kMaxSize - 8 + 1)).status, Status::Refused);
    EXPECT_EQ(decode(header(kMaxSize - 8)).status, Status::Incomplete);
}

TEST(InstanceMessage, AnythingElseIsRefused) {
    const QByteArray good = encode({"a"});
    const std::pair<const char *, QByteArray> refused[] = {
        {"otherMagic", header(0, "TRL1")},
        {"otherFirstByte", QByteArray("X")},
        {"olderStream", QByteArray::fromHex("54524c3100000001")},
        {"bytesAfterTheFrame", good + "z"},
        {"argumentLongerThanTheFrame", header(5) + argument("a", 2)},
        {"cutLengthField", header(2) + QByteArray(2, '\0')},
        {"notUtf8", header(6) + argument("\xff\xfe", 2)},
        {"overlongUtf8", header(6) + argument("\xc0\xaf", 2)},
        {"nul", header(7) + argument(QByteArray("a\0b", 3), 3)},
    };
    for (const auto &[name, bytes] : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decode(bytes).status, Status::Refused);
        EXPECT_TRUE(decode(bytes).arguments.isEmpty());
    }
}
