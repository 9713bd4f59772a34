#include "RNEncryptor.h"

#include "RNCryptorEngine.h"

RNEncryptor::RNEncryptor(Handler handler) : RNCryptor(std::move(handler), "RNEncryptor") {}

RNEncryptor::~RNEncryptor() = default;

bool RNEncryptor::setUp(const RNCryptorSettings &settings, const QByteArray &encryptionKey, const QByteArray &HMACKey,
                        const QByteArray &IV, ErrorPtr *error) {
    m_IV = IV;
    if (!HMACKey.isEmpty()) {
        m_HMACContext = std::make_unique<RNHMACContext>(HMACKey, settings.HMACLength);
        m_HMACLength = settings.HMACLength;
    }
    m_engine = RNCryptorEngine::make(RNCryptorEngine::Encrypt, settings, encryptionKey, IV, error);
    return m_engine != nullptr;
}

std::shared_ptr<RNEncryptor> RNEncryptor::make(const RNCryptorSettings &settings, const QByteArray &encryptionKey,
                                               const QByteArray &HMACKey, Handler handler, ErrorPtr *error,
                                               const std::optional<QByteArray> &fixedIV) {
    std::shared_ptr<RNEncryptor> encryptor(new RNEncryptor(std::move(handler)));
    QByteArray IV = fixedIV ? *fixedIV : randomDataOfLength(settings.IVSize);
    if (!encryptor->setUp(settings, encryptionKey, HMACKey, IV, error))
        return nullptr;
    return encryptor;
}

std::shared_ptr<RNEncryptor> RNEncryptor::make(const RNCryptorSettings &settings, const QString &password,
                                               Handler handler, ErrorPtr *error,
                                               const std::optional<Randomness> &fixed) {
    const QByteArray passwordBytes = password.toUtf8();
    QByteArray encryptionSalt = fixed ? fixed->encryptionSalt : randomDataOfLength(settings.keySettings.saltSize);
    QByteArray HMACSalt = fixed ? fixed->HMACSalt : randomDataOfLength(settings.HMACKeySettings.saltSize);
    QByteArray encryptionKey = keyForPassword(passwordBytes, encryptionSalt, settings.keySettings);
    QByteArray HMACKey = keyForPassword(passwordBytes, HMACSalt, settings.HMACKeySettings);
    auto encryptor = make(settings, encryptionKey, HMACKey, std::move(handler), error,
                          fixed ? std::optional<QByteArray>(fixed->IV) : std::nullopt);
    if (!encryptor)
        return nullptr;
    encryptor->m_options |= kRNCryptorOptionHasPassword;
    encryptor->m_encryptionSalt = encryptionSalt;
    encryptor->m_HMACSalt = HMACSalt;
    return encryptor;
}

QByteArray RNEncryptor::header() const {
    QByteArray header;
    header.append(char(kRNCryptorFileVersion));
    header.append(char(m_options));
    if (m_options & kRNCryptorOptionHasPassword)
        header.append(m_encryptionSalt).append(m_HMACSalt);
    header.append(m_IV);
    return header;
}

void RNEncryptor::writeHeaderIfNeeded() {
    if (m_haveWrittenHeader)
        return;
    m_outData = header();
    if (m_HMACContext)
        m_HMACContext->update(m_outData);
    m_haveWrittenHeader = true;
}

void RNEncryptor::addData(const QByteArray &data) {
    enqueue([this, data] {
        writeHeaderIfNeeded();
        QByteArray ciphertext;
        ErrorPtr error;
        if (!m_engine->addData(data, &ciphertext, &error)) {
            cleanupAndNotifyWithError(error);
            return;
        }
        if (m_HMACContext)
            m_HMACContext->update(ciphertext);
        m_outData.append(ciphertext);
        deliverOutData();
    });
}

void RNEncryptor::finish() {
    enqueue([this] {
        // A stream that never got data still gets its header.
        writeHeaderIfNeeded();
        QByteArray last;
        ErrorPtr error;
        if (m_engine->finish(&last, &error)) {
            m_outData.append(last);
            if (m_HMACContext) {
                m_HMACContext->update(last);
                m_outData.append(m_HMACContext->final());
            }
        }
        cleanupAndNotifyWithError(error);
    });
}

std::optional<QByteArray> RNEncryptor::encryptData(const QByteArray &data, const RNCryptorSettings &settings,
                                                   const QString &password, ErrorPtr *error) {
    auto encryptor = make(
        settings, password, [](RNCryptor &, const QByteArray &) {}, error);
    if (!encryptor)
        return std::nullopt;
    return synchronousResultForCryptor(encryptor, data, error);
}

std::optional<QByteArray> RNEncryptor::encryptData(const QByteArray &data, const RNCryptorSettings &settings,
                                                   const QByteArray &encryptionKey, const QByteArray &HMACKey,
                                                   ErrorPtr *error) {
    auto encryptor = make(
        settings, encryptionKey, HMACKey, [](RNCryptor &, const QByteArray &) {}, error);
    if (!encryptor)
        return std::nullopt;
    return synchronousResultForCryptor(encryptor, data, error);
}

std::optional<QByteArray> RNEncryptor::encryptData(const QByteArray &data, const RNCryptorSettings &settings,
                                                   const QString &password, const Randomness &fixed, ErrorPtr *error) {
    auto encryptor = make(
        settings, password, [](RNCryptor &, const QByteArray &) {}, error, fixed);
    if (!encryptor)
        return std::nullopt;
    return synchronousResultForCryptor(encryptor, data, error);
}
