// COPY TO STDOUT and COPY FROM STDIN in the terminal against the test server,
// psql's \copy as the oracle: the files byte for byte in each format, a table
// restored, cancelled dialogs, files that fail to be read or written, and
// questions that can no longer be answered.
#include "TerminalTestSupport.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "query/TerminalCopyTransfer.h"
#include "query/ZNTTerminalCopyDelegate.h"
#include "uikit/AlertSheet.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>

using namespace terminaltest;
using namespace std::chrono_literals;

namespace {

class TerminalCopy : public TerminalPageFixture {
protected:
    void SetUp() override {
        TerminalPageFixture::SetUp();
        // Text with tabs, line breaks, backslashes and more than ASCII; NULLs; bytes.
        database->run("CREATE TABLE big AS SELECT g AS id, 'text ' || g || E'\\t\\\\\\n' || repeat('ü', g % 5) AS t,"
                      " (g / 7.0)::numeric(12, 3) AS n, CASE WHEN g % 10 = 0 THEN NULL ELSE g % 2 = 0 END AS b,"
                      " decode(md5(g::text), 'hex') AS data, date '2024-01-01' + g % 400 AS day"
                      " FROM generate_series(1, 100000) g");
    }
    void TearDown() override {
        ZNTTerminalCopyDelegate::setInputOpener(nullptr);
        TerminalPageFixture::TearDown();
    }

