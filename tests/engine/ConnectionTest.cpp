#include "ConnectionTestSupport.h"
#include "engine/ZNTConnectionPrivate.h"
#include "engine/ZNTQuery.h"
#include "platform/ProgramError.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <clocale>
#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <thread>

namespace {
const QString kEllipsis = QStringLiteral("…");

QString errorText(const std::shared_ptr<ZNTConnection> &connection) {
    return connection->error() ? connection->error()->localizedDescription() : QString();
}
} // namespace

namespace {
// Runs the calling test once more in a process whose messages are German, as
// Debian's translated libpq speaks to a German user. LC_ALL, because the test
// run sets it and it outranks LANG.
void runAgainInGerman() {
    if (isChildRun()) {
        EXPECT_TRUE(QByteArray(setlocale(LC_MESSAGES, nullptr)).startsWith("de_DE"));
        return;
    }
    runCurrentTestInChild({{"LC_ALL", "de_DE.UTF-8"}, {"LANG", "de_DE.UTF-8"}});
}

// One login, answered as a PostgreSQL server would: no TLS, a cleartext password
// asked for, then the chosen outcome in German.
class FakeLoginServer {
public:
    enum Answer { WrongPassword, NoSuchDatabase };
    explicit FakeLoginServer(Answer answer) : m_answer(answer) {
        m_fd = listenOnLoopback();
        EXPECT_GE(m_fd, 0);
        m_port = boundPort(m_fd);
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeLoginServer() {
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
    }
    int port() const { return m_port; }
    bool sawPassword() {
        if (m_thread.joinable())
            m_thread.join();
        return m_sawPassword;
    }

private:
    static QByteArray error(const QByteArray &code, const QByteArray &text) {
        QByteArray fields;
        for (const auto &[field, value] :
             {std::pair{'S', QByteArray("FATAL")}, std::pair{'V', QByteArray("FATAL")}, std::pair{'C', code},
              std::pair{'M', text}, std::pair{'R', QByteArray("auth_failed")}})
            fields += field + value + '\0';
        return pgMessage('E', fields + '\0');
    }
    static QByteArray authentication(quint32 request) {
        QByteArray body(4, 0);
        qToBigEndian(request, body.data());
        return pgMessage('R', body);
    }
    // A length-prefixed packet without a type byte (SSLRequest, startup).
    static bool readUntyped(int fd) {
        unsigned char length[4];
        if (recv(fd, length, 4, MSG_WAITALL) != 4)
            return false;
        QByteArray rest(int(qFromBigEndian<quint32>(length)) - 4, 0);
        return recv(fd, rest.data(), size_t(rest.size()), MSG_WAITALL) == rest.size();
    }
    void serve() {
        pollfd entry{m_fd, POLLIN, 0};
        if (::poll(&entry, 1, 20000) != 1)
            return;
        const int client = accept(m_fd, nullptr, nullptr);
        timeval timeout{10, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        // The SSLRequest of sslmode "prefer", refused; then the startup packet.
        if (readUntyped(client) && send(client, "N", 1, 0) == 1 && readUntyped(client)) {
            QByteArray ask = authentication(3); // cleartext password
            send(client, ask.constData(), size_t(ask.size()), MSG_NOSIGNAL);
            char type = 0;
            m_sawPassword = recv(client, &type, 1, MSG_WAITALL) == 1 && type == 'p' && readUntyped(client);
            const QByteArray answer =
                m_answer == WrongPassword
                    ? error("28P01", "Passwort-Authentifizierung für Benutzer »alice« fehlgeschlagen")
                    : authentication(0) + error("3D000", "Datenbank »nirgends« existiert nicht");
            send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        }
        close(client);
    }

    Answer m_answer;
    int m_fd = -1;
    int m_port = 0;
    bool m_sawPassword = false;
    std::thread m_thread;
};
} // namespace

TEST(ConnectionSequence, GoodConnectAnnouncesHandshakeThenVersionAndSettingsInOrder) {
    auto connection = ZNTConnection::create(serverParams());
    StateRecorder recorder(connection);
    ASSERT_TRUE(connectAndSettle(connection));
    const QStringList seen = recorder.descriptions();
    ASSERT_GE(seen.size(), 6) << seen.join(" | ").toStdString();

    EXPECT_EQ(seen[0], "1 Resolving 127.0.0.1 " + kEllipsis);
    EXPECT_EQ(seen[1], "1 Connecting to PostgreSQL server" + kEllipsis);
    const QStringList tail = seen.mid(seen.size() - 4);
    EXPECT_EQ(tail, (QStringList{"3 Connected.", "1 Getting server version" + kEllipsis,
                                 "1 Getting configuration parameters" + kEllipsis, "3 Connected."}));
    // In between, only handshake progress: never a failure, never "connected" early.
    for (const QString &step : seen.mid(2, seen.size() - 6))
        EXPECT_TRUE(step.startsWith("1 ") && step.endsWith(kEllipsis)) << step.toStdString();
    for (const RecordedState &s : recorder.states) {
        EXPECT_TRUE(s.hasDescription);
        EXPECT_EQ(s.error, nullptr);
    }

    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    EXPECT_EQ(connection->serverVersion() / 10000, 15u);
    const auto values = connection->configurationParameterValues();
    EXPECT_EQ(values.value("standard_conforming_strings"), "on");
    EXPECT_EQ(values.value("application_name"), "Trellan tests");
    EXPECT_FALSE(connection->configurationParameterDescriptions().value("work_mem").isEmpty());
    EXPECT_FALSE(connection->isRedshift());
    EXPECT_TRUE(onQueue(connection, [&] { return PQstatus(connection->conn()) == CONNECTION_OK; }));
}

TEST(ConnectionSequence, EmptyHostMeansLocalhostWithoutCertificateCheck) {
    QVariantMap params = serverParams();
    params.insert("host", "");
    auto connection = ZNTConnection::create(params);
    StateRecorder recorder(connection);
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_EQ(recorder.descriptions().value(0), "1 Resolving localhost " + kEllipsis);
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();
    EXPECT_EQ(onQueue(connection, [&] { return QByteArray(PQhost(connection->conn())); }), "localhost");
    EXPECT_EQ(connection->params().value("host"), "");
}

// A link that dies must end an idle session within about two minutes (the
// kernel's default takes two hours), while an outage under a minute costs none.
// Outside a save nothing bounds data the server has not acknowledged. While a
// bound holds, the kernel ends the session once a probe is out and nothing came
// for that long, so probes go out sooner meanwhile: never later than the URL
// asked, none where it turned them off, and as before once the bound is off.
TEST(ConnectionSequence, EverySessionProbesItsLinkAndNoneBoundsUnacknowledgedData) {
    auto connection = ZNTConnection::create(serverParams());
    ASSERT_TRUE(connectAndSettle(connection));
    const LinkWatch watch = linkWatchOf(onQueue(connection, [&] { return PQsocket(connection->conn()); }));
    EXPECT_TRUE(watch.probes);
    EXPECT_LE(watch.deadAfterSeconds, 120);
    EXPECT_GE(watch.outageSurvivedSeconds, 60);
    EXPECT_EQ(watch.unacknowledgedMs, 0u);

    const std::pair<QVariantMap, std::pair<int, int>> cases[] = {
        {{}, {5, 5}}, {{{"keepalives_idle", 2}, {"keepalives_interval", 9}}, {2, 5}}, {{{"keepalives", 0}}, {}}};
    for (const auto &[url, during] : cases) {
        QVariantMap params = serverParams();
        params.insert(url);
        auto session = ZNTConnection::create(params);
        ASSERT_TRUE(connectAndSettle(session));
        const auto [before, bounded, after] = onQueue(session, [&] {
            const int fd = PQsocket(session->conn());
            const LinkWatch before = linkWatchOf(fd);
            session->setUnacknowledgedTimeout(std::chrono::minutes(1));
            const LinkWatch bounded = linkWatchOf(fd);
            session->setUnacknowledgedTimeout({});
            return std::tuple(before, bounded, linkWatchOf(fd));
        });
        EXPECT_EQ(before.probes, !url.contains("keepalives")) << url.keys().join(' ').toStdString();
        EXPECT_EQ(bounded.probes, before.probes);
        EXPECT_EQ(bounded.probeSeconds, before.probes ? during : before.probeSeconds);
        EXPECT_EQ(after.probes, before.probes);
        EXPECT_EQ(after.probeSeconds, before.probeSeconds);
    }
}

TEST(ConnectionFailures, RejectedOrMissingPasswordIsKnownAtTheFirstFailedState) {
    for (const QVariant &password : {QVariant("wrong password"), QVariant()}) {
        QVariantMap params = serverParams("TRELLAN_PG_SCRAM_USER");
        if (password.isValid())
            params.insert("password", password);
        auto connection = ZNTConnection::create(params);
        StateRecorder recorder(connection);
        ASSERT_TRUE(connectAndSettle(connection));
        const RecordedState *failed = recorder.firstWithState(ZNTConnection::ZNTConnectionStateFailed);
        ASSERT_NE(failed, nullptr) << recorder.descriptions().join(" | ").toStdString();
        EXPECT_TRUE(failed->needsPassword) << password.toString().toStdString();
        EXPECT_FALSE(failed->needsPlainTextConnection);
        ASSERT_NE(failed->error, nullptr);
        EXPECT_EQ(failed->description, "Connection failed.");
        EXPECT_EQ(recorder.states.back().state, 2u);
        EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateFailed);
    }

