// Favorite files made to hurt: nesting that would overflow libplist's stack,
// shared containers that it would copy without end, damaged encrypted values,
// ports out of range and files with nothing usable in them. Each is made by
// Python (plistlib, or a binary list built byte by byte) and must be refused
// or read soundly, never crash or bend a value.
#include "FavoriteFileTestSupport.h"
#include "favorites/PropertyList.h"
#include "favorites/ZNTFavoriteFile.h"

#include <gtest/gtest.h>

using namespace ZNTFavoriteFile;

namespace {

// Binary property lists built object by object (plistlib recurses while
// writing, and never shares a container): 4-byte offsets and references.
const QString kBinaryBuilder = QStringLiteral(R"(
import struct, sys, zlib, plistlib
def count(marker, n):
    return bytes([marker | n]) if n < 15 else bytes([marker | 15, 0x12]) + struct.pack('>I', n)
def string(s):
    b = s.encode('ascii')
    return count(0x50, len(b)) + b
def array(refs):
    return count(0xA0, len(refs)) + b''.join(struct.pack('>I', r) for r in refs)
def dictionary(keys, values):
    return count(0xD0, len(keys)) + b''.join(struct.pack('>I', r) for r in keys + values)
def bplist(objects):
    out, offsets = b'bplist00', []
    for o in objects:
        offsets.append(len(out))
        out += o
    table = len(out)
    for offset in offsets:
        out += struct.pack('>I', offset)
    return out + bytes(6) + bytes([4, 4]) + struct.pack('>QQQ', len(objects), 0, table)
# A favorite whose "nickname" is object 6 and after: the shape under test.
def favorite(shape):
    head = [dictionary([1, 2, 3], [4, 5, 6]), string('type'), string('host'), string('nickname'),
            string('norvane.Trellan.favorite'), string('h')]
    return bplist(head + shape)
def chain(depth):   # arrays, each holding the next
    return [array([6 + i + 1]) for i in range(depth)] + [b'\x10\x01']
def shared(levels): # each array holds the next one twice
    return [array([6 + i + 1, 6 + i + 1]) for i in range(levels)] + [b'\x10\x01']
kind, n = sys.argv[1], int(sys.argv[2])
if kind == 'chain': data = favorite(chain(n))
elif kind == 'shared': data = favorite(shared(n))
elif kind == 'cycle': data = favorite([array([6])])
elif kind == 'xml':
    data = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
            b'<key>type</key><string>norvane.Trellan.favorite</string><key>host</key><string>h</string>'
            b'<!-- <array><array><array> --><key>nickname</key>' + b'<array>' * n + b'</array>' * n +
            b'<key>sshUser</key><array/></dict></plist>')
elif kind == 'history':
    raw = favorite(chain(n))
    data = plistlib.dumps({'type': 'norvane.Trellan.favorite', 'host': 'h',
                           'compressedHistoryElements': {'data': zlib.compress(raw), 'length': len(raw)}},
                          fmt=plistlib.FMT_BINARY)
sys.stdout.buffer.write(data)
)");

QByteArray hostile(const char *kind, int n = 0) {
    return runPython(kBinaryBuilder, {kind, QString::number(n)});
}

QByteArray pythonFavorite(const QString &body) {
    return runPython(kPythonContainer + "import plistlib, sys, zlib\n" + body +
                     "\nsys.stdout.buffer.write(plistlib.dumps(fav, fmt=plistlib.FMT_BINARY))\n");
}

} // namespace

