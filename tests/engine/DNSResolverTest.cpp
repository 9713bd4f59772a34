#include "engine/DNSResolver.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <netdb.h>
#include <thread>

namespace {
QStringList numericAddresses(const DNSResolver &resolver) {
    QStringList texts;
    for (const QByteArray &address : resolver.addresses())
        texts.append(DNSResolver::stringForAddress(address));
    return texts;
}

struct SlowWorkers {
    explicit SlowWorkers(int ms) { DNSResolver::setWorkerDelayForTesting(std::chrono::milliseconds(ms)); }
    ~SlowWorkers() { DNSResolver::setWorkerDelayForTesting(std::chrono::milliseconds(0)); }
};
} // namespace

TEST(DNSResolver, LiteralAddressesAndLocalNamesResolve) {
    DNSResolver v4("127.0.0.1");
    ASSERT_TRUE(v4.lookup());
    EXPECT_EQ(numericAddresses(v4), QStringList{"127.0.0.1"});
    EXPECT_TRUE(v4.done());
    EXPECT_EQ(v4.error(), nullptr);

    DNSResolver v6("::1");
    ASSERT_TRUE(v6.lookup());
    EXPECT_EQ(numericAddresses(v6), QStringList{"::1"});

    // Names are not case-sensitive to the resolver.
    DNSResolver upper("LOCALHOST");
    ASSERT_TRUE(upper.lookup());
    EXPECT_TRUE(numericAddresses(upper).contains("127.0.0.1"));
}

TEST(DNSResolver, UnknownNameAndMissingNameFailWithTheirTexts) {
    DNSResolver unknown("no-such-host.invalid");
    EXPECT_FALSE(unknown.lookup());
    ASSERT_NE(unknown.error(), nullptr);
    EXPECT_EQ(unknown.error()->domain(), DNSResolver::ErrorDomain);
    EXPECT_EQ(unknown.error()->code(), 2);
    EXPECT_EQ(unknown.error()->localizedDescription(), "Hostname not found.");
    EXPECT_EQ(unknown.error()->userInfo().value(DNSResolver::GetAddrInfoFailureKey).toInt(), EAI_NONAME);
    EXPECT_TRUE(unknown.addresses().isEmpty());

    DNSResolver none;
    EXPECT_FALSE(none.lookup());
    EXPECT_EQ(none.error()->localizedDescription(), "No hostname provided.");
}

// Tells when a worker's answer is in, and can act right then on the worker.
class AnswerWatch {
public:
    explicit AnswerWatch(std::function<void()> action = {}) {
        DNSResolver::setAnsweredHookForTesting([this, action](QList<QByteArray> &) {
            if (action)
                action();
            std::lock_guard lock(m_mutex);
            m_answered = true;
            m_changed.notify_all();
        });
    }
    ~AnswerWatch() { DNSResolver::setAnsweredHookForTesting(nullptr); }
    bool answered() {
        std::lock_guard lock(m_mutex);
        return m_answered;
    }
    bool waitForAnswer(std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_answered; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_answered = false;
};

TEST(DNSResolver, CancelEndsASlowLookupLongBeforeItsAnswerAndTheLateAnswerIsHarmless) {
    SlowWorkers slow(4000);
    AnswerWatch watch;
    auto resolver = std::make_unique<DNSResolver>("127.0.0.1");
    const int started = DNSResolver::workersStartedForTesting();
    std::thread canceller([&] {
        while (DNSResolver::workersStartedForTesting() == started)
            std::this_thread::yield();
        resolver->cancel();
    });
    EXPECT_FALSE(resolver->lookup());
    canceller.join();
    EXPECT_FALSE(watch.answered()) << "it waited for the answer";
    EXPECT_EQ(resolver->error()->localizedDescription(), "Name look up was cancelled.");
    EXPECT_TRUE(resolver->addresses().isEmpty());
    // The worker answers after its resolver is gone.
    resolver.reset();
    EXPECT_TRUE(watch.waitForAnswer(std::chrono::seconds(20)));
}

// A reconnect that asks what became of a save's COMMIT has a deadline: a name
// server that does not answer in time must not hold it longer.
TEST(DNSResolver, ALookupEndsAtItsDeadlineWhateverTheWorkerDoes) {
    SlowWorkers slow(60000);
    auto resolver = std::make_shared<DNSResolver>("127.0.0.1");
    auto finished = std::make_shared<std::promise<bool>>();
    auto answer = finished->get_future();
    std::thread([resolver, finished] {
        finished->set_value(resolver->lookup(std::chrono::steady_clock::now() + std::chrono::milliseconds(200)));
    }).detach();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_FALSE(answer.get());
    EXPECT_EQ(resolver->error()->localizedDescription(), "Name look up took longer than the time allowed.");
    EXPECT_TRUE(resolver->addresses().isEmpty());
}

// The caller has moved on once it cancelled: an answer that came at that very
// moment must not turn the look-up into a success.
TEST(DNSResolver, CancelThatMeetsTheAnswerStillReportsCancelled) {
    DNSResolver resolver("127.0.0.1");
    AnswerWatch watch([&] { resolver.cancel(); });
    EXPECT_FALSE(resolver.lookup());
    ASSERT_NE(resolver.error(), nullptr);
    EXPECT_EQ(resolver.error()->localizedDescription(), "Name look up was cancelled.");
    EXPECT_TRUE(resolver.addresses().isEmpty());
}

TEST(DNSResolver, LookupCancelledBeforeItStartsAsksNobody) {
    DNSResolver resolver("127.0.0.1");
    resolver.cancel();
    const int started = DNSResolver::workersStartedForTesting();
    EXPECT_FALSE(resolver.lookup());
    EXPECT_EQ(resolver.error()->localizedDescription(), "Name look up was cancelled.");
    EXPECT_EQ(DNSResolver::workersStartedForTesting(), started);
}

TEST(DNSResolver, NumericTextOfBadAddressIsAnError) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    inet_pton(AF_INET6, "2001:db8::17", &address.sin6_addr);
    EXPECT_EQ(DNSResolver::stringForAddress(QByteArray(reinterpret_cast<const char *>(&address), sizeof address)),
              "2001:db8::17");

    ErrorPtr error;
    QByteArray garbage(4, '\x7f');
    EXPECT_TRUE(DNSResolver::stringForAddress(garbage, &error).isNull());
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(error->localizedDescription().isEmpty());
}