    // psql's \copy of sql (a table or a parenthesised query) to path.
    void psqlCopyTo(const QString &what, const QString &format, const QString &path) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PGCLIENTENCODING", "UTF8");
        process.setProcessEnvironment(environment);
        process.start("psql",
                      {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", requiredEnv("TRELLAN_PG_HOST"), "-p",
                       requiredEnv("TRELLAN_PG_PORT"), "-U", requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database->name,
                       "-c", QStringLiteral("\\copy %1 TO '%2' WITH (FORMAT %3)").arg(what, path, format)});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    static QByteArray contents(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    // Runs a COPY statement and answers its dialog with path (empty: Cancel).
    std::shared_ptr<ZNTTerminalQuery> copyThrough(const QString &sql, const QString &path) {
        auto query = start(sql);
        EXPECT_TRUE(query);
        answerCopyPanel(path);
        EXPECT_TRUE(waitIdle());
        return query;
    }
    Alert *openAlert() {
        pumpUntil([] { return qobject_cast<Alert *>(QApplication::activeModalWidget()) != nullptr; }, 5s);
        return qobject_cast<Alert *>(QApplication::activeModalWidget());
    }
    QString backendPid() {
        const auto query = run("SELECT pg_backend_pid()");
        return query ? gridRows(firstGrid(query)).value(0) : QString();
    }
};

// Breaks this process's TCP link that leaves from local port port, as a
// network that goes away does.
bool shutDownSocketOfLocalPort(int port) {
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            continue;
        int local = -1;
        if (address.ss_family == AF_INET)
            local = ntohs(reinterpret_cast<sockaddr_in *>(&address)->sin_port);
        else if (address.ss_family == AF_INET6)
            local = ntohs(reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port);
        if (local == port)
            return ::shutdown(fd, SHUT_RDWR) == 0;
    }
    return false;
}

// Reads like a file of COPY text rows and fails after failAfter bytes.
class FailingReader : public QIODevice {
public:
    explicit FailingReader(qint64 failAfter) : m_failAfter(failAfter) { open(QIODevice::ReadOnly); }
    qint64 served = 0;

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (served >= m_failAfter) {
            setErrorString("Input/output error");
            return -1;
        }
        const qint64 n = std::min(maxSize, m_failAfter - served);
        for (qint64 i = 0; i < n; ++i)
            data[i] = (served + i) % 8 == 7 ? '\n' : char('0' + (served + i) % 8);
        served += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_failAfter;
};

// Serves COPY text rows slowly, as a file on a slow disk or share does,
// counting the reads it was asked for; 200 MiB in all.
class ThrottledReader : public QIODevice {
public:
    explicit ThrottledReader(std::shared_ptr<std::atomic<int>> reads) : m_reads(std::move(reads)) {
        open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        ++*m_reads;
        std::this_thread::sleep_for(20ms);
        const qint64 n = std::min(maxSize, kTotal - m_served);
        for (qint64 i = 0; i < n; ++i)
            data[i] = (m_served + i) % 8 == 7 ? '\n' : char('0' + (m_served + i) % 8);
        m_served += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    static constexpr qint64 kTotal = 200 * 1024 * 1024;
    std::shared_ptr<std::atomic<int>> m_reads;
    qint64 m_served = 0;
};

} // namespace

TEST_F(TerminalCopy, CopyOutWritesWhatPsqlWritesInEachFormatAndCopyInRestoresTheTable) {
    for (const QString format : {"text", "csv", "binary"}) {
        const QString ours = files.filePath("ours." + format);
        const QString theirs = files.filePath("psql." + format);
        const auto query = copyThrough(QStringLiteral("COPY big TO STDOUT WITH (FORMAT %1)").arg(format), ours);
        EXPECT_EQ(resultsShown(query), QStringList({"COPY 100000"})) << format.toStdString();
        psqlCopyTo("big", format, theirs);
        const QByteArray expected = contents(theirs);
        EXPECT_GT(expected.size(), 1'000'000);
        EXPECT_TRUE(contents(ours) == expected) << format.toStdString();
    }
    for (const QString format : {"text", "binary"}) {
        const QString table = "restored_" + format;
        ASSERT_NO_FATAL_FAILURE(run(QStringLiteral("CREATE TABLE %1 (LIKE big)").arg(table)));
        const auto query = copyThrough(QStringLiteral("COPY %1 FROM STDIN WITH (FORMAT %2)").arg(table, format),
                                       files.filePath("ours." + format));
        EXPECT_EQ(resultsShown(query), QStringList({"COPY 100000"})) << format.toStdString();
        EXPECT_EQ(database->run(QStringLiteral("SELECT count(*) FROM (SELECT * FROM big EXCEPT ALL SELECT * FROM %1"
                                               " UNION ALL (SELECT * FROM %1 EXCEPT ALL SELECT * FROM big)) d")
                                    .arg(table)),
                  "0");
    }
    shot("terminal-copy.png");
}

TEST_F(TerminalCopy, AnEmptyFileCopiesNoRowsAndCancelledDialogsEndTheStatementOnTheSameSession) {
    const QString empty = files.filePath("empty.txt");
    QFile(empty).open(QIODevice::WriteOnly);
    ASSERT_NO_FATAL_FAILURE(run("CREATE TABLE target (LIKE big)"));
    EXPECT_EQ(resultsShown(copyThrough("COPY target FROM STDIN", empty)), QStringList({"COPY 0"}));
    const QString session = backendPid();

    const auto refused = copyThrough("COPY target FROM STDIN", QString());
    const QString shown = resultsShown(refused).join(' ');
    EXPECT_TRUE(shown.contains("User cancelled.")) << shown.toStdString();
    // The save dialog cancelled: the data is read and dropped, the statement ends well.
    const QString nothing = files.filePath("nothing.txt");
    EXPECT_EQ(resultsShown(copyThrough("COPY big TO STDOUT", QString())), QStringList({"COPY 100000"}));
    EXPECT_FALSE(QFile::exists(nothing));
    EXPECT_EQ(server->mainDatabase()->connection()->state(), ZNTConnection::ZNTConnectionStateConnected);
    EXPECT_EQ(backendPid(), session); // no reconnection
    EXPECT_EQ(database->run("SELECT count(*) FROM target"), "0");
}

TEST_F(TerminalCopy, AFileThatFailsToBeReadHalfwayLeavesTheTableAsItWas) {
    ASSERT_NO_FATAL_FAILURE(run("CREATE TABLE digits(n bigint); INSERT INTO digits VALUES (42)"));
    FailingReader *reader = nullptr;
    ZNTTerminalCopyDelegate::setInputOpener([&](const QString &, QString *) {
        auto device = std::make_unique<FailingReader>(2 * 1024 * 1024 + 100);
        reader = device.get();
        return device;
    });
    const QString path = files.filePath("rows.txt");
    QFile(path).open(QIODevice::WriteOnly);
    const auto query = copyThrough("COPY digits FROM STDIN", path);
    const QString shown = resultsShown(query).join(' ');
    EXPECT_TRUE(shown.contains("Failed to read file.")) << shown.toStdString();
    Alert *alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "The file “rows.txt” couldn’t be read.");
    EXPECT_EQ(alert->informativeText(), "Input/output error");
    alert->reject();
    EXPECT_EQ(database->run("SELECT count(*), min(n) FROM digits"), "1|42");
}

