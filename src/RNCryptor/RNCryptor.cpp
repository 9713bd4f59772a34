#include "RNCryptor.h"

#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

const RNCryptorSettings RNCryptorSettings::AES256{};

QByteArray RNConsumeToIndex(QByteArray &data, qsizetype n) {
    QByteArray head = data.left(n);
    data.remove(0, n);
    return head;
}

RNCryptor::RNCryptor(Handler handler, const char *className) : m_handler(std::move(handler)), m_className(className) {
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
    SerialQueue *queue = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_inline) {
            if (!m_queue)
                m_queue = std::make_unique<SerialQueue>(std::string("quenby.") + m_className);
            queue = m_queue.get();
        }
    }
    if (!queue) {
        if (!isFinished())
            job();
        return;
    }
    queue->async([self = shared_from_this(), job = std::move(job)] {
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

// The work of one value is a few microseconds after the key derivation, which
// runs on the caller anyway: two threads per value would only cost (an import
// trying many passwords would start hundreds).
std::optional<QByteArray> RNCryptor::synchronousResultForCryptor(const std::shared_ptr<RNCryptor> &cryptor,
                                                                 const QByteArray &data, ErrorPtr *error) {
    QByteArray result;
    ErrorPtr kept;
    bool finished = false;
    {
        std::lock_guard lock(cryptor->m_mutex);
        if (cryptor->m_queue)
            throw ProgramError("IncorrectUsage", "a cryptor already streaming was asked for a one-call result");
        cryptor->m_inline = true;
        cryptor->m_responseQueue = nullptr;
        cryptor->m_handler = [&](RNCryptor &c, const QByteArray &chunk) {
            result.append(chunk);
            if (c.isFinished()) {
                kept = c.error();
                finished = true;
            }
        };
    }
    cryptor->addData(data);
    cryptor->finish();
    if (!finished)
        throw ProgramError("IncorrectUsage", "a cryptor did not finish in its one call");
    if (kept) {
        if (error)
            *error = kept;
        return std::nullopt;
    }
    return result;
}
