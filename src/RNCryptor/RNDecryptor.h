#pragma once

#include "RNCryptor.h"

class RNCryptorEngine;

// Reads a container. The header is checked as soon as it has arrived; the
// plaintext is handed out only at finish(), after the HMAC over header and
// ciphertext has been verified, so that nothing of altered data (and no padding
// verdict on it) ever reaches the caller.
class RNDecryptor : public RNCryptor {
public:
    static std::shared_ptr<RNDecryptor> make(const QString &password, Handler handler);
    // The password's bytes as they are.
    static std::shared_ptr<RNDecryptor> make(const QByteArray &passwordBytes, Handler handler);
    // Keys given directly; an empty HMAC key expects no HMAC.
    static std::shared_ptr<RNDecryptor> make(const QByteArray &encryptionKey, const QByteArray &HMACKey,
                                             Handler handler);
    ~RNDecryptor() override;

    void addData(const QByteArray &data) override;
    void finish() override;

    // One call: the plaintext, or nothing with *error set. A password with
    // characters outside ASCII that fails the HMAC is tried once more as its first
    // password.length() UTF-8 bytes: the form another writer of these files used.
    static std::optional<QByteArray> decryptData(const QByteArray &data, const QString &password, ErrorPtr *error);
    static std::optional<QByteArray> decryptData(const QByteArray &data, const QByteArray &encryptionKey,
                                                 const QByteArray &HMACKey, ErrorPtr *error);
    // Null when data has the shape of a container made with a password
    // (version, password option, whole blocks, room for the HMAC); otherwise
    // the error decrypting it ends with, whatever the password. Lets a caller
    // tell a damaged container from one that needs a password.
    static ErrorPtr passwordContainerShapeError(const QByteArray &data);

private:
    explicit RNDecryptor(Handler handler);
    void consumeHeader();
    bool verifyHMAC(const QByteArray &ciphertext, const QByteArray &mac);

    QByteArray m_inData;
    QByteArray m_header;
    bool m_usesPassword = false;
    QByteArray m_password;
    QByteArray m_encryptionKey;
    QByteArray m_HMACKey;
    std::unique_ptr<RNCryptorEngine> m_engine;
};

// The container's errors.
ErrorPtr RNCryptorHMACMismatchError();
ErrorPtr RNCryptorUnknownHeaderError();
