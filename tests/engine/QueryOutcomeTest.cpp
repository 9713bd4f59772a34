// How every execution of a query ends: with exactly one DoneNotification,
// whatever moment a cancel comes in and however the connection fails; never as a
// success when the server reported an error; and never with a statement cut short.
#include "QueryTestSupport.h"
#include "engine/KesError.h"
#include "engine/PGError.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <thread>

namespace {
const QString Done = ZNTQuery::DoneNotification;

// Waits for the end, then a little longer so that a second Done would show.
void expectOneDone(NotificationRecorder &recorder, const std::shared_ptr<ZNTQuery> &query) {
    ASSERT_TRUE(recorder.waitForDone()) << query->sql().toStdString();
    pumpFor(std::chrono::milliseconds(120));
    EXPECT_EQ(recorder.count(Done), 1) << query->sql().toStdString();
    EXPECT_TRUE(query->done());
}

bool isCancelOutcome(const ErrorPtr &error) {
    if (!error)
        return true; // the statement finished before the cancel reached it
    if (error->localizedDescription() == "The query was cancelled by the user.")
        return true;
    return error->userInfo().value(QStringLiteral("PG_DIAG_SQLSTATE")).toString() == "57014";
}
} // namespace

TEST(QueryOutcome, CancelsAtAnyMomentEndEachQueryOnceAndNeverReachTheNext) {
    auto connection = ZNTConnection::create(serverParams());
    ASSERT_EQ(runQuery(connection, "select 1")->error(), nullptr);
    for (int i = 0; i < 20; ++i) {
        auto query = ZNTQuery::create(QStringLiteral("select pg_sleep(0.03), %1").arg(i));
        NotificationRecorder recorder(query);
        query->executeInBackgroundOnConnection(connection, true);
        const auto delay = std::chrono::microseconds(QRandomGenerator::global()->bounded(60000));
        // Two cancels at once, one of them off the main thread.
        std::thread other([&] {
            std::this_thread::sleep_for(delay);
            query->cancel();
        });
        std::this_thread::sleep_for(delay);
        query->cancel();
        other.join();
        expectOneDone(recorder, query);
        EXPECT_TRUE(isCancelOutcome(query->error())) << query->error()->localizedDescription().toStdString();
        EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
        // A cancel request of this query must not stop the next one.
        auto next = runQuery(connection, "select pg_sleep(0.02), 'next'");
        EXPECT_EQ(next->error(), nullptr) << i;
    }
}

TEST(QueryOutcome, EveryEarlyFailureEndsWithExactlyOneDone) {
    // Nothing listens on this port: the connect fails before libpq has a handle
    // to send on.
    QVariantMap params = serverParams();
    params[QStringLiteral("port")] = 1;
    auto unreachable = ZNTConnection::create(params);
    {
        auto query = ZNTQuery::create("select 1");
        NotificationRecorder recorder(query);
        query->executeInBackgroundOnConnection(unreachable, false);
        expectOneDone(recorder, query);
        ASSERT_NE(query->error(), nullptr);
        EXPECT_EQ(query->error()->code(), 1);
        EXPECT_FALSE(PGError::reportsLostConnection(*query->error())); // there never was a session to lose
        EXPECT_TRUE(query->results().isEmpty());
    }
    {
        // Now lost: without reconnecting the query is refused.
        auto query = ZNTQuery::create("select 1");
        NotificationRecorder recorder(query);
        query->executeInBackgroundOnConnection(unreachable, false);
        expectOneDone(recorder, query);
        ASSERT_NE(query->error(), nullptr);
        EXPECT_EQ(query->error()->localizedDescription(), "The connection was lost.");
    }
    {
        auto connection = ZNTConnection::create(serverParams());
        auto query = ZNTQuery::create("select 1");
        NotificationRecorder recorder(query);
        query->cancel();
        query->executeInBackgroundOnConnection(connection, true);
        expectOneDone(recorder, query);
    }
    {
        auto query = ZNTQuery::create("select 1");
        NotificationRecorder recorder(query);
        query->executeInBackgroundOnConnection(nullptr, true);
        expectOneDone(recorder, query);
    }
}

