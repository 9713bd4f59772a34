#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>
#include <thread>

namespace {
const QString kName = QStringLiteral("TestNotification");

struct Sender {
    int id = 0;
};
} // namespace

TEST(NotificationCenter, SenderFilterDeliversOnlyThatSendersPosts) {
    NotificationCenter center;
    auto a = std::make_shared<Sender>();
    auto b = std::make_shared<Sender>();
    int fromA = 0, fromAny = 0;
    auto t1 = center.observe(kName, a.get(), [&](const Notification &) { ++fromA; });
    auto t2 = center.observe(kName, nullptr, [&](const Notification &) { ++fromAny; });
    center.post(kName, a);
    center.post(kName, b);
    center.post(QStringLiteral("Other"), a);
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(fromAny, 2);
}

TEST(NotificationCenter, ObserverMayStopAnotherDuringDeliveryAndItIsNotCalled) {
    NotificationCenter center;
    ObserverToken second;
    int secondCalls = 0;
    auto first = center.observe(kName, nullptr, [&](const Notification &) { second.stopObserving(); });
    second = center.observe(kName, nullptr, [&](const Notification &) { ++secondCalls; });
    center.post(kName, nullptr);
    center.post(kName, nullptr);
    EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenter, ReentrantPostAndObserveFromCallback) {
    NotificationCenter center;
    std::vector<QString> seen;
    ObserverToken late;
    auto outer = center.observe(kName, nullptr, [&](const Notification &) {
        seen.push_back("outer");
        // An observer added during delivery sees only later posts.
        if (!late.isActive())
            late = center.observe(kName, nullptr, [&](const Notification &) { seen.push_back("late"); });
        center.post(QStringLiteral("Inner"), nullptr);
    });
    auto inner = center.observe(QStringLiteral("Inner"), nullptr, [&](const Notification &) { seen.push_back("inner"); });
    center.post(kName, nullptr);
    center.post(kName, nullptr);
    EXPECT_EQ(seen, (std::vector<QString>{"outer", "inner", "outer", "inner", "late"}));
}

TEST(NotificationCenter, ObserveNextFiresOnceEvenWhenPostedAgainFromItsOwnCallback) {
    NotificationCenter center;
    int calls = 0;
    auto token = center.observeNext(kName, nullptr, [&](const Notification &) {
        ++calls;
        center.post(kName, nullptr);
    });
    center.post(kName, nullptr);
    center.post(kName, nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(token.isActive());
}

TEST(NotificationCenter, TokenStopsOnDestructionAndTwiceIsHarmless) {
    NotificationCenter center;
    int calls = 0;
    {
        auto token = center.observe(kName, nullptr, [&](const Notification &) { ++calls; });
        center.post(kName, nullptr);
        token.stopObserving();
        token.stopObserving();
    }
    {
        auto token = center.observe(kName, nullptr, [&](const Notification &) { ++calls; });
    }
    center.post(kName, nullptr);
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, UserInfoValuesAreTypeChecked) {
    Notification n{kName, nullptr, {{"count", 3u}, {"text", QString("x")}}};
    EXPECT_EQ(n.value<unsigned>("count"), 3u);
    EXPECT_FALSE(n.value<int>("count").has_value()); // wrong type answers nothing
    EXPECT_FALSE(n.value<QString>("missing").has_value());
    EXPECT_EQ(n.value<QString>("text"), QString("x"));
}

TEST(NotificationCenter, PostsFromManyThreadsWhileObserversComeAndGo) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    auto token = center.observe(kName, nullptr, [&](const Notification &) { ++calls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                auto churn = center.observe(QStringLiteral("Churn"), nullptr, [](const Notification &) {});
                center.post(kName, nullptr);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(calls.load(), 4000);
}
