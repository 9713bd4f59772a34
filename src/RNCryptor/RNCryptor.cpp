#include "RNCryptor.h"

#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <semaphore>

const RNCryptorSettings RNCryptorSettings::AES256{};

QByteArray RNConsumeToIndex(QByteArray &data, qsizetype n) {
    QByteArray head = data.left(n);
    data.remove(0, n);
    return head;
}

RNCryptor::RNCryptor(Handler handler, const char *className)
    : m_handler(std::move(handler)), m_queue(std::make_unique<SerialQueue>(std::string("quenby.") + className)) {
    if (!m_handler)
        throw ProgramError("IncorrectUsage", "Invalid parameter not satisfying: handler != nil");
}

RNCryptor::~RNCryptor() = default;

ErrorPtr RNCryptor::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void RNCryptor::setHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void RNCryptor::setResponseQueue(std::shared_ptr<SerialQueue> queue) {
    std::lock_guard lock(m_mutex);
    m_responseQueue = std::move(queue);
}

void RNCryptor::enqueue(std::function<void()> job) {
    m_queue->async([self = shared_from_this(), job = std::move(job)] {
        if (!self->isFinished())
            job();
    });
}

void RNCryptor::callHandler(const QByteArray &data, bool last) {
    Handler handler;
    std::shared_ptr<SerialQueue> responseQueue;
    {
        std::lock_guard lock(m_mutex);
        handler = m_handler;
        responseQueue = m_responseQueue;
        if (last)
            m_handler = nullptr;
    }
    if (!handler)
        return;
    auto call = [&] { handler(*this, data); };
    if (responseQueue)
        responseQueue->sync(call);
    else
        call();
}

void RNCryptor::deliverOutData() {
    QByteArray data = std::exchange(m_outData, QByteArray());
    callHandler(data, false);
}

void RNCryptor::cleanupAndNotifyWithError(ErrorPtr error) {
    {
        std::lock_guard lock(m_mutex);
        m_error = std::move(error);
    }
    m_finished = true;
    QByteArray data = std::exchange(m_outData, QByteArray());
    callHandler(data, true);
}

QByteArray RNCryptor::keyForPassword(const QByteArray &password, const QByteArray &salt,
                                     const RNCryptorKeyDerivationSettings &settings) {
    QByteArray key(settings.keySize, '\0');
    if (!PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                           reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()),
                           int(settings.rounds), EVP_sha1(), int(key.size()),
                           reinterpret_cast<unsigned char *>(key.data())))
        throw std::runtime_error("Unable to create AES key for password");
    return key;
}

QByteArray RNCryptor::randomDataOfLength(qsizetype length) {
    QByteArray data(length, '\0');
    // A failing random source must never yield predictable salts or IVs.
    if (RAND_bytes(reinterpret_cast<unsigned char *>(data.data()), int(length)) != 1)
        throw std::runtime_error("Unable to generate random bytes");
    return data;
}

std::optional<QByteArray> RNCryptor::synchronousResultForCryptor(const std::shared_ptr<RNCryptor> &cryptor,
                                                                 const QByteArray &data, ErrorPtr *error) {
    auto done = std::make_shared<std::binary_semaphore>(0);
    auto result = std::make_shared<QByteArray>();
    auto kept = std::make_shared<ErrorPtr>();
    cryptor->setHandler([done, result, kept](RNCryptor &c, const QByteArray &chunk) {
        result->append(chunk);
        if (c.isFinished()) {
            *kept = c.error();
            done->release();
        }
    });
    cryptor->setResponseQueue(std::make_shared<SerialQueue>("quenby.RNEncryptor.response"));
    cryptor->addData(data);
    cryptor->finish();
    done->acquire();
    // The last job lets go of the cryptor once the next one starts: then the
    // caller holds the last reference, and the cryptor's threads end with it
    // instead of running on after the call.
    auto drained = std::make_shared<std::binary_semaphore>(0);
    cryptor->m_queue->async([drained] { drained->release(); });
    drained->acquire();
    if (*kept) {
        if (error)
            *error = *kept;
        return std::nullopt;
    }
    return *result;
}
