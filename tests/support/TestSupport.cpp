#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <openssl/pem.h>

bool pumpUntil(const std::function<bool()> &pred, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeout.count())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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
