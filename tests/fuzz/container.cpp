// Password containers: the encrypted passwords and history of a favorite file,
// from a file a user may have been sent. The input is the container. A container
// that says it is keyed by a password (its options byte) is opened in one call
// with a fixed password beyond ASCII, so that the retry with the shortened key
// runs; any other with fixed keys. Then a stream opens it too, fed in pieces
// whose sizes the input's own bytes choose, and must end as the call did; the
// input's last byte has the stream take the other kind of key now and then,
// which the header must refuse. (Each cryptor runs on threads of its own: one
// call and one stream an input keep the fuzzer quick enough.)
#include "FuzzSupport.h"
#include "RNCryptor/RNDecryptor.h"

#include <semaphore>
#include <thread>

namespace {

const QString kPassword = QString::fromUtf8("pass€€");
const QByteArray kEncryptionKey(32, 'k');
const QByteArray kHMACKey(32, 'h');

struct Outcome {
    std::optional<QByteArray> plaintext;
    ErrorPtr error;
};

Outcome decryptInPieces(const QByteArray &container, bool withPassword) {
    auto done = std::make_shared<std::binary_semaphore>(0);
    auto plaintext = std::make_shared<QByteArray>();
    auto error = std::make_shared<ErrorPtr>();
    const RNCryptor::Handler handler = [done, plaintext, error](RNCryptor &cryptor, const QByteArray &data) {
        plaintext->append(data);
        if (cryptor.isFinished()) {
            *error = cryptor.error();
            done->release();
        }
    };
    auto decryptor = withPassword ? RNDecryptor::make(kPassword, handler)
                                  : RNDecryptor::make(kEncryptionKey, kHMACKey, handler);
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
    if (*error) {
        FUZZ_CHECK(plaintext->isEmpty()); // nothing of a container that fails
        return {std::nullopt, *error};
    }
    return {*plaintext, nullptr};
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
    const bool withPassword = size >= 2 && (data[1] & kRNCryptorOptionHasPassword);
    Outcome call;
    call.plaintext = withPassword ? RNDecryptor::decryptData(container, kPassword, &call.error)
                                  : RNDecryptor::decryptData(container, kEncryptionKey, kHMACKey, &call.error);
    FUZZ_CHECK(call.plaintext.has_value() != (call.error != nullptr));

    const bool otherKey = size > 0 && data[size - 1] % 8 == 0;
    const Outcome stream = decryptInPieces(container, withPassword != otherKey);
    if (otherKey) {
        FUZZ_CHECK(stream.error && stream.error->code() == kRNCryptorUnknownHeader);
    } else if (!stream.error) {
        FUZZ_CHECK(call.plaintext == stream.plaintext);
    } else {
        // The call tries the shortened key only after the whole one failed its HMAC.
        const bool retried = withPassword && stream.error->code() == kRNCryptorHMACMismatch && call.plaintext;
        FUZZ_CHECK(retried || sameError(call.error, stream.error));
    }
    return 0;
}
