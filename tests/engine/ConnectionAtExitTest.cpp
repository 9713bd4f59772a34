// The program's end (Reaper::finish, before main returns) while connections
// still work: whatever they do ends, and their handles and tunnels are finished,
// before the program tears its libraries down. A connection that went on would
// use OpenSSL and libssh2 while they are being cleaned up, and crash.
#include "ConnectionTestSupport.h"
#include "engine/LibpqHandles.h"
#include "engine/TeardownObserver.h"
#include "engine/ZNTQuery.h"
#include "platform/Reaper.h"

#include <QFile>
#include <QStringList>

namespace {

// Accepts the run's host key, as the user would in the host-key dialog.
void trustTestHostKey() {
    QFile file(requiredEnv("TRELLAN_SSH_HOST_KEY_PUB"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = file.readAll().split(' ');
    ASSERT_GE(fields.size(), 2);
    SSHTunnel::addKey(QByteArray::fromBase64(fields[1]), requiredEnv("TRELLAN_SSH_HOST"),
                      requiredEnv("TRELLAN_SSH_PORT").toUInt());
}

// The database server as the SSH server reaches it, through the run's sshd.
QVariantMap tunnelledParams() {
    QVariantMap params = serverParams();
    params.insert("host", "localhost");
    params.insert("sshEnabled", true);
    params.insert("sshHost", requiredEnv("TRELLAN_SSH_HOST"));
    params.insert("sshPort", requiredEnv("TRELLAN_SSH_PORT").toInt());
    params.insert("sshUser", requiredEnv("TRELLAN_SSH_USER"));
    params.insert("sshPassword", requiredEnv("TRELLAN_SSH_PASSWORD"));
    return params;
}

// What was finished, from whichever thread finished it.
class TeardownLog {
public:
    TeardownLog() {
        setTeardownObserverForTesting([this](const char *what) {
            std::lock_guard lock(m_mutex);
            m_seen << QString::fromLatin1(what);
        });
    }
    ~TeardownLog() { setTeardownObserverForTesting(nullptr); }
    QStringList seen() const {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_seen;
};

// How many server processes run exactly this statement now.
int activeBackends(PGconn *admin, const QByteArray &sql) {
    const char *values[] = {sql.constData()};
    PGresultPtr result(PQexecParams(admin,
                                    "select count(*) from pg_stat_activity where query = $1 and state = 'active'", 1,
                                    nullptr, values, nullptr, nullptr, 0));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << PQerrorMessage(admin);
    return PQntuples(result.get()) == 1 ? QByteArray(PQgetvalue(result.get(), 0, 0)).toInt() : -1;
}

QString sqlState(const ErrorPtr &error) {
    return error ? error->userInfo().value(QStringLiteral("PG_DIAG_SQLSTATE")).toString() : QString();
}

} // namespace

// Only the statement's own job still holds the connection, as when the user
// quits while a statement runs.
TEST(ConnectionAtExit, ARunningStatementIsCancelledAndItsHandleAndTunnelFinished) {
    trustTestHostKey();
    auto connection = ZNTConnection::create(tunnelledParams());
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    const QByteArray sql = "select pg_sleep(60), 'still running when the program ends'";
    auto query = ZNTQuery::create(QString::fromLatin1(sql));
    query->executeInBackgroundOnConnection(connection, false);
    PGconnPtr admin = adminConnection();
    ASSERT_TRUE(pumpUntil([&] { return activeBackends(admin.get(), sql) == 1; }));
    TeardownLog teardowns;
    connection.reset();

    Reaper::finish();
    EXPECT_EQ(teardowns.seen(), (QStringList{"PQfinish", "SSHTunnel"})) << "the connection outlived the program's end";
    EXPECT_EQ(sqlState(query->error()), "57014") << "the statement was not cancelled";
    EXPECT_TRUE(pumpUntil([&] { return activeBackends(admin.get(), sql) == 0; }));
}

// The connect waits for a database server that never answers; only the
// connect's own job holds the connection.
TEST(ConnectionAtExit, AConnectStillUnderWayEnds) {
    trustTestHostKey();
    SilentListener silent;
    QVariantMap params = tunnelledParams();
    params.insert("port", silent.port());
    auto connection = ZNTConnection::create(params);
    connection->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return connection->handleInfo().exists; })) << "libpq never started";
    std::weak_ptr<ZNTConnection> weak = connection;
    TeardownLog teardowns;
    connection.reset();

    Reaper::finish();
    EXPECT_EQ(teardowns.seen(), (QStringList{"PQfinish", "SSHTunnel"}))
        << "the connect went on after the program's end";
    // Notifications still to be delivered may hold it; it failed, for good.
    if (const auto left = weak.lock())
        EXPECT_EQ(left->state(), ZNTConnection::ZNTConnectionStateFailed);
}
