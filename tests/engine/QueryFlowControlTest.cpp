#include "QueryTestSupport.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace {
// Holds the query at its first batch until the test opens the gate (or the
// query is cancelled).
class Gate : public ZNTQueryFlowControl {
public:
    void batchQueued(const RowRange &) override {
        std::unique_lock lock(m_mutex);
        ++m_batches;
        m_changed.wait(lock, [this] { return m_open; });
    }
    void queryCancelled() override {
        m_cancelledCalls++;
        open();
    }
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    int batches() const {
        std::lock_guard lock(m_mutex);
        return m_batches;
    }
    std::atomic<int> m_cancelledCalls{0};

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_batches = 0;
    bool m_open = false;
};

// Rows that trickle in, so that they come in many batches: wide enough that
// the server's 8 kB output buffer goes out every few rows.
const QString kTrickle = QStringLiteral("SELECT g, repeat('x', 3000), pg_sleep(0.01) FROM generate_series(1, 200) g");

qsizetype rowsAnnounced(const NotificationRecorder &recorder) {
    qsizetype rows = 0;
    for (const auto &entry : recorder.entries())
        if (entry.name == ZNTQuery::NewRowNotification)
            rows += entry.notification.value<RowRange>(ZNTQuery::RowsKey)->count;
    return rows;
}
} // namespace

TEST(QueryFlowControl, AQueryHeldAfterABatchReadsNoFurtherUntilReleased) {
    auto connection = ZNTConnection::create(serverParams());
    auto query = ZNTQuery::create(kTrickle);
    auto gate = std::make_shared<Gate>();
    query->setFlowControl(gate);
    NotificationRecorder recorder(query);
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(pumpUntil([&] { return recorder.count(ZNTQuery::NewRowNotification) == 1; }));
    pumpFor(std::chrono::milliseconds(500)); // rows keep coming from the server meanwhile
    EXPECT_EQ(gate->batches(), 1);
    EXPECT_EQ(recorder.count(ZNTQuery::NewRowNotification), 1);
    EXPECT_FALSE(query->done());
    const qsizetype first = rowsAnnounced(recorder);
    EXPECT_LT(first, 200);

    gate->open();
    ASSERT_TRUE(recorder.waitForDone());
    EXPECT_FALSE(query->error());
    EXPECT_EQ(rowsAnnounced(recorder), 200);
    EXPECT_GT(gate->batches(), 1);
}

TEST(QueryFlowControl, CancellingAHeldQueryReleasesItAndEndsItWithTheServersError) {
    auto connection = ZNTConnection::create(serverParams());
    auto query = ZNTQuery::create(kTrickle);
    auto gate = std::make_shared<Gate>();
    query->setFlowControl(gate);
    NotificationRecorder recorder(query);
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(pumpUntil([&] { return gate->batches() == 1; }));
    query->cancel();
    EXPECT_EQ(gate->m_cancelledCalls, 1);
    ASSERT_TRUE(recorder.waitForDone());
    ASSERT_TRUE(query->error());
    EXPECT_EQ(query->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "57014") << "query_canceled";
    // The connection serves the next query.
    auto next = runQuery(connection, "SELECT 1");
    EXPECT_FALSE(next->error());
}
