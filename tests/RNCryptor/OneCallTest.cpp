// The one-call wrappers do their work on the caller's thread: an import that
// tries several passwords on many values must not start threads for each.
#include "RNCryptor/RNDecryptor.h"
#include "RNCryptor/RNEncryptor.h"

#include <atomic>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

namespace {
std::atomic<int> threadsStarted{0};
} // namespace

// Every thread of this test program starts here first.
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg) {
    using Real = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pthread_create"));
    ++threadsStarted;
    return real(thread, attr, start, arg);
}

TEST(OneCall, EncryptingAndDecryptingStartNoThread) {
    // The counter sees threads at all: a streaming cryptor has its own queue.
    const int beforeStream = threadsStarted;
    QByteArray streamed;
    bool finished = false;
    ErrorPtr error;
    auto stream = RNEncryptor::make(
        RNCryptorSettings::AES256, QStringLiteral("pw"),
        [&](RNCryptor &c, const QByteArray &data) {
            streamed.append(data);
            finished = c.isFinished();
        },
        &error);
    ASSERT_TRUE(stream);
    stream->addData("abc");
    stream->finish();
    stream.reset();
    EXPECT_GT(threadsStarted - beforeStream, 0) << "threads are not counted";

    const int before = threadsStarted;
    for (int i = 0; i < 5; ++i) {
        auto container = RNEncryptor::encryptData("secret", RNCryptorSettings::AES256, QStringLiteral("pw"), &error);
        ASSERT_TRUE(container);
        EXPECT_EQ(RNDecryptor::decryptData(*container, QStringLiteral("pw"), &error), QByteArray("secret"));
        ErrorPtr wrong;
        EXPECT_FALSE(RNDecryptor::decryptData(*container, QStringLiteral("wrong"), &wrong));
        EXPECT_NE(wrong, nullptr);
        EXPECT_FALSE(RNDecryptor::decryptData(QByteArray("\x03\x01", 2), QStringLiteral("pw"), &wrong));
    }
    EXPECT_EQ(threadsStarted - before, 0);
    EXPECT_TRUE(finished);
}
