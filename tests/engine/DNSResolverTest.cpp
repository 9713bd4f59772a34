#include "engine/DNSResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
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

TEST(DNSResolver, CancelEndsASlowLookupPromptlyAndTheLateAnswerIsHarmless) {
    SlowWorkers slow(1500);
    auto resolver = std::make_unique<DNSResolver>("127.0.0.1");
    std::chrono::steady_clock::time_point cancelledAt;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        cancelledAt = std::chrono::steady_clock::now();
        resolver->cancel();
    });
    EXPECT_FALSE(resolver->lookup());
    const auto returnedAt = std::chrono::steady_clock::now();
    canceller.join();
    EXPECT_LT(returnedAt - cancelledAt, std::chrono::milliseconds(100));
    EXPECT_EQ(resolver->error()->localizedDescription(), "Name look up was cancelled.");
    EXPECT_TRUE(resolver->addresses().isEmpty());
    // The worker answers long after its resolver is gone.
    resolver.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
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
