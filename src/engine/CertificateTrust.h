#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
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

// Tests only: makes every later evaluation fail at one step the way OpenSSL
// can, with no error of the chain itself to show for it.
enum class VerificationFault { None, StoreSetup, Purpose, SilentVerifyFailure };
void setVerificationFaultForTesting(VerificationFault fault);

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
    // main thread. Opens the panel and returns at once, without an event loop of
    // its own. `answered` runs exactly once on the main thread: with the user's
    // answer, or with a refusal when the panel goes away unanswered. The function
    // returned closes a panel still open, which then answers a refusal (main
    // thread; harmless once answered).
    virtual std::function<void()> beginTrustPanel(const TrustPanelRequest &request,
                                                  std::function<void(TrustPanelAnswer)> answered) = 0;
};

// any thread. With no prompter, certificates that need an answer are refused.
void setTrustPrompter(std::shared_ptr<TrustPrompter> prompter);
std::shared_ptr<TrustPrompter> trustPrompter();

// User default (bool, registered YES): a certificate trusted through the
// standard authorities is accepted without asking.
inline const QString TrustStandardCertificateAuthoritiesKey = QStringLiteral("TrustStandardCertificateAuthorities");

// Ends a connection's wait for the trust panel: a panel still open closes and
// answers a refusal, and a connection still waiting for another connection's
// panel gives up. One per connection; cancel() is final.
class TrustCancellation {
public:
    // any thread
    void cancel();
    bool isCancelled() const;

private:
    friend struct TrustPanelWait;
    std::shared_ptr<struct TrustQuestion> m_question; // the question asked for this connection, if any
    bool m_cancelled = false;                         // both guarded by the panel lock
};

// What one certificate check may be told and tells back.
struct TrustCheck {
    std::shared_ptr<TrustCancellation> cancellation;
    // The SHA-256 of a server certificate the user accepted for this host earlier
    // in the same connect: accepted again without asking.
    QByteArray acceptedCertificate;
    // Out: the user was asked and answered Connect; the SHA-256 of what they saw.
    bool askedAndAccepted = false;
    QByteArray answeredCertificate;
    // Out: why the chain was refused.
    QString reason;
};

// connection queue. Judges the certificate chain of a finished TLS handshake for
// host (name or address): true when the connection may go on to send its
// startup packet. May ask the user: the panel opens on the main thread while the
// queue waits until the user answers or the check is cancelled; asking from the
// main thread throws "WrongThread".
bool verifyServerCertificate(SSL *ssl, const QString &host, TrustCheck *check);
// The same with no cancellation; on refusal *reason (when given) says why.
bool verifyServerCertificate(SSL *ssl, const QString &host, QString *reason = nullptr);