TEST(FavoriteFileHostile, NestingDeeperThanAnyFavoriteIsRefusedBeforeLibplistInBothFormats) {
    struct Case {
        const char *name;
        QByteArray file;
        QString message;
    };
    const Case cases[] = {
        {"binary100000Arrays", hostile("chain", 100000), "The file is not a property list."},
        {"xml200000Arrays", hostile("xml", 200000), "The file is not a property list."},
        {"inTheHistory", hostile("history", 100000), "Invalid query history data."},
        {"aCycle", hostile("cycle"), "The file is not a property list."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ErrorPtr error;
        EXPECT_FALSE(paramsForData(c.file, std::nullopt, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->localizedDescription(), c.message);
        EXPECT_EQ(error->domain(), kBundleIdentifier);
    }
    // What a file may hold stays readable: twenty levels, comments and empty elements.
    for (const QByteArray &file : {hostile("chain", 20), hostile("xml", 20)}) {
        ErrorPtr error;
        auto params = paramsForData(file, std::nullopt, &error);
        ASSERT_TRUE(params) << error->localizedDescription().toStdString();
        EXPECT_EQ(params->value("host").toString(), "h");
    }
}

TEST(FavoriteFileHostile, SharedContainersThatLibplistWouldCopyWithoutEndAreRefused) {
    // 2^40 copies of the innermost array from a file of about 600 bytes.
    const QByteArray bomb = hostile("shared", 40);
    ASSERT_LT(bomb.size(), 1000);
    EXPECT_FALSE(PropertyList::hasParsableShape(bomb));
    ErrorPtr error;
    EXPECT_FALSE(paramsForData(bomb, std::nullopt, &error));
    EXPECT_EQ(error->localizedDescription(), "The file is not a property list.");
    // A little sharing, as a writer that shares equal values makes, is fine.
    auto params = paramsForData(hostile("shared", 3), std::nullopt, &error);
    ASSERT_TRUE(params) << error->localizedDescription().toStdString();
}

TEST(FavoriteFileHostile, ADamagedEncryptedValueSaysTheFileIsDamagedAndOnlyABadHMACAsksForThePassword) {
    struct Case {
        const char *name;
        const char *damage; // Python applied to the container c
        bool passwordError;
    };
    const Case cases[] = {
        {"tooShort", "c[:20]", false},
        {"unknownVersion", "b'\\x03' + c[1:]", false},
        {"noPasswordOption", "c[:1] + b'\\x00' + c[2:]", false},
        {"cutInsideABlock", "c[:-40]", false},
        {"badHMAC", "c[:-1] + bytes([c[-1] ^ 1])", true},
    };
    for (const char *key : {"encryptedPassword", "encryptedSshPassword", "encryptedHistoryElements"}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(key) + " " + c.name);
            const QString value = QString(key) == "encryptedHistoryElements"
                                      ? QStringLiteral("{'data': d, 'length': 200}")
                                      : QStringLiteral("d");
            const QByteArray file =
                pythonFavorite(QStringLiteral("c = encrypt(b'secret text', 'export pw')\nd = %1\n"
                                              "fav = {'type': 'norvane.Trellan.favorite', 'host': 'h', '%2': %3}")
                                   .arg(c.damage, key, value));
            for (const std::optional<QString> password :
                 {std::optional<QString>(), std::optional<QString>("export pw")}) {
                ErrorPtr error;
                EXPECT_FALSE(paramsForData(file, password, &error));
                ASSERT_TRUE(error);
                if (c.passwordError) {
                    EXPECT_EQ(error->domain(), PasswordErrorDomain);
                } else {
                    EXPECT_EQ(error->domain(), kBundleIdentifier);
                    EXPECT_EQ(error->localizedDescription(), "The favorite file is damaged.");
                    EXPECT_TRUE(error->localizedFailureReason().startsWith("Its encrypted "));
                }
            }
        }
    }
}

