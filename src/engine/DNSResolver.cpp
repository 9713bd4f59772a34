#include "DNSResolver.h"

#include "KesError.h"
#include "platform/Posix.h"

#include <condition_variable>
#include <cstring>
#include <functional>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace {
std::atomic<int> workerDelayMs{0};
std::atomic<int> workersStarted{0};
std::mutex hookMutex;
std::function<void(QList<QByteArray> &)> answeredHook;

// What the worker and the waiting caller share. The worker holds it too, so a
// lookup that was given up on can still finish and drop its answer harmlessly.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int code = 0;
    int errnoValue = 0;
    QList<QByteArray> addresses;
};

void resolve(const std::shared_ptr<Lookup> &lookup, const QByteArray &name) {
    if (int delay = workerDelayMs.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    // One entry per address rather than one per socket type.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    errno = 0;
    const int code = getaddrinfo(name.constData(), nullptr, &hints, &list);
    const int errnoValue = errno;
    QList<QByteArray> addresses;
    if (code == 0) {
        for (addrinfo *ai = list; ai; ai = ai->ai_next)
            addresses.append(QByteArray(reinterpret_cast<const char *>(ai->ai_addr), int(ai->ai_addrlen)));
        freeaddrinfo(list);
    }
    std::function<void(QList<QByteArray> &)> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = answeredHook;
    }
    {
        std::lock_guard lock(lookup->mutex);
        if (hook)
            hook(addresses); // the waiting caller cannot look in between
        lookup->done = true;
        lookup->code = code;
        lookup->errnoValue = errnoValue;
        lookup->addresses = std::move(addresses);
    }
    lookup->finished.notify_all();
}
} // namespace

DNSResolver::DNSResolver(const QString &hostname) : m_hostname(hostname) {}

DNSResolver::~DNSResolver() = default;

bool DNSResolver::lookup(std::optional<std::chrono::steady_clock::time_point> deadline) {
    const QString name = hostname();
    if (name.isEmpty()) {
        std::lock_guard lock(m_mutex);
        finishLocked(KesError::errorWithFormat(QStringLiteral("No hostname provided.")), {});
        return false;
    }
    // Cancelled already: nothing to ask the network for.
    if (m_shouldCancel.load()) {
        std::lock_guard lock(m_mutex);
        finishLocked(KesError::errorWithFormat(QStringLiteral("Name look up was cancelled.")), {});
        return false;
    }
    auto pending = std::make_shared<Lookup>();
    ++workersStarted;
    std::thread(resolve, pending, name.toUtf8()).detach();

    const auto late = [&deadline] { return deadline && std::chrono::steady_clock::now() >= *deadline; };
    std::unique_lock wait(pending->mutex);
    while (!pending->done && !m_shouldCancel.load() && !late())
        pending->finished.wait_for(wait, std::chrono::milliseconds(50));
    // A cancel is final, also when the answer came at the same moment: the
    // caller has moved on and must not find the look-up succeeded.
    const bool cancelled = m_shouldCancel.load();
    const bool answered = pending->done && !cancelled;
    const int code = pending->code;
    const int errnoValue = pending->errnoValue;
    QList<QByteArray> addresses = pending->addresses;
    wait.unlock();

    std::lock_guard lock(m_mutex);
    if (!answered)
        finishLocked(KesError::errorWithFormat(cancelled ? QStringLiteral("Name look up was cancelled.")
                                                         : QStringLiteral("Name look up took longer than the time "
                                                                          "allowed.")),
                     {});
    else if (code != 0)
        finishLocked(errorForGetAddrInfo(code, errnoValue), {});
    else if (addresses.isEmpty())
        finishLocked(KesError::errorWithFormat(QStringLiteral("Name look up failed for %1").arg(name)), {});
    else
        finishLocked(nullptr, std::move(addresses));
    return m_error == nullptr;
}

void DNSResolver::finishLocked(ErrorPtr error, QList<QByteArray> addresses) {
    m_error = std::move(error);
    m_addresses = std::move(addresses);
    m_done = true;
}

void DNSResolver::cancel() {
    m_shouldCancel.store(true);
}

void DNSResolver::setHostname(const QString &hostname) {
    std::lock_guard lock(m_mutex);
    m_hostname = hostname;
}

QString DNSResolver::hostname() const {
    std::lock_guard lock(m_mutex);
    return m_hostname;
}

QList<QByteArray> DNSResolver::addresses() const {
    std::lock_guard lock(m_mutex);
    return m_addresses;
}

ErrorPtr DNSResolver::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool DNSResolver::done() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

QString DNSResolver::stringForAddress(const QByteArray &address, ErrorPtr *error) {
    char host[1025];
    const int code = getnameinfo(reinterpret_cast<const sockaddr *>(address.constData()), socklen_t(address.size()),
                                 host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    if (code != 0) {
        if (error)
            *error = KesError::errorWithFormat(QString::fromUtf8(gai_strerror(code)));
        return QString();
    }
    return QString::fromUtf8(host);
}

ErrorPtr DNSResolver::errorForGetAddrInfo(int code, int errnoValue) {
    QString description;
    switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA: // the name exists but has no address: just as unreachable
#endif
        description = QStringLiteral("Hostname not found.");
        break;
    case EAI_SYSTEM:
        description = Posix::errnoText(errnoValue);
        break;
    default:
        description = QString::fromUtf8(gai_strerror(code));
        break;
    }
    QVariantMap info;
    info.insert(Error::DescriptionKey, description);
    info.insert(GetAddrInfoFailureKey, code);
    return Error::make(ErrorDomain, ErrorCodeLookupFailed, info);
}

void DNSResolver::setWorkerDelayForTesting(std::chrono::milliseconds delay) {
    workerDelayMs.store(int(delay.count()));
}

void DNSResolver::setAnsweredHookForTesting(std::function<void(QList<QByteArray> &)> hook) {
    std::lock_guard lock(hookMutex);
    answeredHook = std::move(hook);
}

int DNSResolver::workersStartedForTesting() {
    return workersStarted.load();
}
