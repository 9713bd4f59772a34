#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

typedef struct ssl_st SSL;

// What the trust evaluation says of a server's certificate chain, numbered as
// the trust results are everywhere in the program's logs; the decision (accept,
// refuse, ask the user) is taken by verifyServerCertificate on top of this.
enum class TrustResult : int {
    Invalid = 0,
    Proceed = 1,            // trusted by an explicit decision of the user
    Confirm = 2,            // the user should confirm (asked like a recoverable failure)
    Deny = 3,               // distrusted by an explicit decision
    Unspecified = 4,        // trusted through the standard certificate authorities
    RecoverableFailure = 5, // not trusted, but a user may choose to trust it (self-signed,
                            // unknown issuer, wrong name, expired)
    FatalFailure = 6,       // never to be trusted (broken signature, wrong purpose, malformed)
    OtherError = 7,         // nothing was evaluated (no handshake, no certificate, no store)
};

struct TrustEvaluation {
    TrustResult result = TrustResult::OtherError;
    QString reason;          // why it is not trusted; empty when trusted
    QList<QByteArray> chain; // DER, the server's own certificate first
};

// connection queue. Evaluates the peer chain of a finished handshake against the
// system trust store (SSL_CERT_FILE and SSL_CERT_DIR apply) and the user's
// stored decisions, for a TLS server named host (a name, compared
// case-insensitively, or an IP address).
TrustEvaluation evaluateServerTrust(SSL *ssl, const QString &host);

// What the trust panel shows.
struct TrustPanelRequest {
    QString message;
    QString informativeText;
    QString host;
    QList<QByteArray> chain; // DER, the server's own certificate first
};

struct TrustPanelAnswer {
    bool connect = false;     // "Connect"; anything else refuses
    bool alwaysTrust = false; // remember the server's certificate for this host
};

// Asks the user about a certificate. The engine cannot show windows; the
// application installs the panel of the interface at start-up.
class TrustPrompter {
public:
    virtual ~TrustPrompter() = default;
    // main thread. Returns once the user has answered.
    virtual TrustPanelAnswer runModalForTrust(const TrustPanelRequest &request) = 0;
};

// any thread. With no prompter, certificates that need an answer are refused.
void setTrustPrompter(std::shared_ptr<TrustPrompter> prompter);
std::shared_ptr<TrustPrompter> trustPrompter();

// User default (bool, registered YES): a certificate trusted through the
// standard authorities is accepted without asking.
inline const QString TrustStandardCertificateAuthoritiesKey = QStringLiteral("TrustStandardCertificateAuthorities");

// connection queue. Judges the certificate chain of a finished TLS handshake for
// host (name or address): true when the connection may go on to send its
// startup packet. May ask the user on the main thread while the queue waits
// (never call it from the main thread while a queue waits on the main thread).
// On refusal *reason (when given) says why.
bool verifyServerCertificate(SSL *ssl, const QString &host, QString *reason = nullptr);