    QVariantMap right = serverParams("TRELLAN_PG_SCRAM_USER");
    right.insert("password", requiredEnv("TRELLAN_PG_SCRAM_PASSWORD"));
    auto connection = ZNTConnection::create(right);
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(connection).toStdString();
    EXPECT_FALSE(connection->needsPassword());
    runAgainInGerman();
}

TEST(ConnectionFailures, ServerWithoutTlsOffersPlainTextOnlyWhenTheHostIsNotLoopback) {
    QVariantMap params = serverParams("TRELLAN_PG_TRUST_USER", "TRELLAN_PG_PLAIN_PORT");
    params.insert("host", "LOCALHOST");
    auto connection = ZNTConnection::create(params);
    StateRecorder recorder(connection);
    ASSERT_TRUE(connectAndSettle(connection));
    const RecordedState *failed = recorder.firstWithState(ZNTConnection::ZNTConnectionStateFailed);
    ASSERT_NE(failed, nullptr);
    EXPECT_TRUE(failed->needsPlainTextConnection);
    EXPECT_FALSE(failed->needsPassword);
    EXPECT_TRUE(errorText(connection).contains("server does not support SSL")) << errorText(connection).toStdString();

    params.insert("allowPlainTextConnection", true);
    auto allowed = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(allowed));
    EXPECT_EQ(allowed->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(allowed).toStdString();

    params.remove("allowPlainTextConnection");
    params.insert("host", "127.0.0.1");
    auto loopback = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(loopback));
    EXPECT_EQ(loopback->state(), ZNTConnection::ZNTConnectionStateConnected) << errorText(loopback).toStdString();
    runAgainInGerman();
}

