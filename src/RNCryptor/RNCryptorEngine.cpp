#include "RNCryptorEngine.h"

#include "RNCryptor.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <stdexcept>

struct RNCryptorEngine::Context {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    ~Context() { EVP_CIPHER_CTX_free(ctx); }
};

ErrorPtr RNCipherError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    return Error::make(RNCryptorErrorDomain, code ? ERR_GET_REASON(code) : -1);
}

std::unique_ptr<RNCryptorEngine> RNCryptorEngine::make(Operation operation, const RNCryptorSettings &settings,
                                                       const QByteArray &key, const QByteArray &IV, ErrorPtr *error) {
    std::unique_ptr<RNCryptorEngine> engine(new RNCryptorEngine);
    engine->m_context = std::make_unique<Context>();
    const EVP_CIPHER *cipher = EVP_aes_256_cbc();
    bool ok = engine->m_context->ctx && key.size() == EVP_CIPHER_get_key_length(cipher) &&
              IV.size() == EVP_CIPHER_get_iv_length(cipher) && settings.blockSize == EVP_CIPHER_get_block_size(cipher);
    ok = ok && EVP_CipherInit_ex(engine->m_context->ctx, cipher, nullptr,
                                 reinterpret_cast<const unsigned char *>(key.constData()),
                                 reinterpret_cast<const unsigned char *>(IV.constData()), operation == Encrypt);
    ok = ok && EVP_CIPHER_CTX_set_padding(engine->m_context->ctx, settings.PKCS7Padding ? 1 : 0);
    if (!ok) {
        if (error)
            *error = RNCipherError();
        return nullptr;
    }
    return engine;
}

RNCryptorEngine::~RNCryptorEngine() = default;

bool RNCryptorEngine::addData(const QByteArray &data, QByteArray *out, ErrorPtr *error) {
    // Room for the input and one more block: OpenSSL may hold back a block.
    m_buffer.resize(data.size() + EVP_MAX_BLOCK_LENGTH);
    int written = 0;
    if (!EVP_CipherUpdate(m_context->ctx, reinterpret_cast<unsigned char *>(m_buffer.data()), &written,
                          reinterpret_cast<const unsigned char *>(data.constData()), int(data.size()))) {
        if (error)
            *error = RNCipherError();
        return false;
    }
    *out = QByteArray(m_buffer.constData(), written);
    return true;
}

bool RNCryptorEngine::finish(QByteArray *out, ErrorPtr *error) {
    m_buffer.resize(EVP_MAX_BLOCK_LENGTH);
    int written = 0;
    if (!EVP_CipherFinal_ex(m_context->ctx, reinterpret_cast<unsigned char *>(m_buffer.data()), &written)) {
        if (error)
            *error = RNCipherError();
        return false;
    }
    *out = QByteArray(m_buffer.constData(), written);
    return true;
}

struct RNHMACContext::Context {
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX *ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
    ~Context() {
        EVP_MAC_CTX_free(ctx);
        EVP_MAC_free(mac);
    }
};

RNHMACContext::RNHMACContext(const QByteArray &key, int length)
    : m_context(std::make_unique<Context>()), m_length(length) {
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    // Without HMAC-SHA256 the program's OpenSSL is broken: nothing could be
    // encrypted or checked, and carrying on would write unprotected files.
    if (!m_context->ctx || !EVP_MAC_init(m_context->ctx, reinterpret_cast<const unsigned char *>(key.constData()),
                                         size_t(key.size()), params))
        throw std::runtime_error("OpenSSL offers no HMAC-SHA256");
}

RNHMACContext::~RNHMACContext() = default;

void RNHMACContext::update(const QByteArray &data) {
    EVP_MAC_update(m_context->ctx, reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()));
}

QByteArray RNHMACContext::final() {
    QByteArray out(EVP_MAX_MD_SIZE, '\0');
    size_t length = 0;
    EVP_MAC_final(m_context->ctx, reinterpret_cast<unsigned char *>(out.data()), &length, size_t(out.size()));
    out.truncate(qMin(int(length), m_length));
    return out;
}
