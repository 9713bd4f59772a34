#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// Resolves one host name to its socket addresses with the system resolver
// (getaddrinfo, so /etc/hosts, nsswitch and resolv.conf all apply), on a short
// worker thread while the caller waits in 50 ms slices, so that cancel() from
// another thread ends the wait at once.
class DNSResolver {
public:
    static inline const QString ErrorDomain = QStringLiteral("norvane.DNSResolver");
    enum { ErrorCodeLookupFailed = 2 };
    // The getaddrinfo code of a failed lookup (int), in the error's user info.
    static inline const QString GetAddrInfoFailureKey = QStringLiteral("norvane.DNSResolverGetAddrInfoFailureKey");

    explicit DNSResolver(const QString &hostname = QString());
    ~DNSResolver();
    DNSResolver(const DNSResolver &) = delete;
    DNSResolver &operator=(const DNSResolver &) = delete;

    // Blocks the caller (the connection queue) until the name resolved, failed,
    // the lookup was cancelled or the deadline passed; true when addresses()
    // holds the answer.
    bool lookup(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
    // any thread
    void cancel();

    void setHostname(const QString &hostname);
    QString hostname() const;
    // Each a struct sockaddr as bytes, in the order the resolver gives them.
    QList<QByteArray> addresses() const;
    ErrorPtr error() const;
    bool done() const;

    // The numeric text of a socket address ("127.0.0.1", "::1"); a null string and
    // *error on failure.
    static QString stringForAddress(const QByteArray &address, ErrorPtr *error = nullptr);
    // The error of a failed getaddrinfo call (errnoValue for EAI_SYSTEM).
    static ErrorPtr errorForGetAddrInfo(int code, int errnoValue);

    // Tests only: every later worker sleeps this long before asking, which turns
    // any lookup into a slow one.
    static void setWorkerDelayForTesting(std::chrono::milliseconds delay);
    // Tests only: hook runs on each worker once it has its answer, just before
    // the answer is handed over, while the waiting caller cannot look, and may
    // change the addresses found; and how many workers were ever started.
    static void setAnsweredHookForTesting(std::function<void(QList<QByteArray> &addresses)> hook);
    static int workersStartedForTesting();

private:
    void finishLocked(ErrorPtr error, QList<QByteArray> addresses);

    std::atomic<bool> m_shouldCancel{false};
    mutable std::mutex m_mutex;
    bool m_done = false;
    QString m_hostname;
    QList<QByteArray> m_addresses;
    ErrorPtr m_error;
};
