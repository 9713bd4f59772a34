#pragma once

#include <QString>

typedef struct ssl_st SSL;

// What the trust store says of a server's certificate chain, apart from what is
// then done about it: the decision (accept, refuse, ask the user) is taken by
// verifyServerCertificate on top of this.
enum class TrustResult {
    Proceed,            // trusted by an explicit decision of the user
    Unspecified,        // trusted through the standard certificate authorities
    RecoverableFailure, // not trusted, but a user may choose to trust it (self-signed, unknown issuer, wrong name, expired)
    FatalFailure,       // never to be trusted (no certificate, broken signature, revoked, wrong purpose)
};

struct TrustEvaluation {
    TrustResult result = TrustResult::FatalFailure;
    QString reason; // why it is not trusted; empty when trusted
};

// connection queue. Evaluates the peer chain of a finished handshake against the
// system trust store (SSL_CERT_FILE and SSL_CERT_DIR apply) for a TLS server
// named host (a name, compared case-insensitively, or an IP address).
TrustEvaluation evaluateServerTrust(SSL *ssl, const QString &host);

// connection queue. Judges the certificate chain of a finished TLS handshake for
// host (name or address): true when the connection may go on to send its
// startup packet. May ask the user on the main thread while the queue waits.
// On refusal *reason (when given) says why.
bool verifyServerCertificate(SSL *ssl, const QString &host, QString *reason = nullptr);
