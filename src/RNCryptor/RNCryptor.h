// Password encryption of favorite files: a self-describing container (version
// byte, options, two PBKDF2 salts, IV, AES-256-CBC ciphertext, HMAC-SHA256 over
// all of it) on OpenSSL. QtCore only.
#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class SerialQueue;

inline const QString RNCryptorErrorDomain = QStringLiteral("quenby.RNCryptManager");

enum RNCryptorErrorCode {
    kRNCryptorHMACMismatch = 1,
    kRNCryptorUnknownHeader = 2,
};

struct RNCryptorKeyDerivationSettings {
    int keySize = 32;
    int saltSize = 8;
#ifdef TRELLAN_FUZZING
    // The fuzz build alone: ten thousand rounds would let a fuzzer try tens of
    // containers a second instead of thousands.
    unsigned rounds = 1;
#else
    unsigned rounds = 10000; // PBKDF2 with HMAC-SHA1
#endif
};

struct RNCryptorSettings {
    int blockSize = 16;
    int IVSize = 16;
    bool PKCS7Padding = true;
    int HMACLength = 32; // HMAC-SHA256
    RNCryptorKeyDerivationSettings keySettings;
    RNCryptorKeyDerivationSettings HMACKeySettings;

    // AES-256 with the key sizes, salts and rounds above: the only settings in use.
    static const RNCryptorSettings AES256;
};

inline constexpr quint8 kRNCryptorFileVersion = 2;
inline constexpr quint8 kRNCryptorOptionHasPassword = 0x01;

// Removes the first n bytes of data and answers them.
QByteArray RNConsumeToIndex(QByteArray &data, qsizetype n);

// One encryption or decryption stream. addData() and finish() queue their work on
// the cryptor's own serial queue (made on first use), in call order; the handler
// receives each piece of output in order, synchronously on the response queue
// (the work queue unless one is set), the last call with isFinished() true and
// error() set or null, and is dropped after it. The one-call wrappers start no
// thread: they do the work on the caller's.
class RNCryptor : public std::enable_shared_from_this<RNCryptor> {
public:
    using Handler = std::function<void(RNCryptor &cryptor, const QByteArray &data)>;

    virtual ~RNCryptor();
    RNCryptor(const RNCryptor &) = delete;
    RNCryptor &operator=(const RNCryptor &) = delete;

    virtual void addData(const QByteArray &data) = 0;
    virtual void finish() = 0;

    bool isFinished() const { return m_finished; }
    ErrorPtr error() const;
    quint8 options() const { return m_options; }
    bool hasHMAC() const { return m_HMACLength != 0; }

    void setHandler(Handler handler);
    void setResponseQueue(std::shared_ptr<SerialQueue> queue);

    // PBKDF2-HMAC-SHA1 of the password bytes: a key of the settings' size.
    static QByteArray keyForPassword(const QByteArray &password, const QByteArray &salt,
                                     const RNCryptorKeyDerivationSettings &settings);
    static QByteArray randomDataOfLength(qsizetype length);

    // Feeds the whole input and finishes, on the calling thread; the output, or
    // nothing with *error set.
    static std::optional<QByteArray> synchronousResultForCryptor(const std::shared_ptr<RNCryptor> &cryptor,
                                                                 const QByteArray &data, ErrorPtr *error);

protected:
    explicit RNCryptor(Handler handler, const char *className);

    // Work queue: the output so far goes to the handler.
    void deliverOutData();
    // Work queue: keeps the error, marks the cryptor finished and hands the handler
    // the output not yet delivered.
    void cleanupAndNotifyWithError(ErrorPtr error);
    // Queues a job that keeps the cryptor alive and is skipped once finished.
    void enqueue(std::function<void()> job);

    quint8 m_options = 0;
    qsizetype m_HMACLength = 0;
    QByteArray m_outData; // work queue

private:
    void callHandler(const QByteArray &data, bool last);

    mutable std::mutex m_mutex; // handler, response queue, error, work queue
    Handler m_handler;
    std::shared_ptr<SerialQueue> m_responseQueue;
    std::unique_ptr<SerialQueue> m_queue;
    const char *m_className;
    bool m_inline = false; // the work runs where it is asked for
    ErrorPtr m_error;
    std::atomic<bool> m_finished{false};
};