// A server that asks for a password and answers it the way a German-speaking
// PostgreSQL does: a wrong password (28P01), or a login that succeeds for a
// database that does not exist (3D000), in one packet with the login's OK.
TEST(ConnectionFailures, PasswordFailureIsKnownByTheServersCodeNotItsLanguage) {
    struct Case {
        const char *name;
        FakeLoginServer::Answer answer;
        bool needsPassword;
        QString text;
    };
    const Case cases[] = {
        {"wrongPassword", FakeLoginServer::WrongPassword, true,
         "FATAL:  Passwort-Authentifizierung für Benutzer »alice« fehlgeschlagen"},
        {"noDatabase", FakeLoginServer::NoSuchDatabase, false, "FATAL:  Datenbank »nirgends« existiert nicht"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeLoginServer server(c.answer);
        auto connection = ZNTConnection::create({{"host", "127.0.0.1"},
                                                 {"port", server.port()},
                                                 {"user", "alice"},
                                                 {"password", "secret"},
                                                 {"dbname", "nirgends"}});
        ASSERT_TRUE(connectAndSettle(connection));
        EXPECT_TRUE(server.sawPassword());
        EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateFailed);
        EXPECT_EQ(connection->needsPassword(), c.needsPassword);
        EXPECT_FALSE(connection->needsPlainTextConnection());
        // The server's own words, as libpq shows them by default: no code, no location.
        EXPECT_TRUE(errorText(connection).endsWith(c.text)) << errorText(connection).toStdString();
        EXPECT_FALSE(errorText(connection).contains("LOCATION")) << errorText(connection).toStdString();
    }
    runAgainInGerman();
}

TEST(ConnectionFailures, SocketPathIsRefusedBeforeAnyLookup) {
    QVariantMap params = serverParams();
    params.insert("host", "/tmp");
    auto connection = ZNTConnection::create(params);
    StateRecorder recorder(connection);
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_EQ(recorder.descriptions(), QStringList{"2 Connection failed."});
    EXPECT_EQ(errorText(connection), "'/tmp' looks like a socket path. Trellan can't connect to unix domain sockets. "
                                     "Leave the field blank to connect via TCP.");
    EXPECT_EQ(connection->dnsResolver(), nullptr);
    ASSERT_NE(recorder.states[0].error, nullptr);
    EXPECT_EQ(recorder.states[0].error->code(), 1);
}

