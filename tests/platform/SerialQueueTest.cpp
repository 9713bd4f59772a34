#include "TestSupport.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

TEST(SerialQueue, JobsRunOneAtATimeInOrderPosted) {
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    {
        SerialQueue queue("test.order");
        for (int i = 0; i < 200; ++i)
            queue.async([&, i] {
                if (running.fetch_add(1) != 0)
                    overlapped = true;
                order.push_back(i);
                running.fetch_sub(1);
            });
    } // destruction lets the queued jobs finish
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncOnItsOwnQueueRunsInlineInsteadOfDeadlocking) {
    SerialQueue queue("test.sync");
    std::vector<int> order;
    std::thread caller([&] {
        queue.sync([&] {
            EXPECT_TRUE(queue.isCurrent());
            EXPECT_EQ(SerialQueue::current(), &queue);
            order.push_back(1);
            queue.sync([&] { order.push_back(2); });
            order.push_back(3);
        });
    });
    caller.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, SyncWaitsBehindQueuedJobs) {
    SerialQueue queue("test.fifo");
    std::vector<int> order;
    std::thread caller([&] {
        queue.async([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            order.push_back(1);
        });
        queue.sync([&] { order.push_back(2); });
        order.push_back(3);
    });
    caller.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, SyncFromMainThreadIsMisuse) {
    SerialQueue queue("test.main");
    ASSERT_TRUE(Main::isMainThread());
    try {
        queue.sync([] {});
        FAIL() << "sync on the main thread must throw";
    } catch (const ProgramError &e) {
        EXPECT_EQ(e.name(), "WrongThread");
    }
}

TEST(SerialQueue, JobMayDropTheLastReferenceToItsOwnQueue) {
    auto queue = std::make_shared<SerialQueue>("test.self");
    std::atomic<bool> ran{false};
    std::weak_ptr<SerialQueue> weak = queue;
    queue->async([&ran, q = queue]() mutable {
        q.reset(); // not the last one yet
        ran = true;
    });
    SerialQueue *raw = queue.get();
    queue->async([raw, keep = std::move(queue)]() mutable {
        EXPECT_TRUE(raw->isCurrent());
        keep.reset(); // destroys the queue on its own thread
    });
    ASSERT_TRUE(pumpUntil([&] { return weak.expired(); }));
    EXPECT_TRUE(ran);
}

TEST(Main, PostRunsOnGuiThreadInOrderFromAnyThread) {
    std::vector<int> order;
    bool allOnMain = true;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            Main::post([&, i] {
                allOnMain = allOnMain && Main::isMainThread();
                order.push_back(i);
            });
    });
    worker.join();
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 100; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(Main, AfterFromAThreadWithoutEventLoopStillFires) {
    std::atomic<bool> fired{false};
    bool onMain = false;
    // A plain std::thread has no event loop: a timer armed there would never fire.
    std::thread worker([&] {
        Main::after(20, [&] {
            onMain = Main::isMainThread();
            fired = true;
        });
    });
    worker.join();
    ASSERT_TRUE(pumpUntil([&] { return fired.load(); }, std::chrono::seconds(2)));
    EXPECT_TRUE(onMain);
}

TEST(Main, SyncBlocksTheCallerUntilTheGuiThreadRanIt) {
    std::atomic<bool> done{false};
    int value = 0;
    std::thread worker([&] {
        Main::sync([&] { value = 42; });
        EXPECT_EQ(value, 42);
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    Main::sync([&] { value = 7; }); // inline on the main thread
    EXPECT_EQ(value, 7);
}