TEST(QueryOutcome, AServerErrorIsNeverReportedAsSuccess) {
    auto connection = ZNTConnection::create(serverParams());
    for (const QString &sql : {QStringLiteral("select 1/0"), QStringLiteral("select 1; select 1/0; select 2"),
                               QStringLiteral("select x from generate_series(1, 5) x where 1/(x-3) > 0")}) {
        auto query = ZNTQuery::create(sql);
        NotificationRecorder recorder(query);
        query->executeInBackgroundOnConnection(connection, true);
        expectOneDone(recorder, query);
        ASSERT_NE(query->error(), nullptr) << sql.toStdString();
        EXPECT_EQ(query->error()->userInfo().value(QStringLiteral("PG_DIAG_SQLSTATE")).toString(), "22012");
        EXPECT_EQ(query->results().last()->resultType(), "error");
        EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    }
}

// libpq reads C strings: a NUL inside the text or a parameter would cut the
// statement short and the server would run the rest. Nothing may reach it.
TEST(QueryOutcome, NulInTextOrParameterIsRefusedBeforeAnythingRuns) {
    auto admin = adminConnection();
    const QString table = QStringLiteral("nul_guard_%1").arg(QCoreApplication::applicationPid());
    exec(admin.get(), "drop table if exists " + table + "; create table " + table + " (id int); insert into " + table +
                          " values (1), (2)");
    auto connection = ZNTConnection::create(serverParams());
    const QString cut = "delete from " + table + QChar(0) + " where id = 1";
    auto text = ZNTQuery::create(cut);
    auto param = ZNTQuery::create("delete from " + table + " where id::text = $1", {QString("1") + QChar(0) + "x"});
    for (const auto &query : {text, param}) {
        NotificationRecorder recorder(query);
        query->executeInBackgroundOnConnection(connection, true);
        expectOneDone(recorder, query);
        ASSERT_NE(query->error(), nullptr);
        EXPECT_TRUE(query->error()->localizedDescription().contains("NUL"));
    }
    EXPECT_EQ(scalar(admin.get(), "select count(*) from " + table), "2");
    exec(admin.get(), "drop table " + table);
}

namespace {
// Runs sql as the SQL Query page runs the user's own statements.
std::shared_ptr<ZNTQuery> runAsUser(const std::shared_ptr<ZNTConnection> &connection, const QString &sql) {
    auto query = ZNTQuery::create(sql);
    query->setGuardsUserTransaction(false);
    NotificationRecorder recorder(query);
    query->executeInBackgroundOnConnection(connection, false);
    EXPECT_TRUE(recorder.waitForDone()) << sql.toStdString();
    return query;
}

QString lastStatus(const std::shared_ptr<ZNTQuery> &query) {
    return query->results().isEmpty() ? QString() : query->results().last()->string();
}
} // namespace