TEST(ConnectionFailures, UnresolvableHostFailsWithTheResolversText) {
    QVariantMap params = serverParams();
    params.insert("host", "no-such-host.invalid");
    auto connection = ZNTConnection::create(params);
    StateRecorder recorder(connection);
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_EQ(recorder.descriptions(),
              (QStringList{"1 Resolving no-such-host.invalid " + kEllipsis, "2 Connection failed."}));
    EXPECT_EQ(errorText(connection), "Resolving no-such-host.invalid failed. Hostname not found.");
}

TEST(ConnectionFailures, DatabaseNameIsNeverReadAsConnectionString) {
    QVariantMap params = serverParams();
    params.insert("dbname", "dbname=postgres");
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateFailed);
    EXPECT_TRUE(errorText(connection).contains("\"dbname=postgres\" does not exist"))
        << errorText(connection).toStdString();
}

TEST(ConnectionFailures, PortBelowOneMeansPostgresDefaultPort) {
    for (const QVariant &port : {QVariant(0), QVariant(-3), QVariant("")}) {
        QVariantMap params = serverParams();
        params.insert("port", port);
        auto connection = ZNTConnection::create(params);
        ASSERT_TRUE(connectAndSettle(connection));
        EXPECT_EQ(onQueue(connection, [&] { return QByteArray(PQport(connection->conn())); }), "5432");
    }
}

TEST(ConnectionCancel, CancelEndsTheWaitForAServerThatNeverAnswers) {
    SilentListener silent;
    QVariantMap params = serverParams();
    params.insert("port", silent.port());
    auto connection = ZNTConnection::create(params);
    StateRecorder recorder(connection);
    connection->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return recorder.states.size() >= 3; }));
    pumpFor(std::chrono::milliseconds(300));
    ASSERT_NE(connection->state(), ZNTConnection::ZNTConnectionStateFailed);

    // The server never answers: only the cancel can end the wait.
    connection->cancel();
    ASSERT_TRUE(pumpUntil([&] { return connection->state() == ZNTConnection::ZNTConnectionStateFailed; }));
    ASSERT_TRUE(pumpUntil([&] { return recorder.states.back().state == 2; }));
    EXPECT_EQ(errorText(connection), "Connection to PostgreSQL server cancelled.");
    EXPECT_TRUE(connection->shouldCancel());
}

TEST(ConnectionCancel, CancelDuringSlowLookupEndsItAndStaysFinal) {
    // A worker that takes a minute: only the cancel ends the wait in time.
    DNSResolver::setWorkerDelayForTesting(std::chrono::seconds(60));
    auto connection = ZNTConnection::create(serverParams());
    StateRecorder recorder(connection);
    const int workers = DNSResolver::workersStartedForTesting();
    connection->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return DNSResolver::workersStartedForTesting() > workers; }));
    QElapsedTimer clock;
    clock.start();
    connection->cancel();
    ASSERT_TRUE(pumpUntil([&] { return !recorder.states.empty() && recorder.states.back().state == 2; },
                          std::chrono::seconds(20)));
    EXPECT_LT(clock.elapsed(), 20000);
    DNSResolver::setWorkerDelayForTesting(std::chrono::milliseconds(0));
    EXPECT_EQ(errorText(connection), "Resolving 127.0.0.1 failed. Name look up was cancelled.");

    // Cancelling is final: the next connect of the same object fails without
    // asking anybody.
    const int before = DNSResolver::workersStartedForTesting();
    ASSERT_TRUE(connectAndSettle(connection));
    EXPECT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateFailed);
    EXPECT_EQ(errorText(connection), "Resolving 127.0.0.1 failed. Name look up was cancelled.");
    EXPECT_EQ(DNSResolver::workersStartedForTesting(), before);
}

TEST(ConnectionStatus, EveryHandshakeStepOfLibpqIsProgressNotFailure) {
    for (int status = CONNECTION_STARTED; status <= CONNECTION_CHECK_STANDBY; ++status) {
        const auto [state, text] = connectionStatusState(status);
        EXPECT_EQ(state, 1) << status;
        EXPECT_FALSE(text.isEmpty()) << status;
    }
    EXPECT_EQ(connectionStatusState(CONNECTION_OK), std::make_pair(3, QStringLiteral("Connected.")));
    EXPECT_EQ(connectionStatusState(CONNECTION_BAD), std::make_pair(2, QStringLiteral("Connection failed.")));
    EXPECT_EQ(connectionStatusState(CONNECTION_CHECK_STANDBY + 1).second, "Unknown connection state.");
}

