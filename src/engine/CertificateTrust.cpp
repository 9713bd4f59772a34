#include "CertificateTrust.h"

#include "CertificateDetails.h"
#include "TrustDecisions.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <optional>
#include <set>

namespace {

struct StoreDeleter {
    void operator()(X509_STORE *store) const { X509_STORE_free(store); }
};
struct StoreContextDeleter {
    void operator()(X509_STORE_CTX *context) const { X509_STORE_CTX_free(context); }
};

// How a verification error bears on what the user may do about it.
enum class Complaint {
    Trust, // nobody we trust vouches for the chain: the user may
    Name,  // issued for another server: the user may, for this host
    Time,  // expired or not yet valid: the user may, but is asked each time
    Fatal, // the chain itself is broken or not meant for a server
};

Complaint complaintOf(int verifyError) {
    switch (verifyError) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return Complaint::Trust;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return Complaint::Name;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return Complaint::Time;
    default:
        return Complaint::Fatal;
    }
}

// Keeps going after each error so that the evaluation sees all of them: a chain
// that is self-signed and also has a broken signature must not pass as merely
// self-signed.
int collectError(int ok, X509_STORE_CTX *context) {
    if (!ok) {
        auto *errors = static_cast<std::set<int> *>(X509_STORE_CTX_get_app_data(context));
        errors->insert(X509_STORE_CTX_get_error(context));
    }
    return 1;
}

bool isIPAddress(const QByteArray &host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.constData(), buffer) == 1 || inet_pton(AF_INET6, host.constData(), buffer) == 1;
}

// Names the server for the verification: its host name, or its address when the
// user typed one.
bool setExpectedHost(X509_VERIFY_PARAM *param, const QByteArray &host) {
    if (isIPAddress(host))
        return X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) == 1;
    return X509_VERIFY_PARAM_set1_host(param, host.constData(), size_t(host.size())) == 1;
}

bool encodeChain(STACK_OF(X509) * chain, QList<QByteArray> *der) {
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        unsigned char *bytes = nullptr;
        const int length = i2d_X509(sk_X509_value(chain, i), &bytes);
        if (length <= 0)
            return false;
        der->append(QByteArray(reinterpret_cast<const char *>(bytes), length));
        OPENSSL_free(bytes);
    }
    return !der->isEmpty();
}

std::atomic<VerificationFault> injectedFault{VerificationFault::None};

bool faultAt(VerificationFault step) {
    return injectedFault.load() == step;
}

// The verification errors of chain for host, against the system store; false
// when the verification could not run, or ended without saying why: a check that
// did not finish is no check, and never lets a chain pass.
bool verifyChain(STACK_OF(X509) * chain, const QByteArray &host, std::set<int> *errors, QString *failure) {
    std::unique_ptr<X509_STORE, StoreDeleter> store(X509_STORE_new());
    std::unique_ptr<X509_STORE_CTX, StoreContextDeleter> context(X509_STORE_CTX_new());
    if (!store || !context || faultAt(VerificationFault::StoreSetup) ||
        X509_STORE_set_default_paths(store.get()) != 1 ||
        X509_STORE_CTX_init(context.get(), store.get(), sk_X509_value(chain, 0), chain) != 1) {
        *failure = QStringLiteral("The certificate store could not be opened.");
        return false;
    }
    if (faultAt(VerificationFault::Purpose) ||
        X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER) != 1) {
        *failure = QStringLiteral("The certificate could not be checked for use by a server.");
        return false;
    }
    if (!setExpectedHost(X509_STORE_CTX_get0_param(context.get()), host)) {
        *failure =
            QStringLiteral("The host name %1 cannot be checked against a certificate.").arg(QString::fromUtf8(host));
        return false;
    }
    X509_STORE_CTX_set_app_data(context.get(), errors);
    X509_STORE_CTX_set_verify_cb(context.get(), collectError);
    // The callback keeps going past every error, so anything but 1 with no error
    // collected means the verification stopped on its own.
    const int verified = faultAt(VerificationFault::SilentVerifyFailure) ? 0 : X509_verify_cert(context.get());
    if (verified != 1 && errors->empty()) {
        *failure = QStringLiteral("The certificate could not be verified.");
        return false;
    }
    return true;
}