TEST_F(TerminalCopy, CancelOrClosingThePageStopsAnUploadAtTheNextChunkAndFreesTheSession) {
    run("CREATE TABLE digits(n bigint)");
    auto reads = std::make_shared<std::atomic<int>>(0);
    ZNTTerminalCopyDelegate::setInputOpener(
        [reads](const QString &, QString *) { return std::make_unique<ThrottledReader>(reads); });
    const QString path = files.filePath("rows.txt");
    QFile(path).open(QIODevice::WriteOnly);
    const QString session = backendPid();

    const auto upload = start("COPY digits FROM STDIN");
    answerCopyPanel(path);
    ASSERT_TRUE(pumpUntil([&] { return *reads >= 3; }));
    const int readsAtCancel = *reads;
    page->cancelQuery(page->cellForQuery(upload.get()));
    ASSERT_TRUE(waitIdle());
    EXPECT_LE(*reads - readsAtCancel, 2); // the read under way, at most one more
    EXPECT_TRUE(resultsShown(upload).join(' ').startsWith("ERROR")) << resultsShown(upload).join(' ').toStdString();
    EXPECT_EQ(backendPid(), session); // the session is free for the next statement
    EXPECT_EQ(database->run("SELECT count(*) FROM digits"), "0");

    // The page closed during an upload: the same.
    *reads = 0;
    start("COPY digits FROM STDIN");
    answerCopyPanel(path);
    ASSERT_TRUE(pumpUntil([&] { return *reads >= 3; }));
    const int readsAtClose = *reads;
    delete window;
    window = nullptr;
    auto next = ZNTQuery::create("SELECT 1");
    next->executeInBackgroundOnConnection(server->mainDatabase()->connection(), false);
    ASSERT_TRUE(pumpUntil([&] { return next->done(); }, 60s));
    EXPECT_FALSE(next->error());
    EXPECT_LE(*reads - readsAtClose, 2);
    EXPECT_EQ(database->run("SELECT count(*) FROM digits"), "0");
}

TEST_F(TerminalCopy, AFileThatCannotBeWrittenIsReportedTheStatementFailsAndTheFileThatWasThereStays) {
    const QString path = files.filePath("kept.txt");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    // A file-size limit: writing stops with EFBIG past 1 MiB (the page has the
    // signal that would end the program ignored).
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limited = before;
    limited.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto query = start("COPY big TO STDOUT");
    answerCopyPanel(path);
    const bool ended = waitIdle();
    setrlimit(RLIMIT_FSIZE, &before);
    ASSERT_TRUE(ended);
    const QString shown = resultsShown(query).join(' ');
    EXPECT_FALSE(shown.contains("COPY 100000")) << shown.toStdString(); // no success for a file not written
    EXPECT_TRUE(shown.contains("cancel")) << shown.toStdString();
    Alert *alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "The file “kept.txt” couldn’t be saved.");
    EXPECT_FALSE(alert->informativeText().isEmpty());
    alert->reject();
    EXPECT_EQ(contents(path), QByteArray("old contents\n"));
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), QStringList({"kept.txt"})); // nothing left beside it
    EXPECT_EQ(resultsShown(run("SELECT 1")), QStringList({"grid:1"}));
}

