#include "QueryTestSupport.h"
#include "engine/KesError.h"
#include "engine/PGError.h"

#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {
const QString NewResult = ZNTQuery::NewResultNotification;
const QString NewRow = ZNTQuery::NewRowNotification;
const QString ResultNewRow = ZNTResult::NewRowNotification;
const QString ResultDone = ZNTResult::DoneNotification;
const QString QueryResultDone = ZNTQuery::ResultDoneNotification;
const QString Done = ZNTQuery::DoneNotification;

class Query : public ::testing::Test {
protected:
    void SetUp() override { connection = ZNTConnection::create(serverParams()); }
    void TearDown() override { connection->cancel(); }

    std::shared_ptr<ZNTQuery> start(const QString &sql, bool autoReconnect = true) {
        auto query = ZNTQuery::create(sql);
        recorder = std::make_unique<NotificationRecorder>(query);
        query->executeInBackgroundOnConnection(connection, autoReconnect);
        return query;
    }

    std::shared_ptr<ZNTConnection> connection;
    std::unique_ptr<NotificationRecorder> recorder;
};

QString sqlState(const ErrorPtr &error) {
    return error ? error->userInfo().value(QStringLiteral("PG_DIAG_SQLSTATE")).toString() : QString();
}

std::optional<RowRange> rowsOf(const NotificationRecorder::Entry &entry) {
    return entry.notification.value<RowRange>(ZNTQuery::RowsKey);
}
} // namespace

TEST_F(Query, TwoSelectsAnnounceEachResultInOrderThenOneDone) {
    auto query = start("select 1 union all select 2; select 'x' where false");
    ASSERT_TRUE(recorder->waitForDone());
    EXPECT_EQ(recorder->names(), (QStringList{NewResult, ResultNewRow, NewRow, ResultDone, QueryResultDone, //
                                              NewResult, ResultNewRow, NewRow, ResultDone, QueryResultDone, Done}));
    EXPECT_TRUE(recorder->allOnMainThread());
    EXPECT_EQ(query->error(), nullptr);

    const auto results = query->results();
    ASSERT_EQ(results.size(), 2);
    const auto &e = recorder->entries();
    // Objects and user info: the query or the result, and the result's index.
    EXPECT_EQ(e[0].object.get(), query.get());
    EXPECT_EQ(e[0].notification.value<qsizetype>(ZNTQuery::ResultIndexKey), 0);
    EXPECT_EQ(e[0].notification.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey), results[0]);
    EXPECT_EQ(e[1].object.get(), results[0].get());
    EXPECT_EQ(e[3].object.get(), results[0].get());
    EXPECT_EQ(e[4].notification.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey), results[0]);
    EXPECT_EQ(e[5].notification.value<qsizetype>(ZNTQuery::ResultIndexKey), 1);
    EXPECT_EQ(e[10].object.get(), query.get());

    const auto firstRows = rowsOf(e[2]);
    ASSERT_TRUE(firstRows);
    ASSERT_EQ(firstRows->size(), 2);
    EXPECT_EQ(firstRows->valueAt(0, 0), Value::fromInt(1));
    EXPECT_EQ(firstRows->valueAt(1, 0), Value::fromInt(2));
    EXPECT_EQ(rowsOf(e[1])->count, 2);
    const auto emptyRows = rowsOf(e[7]);
    ASSERT_TRUE(emptyRows);
    EXPECT_EQ(emptyRows->size(), 0);

    EXPECT_EQ(results[0]->string(), "SELECT 2");
    EXPECT_EQ(results[0]->affectedRows(), 2);
    EXPECT_EQ(results[0]->resultType(), QString());
    EXPECT_EQ(results[0]->rows()->rowCount(), 2);
    ASSERT_EQ(results[1]->columns().size(), 1);
    EXPECT_EQ(results[1]->columns()[0]->name(), "?column?");
    EXPECT_EQ(results[1]->columns()[0]->typeOid(), 25);
    EXPECT_EQ(results[1]->affectedRows(), 0);
    EXPECT_EQ(results[1]->rows()->rowCount(), 0);

    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    EXPECT_EQ(connection->currentQuery(), nullptr);
    EXPECT_TRUE(query->done());
    EXPECT_GT(query->elapsedTime(), 0);
    EXPECT_LE(query->startDate(), query->endDate());
}

