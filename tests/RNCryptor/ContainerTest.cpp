#include "RNCryptor/RNDecryptor.h"
#include "RNCryptor/RNEncryptor.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

struct Vector {
    const char *name;
    QString password;
    RNEncryptor::Randomness fixed;
    QByteArray plaintext;
    QByteArray container;
};

// The format's public vectors, recast with fixed salts and IV.
std::vector<Vector> publicVectors() {
    return {
        {"thepassword",
         "thepassword",
         {hex("0001020304050607"), hex("0102030405060708"), hex("02030405060708090a0b0c0d0e0f0001")},
         hex("01"),
         hex("02010001020304050607010203040506070802030405060708090a0b0c0d0e0f0001a1f8730e0bf480eb7b70f690abf21e02"
             "5265d3611bf49d0bdf2843b32e8de4760b6e8ae8d3e4f3749aa446d83497c11f")},
        {"emptyPlaintext",
         "a",
         {QByteArray(8, 0), QByteArray(8, 0), QByteArray(16, 0)},
         QByteArray(),
         hex("02010000000000000000000000000000000000000000000000000000000000000000b3039be31cd7ece5e754f5c8da170036"
             "f09745256741e61f8306b6e2d655adb607ea2d3ad161f64c39c949b3043f206f")},
    };
}

// Containers of "secret" made with Python's hashlib and hmac and `openssl enc`:
// once keyed by the whole UTF-8 password, once by its first password.length()
// bytes (cut inside a character in both cases).
const RNEncryptor::Randomness kNonAsciiSalts{hex("1112131415161718"), hex("2122232425262728"),
                                             hex("303132333435363738393a3b3c3d3e3f")};
struct NonAsciiVector {
    const char *name;
    QString password;
    QByteArray whole;
    QByteArray shortened;
};
std::vector<NonAsciiVector> nonAsciiVectors() {
    return {
        {"euroSigns", QString::fromUtf8("pass€€"),
         hex("020111121314151617182122232425262728303132333435363738393a3b3c3d3e3f9934ffc50eef2500cea96fd44a1e3307c6"
             "3ad892e971f676539a5d6d6d9dc913bdca88db72fdeb74b9ebc6eb133adb65"),
         hex("020111121314151617182122232425262728303132333435363738393a3b3c3d3e3fe0ea6be911c42a134f0e18e9d5b61f648e"
             "3fbbae022c4eb4ec6686de2182ed13ef09e4e83c370965b02879c210eba3d7")},
        {"surrogatePairAndCyrillic", QString::fromUtf8("🔑ключ"),
         hex("020111121314151617182122232425262728303132333435363738393a3b3c3d3e3f43525a5c588e707b08c78871c0ff747df6"
             "737c2837892ae0722fa6e1571776efafa7e14200228d2ebdc8ebc5d7574461"),
         hex("020111121314151617182122232425262728303132333435363738393a3b3c3d3e3f1a72ead9e08e83e715158a2f9f706393b7"
             "b8909383a99ebf47d332f62f0f6729b347be28fa076fb330f27f11f8638b41")},
    };
}

int decryptErrorCode(const QByteArray &container, const QString &password) {
    ErrorPtr error;
    auto plaintext = RNDecryptor::decryptData(container, password, &error);
    if (plaintext)
        return 0;
    EXPECT_EQ(error->domain(), RNCryptorErrorDomain);
    return error->code();
}

} // namespace

TEST(Container, PublicVectorsDecryptAndReencryptByteForByte) {
    for (const Vector &v : publicVectors()) {
        SCOPED_TRACE(v.name);
        ErrorPtr error;
        auto plaintext = RNDecryptor::decryptData(v.container, v.password, &error);
        ASSERT_TRUE(plaintext) << error->localizedDescription().toStdString();
        EXPECT_EQ(*plaintext, v.plaintext);
        auto container = RNEncryptor::encryptData(v.plaintext, RNCryptorSettings::AES256, v.password, v.fixed, &error);
        ASSERT_TRUE(container);
        EXPECT_EQ(container->toHex(), v.container.toHex());
    }
}

TEST(Container, NonAsciiPasswordOpensBothKeyFormsAndWritesTheWholeOne) {
    for (const NonAsciiVector &v : nonAsciiVectors()) {
        SCOPED_TRACE(v.name);
        for (const QByteArray &container : {v.whole, v.shortened}) {
            ErrorPtr error;
            auto plaintext = RNDecryptor::decryptData(container, v.password, &error);
            ASSERT_TRUE(plaintext);
            EXPECT_EQ(*plaintext, "secret");
        }
        ErrorPtr error;
        auto written =
            RNEncryptor::encryptData("secret", RNCryptorSettings::AES256, v.password, kNonAsciiSalts, &error);
        ASSERT_TRUE(written);
        EXPECT_EQ(written->toHex(), v.whole.toHex());
        // The fallback only reopens its own kind of file: another password still fails.
        EXPECT_EQ(decryptErrorCode(v.whole, QString::fromUtf8("pass€$")), kRNCryptorHMACMismatch);
    }
}

