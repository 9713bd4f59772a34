#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <openssl/pem.h>

namespace {

// Wakes the event loop every two milliseconds while a test waits, so that a
// wait that blocks for events still looks at its condition and its clock.
class Waker {
public:
    Waker() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(2);
    }
    // One turn of the event loop: what is pending runs; with nothing pending it
    // sleeps until an event comes or the next tick, leaving the processor to
    // the servers and the other tests meanwhile.
    void turn() { QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents); }

private:
    QTimer m_timer;
};

} // namespace

bool pumpUntil(const std::function<bool()> &pred, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    Waker waker;
    while (!pred()) {
        if (timer.elapsed() > timeout.count())
            return pred();
        waker.turn();
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    Waker waker;
    while (timer.elapsed() < duration.count())
        waker.turn();
}

QString requiredEnv(const char *name) {
    QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        ADD_FAILURE() << name << " is not set: run the tests through scripts/test";
    return value;
}

QByteArray derFromPemFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray pem = file.readAll();
    BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    unsigned char *der = nullptr;
    const int length = certificate ? i2d_X509(certificate, &der) : 0;
    QByteArray bytes(reinterpret_cast<const char *>(der), length > 0 ? length : 0);
    OPENSSL_free(der);
    X509_free(certificate);
    return bytes;
}

QString tlsFile(const QString &name) {
    return requiredEnv("TRELLAN_TLS_DIR") + "/" + name;
}

QString secretTool(const QStringList &args) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), args);
    EXPECT_TRUE(tool.waitForFinished(10000)) << "secret-tool did not finish";
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QString secretToolLookup(const QString &service, const QString &account) {
    return secretTool({"lookup", "service", service, "account", account});
}

namespace {
const char *const kChildVariable = "TRELLAN_TEST_CHILD";
}

bool isChildRun() {
    return qEnvironmentVariableIsSet(kChildVariable);
}

std::unique_ptr<QProcess> startCurrentTestInChild(const QMap<QString, QString> &environment,
                                                  const QStringList &launcher) {
    auto child = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        if (it.value().isNull())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    }
    env.insert(kChildVariable, "1");
    // The child's temporary files go into a folder that goes with the child's
    // process object, so that a child killed midway leaves none behind. Not
    // through a launcher: it may run the child as a user who cannot write there.
    if (launcher.isEmpty() && !environment.contains(QStringLiteral("TMPDIR"))) {
        auto *temporary = new QTemporaryDir;
        if (temporary->isValid())
            env.insert(QStringLiteral("TMPDIR"), temporary->path());
        QObject::connect(child.get(), &QObject::destroyed, [temporary] { delete temporary; });
    }
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    QStringList arguments = launcher;
    arguments << QCoreApplication::applicationFilePath()
              << QStringLiteral("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name());
    child->start(arguments.takeFirst(), arguments);
    EXPECT_TRUE(child->waitForStarted(10000));
    return child;
}

void runCurrentTestInChild(const QMap<QString, QString> &environment, std::chrono::milliseconds limit) {
    const auto child = startCurrentTestInChild(environment);
    if (!child->waitForFinished(int(limit.count()))) {
        child->kill();
        child->waitForFinished();
        ADD_FAILURE() << "the child process hung: " << child->readAllStandardOutput().toStdString();
        return;
    }
    const QString output = QString::fromUtf8(child->readAllStandardOutput());
    EXPECT_EQ(child->exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

QByteArray runPython(const QString &script, const QStringList &arguments, const QByteArray &input) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + arguments);
    python.write(input);
    python.closeWriteChannel();
    EXPECT_TRUE(python.waitForFinished(30000)) << "python3 did not finish";
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return python.readAllStandardOutput();
}