TEST(ConnectionStatus, VersionTextsAndLoopbackHosts) {
    EXPECT_EQ(ZNTConnection::parseServerVersion("PostgreSQL 9.4.1 on x86_64-apple-darwin"), 90401u);
    EXPECT_EQ(ZNTConnection::parseServerVersion("PostgreSQL 10.1 on x86_64-pc-linux-gnu"), 100100u);
    EXPECT_EQ(ZNTConnection::parseServerVersion("PostgreSQL 9.4beta1 on x86_64"), 90400u);
    EXPECT_EQ(ZNTConnection::parseServerVersion("PostgreSQL 9"), 0u);
    EXPECT_EQ(ZNTConnection::parseServerVersion("PostgreSQL 9.4"), 0u);
    EXPECT_EQ(ZNTConnection::parseServerVersion("MySQL 8.0.1"), 0u);
    EXPECT_EQ(ZNTConnection::parseServerVersion(
                  "PostgreSQL 8.0.2 on i686-pc-linux-gnu, compiled by GCC gcc (GCC) 3.4.2, Redshift 1.0.12103"),
              80002u);

    for (const char *host : {"localhost", "127.0.0.1", "127.255.0.9", "::1"})
        EXPECT_TRUE(ZNTConnection::isLoopbackHost(host)) << host;
    for (const char *host : {"LOCALHOST", "127.0.0.256", "127.0.0", "128.0.0.1", "127.0.0.1.5", "127.0.0.-1",
                             "127.0.0.1 ", "::2", "", "db.example.com"})
        EXPECT_FALSE(ZNTConnection::isLoopbackHost(host)) << host;
}

TEST(ConnectionSnapshot, QuotingFollowsTheServersStringModeAndNoticesStayQuiet) {
    QVariantMap params = serverParams();
    params.insert("options", "-c standard_conforming_strings=off");
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    const QString literal = connection->quoteLiteral(Value::fromBytes(QByteArray("\x01'\\", 3)));
    EXPECT_EQ(literal, "'\\\\x01275c'");

    // The server reads it back as the same bytes, and its notice goes nowhere.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    const int savedStderr = dup(STDERR_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    const QByteArray hex = onQueue(connection, [&] {
        PGconn *conn = connection->conn();
        PGresult *notice = PQexec(conn, "do $$ begin raise notice 'should not be printed'; end $$");
        PQclear(notice);
        PGresult *r = PQexec(conn, ("select encode(" + literal + "::bytea, 'hex')").toUtf8().constData());
        QByteArray value = PQresultStatus(r) == PGRES_TUPLES_OK ? QByteArray(PQgetvalue(r, 0, 0)) : QByteArray();
        PQclear(r);
        return value;
    });
    fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    char buffer[256];
    const ssize_t printed = read(pipeEnds[0], buffer, sizeof buffer);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    EXPECT_EQ(hex, "01275c");
    EXPECT_LE(printed, 0) << QByteArray(buffer, int(std::max<ssize_t>(printed, 0))).constData();
}

TEST(ConnectionMetadata, CacheKeepsOneObjectPerKeyOnTheMainThreadOnly) {
    auto connection = ZNTConnection::create({});
    EXPECT_EQ(connection->cachedMetadata("public.t"), nullptr);
    auto metadata = std::make_shared<int>(7);
    connection->setCachedMetadata("public.t", metadata);
    EXPECT_EQ(connection->cachedMetadata("public.t"), metadata);
    connection->setCachedMetadata("public.u", std::make_shared<int>(8));
    connection->purgeMetadataForKey("public.t");
    EXPECT_EQ(connection->cachedMetadata("public.t"), nullptr);
    EXPECT_NE(connection->cachedMetadata("public.u"), nullptr);
    connection->purgeMetadata();
    EXPECT_EQ(connection->cachedMetadata("public.u"), nullptr);

    std::string thrown;
    std::thread([&] {
        try {
            connection->cachedMetadata("public.t");
        } catch (const ProgramError &error) {
            thrown = error.name();
        }
    }).join();
    EXPECT_EQ(thrown, "WrongThread");
}

// The checks are cheap, so they hold in release builds too: a handle used off its
// queue would race the queue's own libpq calls.
TEST(ConnectionThreads, HandleAndQueriesStayOnTheConnectionQueueInEveryBuild) {
    auto connection = ZNTConnection::create({});
    auto thrownBy = [](const std::function<void()> &fn) -> std::string {
        try {
            fn();
        } catch (const ProgramError &error) {
            return error.name();
        }
        return "nothing";
    };
    EXPECT_EQ(thrownBy([&] { connection->conn(); }), "WrongThread");
    auto query = ZNTQuery::create("select 1");
    EXPECT_EQ(thrownBy([&] { query->executionBlockForConnection(connection, false)(); }), "WrongThread");
    EXPECT_EQ(onQueue(connection, [&] { return connection->conn(); }), nullptr);
}