// The session is shared with the SQL Query page: a statement of the program that
// fails or is cancelled there must leave the user's transaction as it was, so
// that their COMMIT commits.
TEST(QueryOutcome, AProgramStatementThatFailsOrIsCancelledLeavesTheUsersTransactionOpen) {
    const QString table = QStringLiteral("guard_%1").arg(QCoreApplication::applicationPid());
    PGconnPtr oracle = adminConnection();
    exec(oracle.get(),
         QStringLiteral("DROP TABLE IF EXISTS %1; CREATE TABLE %1(a int); INSERT INTO %1 VALUES (1)").arg(table));
    auto connection = ZNTConnection::create(serverParams());
    ASSERT_EQ(runAsUser(connection, QStringLiteral("BEGIN; UPDATE %1 SET a = a + 100").arg(table))->error(), nullptr);

    EXPECT_NE(runQuery(connection, QStringLiteral("SELECT 1/0"))->error(), nullptr);
    auto sleeping = ZNTQuery::create(QStringLiteral("SELECT pg_sleep(30) AS guard_sleeper"));
    NotificationRecorder recorder(sleeping);
    sleeping->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(pumpUntil([&] {
        return scalar(oracle.get(), "SELECT count(*) FROM pg_stat_activity WHERE query LIKE '%AS guard_sleeper' "
                                    "AND state = 'active' AND pid <> pg_backend_pid()") == "1";
    }));
    sleeping->cancel();
    ASSERT_TRUE(recorder.waitForDone());
    EXPECT_TRUE(isCancelOutcome(sleeping->error()));
    // A read that works sees the user's uncommitted update.
    auto read = runQuery(connection, QStringLiteral("SELECT a FROM %1").arg(table));
    ASSERT_EQ(read->error(), nullptr);
    EXPECT_EQ(read->results().first()->rows()->displayText(0, 0), "101");
    EXPECT_EQ(scalar(oracle.get(), QStringLiteral("SELECT a FROM %1").arg(table)), "1");

    auto commit = runAsUser(connection, QStringLiteral("COMMIT"));
    EXPECT_EQ(commit->error(), nullptr);
    EXPECT_EQ(lastStatus(commit), "COMMIT");
    EXPECT_EQ(scalar(oracle.get(), QStringLiteral("SELECT a FROM %1").arg(table)), "101");

    // The user's own statements are theirs as typed: one that fails fails
    // their transaction, as in any client.
    ASSERT_EQ(runAsUser(connection, QStringLiteral("BEGIN; UPDATE %1 SET a = 0").arg(table))->error(), nullptr);
    EXPECT_NE(runAsUser(connection, QStringLiteral("SELECT 1/0"))->error(), nullptr);
    EXPECT_EQ(lastStatus(runAsUser(connection, QStringLiteral("COMMIT"))), "ROLLBACK");
    EXPECT_EQ(scalar(oracle.get(), QStringLiteral("SELECT a FROM %1").arg(table)), "101");
    exec(oracle.get(), QStringLiteral("DROP TABLE %1").arg(table));
}

// Redshift has no savepoints: there a SAVEPOINT would itself fail the user's
// transaction, so the program's read goes in unguarded. Elsewhere a SAVEPOINT
// that fails (the session ended under the open transaction) fails the read,
// unsent, with its reason.
TEST(QueryOutcome, NoSavepointWhereTheServerHasNoneAndAFailedOneFailsTheReadUnsent) {
    // The connect reads the version() that comes first in the search path.
    const QString schema = QStringLiteral("redshift_%1").arg(QCoreApplication::applicationPid());
    PGconnPtr oracle = adminConnection();
    exec(oracle.get(), QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE; CREATE SCHEMA %1; CREATE FUNCTION "
                                      "%1.version() RETURNS text LANGUAGE sql AS $$SELECT 'PostgreSQL 8.0.2 on "
                                      "i686-pc-linux-gnu, compiled by GCC gcc (GCC) 3.4.2, Redshift 1.0.12103'$$")
                           .arg(schema));
    QVariantMap params = serverParams();
    params[QStringLiteral("options")] = QStringLiteral("-c search_path=%1,pg_catalog").arg(schema);
    auto redshift = ZNTConnection::create(params);
    ASSERT_EQ(runAsUser(redshift, QStringLiteral("BEGIN"))->error(), nullptr);
    ASSERT_TRUE(redshift->isRedshift());
    EXPECT_NE(runQuery(redshift, QStringLiteral("SELECT 1/0"))->error(), nullptr);
    EXPECT_EQ(lastStatus(runAsUser(redshift, QStringLiteral("COMMIT"))), "ROLLBACK");
    exec(oracle.get(), QStringLiteral("DROP SCHEMA %1 CASCADE").arg(schema));

    auto connection = ZNTConnection::create(serverParams());
    const auto begun = runAsUser(connection, QStringLiteral("BEGIN; SELECT pg_backend_pid()"));
    ASSERT_EQ(begun->error(), nullptr);
    exec(oracle.get(),
         "SELECT pg_terminate_backend(" + begun->results().last()->rows()->displayText(0, 0) + ", 10000)");
    auto read = runQuery(connection, QStringLiteral("SELECT 1"));
    const QString said = read->error() ? read->error()->localizedDescription() : QString();
    EXPECT_TRUE(said.startsWith("Could not set a savepoint") && (said.contains("terminat") || said.contains("closed")))
        << said.toStdString();
    EXPECT_TRUE(read->results().isEmpty());
}