QString errorsText(const std::set<int> &errors) {
    QStringList texts;
    for (int error : errors)
        texts << QString::fromUtf8(X509_verify_cert_error_string(error));
    return texts.join(QStringLiteral("; "));
}

TrustEvaluation notEvaluated(const QString &reason) {
    return {TrustResult::OtherError, reason, {}};
}

} // namespace

void setVerificationFaultForTesting(VerificationFault fault) {
    injectedFault.store(fault);
}

TrustEvaluation evaluateServerTrust(SSL *ssl, const QString &host) {
    if (!ssl || !SSL_is_init_finished(ssl))
        return notEvaluated(QStringLiteral("The TLS handshake has not finished."));
    const QByteArray hostName = host.toUtf8();
    if (hostName.isEmpty())
        return notEvaluated(QStringLiteral("Empty hostname not allowed for SSL."));
    // On the client side the peer chain starts with the server's own certificate,
    // followed by whatever intermediates the server sent.
    STACK_OF(X509) *chain = SSL_get_peer_cert_chain(ssl);
    if (!chain || sk_X509_num(chain) < 1)
        return notEvaluated(QStringLiteral("The server presented no certificate."));
    TrustEvaluation evaluation;
    if (!encodeChain(chain, &evaluation.chain))
        return notEvaluated(QStringLiteral("Failed to decode certificates"));

    std::set<int> errors;
    if (!verifyChain(chain, hostName, &errors, &evaluation.reason))
        return evaluation;
    bool expiry = false;
    evaluation.result = errors.empty() ? TrustResult::Unspecified : TrustResult::RecoverableFailure;
    for (int error : errors) {
        const Complaint complaint = complaintOf(error);
        expiry = expiry || complaint == Complaint::Time;
        if (complaint == Complaint::Fatal)
            evaluation.result = TrustResult::FatalFailure;
    }
    evaluation.reason = errorsText(errors);
    // The user's "always trust" covers a certificate they were shown for this
    // host; once it has run out of time they are asked again.
    if (evaluation.result != TrustResult::FatalFailure && !expiry &&
        TrustDecisions::shared()->isTrusted(host, certificateSHA256(evaluation.chain.first())))
        evaluation.result = TrustResult::Proceed;
    return evaluation;
}

// MARK: the prompter

namespace {
std::mutex prompterMutex;
std::shared_ptr<TrustPrompter> installedPrompter;
} // namespace

void setTrustPrompter(std::shared_ptr<TrustPrompter> prompter) {
    std::lock_guard lock(prompterMutex);
    installedPrompter = std::move(prompter);
}

std::shared_ptr<TrustPrompter> trustPrompter() {
    std::lock_guard lock(prompterMutex);
    return installedPrompter;
}

// MARK: waiting for the panel

// One question on its way to the user. Its answer is set once: by the panel, by
// a cancel, or when the call that would open the panel never runs.
struct TrustQuestion {
    std::optional<TrustPanelAnswer> answer;
    std::function<void()> close; // main thread; set once the panel is open
};

// One panel at a time: two connections to one server would otherwise stack two
// panels, and the first answer may already settle the second. The lock guards
// the panel slot, every question and every cancellation; one condition wakes
// every waiter.
struct TrustPanelWait {
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline bool panelBusy = false;

    static void settle(const std::shared_ptr<TrustQuestion> &question, TrustPanelAnswer answer) {
        {
            std::lock_guard lock(mutex);
            if (question->answer)
                return;
            question->answer = answer;
        }
        changed.notify_all();
    }

    // Main thread: closes the panel of question when it is open.
    static void closeOnMain(const std::shared_ptr<TrustQuestion> &question) {
        std::function<void()> close;
        {
            std::lock_guard lock(mutex);
            close = question->close;
        }
        if (close)
            close();
    }