TEST_F(Query, RowsFollowedByAnErrorEndWithTheErrorResultAndNoResultDone) {
    auto query = start("select 1/(g-5) from generate_series(1,10) g");
    ASSERT_TRUE(recorder->waitForDone());
    // The rows read before the error are not announced; the row result never completes.
    EXPECT_EQ(recorder->names(), (QStringList{NewResult, NewResult, ResultDone, Done}));
    const auto results = query->results();
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[1]->resultType(), "error");
    EXPECT_TRUE(results[1]->string().startsWith("ERROR:  division by zero")) << results[1]->string().toStdString();
    EXPECT_FALSE(results[1]->string().endsWith('\n'));
    EXPECT_EQ(sqlState(query->error()), "22012");
    EXPECT_EQ(query->error()->userInfo().value(PGError::QueryKey).toString(), query->sql());
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);

    auto next = runQuery(connection, "select 'still usable'", false);
    EXPECT_EQ(next->error(), nullptr);
}

TEST_F(Query, EmptyTextGivesOneEmptyQueryResultAndNoError) {
    auto query = start("");
    ASSERT_TRUE(recorder->waitForDone());
    EXPECT_EQ(recorder->names(), (QStringList{NewResult, ResultDone, Done}));
    const auto results = query->results();
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0]->string(), "The query was empty.");
    EXPECT_EQ(results[0]->resultType(), "error");
    EXPECT_EQ(results[0]->rows(), nullptr);
    EXPECT_EQ(query->error(), nullptr);
}

TEST_F(Query, CommandsReportTheirStatusAndAffectedRows) {
    auto query =
        start("create temp table t(a int); insert into t values (1), (2), (3); update t set a = a where a > 1");
    ASSERT_TRUE(recorder->waitForDone());
    const auto results = query->results();
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(results[0]->string(), "CREATE TABLE");
    EXPECT_EQ(results[1]->string(), "INSERT 0 3");
    EXPECT_EQ(results[1]->affectedRows(), 3);
    EXPECT_EQ(results[2]->affectedRows(), 2);
    EXPECT_EQ(results[2]->resultType(), "success");
    EXPECT_EQ(recorder->count(NewResult), 3);
    EXPECT_EQ(recorder->count(ResultDone), 3);
    EXPECT_EQ(recorder->count(QueryResultDone), 0);
}

TEST_F(Query, ParametersTravelSeparatelyAndEmptyParametersMeanNone) {
    auto query = runQuery(connection, "select $1::int8 + 1, $2::text", true, {"41", "it's'; drop table x; --"});
    ASSERT_EQ(query->error(), nullptr);
    auto rows = query->results()[0]->rows();
    EXPECT_EQ(rows->valueAt(0, 0), Value::fromInt(42));
    EXPECT_EQ(rows->valueAt(0, 1), Value::fromString("it's'; drop table x; --"));

    // No parameters: several statements in one text work.
    auto many = runQuery(connection, "select 1; select 2", true, {});
    EXPECT_EQ(many->error(), nullptr);
    EXPECT_EQ(many->results().size(), 2);

    // With parameters the text is one statement; the server says so.
    auto refused = runQuery(connection, "select $1; select 2", true, {"1"});
    EXPECT_EQ(sqlState(refused->error()), "42601");
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
}

