#include "CertificateTrust.h"

#include "platform/Log.h"

#include <arpa/inet.h>
#include <memory>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {
struct StoreDeleter {
    void operator()(X509_STORE *store) const { X509_STORE_free(store); }
};
struct StoreContextDeleter {
    void operator()(X509_STORE_CTX *context) const { X509_STORE_CTX_free(context); }
};

bool isIPAddress(const QByteArray &host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.constData(), buffer) == 1 || inet_pton(AF_INET6, host.constData(), buffer) == 1;
}

// Failures a user could sensibly override for a server they know; every other
// verification error means the chain itself is unusable.
bool isRecoverable(int verifyError) {
    switch (verifyError) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return true;
    default:
        return false;
    }
}

TrustEvaluation fatal(const QString &reason) { return {TrustResult::FatalFailure, reason}; }

// Names the server for the verification: its host name, or its address when the
// user typed one.
bool setExpectedHost(X509_VERIFY_PARAM *param, const QByteArray &host) {
    if (isIPAddress(host))
        return X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) == 1;
    return X509_VERIFY_PARAM_set1_host(param, host.constData(), size_t(host.size())) == 1;
}
} // namespace

TrustEvaluation evaluateServerTrust(SSL *ssl, const QString &host) {
    if (!ssl || !SSL_is_init_finished(ssl))
        return fatal(QStringLiteral("The TLS handshake has not finished."));
    const QByteArray hostName = host.toUtf8();
    if (hostName.isEmpty())
        return fatal(QStringLiteral("Empty hostname not allowed for SSL."));
    // On the client side the peer chain starts with the server's own certificate,
    // followed by whatever intermediates the server sent.
    STACK_OF(X509) *chain = SSL_get_peer_cert_chain(ssl);
    if (!chain || sk_X509_num(chain) < 1)
        return fatal(QStringLiteral("The server presented no certificate."));

    std::unique_ptr<X509_STORE, StoreDeleter> store(X509_STORE_new());
    std::unique_ptr<X509_STORE_CTX, StoreContextDeleter> context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_set_default_paths(store.get()) != 1 ||
        X509_STORE_CTX_init(context.get(), store.get(), sk_X509_value(chain, 0), chain) != 1)
        return fatal(QStringLiteral("The certificate store could not be opened."));
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
    if (!setExpectedHost(X509_STORE_CTX_get0_param(context.get()), hostName))
        return fatal(QStringLiteral("The host name %1 cannot be checked against a certificate.").arg(host));

    if (X509_verify_cert(context.get()) == 1)
        return {TrustResult::Unspecified, QString()};
    const int verifyError = X509_STORE_CTX_get_error(context.get());
    const QString reason = QString::fromUtf8(X509_verify_cert_error_string(verifyError));
    return {isRecoverable(verifyError) ? TrustResult::RecoverableFailure : TrustResult::FatalFailure, reason};
}

bool verifyServerCertificate(SSL *ssl, const QString &host, QString *reason) {
    const TrustEvaluation evaluation = evaluateServerTrust(ssl, host);
    switch (evaluation.result) {
    case TrustResult::Proceed:
    case TrustResult::Unspecified:
        return true;
    case TrustResult::RecoverableFailure:
    case TrustResult::FatalFailure:
        // Nobody is asked yet: a chain the store does not vouch for is refused.
        break;
    }
    Log(QStringLiteral("Refused the certificate of %1: %2").arg(host, evaluation.reason));
    if (reason)
        *reason = evaluation.reason;
    return false;
}