    static bool isCancelled(const std::shared_ptr<TrustCancellation> &cancellation) {
        return cancellation && cancellation->m_cancelled;
    }

    static void attach(const std::shared_ptr<TrustCancellation> &cancellation,
                       std::shared_ptr<TrustQuestion> question) {
        if (cancellation)
            cancellation->m_question = std::move(question);
    }
};

void TrustCancellation::cancel() {
    std::shared_ptr<TrustQuestion> question;
    {
        std::lock_guard lock(TrustPanelWait::mutex);
        m_cancelled = true;
        question = m_question;
        if (question && !question->answer)
            question->answer = TrustPanelAnswer{};
    }
    TrustPanelWait::changed.notify_all();
    if (question)
        Main::post([question] { TrustPanelWait::closeOnMain(question); });
}

bool TrustCancellation::isCancelled() const {
    std::lock_guard lock(TrustPanelWait::mutex);
    return m_cancelled;
}

namespace {

// Refuses when the call that would open the panel is dropped unrun (no
// application, or one that is shutting down), so the queue never waits forever.
class PanelOpening {
public:
    explicit PanelOpening(std::shared_ptr<TrustQuestion> question) : m_question(std::move(question)) {}
    ~PanelOpening() {
        if (!m_ran)
            TrustPanelWait::settle(m_question, {});
    }
    const std::shared_ptr<TrustQuestion> &run() {
        m_ran = true;
        return m_question;
    }

private:
    std::shared_ptr<TrustQuestion> m_question;
    bool m_ran = false;
};

// The slot for the one open panel, held while this connection's panel may open.
class PanelSlot {
public:
    // Waits for the slot; false when the connection was cancelled meanwhile.
    bool take(const std::shared_ptr<TrustCancellation> &cancellation) {
        std::unique_lock lock(TrustPanelWait::mutex);
        TrustPanelWait::changed.wait(
            lock, [&] { return !TrustPanelWait::panelBusy || TrustPanelWait::isCancelled(cancellation); });
        if (TrustPanelWait::isCancelled(cancellation))
            return false;
        TrustPanelWait::panelBusy = m_held = true;
        return true;
    }
    ~PanelSlot() {
        if (!m_held)
            return;
        {
            std::lock_guard lock(TrustPanelWait::mutex);
            TrustPanelWait::panelBusy = false;
        }
        TrustPanelWait::changed.notify_all();
    }

private:
    bool m_held = false;
};

// Opens the panel on the main thread and waits on this queue for the answer.
TrustPanelAnswer askOnMainThread(const std::shared_ptr<TrustPrompter> &prompter, const TrustPanelRequest &request,
                                 const std::shared_ptr<TrustCancellation> &cancellation) {
    auto question = std::make_shared<TrustQuestion>();
    {
        std::lock_guard lock(TrustPanelWait::mutex);
        if (TrustPanelWait::isCancelled(cancellation))
            return {};
        TrustPanelWait::attach(cancellation, question);
    }
    auto opening = std::make_shared<PanelOpening>(question);
    Main::post([opening, prompter, request] {
        const std::shared_ptr<TrustQuestion> asked = opening->run();
        {
            std::lock_guard lock(TrustPanelWait::mutex);
            if (asked->answer)
                return; // cancelled before it opened
        }
        std::function<void()> close = prompter->beginTrustPanel(
            request, [asked](TrustPanelAnswer answer) { TrustPanelWait::settle(asked, answer); });
        bool answered;
        {
            std::lock_guard lock(TrustPanelWait::mutex);
            asked->close = close;
            answered = asked->answer.has_value();
        }
        // A cancel that came while it opened found nothing to close yet.
        if (answered && close)
            close();
    });
    opening.reset();
    std::unique_lock lock(TrustPanelWait::mutex);
    TrustPanelWait::changed.wait(lock, [&] { return question->answer.has_value(); });
    TrustPanelWait::attach(cancellation, nullptr);
    return *question->answer;
}

} // namespace

// MARK: the decision

