#include "RNDecryptor.h"

#include "RNCryptorEngine.h"

#include <openssl/crypto.h>

ErrorPtr RNCryptorHMACMismatchError() {
    return Error::make(RNCryptorErrorDomain, kRNCryptorHMACMismatch, {{Error::DescriptionKey, "HMAC Mismatch"}});
}

ErrorPtr RNCryptorUnknownHeaderError() {
    return Error::make(RNCryptorErrorDomain, kRNCryptorUnknownHeader, {{Error::DescriptionKey, "Unknown header"}});
}

RNDecryptor::RNDecryptor(Handler handler) : RNCryptor(std::move(handler), "RNDecryptor") {}

RNDecryptor::~RNDecryptor() = default;

std::shared_ptr<RNDecryptor> RNDecryptor::make(const QString &password, Handler handler) {
    return make(password.toUtf8(), std::move(handler));
}

std::shared_ptr<RNDecryptor> RNDecryptor::make(const QByteArray &passwordBytes, Handler handler) {
    std::shared_ptr<RNDecryptor> decryptor(new RNDecryptor(std::move(handler)));
    decryptor->m_usesPassword = true;
    decryptor->m_password = passwordBytes;
    return decryptor;
}

std::shared_ptr<RNDecryptor> RNDecryptor::make(const QByteArray &encryptionKey, const QByteArray &HMACKey,
                                               Handler handler) {
    std::shared_ptr<RNDecryptor> decryptor(new RNDecryptor(std::move(handler)));
    decryptor->m_encryptionKey = encryptionKey;
    decryptor->m_HMACKey = HMACKey;
    return decryptor;
}

void RNDecryptor::addData(const QByteArray &data) {
    enqueue([this, data] {
        m_inData.append(data);
        if (!m_engine)
            consumeHeader();
    });
}

// Work queue. Waits for the whole header, then sets up keys, cipher and HMAC.
void RNDecryptor::consumeHeader() {
    if (m_inData.size() < 2)
        return;
    const RNCryptorSettings &settings = RNCryptorSettings::AES256;
    m_options = quint8(m_inData.at(1));
    // A password needs the salts the option announces; keys must not come with any.
    const bool hasPasswordOption = m_options & kRNCryptorOptionHasPassword;
    if (quint8(m_inData.at(0)) != kRNCryptorFileVersion || hasPasswordOption != m_usesPassword) {
        cleanupAndNotifyWithError(RNCryptorUnknownHeaderError());
        return;
    }
    const qsizetype saltsSize = settings.keySettings.saltSize + settings.HMACKeySettings.saltSize;
    const qsizetype headerSize = 2 + settings.IVSize + (m_usesPassword ? saltsSize : 0);
    if (m_inData.size() < headerSize)
        return;
    m_header = m_inData.left(headerSize);
    RNConsumeToIndex(m_inData, 2);
    if (m_usesPassword) {
        QByteArray encryptionSalt = RNConsumeToIndex(m_inData, settings.keySettings.saltSize);
        QByteArray HMACSalt = RNConsumeToIndex(m_inData, settings.HMACKeySettings.saltSize);
        m_encryptionKey = keyForPassword(m_password, encryptionSalt, settings.keySettings);
        m_HMACKey = keyForPassword(m_password, HMACSalt, settings.HMACKeySettings);
        m_password.fill('\0');
        m_password.clear();
    }
    QByteArray IV = RNConsumeToIndex(m_inData, settings.IVSize);
    ErrorPtr error;
    m_engine = RNCryptorEngine::make(RNCryptorEngine::Decrypt, settings, m_encryptionKey, IV, &error);
    m_encryptionKey.fill('\0');
    if (!m_engine) {
        cleanupAndNotifyWithError(error);
        return;
    }
    if (!m_HMACKey.isEmpty())
        m_HMACLength = settings.HMACLength;
}

bool RNDecryptor::verifyHMAC(const QByteArray &ciphertext, const QByteArray &mac) {
    RNHMACContext context(m_HMACKey, int(m_HMACLength));
    context.update(m_header);
    context.update(ciphertext);
    const QByteArray computed = context.final();
    return computed.size() == mac.size() && CRYPTO_memcmp(computed.constData(), mac.constData(), mac.size()) == 0;
}

void RNDecryptor::finish() {
    enqueue([this] {
        const qsizetype blockSize = RNCryptorSettings::AES256.blockSize;
        const qsizetype ciphertextSize = m_inData.size() - m_HMACLength;
        // Input cut short (inside the header, or with less than one block and a
        // whole HMAC after it) is a damaged container, never an empty plaintext.
        if (!m_engine || ciphertextSize < blockSize || ciphertextSize % blockSize != 0) {
            cleanupAndNotifyWithError(RNCryptorUnknownHeaderError());
            return;
        }
        const QByteArray ciphertext = m_inData.left(ciphertextSize);
        if (hasHMAC() && !verifyHMAC(ciphertext, m_inData.mid(ciphertextSize))) {
            cleanupAndNotifyWithError(RNCryptorHMACMismatchError());
            return;
        }
        QByteArray plaintext, last;
        ErrorPtr error;
        if (!m_engine->addData(ciphertext, &plaintext, &error) || !m_engine->finish(&last, &error)) {
            cleanupAndNotifyWithError(error);
            return;
        }
        m_outData = plaintext + last;
        cleanupAndNotifyWithError(nullptr);
    });
}

std::optional<QByteArray> RNDecryptor::decryptData(const QByteArray &data, const QString &password, ErrorPtr *error) {
    auto decrypt = [&data](const QByteArray &passwordBytes, ErrorPtr *err) {
        return synchronousResultForCryptor(make(passwordBytes, [](RNCryptor &, const QByteArray &) {}), data, err);
    };
    const QByteArray whole = password.toUtf8();
    ErrorPtr firstError;
    if (auto plaintext = decrypt(whole, &firstError))
        return plaintext;
    const bool HMACFailed =
        firstError->domain() == RNCryptorErrorDomain && firstError->code() == kRNCryptorHMACMismatch;
    if (HMACFailed && whole.size() > password.size()) {
        if (auto plaintext = decrypt(whole.left(password.size()), nullptr))
            return plaintext;
    }
    if (error)
        *error = firstError;
    return std::nullopt;
}

std::optional<QByteArray> RNDecryptor::decryptData(const QByteArray &data, const QByteArray &encryptionKey,
                                                   const QByteArray &HMACKey, ErrorPtr *error) {
    return synchronousResultForCryptor(make(encryptionKey, HMACKey, [](RNCryptor &, const QByteArray &) {}), data,
                                       error);
}

ErrorPtr RNDecryptor::passwordContainerShapeError(const QByteArray &data) {
    const RNCryptorSettings &settings = RNCryptorSettings::AES256;
    const qsizetype headerSize =
        2 + settings.keySettings.saltSize + settings.HMACKeySettings.saltSize + settings.IVSize;
    const qsizetype ciphertextSize = data.size() - headerSize - settings.HMACLength;
    if (data.size() < 2 || quint8(data.at(0)) != kRNCryptorFileVersion ||
        !(quint8(data.at(1)) & kRNCryptorOptionHasPassword) || ciphertextSize < settings.blockSize ||
        ciphertextSize % settings.blockSize != 0)
        return RNCryptorUnknownHeaderError();
    return nullptr;
}