TEST(Container, AnyAlteredByteAfterTheVersionAndOptionsFailsTheHMAC) {
    const Vector v = publicVectors().front();
    for (qsizetype offset = 2; offset < v.container.size(); ++offset) {
        QByteArray damaged = v.container;
        damaged[offset] = char(damaged[offset] ^ 0x40);
        EXPECT_EQ(decryptErrorCode(damaged, v.password), kRNCryptorHMACMismatch) << "offset " << offset;
    }
    EXPECT_EQ(decryptErrorCode(v.container, "the password"), kRNCryptorHMACMismatch);
}

TEST(Container, UnknownVersionMissingPasswordOptionAndShortInputAreUnknownHeaders) {
    const Vector v = publicVectors().front();
    QByteArray version3 = v.container;
    version3[0] = 3;
    QByteArray noPasswordOption = v.container;
    noPasswordOption[1] = 0x02;
    EXPECT_EQ(decryptErrorCode(version3, v.password), kRNCryptorUnknownHeader);
    EXPECT_EQ(decryptErrorCode(noPasswordOption, v.password), kRNCryptorUnknownHeader);
    // Cut inside the header, inside the first block, with a ciphertext not a whole
    // number of blocks, and with no ciphertext before the HMAC.
    for (qsizetype length : {0, 1, 33, 34, 50, 66, 81})
        EXPECT_EQ(decryptErrorCode(v.container.left(length), v.password), kRNCryptorUnknownHeader) << length;
}

TEST(Container, FreshSaltsAndIVMakeEveryContainerDifferent) {
    ErrorPtr error;
    auto first = RNEncryptor::encryptData(QByteArray(), RNCryptorSettings::AES256, "pw", &error);
    auto second = RNEncryptor::encryptData(QByteArray(), RNCryptorSettings::AES256, "pw", &error);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 34 + 16 + 32);
    EXPECT_NE(first->mid(2, 32), second->mid(2, 32));
    EXPECT_EQ(RNDecryptor::decryptData(*first, "pw", &error), QByteArray());
    EXPECT_EQ(RNDecryptor::decryptData(*second, "pw", &error), QByteArray());
}

TEST(Container, StreamedPiecesGiveTheSameContainerAndPlaintextAsOneCall) {
    QByteArray plaintext;
    for (int i = 0; i < 5000; ++i)
        plaintext.append(char(i * 7));
    const RNEncryptor::Randomness fixed = publicVectors().front().fixed;
    ErrorPtr error;
    auto oneCall = RNEncryptor::encryptData(plaintext, RNCryptorSettings::AES256, "pw", fixed, &error);
    ASSERT_TRUE(oneCall);

    std::mutex mutex;
    std::condition_variable finished;
    QByteArray streamed;
    bool done = false;
    auto collect = [&](RNCryptor &cryptor, const QByteArray &piece) {
        std::lock_guard lock(mutex);
        streamed.append(piece);
        if (cryptor.isFinished()) {
            EXPECT_FALSE(cryptor.error());
            done = true;
            finished.notify_all();
        }
    };
    auto waitAndTake = [&] {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return done; });
        done = false;
        return std::exchange(streamed, QByteArray());
    };

    auto encryptor = RNEncryptor::make(RNCryptorSettings::AES256, "pw", collect, &error, fixed);
    for (qsizetype at = 0; at < plaintext.size(); at += 333)
        encryptor->addData(plaintext.mid(at, 333));
    encryptor->finish();
    EXPECT_EQ(waitAndTake(), *oneCall);

    auto decryptor = RNDecryptor::make(QString("pw"), collect);
    for (qsizetype at = 0; at < oneCall->size(); at += 5)
        decryptor->addData(oneCall->mid(at, 5));
    decryptor->finish();
    decryptor->addData("ignored after the end");
    EXPECT_EQ(waitAndTake(), plaintext);
}

TEST(Container, KeyFormsRoundTripAndRejectAPasswordHeader) {
    const QByteArray key(32, 'k'), HMACKey(32, 'h');
    ErrorPtr error;
    auto container = RNEncryptor::encryptData("row data", RNCryptorSettings::AES256, key, HMACKey, &error);
    ASSERT_TRUE(container);
    EXPECT_EQ(container->size(), 18 + 16 + 32);
    EXPECT_EQ(quint8(container->at(1)), 0);
    EXPECT_EQ(RNDecryptor::decryptData(*container, key, HMACKey, &error), QByteArray("row data"));
    EXPECT_FALSE(RNDecryptor::decryptData(*container, key, QByteArray(32, 'x'), &error));
    EXPECT_EQ(error->code(), kRNCryptorHMACMismatch);
    EXPECT_FALSE(RNDecryptor::decryptData(publicVectors().front().container, key, HMACKey, &error));
    EXPECT_EQ(error->code(), kRNCryptorUnknownHeader);
}