TEST_F(Query, ExtendedProtocolTakesOneStatementWithoutParameters) {
    // A filter's text closing its parenthesis and appending a statement: the
    // simple protocol would run the DROP.
    runQuery(connection, "create temporary table victim (n int)", true, {});
    const QString sql = QStringLiteral("select count(1) from victim where (true); drop table victim; select (1)");
    auto query = ZNTQuery::create(sql);
    query->setExtendedProtocol(true);
    NotificationRecorder recorder(query);
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(recorder.waitForDone());
    EXPECT_EQ(sqlState(query->error()), "42601");
    auto still = runQuery(connection, "select count(1) from victim", true, {});
    EXPECT_EQ(still->error(), nullptr);

    // One statement without parameters runs as before, rows and all.
    auto one = ZNTQuery::create(QStringLiteral("select n from generate_series(1, 3) n"));
    one->setExtendedProtocol(true);
    NotificationRecorder oneRecorder(one);
    one->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(oneRecorder.waitForDone());
    ASSERT_EQ(one->error(), nullptr);
    EXPECT_EQ(one->results()[0]->rows()->rowCount(), 3);
    EXPECT_EQ(one->results()[0]->rows()->valueAt(2, 0), Value::fromInt(3));
}

TEST_F(Query, NoticesBecomeResultsOnlyWhenAskedFor) {
    const QString sql = "do $$ begin raise notice 'hello %', 1; end $$; select 1";
    auto withNotices = ZNTQuery::create(sql);
    withNotices->setIncludeNotices(true);
    NotificationRecorder recorder(withNotices);
    withNotices->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(recorder.waitForDone());
    auto results = withNotices->results();
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(results[0]->resultType(), "notice");
    EXPECT_EQ(results[0]->string(), "NOTICE:  hello 1");
    EXPECT_EQ(results[1]->string(), "DO");
    EXPECT_EQ(recorder.names().mid(0, 4), (QStringList{NewResult, ResultDone, NewResult, ResultDone}));

    auto without = runQuery(connection, sql);
    EXPECT_EQ(without->results().size(), 2);
    EXPECT_EQ(without->results()[0]->string(), "DO");
}

TEST_F(Query, LargeResultArrivesInOrderedBatchesThatCoverEveryRow) {
    auto query = start("select g, 'row ' || g from generate_series(1, 300000) g");
    // A sanitized build on a busy machine takes most of the usual wait for
    // these rows; the wait only guards against a hang.
    ASSERT_TRUE(recorder->waitForDone(std::chrono::seconds(120)));
    qsizetype next = 0;
    int batches = 0;
    for (const auto &entry : recorder->entries()) {
        if (entry.name != NewRow)
            continue;
        const RowRange rows = *rowsOf(entry);
        EXPECT_EQ(rows.firstRow, next);
        if (rows.count)
            EXPECT_EQ(rows.valueAt(0, 0), Value::fromInt(next + 1));
        next += rows.count;
        ++batches;
    }
    EXPECT_EQ(next, 300000);
    EXPECT_EQ(recorder->count(ResultNewRow), batches);
    const auto stored = query->results()[0]->rows();
    ASSERT_EQ(stored->rowCount(), 300000);
    EXPECT_EQ(stored->valueAt(299999, 1), Value::fromString("row 300000"));
}

// A statement that produces rows slowly uses next to no processor time here;
// its rows must still be announced as they come, not all at the end. (Rows
// larger than the server's send buffer leave the server one by one.)
TEST_F(Query, SlowlyArrivingRowsAreAnnouncedBeforeTheEnd) {
    auto query = start("select g, repeat('x', 20000), pg_sleep(0.2) from generate_series(1, 6) g");
    int batchesWhileRunning = 0;
    auto token = NotificationCenter::defaultCenter().observe(NewRow, query.get(), [&](const Notification &) {
        if (!query->done())
            ++batchesWhileRunning;
    });
    // Wait in the event loop without spinning, as the idle program does: the
    // process then spends almost no processor time while the rows come.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (recorder->count(Done))
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(recorder->count(Done), 1);
    EXPECT_GE(batchesWhileRunning, 2);
    qsizetype total = 0;
    for (const auto &entry : recorder->entries())
        if (entry.name == NewRow)
            total += rowsOf(entry)->count;
    EXPECT_EQ(total, 6);
}

