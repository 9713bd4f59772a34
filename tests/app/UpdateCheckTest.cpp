#include "TestSupport.h"
#include "app/TqbUpdateChecker.h"
#include "favorites/UpdateStatus.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A small HTTP server on loopback: it records every request (path, content type
// and the form fields as Python's urllib parses them) and answers with the
// bytes of the file "answer", sent in pieces of 1000 bytes.
const char *const kServer = R"(
import http.server, json, os, sys, urllib.parse
folder = sys.argv[1]
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def do_POST(self):
        body = self.rfile.read(int(self.headers['Content-Length'])).decode('ascii')
        fields = dict(urllib.parse.parse_qsl(body, keep_blank_values=True, strict_parsing=True))
        with open(os.path.join(folder, 'requests'), 'a') as f:
            f.write(json.dumps({'path': self.path, 'type': self.headers['Content-Type'], 'body': body,
                                'fields': fields}) + '\n')
        answer = open(os.path.join(folder, 'answer'), 'rb').read()
        self.send_response(200)
        self.send_header('Content-Length', str(len(answer)))
        self.end_headers()
        for i in range(0, len(answer), 1000):
            self.wfile.write(answer[i:i + 1000])
            self.wfile.flush()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
)";

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.start("/usr/bin/python3", {"-c", kServer, dir.path()});
        ASSERT_TRUE(server.waitForReadyRead(10000));
        port = server.readLine().trimmed().toInt();
        ASSERT_GT(port, 0);
        defaults = std::make_unique<UserDefaults>(dir.filePath("defaults.ini"));
        checker = makeChecker();
    }
    void TearDown() override {
        server.kill();
        server.waitForFinished();
    }

    std::shared_ptr<TqbUpdateChecker> makeChecker() {
        auto c = TqbUpdateChecker::make(*defaults);
        c->setBaseURLForTesting(QUrl(QString("http://127.0.0.1:%1").arg(port)));
        return c;
    }
    void answer(const QByteArray &bytes) {
        QFile file(dir.filePath("answer"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QList<QJsonObject> requests() {
        QFile file(dir.filePath("requests"));
        QList<QJsonObject> list;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    list.append(QJsonDocument::fromJson(line).object());
        return list;
    }
    // Runs one check; the notifications it posted, in order.
    QStringList check() {
        QStringList posted;
        auto &center = NotificationCenter::defaultCenter();
        auto record = [&](const Notification &n) { posted.append(n.name); };
        ObserverToken available = center.observe(TqbUpdateAvailableNotification, checker.get(), record);
        ObserverToken status = center.observe(TqbUpdateStatusChangedNotification, checker.get(), record);
        checker->checkForUpdates();
        EXPECT_TRUE(pumpUntil([&] { return posted.contains(TqbUpdateStatusChangedNotification); }));
        return posted;
    }

    QTemporaryDir dir;
    QProcess server;
    int port = 0;
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<TqbUpdateChecker> checker;
};

const QByteArray kAnswer = R"({"latestVersion": "2.10", "downloadURL": "https://example.org/t.tar.gz", "notes": null})";

} // namespace

TEST_F(UpdateCheck, FormFieldsArriveIntactWithTheFirstThreeLanguagesAndOneKey) {
    answer(kAnswer);
    defaults->setObject(QStringList{"de&DE", "en+GB=1", QString::fromUtf8("français"), "it", "es"}, "AppleLanguages");
    check();
    check();
    const QList<QJsonObject> seen = requests();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0].value("path").toString(),
              "/trellan/download/latest-version.php?v=" + TqbUpdateChecker::currentVersion());
    EXPECT_EQ(seen[0].value("type").toString(), "application/x-www-form-urlencoded");
    const QJsonObject fields = seen[0].value("fields").toObject();
    EXPECT_EQ(fields.keys(), (QStringList{"computerModel", "language[0]", "language[1]", "language[2]",
                                          "operatingSystemVersionString", "randomUpdateKey", "version"}));
    EXPECT_EQ(fields.value("language[0]").toString(), "de&DE");
    EXPECT_EQ(fields.value("language[1]").toString(), "en+GB=1");
    EXPECT_EQ(fields.value("language[2]").toString(), QString::fromUtf8("français"));
    EXPECT_EQ(fields.value("version").toString(), TqbUpdateChecker::currentVersion());
    EXPECT_EQ(fields.value("operatingSystemVersionString").toString(),
              TqbUpdateChecker::operatingSystemVersionString());
    const QString key = fields.value("randomUpdateKey").toString();
    EXPECT_TRUE(QRegularExpression("^[A-HJ-NP-Z2-9]{12}$").match(key).hasMatch()) << key.toStdString();
    EXPECT_EQ(seen[1].value("fields").toObject().value("randomUpdateKey").toString(), key);
    EXPECT_EQ(defaults->stringForKey("RandomUpdateKey"), key);
}

