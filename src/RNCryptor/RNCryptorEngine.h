#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <memory>

struct RNCryptorSettings;

// One AES-CBC pass (PKCS#7 padding) over OpenSSL's EVP interface. Failures are
// errors of the container's domain whose code is OpenSSL's reason code.
class RNCryptorEngine {
public:
    enum Operation { Encrypt = 0, Decrypt = 1 };

    // Null with *error set when the cipher refuses the key or IV.
    static std::unique_ptr<RNCryptorEngine> make(Operation operation, const RNCryptorSettings &settings,
                                                 const QByteArray &key, const QByteArray &IV, ErrorPtr *error);
    ~RNCryptorEngine();
    RNCryptorEngine(const RNCryptorEngine &) = delete;
    RNCryptorEngine &operator=(const RNCryptorEngine &) = delete;

    // The output for this input; false with *error on a cipher failure.
    bool addData(const QByteArray &data, QByteArray *out, ErrorPtr *error);
    // The final block (encrypting) or the last plaintext bytes after the padding
    // is checked (decrypting).
    bool finish(QByteArray *out, ErrorPtr *error);

private:
    RNCryptorEngine() = default;
    struct Context;
    std::unique_ptr<Context> m_context;
    QByteArray m_buffer; // reused for every update's output
};

// HMAC state for the container's trailer.
class RNHMACContext {
public:
    RNHMACContext(const QByteArray &key, int length);
    ~RNHMACContext();
    RNHMACContext(const RNHMACContext &) = delete;
    RNHMACContext &operator=(const RNHMACContext &) = delete;

    void update(const QByteArray &data);
    QByteArray final();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
    int m_length;
};

// The cipher's error for the reason at the head of OpenSSL's error queue (which it
// clears), or code -1 when the queue held none.
ErrorPtr RNCipherError();