TEST_F(TerminalCopy, AConnectionLostWhileTheDataArrivesIsToldAndTheFileThatWasThereStays) {
    const QString path = files.filePath("kept.txt");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    const QString clientPort =
        database->run(QStringLiteral("SELECT client_port FROM pg_stat_activity WHERE pid = %1").arg(backendPid()));
    const auto query = start("COPY big TO STDOUT");
    ASSERT_TRUE(pumpUntil([&] { return page->copyPanel() != nullptr && page->copyPanel()->isVisible(); }));
    // The connection's queue waits for the answer: the link breaks meanwhile.
    ASSERT_TRUE(shutDownSocketOfLocalPort(clientPort.toInt()));
    answerCopyPanel(path);
    ASSERT_TRUE(waitIdle());
    EXPECT_FALSE(resultsShown(query).join(' ').contains("COPY 100000"));
    Alert *alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "Failed to read data from server.");
    EXPECT_TRUE(alert->informativeText().startsWith("The server said: ")) << alert->informativeText().toStdString();
    alert->reject();
    EXPECT_EQ(contents(path), QByteArray("old contents\n"));
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), QStringList({"kept.txt"}));
}

TEST_F(TerminalCopy, AQuestionNobodyCanAnswerAnymoreFreesTheConnection) {
    const auto connection = server->mainDatabase()->connection();
    auto probe = [&] {
        auto query = ZNTQuery::create("SELECT 1");
        query->executeInBackgroundOnConnection(connection, false);
        return pumpUntil([&] { return query->done(); }, 10s) && !query->error();
    };
    // The query cleared while its dialog is open.
    const auto cleared = start("COPY big TO STDOUT");
    ASSERT_TRUE(pumpUntil([&] { return page->copyPanel() != nullptr; }));
    QPointer<QFileDialog> panel = page->copyPanel();
    page->clearQuery(page->cellForQuery(cleared.get()));
    EXPECT_TRUE(pumpUntil([&] { return panel.isNull() || !panel->isVisible(); }));
    EXPECT_TRUE(probe());
    // The page gone while its dialog is open.
    start("COPY big FROM STDIN");
    ASSERT_TRUE(pumpUntil([&] { return page->copyPanel() != nullptr; }));
    delete window;
    window = nullptr;
    EXPECT_TRUE(probe());
    EXPECT_EQ(database->run("SELECT count(*) FROM big"), "100000");
}

// Straight on a libpq connection: a file of 3 MiB goes in three chunks.
TEST(TerminalCopyTransfer, AFileGoesInChunksOfOneMebibyteAndIsCountedByTheServer) {
    ScratchDatabase database;
    PGconnPtr conn = adminConnection(database.name);
    exec(conn.get(), "CREATE TABLE lines(t text)");
    QByteArray data;
    const QByteArray line = QByteArray(1023, 'x') + '\n';
    while (data.size() < 3 * 1024 * 1024)
        data += line;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    PGresultPtr started(PQexec(conn.get(), "COPY lines FROM STDIN"));
    ASSERT_EQ(PQresultStatus(started.get()), PGRES_COPY_IN);
    const auto outcome = TerminalCopyTransfer::copyIn(conn.get(), &buffer);
    EXPECT_EQ(outcome.chunks, 3);
    EXPECT_EQ(outcome.bytesSent, data.size());
    PGresultPtr done(PQgetResult(conn.get()));
    EXPECT_EQ(PQresultStatus(done.get()), PGRES_COMMAND_OK);
    EXPECT_STREQ(PQcmdTuples(done.get()), "3072");
}

// A connection that breaks while the server's data arrives: the transfer ends
// with libpq's message instead of passing the truncated data off as complete.
TEST(TerminalCopyTransfer, AConnectionLostDuringCopyOutIsAFailureWithItsReason) {
    ScratchDatabase database;
    PGconnPtr conn = adminConnection(database.name);
    PGresultPtr started(
        PQexec(conn.get(), "COPY (SELECT repeat('x', 1000) FROM generate_series(1, 100000)) TO STDOUT"));
    ASSERT_EQ(PQresultStatus(started.get()), PGRES_COPY_OUT);
    ASSERT_EQ(::shutdown(PQsocket(conn.get()), SHUT_RDWR), 0);
    QByteArray data;
    QBuffer out(&data);
    out.open(QIODevice::WriteOnly);
    const auto outcome = TerminalCopyTransfer::copyOut(conn.get(), &out);
    EXPECT_TRUE(outcome.readFailed);
    EXPECT_FALSE(outcome.readError.isEmpty());
    EXPECT_FALSE(outcome.writeFailed);
    EXPECT_LT(outcome.bytesWritten, 100000 * 1001);
    EXPECT_EQ(outcome.bytesWritten, data.size());
}