TEST_F(UpdateCheck, NewAnswerIsAnnouncedAndKeptAnUnchangedOneOnlyUpdatesTheStatus) {
    answer(kAnswer);
    EXPECT_EQ(check(), (QStringList{TqbUpdateAvailableNotification, TqbUpdateStatusChangedNotification}));
    EXPECT_TRUE(checker->lastErrorMessage().isNull());
    EXPECT_EQ(checker->latestVersion(), "2.10");
    EXPECT_EQ(checker->downloadURL(), QUrl("https://example.org/t.tar.gz"));
    EXPECT_TRUE(checker->isUpdateAvailable());
    const QDateTime first = checker->lastUpdateDate();
    EXPECT_TRUE(first.isValid());

    // Another process reads the kept answer from the file and finds it unchanged.
    defaults->synchronize();
    defaults = std::make_unique<UserDefaults>(dir.filePath("defaults.ini"));
    checker = makeChecker();
    EXPECT_EQ(checker->latestVersion(), "2.10");
    EXPECT_EQ(check(), QStringList{TqbUpdateStatusChangedNotification});
    EXPECT_GE(checker->lastUpdateDate(), first);

    answer(R"({"latestVersion": "0.0.1", "downloadURL": "https://example.org/old"})");
    EXPECT_EQ(check(), (QStringList{TqbUpdateAvailableNotification, TqbUpdateStatusChangedNotification}));
    EXPECT_FALSE(checker->isUpdateAvailable()) << "an older version is announced but not offered";
}

TEST_F(UpdateCheck, BadAnswersLeaveTheKeptAnswerAndSayWhy) {
    answer(kAnswer);
    check();
    const QDateTime kept = checker->lastUpdateDate();

    // Within the limit, in many pieces.
    QByteArray padded = R"({"latestVersion": "3.0", "pad": ")";
    padded += QByteArray(TqbUpdateChecker::kMaxResponseSize - padded.size() - 2, 'x') + "\"}";
    ASSERT_EQ(padded.size(), TqbUpdateChecker::kMaxResponseSize);
    answer(padded);
    check();
    EXPECT_TRUE(checker->lastErrorMessage().isNull());
    EXPECT_EQ(checker->latestVersion(), "3.0");

    struct Case {
        const char *name;
        QByteArray body;
        QString message;
    };
    const Case cases[] = {
        {"oneByteTooLong", padded.insert(1, ' '),
         "Failed to check for updates because the server response was too long."},
        {"array", R"(["2.10"])", "Failed to check for updates because the server responded with an invalid object."},
        {"notJson", "<html>busy</html>",
         "Failed to check for updates because the server response could not be decoded. "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.body);
        EXPECT_EQ(check(), QStringList{TqbUpdateStatusChangedNotification});
        EXPECT_TRUE(checker->lastErrorMessage().startsWith(c.message)) << checker->lastErrorMessage().toStdString();
        EXPECT_EQ(checker->latestVersion(), "3.0");
    }
    server.kill();
    server.waitForFinished();
    check();
    EXPECT_TRUE(checker->lastErrorMessage().startsWith("Failed to check for updates. "));
    EXPECT_GE(checker->lastUpdateDate(), kept);
}

TEST_F(UpdateCheck, AServerThatNeverAnswersEndsTheCheckWithAFailure) {
    answer(kAnswer);
    check();
    QTcpServer silent; // accepts and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    checker->setBaseURLForTesting(QUrl(QString("http://127.0.0.1:%1").arg(silent.serverPort())));
    checker->setTimeoutForTesting(std::chrono::milliseconds(500));
    EXPECT_EQ(TqbUpdateChecker::kTimeout, std::chrono::seconds(30));
    EXPECT_EQ(check(), QStringList{TqbUpdateStatusChangedNotification});
    EXPECT_EQ(checker->lastErrorMessage(), "Failed to check for updates. The update server did not answer in time.");
    EXPECT_EQ(checker->latestVersion(), "2.10") << "the kept answer stays";
}

TEST_F(UpdateCheck, ANewCheckReplacesOneStillWaiting) {
    QTcpServer silent; // accepts and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    checker->setBaseURLForTesting(QUrl(QString("http://127.0.0.1:%1").arg(silent.serverPort())));
    checker->checkForUpdates();
    ASSERT_TRUE(pumpUntil([&] { return silent.hasPendingConnections(); }));
    checker->setBaseURLForTesting(QUrl(QString("http://127.0.0.1:%1").arg(port)));
    answer(kAnswer);
    EXPECT_EQ(check(), (QStringList{TqbUpdateAvailableNotification, TqbUpdateStatusChangedNotification}));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(checker->lastErrorMessage().isNull()) << "the abandoned request reported back";
}

// A check asked for in the favorites window answers there: its corner tells
// what the check found, as the preferences window does, or the newer version.
TEST_F(UpdateCheck, TheFavoritesWindowsUpdateLineTellsWhatEachCheckFound) {
    ZNTUpdateStatusView view(*defaults);
    view.resize(600, 40);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_FALSE(view.updateInfoTextField()->isVisible()) << "nothing to tell before a check";

    answer(QString(R"({"latestVersion": "%1"})").arg(TqbUpdateChecker::currentVersion()).toUtf8());
    check();
    EXPECT_TRUE(view.updateInfoTextField()->isVisible());
    EXPECT_EQ(view.updateInfoTextField()->text().toStdString(),
              lastUpdateCheckText(QString(), checker->lastUpdateDate()).toStdString());
    EXPECT_TRUE(view.updateInfoTextField()->text().startsWith("Last Check: "));
    EXPECT_FALSE(view.updateDownloadButton()->isVisible());

    answer(R"(["2.10"])");
    check();
    EXPECT_EQ(view.updateInfoTextField()->text().toStdString(),
              "Failed to check for updates because the server responded with an invalid object.");
    EXPECT_FALSE(view.updateDownloadButton()->isVisible());

    answer(kAnswer);
    check();
    EXPECT_EQ(view.updateInfoTextField()->text().toStdString(), "Update available: Version\u00a02.10");
    EXPECT_TRUE(view.updateDownloadButton()->isVisible());
}