TEST(FavoriteFileHostile, PortsOutOfRangeAreDroppedNotBent) {
    const QByteArray file = pythonFavorite("fav = {'type': 'norvane.Trellan.favorite', 'host': 'h', "
                                           "'port': 2**32 + 6543, 'sshPort': -1}");
    ErrorPtr error;
    auto params = paramsForData(file, std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_FALSE(params->contains("port")) << params->value("port").toLongLong();
    EXPECT_FALSE(params->contains("sshPort")) << params->value("sshPort").toLongLong();
    for (const auto &[port, kept] : {std::pair{"0", false}, {"65536", false}, {"1", true}, {"65535", true}}) {
        params = paramsForData(
            pythonFavorite(QString("fav = {'type': 'norvane.Trellan.favorite', 'host': 'h', 'port': %1, 'sshPort': %1}")
                               .arg(port)),
            std::nullopt, &error);
        ASSERT_TRUE(params);
        EXPECT_EQ(params->contains("port"), kept) << port;
        EXPECT_EQ(params->contains("sshPort"), kept) << port;
    }
}

TEST(FavoriteFileHostile, ATextHoldingANulIsRefusedNotCutShort) {
    // libplist would end the host at the NUL, and the favorite would reach
    // "evil.example" while the file named another host: the file is refused.
    const std::pair<const char *, const char *> cases[] = {
        {"'host': 'evil.example\\x00.trusted.example'", "A text in it holds a NUL character."},
        {"'nickname': 'Prod\\x00'", "A text in it holds a NUL character."},
        {"'sshUser': 'ü\\x00b'", "A text in it holds a NUL character."}, // UTF-16 in the file
        {"'password': 'pa\\x00ss'", "A text in it holds a NUL character."},
        {"'pa\\x00ss': 'x'", "A text in it holds a NUL character."},
        {"'encryptedSshPassword': encrypt(b'ss\\x00h', 'export pw')", "Its SSH password holds a NUL character."},
        {"'compressedHistoryElements': history(['select 1', 'select\\x002'])",
         "Its query history holds a NUL character."},
    };
    for (const auto &[field, reason] : cases) {
        SCOPED_TRACE(field);
        const QByteArray file = pythonFavorite(
            QStringLiteral("import datetime\n"
                           "def history(texts):\n"
                           "    raw = plistlib.dumps({'texts': texts, 'dates': [datetime.datetime(2020, 1, 1)] * "
                           "len(texts)}, fmt=plistlib.FMT_BINARY)\n"
                           "    return {'data': zlib.compress(raw), 'length': len(raw)}\n"
                           "fav = {'type': 'norvane.Trellan.favorite', 'host': 'h', %1}")
                .arg(field));
        ErrorPtr error;
        EXPECT_FALSE(paramsForData(file, QString("export pw"), &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->localizedDescription(), "Not a valid Trellan favorite");
        EXPECT_EQ(error->localizedFailureReason(), reason);
    }
}

TEST(FavoriteFileHostile, AnXMLTextHoldingANulIsRefusedAndAZeroDigitIsNot) {
    const QByteArray head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>type</key>"
                            "<string>norvane.Trellan.favorite</string><key>host</key><string>";
    const QByteArray tail = "</string></dict></plist>";
    for (const QByteArray &host :
         {QByteArray("evil&#0;.example"), QByteArray("evil&#x000;.example"), QByteArray("evil\0.example", 13)}) {
        SCOPED_TRACE(host.toStdString());
        ErrorPtr error;
        EXPECT_FALSE(paramsForData(head + host + tail, std::nullopt, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->localizedFailureReason(), "A text in it holds a NUL character.");
    }
    ErrorPtr error;
    const auto params = paramsForData(head + "db&#48;&#x30;1" + tail, std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("host").toString(), "db001");
}

TEST(FavoriteFileHostile, AFileWithNothingUsableIsNotAFavoriteFile) {
    for (const char *body : {"fav = {'type': 'norvane.Trellan.favorite'}",
                             "fav = {'type': 'norvane.Trellan.favorite', 'host': 5, 'port': 'x', "
                             "'sshEnabled': 'yes', 'nickname': [1], 'port': 99999}"}) {
        SCOPED_TRACE(body);
        ErrorPtr error;
        EXPECT_FALSE(paramsForData(pythonFavorite(body), std::nullopt, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->localizedDescription(), "Not a valid Trellan favorite");
    }
}
