#pragma once

#include "RNCryptor.h"

class RNCryptorEngine;
class RNHMACContext;

// Writes a container: the header on the first addData(), then ciphertext as it
// comes, and at finish() the last block and the HMAC.
class RNEncryptor : public RNCryptor {
public:
    // Fixed salts and IV in place of fresh random ones; for known-answer tests.
    struct Randomness {
        QByteArray encryptionSalt;
        QByteArray HMACSalt;
        QByteArray IV;
    };

    // Keys derived from the password (the options byte says so, the salts are
    // written); null with *error when the cipher cannot be set up.
    static std::shared_ptr<RNEncryptor> make(const RNCryptorSettings &settings, const QString &password,
                                             Handler handler, ErrorPtr *error,
                                             const std::optional<Randomness> &fixed = std::nullopt);
    // Keys given directly; an empty HMAC key writes no HMAC.
    static std::shared_ptr<RNEncryptor> make(const RNCryptorSettings &settings, const QByteArray &encryptionKey,
                                             const QByteArray &HMACKey, Handler handler, ErrorPtr *error,
                                             const std::optional<QByteArray> &fixedIV = std::nullopt);
    ~RNEncryptor() override;

    void addData(const QByteArray &data) override;
    void finish() override;

    // One call: the container, or nothing with *error set.
    static std::optional<QByteArray> encryptData(const QByteArray &data, const RNCryptorSettings &settings,
                                                 const QString &password, ErrorPtr *error);
    static std::optional<QByteArray> encryptData(const QByteArray &data, const RNCryptorSettings &settings,
                                                 const QByteArray &encryptionKey, const QByteArray &HMACKey,
                                                 ErrorPtr *error);
    // The same with fixed salts and IV, for known-answer tests.
    static std::optional<QByteArray> encryptData(const QByteArray &data, const RNCryptorSettings &settings,
                                                 const QString &password, const Randomness &fixed, ErrorPtr *error);

private:
    explicit RNEncryptor(Handler handler);
    bool setUp(const RNCryptorSettings &settings, const QByteArray &encryptionKey, const QByteArray &HMACKey,
               const QByteArray &IV, ErrorPtr *error);
    QByteArray header() const;
    void writeHeaderIfNeeded(); // work queue

    std::unique_ptr<RNCryptorEngine> m_engine;
    std::unique_ptr<RNHMACContext> m_HMACContext;
    bool m_haveWrittenHeader = false;
    QByteArray m_encryptionSalt;
    QByteArray m_HMACSalt;
    QByteArray m_IV;
};
