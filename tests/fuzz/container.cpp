// Password containers: the encrypted passwords and history of a favorite file,
// from a file a user may have been sent. The input is the container. It is
// opened in one call with a fixed password beyond ASCII (so that the retry with
// the shortened key runs) and with fixed keys, and as a stream with the same
// password, fed in pieces whose sizes the input's own bytes choose: the stream
// must end as the call did.
#include "FuzzSupport.h"
#include "RNCryptor/RNDecryptor.h"

#include <semaphore>
#include <thread>

namespace {

const QString kPassword = QString::fromUtf8("pass€€");
const QByteArray kEncryptionKey(32, 'k');
const QByteArray kHMACKey(32, 'h');

struct Streamed {
    QByteArray plaintext;
    ErrorPtr error;
};

Streamed decryptInPieces(const QByteArray &container) {
    auto done = std::make_shared<std::binary_semaphore>(0);
    auto streamed = std::make_shared<Streamed>();
    auto decryptor = RNDecryptor::make(kPassword, [done, streamed](RNCryptor &cryptor, const QByteArray &data) {
        streamed->plaintext += data;
        if (cryptor.isFinished()) {
            streamed->error = cryptor.error();
            done->release();
        }
    });
    // About sixteen pieces whatever the size: each wakes the decryptor's thread.
    const qsizetype longest = container.size() / 8 + 1;
    for (qsizetype at = 0; at < container.size();) {
        const qsizetype piece = 1 + quint8(container[at]) % longest;
        decryptor->addData(container.mid(at, piece));
        at += piece;
    }
    decryptor->finish();
    done->acquire();
    // Until its last job has let go of it, the decryptor would end on its own
    // thread, after this input: its memory would look leaked.
    while (decryptor.use_count() > 1)
        std::this_thread::yield();
    return *streamed;
}

bool sameError(const ErrorPtr &a, const ErrorPtr &b) {
    return a && b && a->domain() == b->domain() && a->code() == b->code();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray container = Fuzz::bytes(data, size);
    ErrorPtr error;
    const auto plaintext = RNDecryptor::decryptData(container, kPassword, &error);
    FUZZ_CHECK(plaintext.has_value() != (error != nullptr));
    const Streamed streamed = decryptInPieces(container);
    if (!streamed.error) {
        FUZZ_CHECK(plaintext == streamed.plaintext);
    } else {
        FUZZ_CHECK(streamed.plaintext.isEmpty()); // nothing of a container that fails
        // The call tries the shortened key only after the whole one failed its HMAC.
        const bool retried = streamed.error->code() == kRNCryptorHMACMismatch && plaintext;
        FUZZ_CHECK(retried || sameError(error, streamed.error));
    }
    ErrorPtr keyError;
    const auto withKeys = RNDecryptor::decryptData(container, kEncryptionKey, kHMACKey, &keyError);
    FUZZ_CHECK(withKeys.has_value() != (keyError != nullptr));
    return 0;
}