TEST_F(Query, UnstoredRowsReachObserversButNotTheResult) {
    auto query = ZNTQuery::create("select g from generate_series(1, 200000) g");
    query->setDontStoreRows(true);
    NotificationRecorder recorder(query);
    int64_t sum = 0;
    qsizetype seen = 0;
    auto token = NotificationCenter::defaultCenter().observe(NewRow, query.get(), [&](const Notification &n) {
        const RowRange rows = *n.value<RowRange>(ZNTQuery::RowsKey);
        for (qsizetype i = 0; i < rows.size(); ++i)
            sum += rows.valueAt(i, 0).toInt();
        seen += rows.size();
    });
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(recorder.waitForDone());
    EXPECT_EQ(seen, 200000);
    EXPECT_EQ(sum, int64_t(200000) * 200001 / 2);
    ASSERT_NE(query->results()[0]->rows(), nullptr);
    EXPECT_EQ(query->results()[0]->rows()->rowCount(), 0);
}

TEST_F(Query, CancelBeforeTheStartSendsNothing) {
    auto query = ZNTQuery::create("create temp table must_not_exist(a int)");
    NotificationRecorder recorder(query);
    query->cancel();
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(recorder.waitForDone());
    EXPECT_EQ(recorder.names(), QStringList{Done});
    ASSERT_NE(query->error(), nullptr);
    EXPECT_EQ(query->error()->localizedDescription(), "The query was cancelled by the user.");
    EXPECT_EQ(query->error()->code(), 1);
    EXPECT_TRUE(query->results().isEmpty());
    EXPECT_FALSE(query->startDate().isValid());
    EXPECT_EQ(query->elapsedTime(), 0);
}

TEST_F(Query, CancelDuringExecutionStopsTheStatementPromptly) {
    // Worded for this test alone: other test programs sleep on the same server.
    auto query = start("select pg_sleep(60), 'cancelled during execution'");
    // A cancel that reached the server before the statement would be lost.
    PGconnPtr admin = adminConnection();
    ASSERT_TRUE(pumpUntil([&] {
        return scalar(admin.get(), "select count(*) from pg_stat_activity where query = "
                                   "'select pg_sleep(60), ''cancelled during execution''' and state = 'active'") == "1";
    }));
    QElapsedTimer timer;
    timer.start();
    query->cancel();
    EXPECT_LT(timer.elapsed(), 2000) << "cancel must not wait for the network";
    ASSERT_TRUE(recorder->waitForDone(std::chrono::seconds(20)));
    EXPECT_LT(timer.elapsed(), 20000) << "the statement ran on instead of stopping";
    EXPECT_EQ(sqlState(query->error()), "57014");
    EXPECT_TRUE(query->isCancelled());
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    // The cancel request is spent: the next statement runs to its end.
    auto next = runQuery(connection, "select pg_sleep(0.3), 'done'");
    EXPECT_EQ(next->error(), nullptr);
}

// A cancel that reaches the session before it has read the statement is
// dropped by the server. The session is held stopped until the first request's
// signal waits for it, so it reads the statement only after that request.
TEST_F(Query, ACancelTheServerDroppedBeforeTheStatementRanIsSentAgain) {
    auto pid = runQuery(connection, "select pg_backend_pid()");
    ASSERT_EQ(pid->error(), nullptr);
    const pid_t backend = pid_t(pid->results()[0]->rows()->valueAt(0, 0).toInt());
    ASSERT_EQ(::kill(backend, SIGSTOP), 0) << std::strerror(errno);
    struct Resume {
        pid_t backend;
        ~Resume() { ::kill(backend, SIGCONT); }
    } resume{backend};
    const auto interruptWaits = [&] {
        QFile status(QStringLiteral("/proc/%1/status").arg(backend));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:"))
                if (line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGINT - 1)))
                    return true;
        return false;
    };
    ASSERT_FALSE(interruptWaits());

    auto query = start("select pg_sleep(60), 'cancelled before it ran'");
    ASSERT_TRUE(pumpUntil([&] { return connection->currentQuery() == query; }));
    QElapsedTimer timer;
    timer.start();
    query->cancel();
    ASSERT_TRUE(pumpUntil(interruptWaits, std::chrono::seconds(10))) << "no cancel request reached the session";
    ::kill(backend, SIGCONT);
    ASSERT_TRUE(recorder->waitForDone(std::chrono::seconds(20))) << "the statement ran on after its cancel was dropped";
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(sqlState(query->error()), "57014");
    // No request is left over for the next statement.
    auto next = runQuery(connection, "select pg_sleep(2.5), 'done'");
    EXPECT_EQ(next->error(), nullptr);
}