namespace {

void registerTrustDefaults() {
    static std::once_flag once;
    std::call_once(once, [] {
        UserDefaults::standard().registerDefaults({{TrustStandardCertificateAuthoritiesKey, true}});
    });
}

QString applicationName() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Trellan") : name;
}

TrustPanelRequest panelRequest(const TrustEvaluation &evaluation, const QString &host) {
    TrustPanelRequest request;
    request.host = host;
    request.chain = evaluation.chain;
    if (evaluation.result == TrustResult::Unspecified) {
        request.message = QStringLiteral("The server presented an unknown certificate.");
        request.informativeText = QStringLiteral("The server certificate is issued by a trusted certificate "
                                                 "authority, but you have not explicitly marked the certificate "
                                                 "as trusted.");
    } else {
        request.message = QStringLiteral("%1 can't verify the identity of the server %2.").arg(applicationName(), host);
        request.informativeText = QStringLiteral("If you connect, you are vulnerable to a man-in-the-middle attack.");
    }
    return request;
}

bool askUser(SSL *ssl, const TrustEvaluation &evaluation, const QString &host, TrustCheck *check) {
    const QByteArray leaf = certificateSHA256(evaluation.chain.first());
    if (!check->acceptedCertificate.isEmpty() && check->acceptedCertificate == leaf)
        return true;
    std::shared_ptr<TrustPrompter> prompter = trustPrompter();
    if (!prompter) {
        check->reason = QStringLiteral("nobody could be asked to trust the certificate");
        return false;
    }
    // The queue waits for the main thread's answer: from the main thread itself
    // that wait could never end.
    if (Main::isMainThread())
        throw ProgramError("WrongThread", "verifyServerCertificate must ask from a connection queue");
    PanelSlot slot;
    if (!slot.take(check->cancellation)) {
        check->reason = QStringLiteral("the connection was cancelled");
        return false;
    }
    // The panel this one waited for may have settled it.
    if (evaluateServerTrust(ssl, host).result == TrustResult::Proceed)
        return true;
    const TrustPanelAnswer answer = askOnMainThread(prompter, panelRequest(evaluation, host), check->cancellation);
    if (!answer.connect) {
        check->reason = check->cancellation && check->cancellation->isCancelled()
                            ? QStringLiteral("the connection was cancelled")
                            : QStringLiteral("the certificate was not trusted");
        return false;
    }
    if (answer.alwaysTrust)
        TrustDecisions::shared()->trust(host, leaf);
    check->askedAndAccepted = true;
    check->answeredCertificate = leaf;
    return true;
}

} // namespace

bool verifyServerCertificate(SSL *ssl, const QString &host, TrustCheck *check) {
    registerTrustDefaults();
    const TrustEvaluation evaluation = evaluateServerTrust(ssl, host);
    bool accepted = false;
    QString why;
    switch (evaluation.result) {
    case TrustResult::Proceed:
        return true;
    case TrustResult::Unspecified:
        if (UserDefaults::standard().boolForKey(TrustStandardCertificateAuthoritiesKey))
            return true;
        accepted = askUser(ssl, evaluation, host, check);
        why = check->reason;
        break;
    case TrustResult::Confirm:
    case TrustResult::RecoverableFailure:
        accepted = askUser(ssl, evaluation, host, check);
        why = evaluation.reason + QStringLiteral("; ") + check->reason;
        break;
    case TrustResult::OtherError:
        // These texts are the whole story ("Empty hostname not allowed for SSL.").
        Log(evaluation.reason);
        check->reason = evaluation.reason;
        return false;
    default:
        why = evaluation.reason;
        break;
    }
    if (accepted)
        return true;
    Log(QStringLiteral("Refused the certificate of %1: %2").arg(host, why));
    check->reason = why;
    return false;
}

bool verifyServerCertificate(SSL *ssl, const QString &host, QString *reason) {
    TrustCheck check;
    const bool accepted = verifyServerCertificate(ssl, host, &check);
    if (!accepted && reason)
        *reason = check.reason;
    return accepted;
}