TEST_F(Query, CancelAfterTheEndOnlyMarksTheQuery) {
    auto query = runQuery(connection, "select 1");
    const auto results = query->results();
    query->cancel();
    EXPECT_TRUE(query->isCancelled());
    EXPECT_EQ(query->error(), nullptr);
    EXPECT_EQ(query->results(), results);
}

TEST_F(Query, CopyWithoutDelegateIsInvalidAndTheNextQueryReconnects) {
    auto query = start("copy (select 1) to stdout");
    ASSERT_TRUE(recorder->waitForDone());
    const auto results = query->results();
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0]->string(), "Unknown result status: PGRES_COPY_OUT");
    EXPECT_EQ(results[0]->resultType(), "error");
    ASSERT_NE(query->error(), nullptr);
    EXPECT_EQ(query->error()->localizedDescription(), "Unknown result status: PGRES_COPY_OUT");
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateLost);

    auto refused = runQuery(connection, "select 1", false);
    ASSERT_NE(refused->error(), nullptr);
    EXPECT_EQ(refused->error()->localizedDescription(), "The connection was lost.");
    EXPECT_TRUE(refused->results().isEmpty());

    auto next = runQuery(connection, "select 2", true);
    EXPECT_EQ(next->error(), nullptr);
    ASSERT_EQ(next->results().size(), 1);
    EXPECT_EQ(next->results()[0]->rows()->valueAt(0, 0), Value::fromInt(2));
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
}

TEST_F(Query, ServerEndingTheSessionLosesTheConnection) {
    auto pid = runQuery(connection, "select pg_backend_pid()");
    const qint64 backend = pid->results()[0]->rows()->valueAt(0, 0).toInt();
    PGconnPtr admin = adminConnection();
    exec(admin.get(), QStringLiteral("select pg_terminate_backend(%1)").arg(backend));
    auto query = runQuery(connection, "select 1");
    ASSERT_NE(query->error(), nullptr);
    // The server's reason (admin_shutdown), not libpq's "closed" after it.
    EXPECT_EQ(sqlState(query->error()), "57P01");
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateLost);
    EXPECT_EQ(runQuery(connection, "select 1", true)->error(), nullptr);
}

TEST_F(Query, NeverConnectedConnectionConnectsForItsFirstQuery) {
    auto query = runQuery(connection, "select current_database()", false);
    ASSERT_EQ(query->error(), nullptr);
    EXPECT_EQ(query->results()[0]->rows()->valueAt(0, 0), Value::fromString("postgres"));
}

TEST_F(Query, ExecutionBlockRunsInlineOnTheQueue) {
    auto query = ZNTQuery::create("select 7");
    NotificationRecorder recorder(query);
    auto block = query->executionBlockForConnection(connection, true);
    std::atomic<bool> ranInline{false}, returned{false};
    connection->connectionQueue().async([&] {
        block();
        ranInline = query->done(); // done before the block returns
        returned = true;
    });
    ASSERT_TRUE(recorder.waitForDone());
    // Done is posted from within the block: the job may still be running.
    ASSERT_TRUE(pumpUntil([&] { return returned.load(); }));
    EXPECT_TRUE(ranInline);
    EXPECT_EQ(query->results()[0]->rows()->valueAt(0, 0), Value::fromInt(7));
}

TEST(QueryWithoutConnection, EndsWithAnErrorAndOneDone) {
    auto query = ZNTQuery::create("select 1");
    NotificationRecorder recorder(query);
    query->executeInBackgroundOnConnection(nullptr, true);
    ASSERT_TRUE(recorder.waitForDone());
    EXPECT_EQ(recorder.names(), QStringList{Done});
    ASSERT_NE(query->error(), nullptr);
    EXPECT_TRUE(query->error()->localizedDescription().endsWith("doesn't have a queue."));
}
