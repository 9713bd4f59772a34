#include "TrustDecisions.h"

#include "platform/Log.h"
#include "platform/Posix.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kCertificatesKey = QStringLiteral("certificates");
const QString kHostKey = QStringLiteral("host");
const QString kDigestKey = QStringLiteral("sha256");

// Host names are compared as DNS compares them; addresses are kept as typed.
QString hostKey(const QString &host) {
    return host.toLower();
}

QString digestKey(const QByteArray &sha256) {
    return QString::fromLatin1(sha256.toHex());
}

bool sameDecision(const QJsonValue &entry, const QString &host, const QString &digest) {
    const QJsonObject object = entry.toObject();
    return object.value(kHostKey).toString() == host && object.value(kDigestKey).toString() == digest;
}

std::mutex sharedMutex;
std::shared_ptr<TrustDecisions> sharedDecisions;

} // namespace

QString TrustDecisions::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Trellan/TrustedCertificates.json");
}

std::shared_ptr<TrustDecisions> TrustDecisions::shared() {
    std::lock_guard lock(sharedMutex);
    if (!sharedDecisions)
        sharedDecisions = std::make_shared<TrustDecisions>(defaultPath());
    return sharedDecisions;
}

void TrustDecisions::setShared(std::shared_ptr<TrustDecisions> decisions) {
    std::lock_guard lock(sharedMutex);
    sharedDecisions = std::move(decisions);
}

TrustDecisions::TrustDecisions(QString path) : m_path(std::move(path)) {}

bool TrustDecisions::isTrusted(const QString &host, const QByteArray &sha256) const {
    std::lock_guard lock(m_mutex);
    QJsonObject document;
    loadLocked(&document);
    const QString h = hostKey(host), digest = digestKey(sha256);
    for (const QJsonValue &entry : document.value(kCertificatesKey).toArray())
        if (sameDecision(entry, h, digest))
            return true;
    return false;
}

bool TrustDecisions::trust(const QString &host, const QByteArray &sha256) {
    std::lock_guard lock(m_mutex);
    QJsonObject document;
    if (loadLocked(&document) == FileState::Bad && !setAsideLocked())
        return false;
    const QString h = hostKey(host), digest = digestKey(sha256);
    QJsonArray entries = document.value(kCertificatesKey).toArray();
    for (const QJsonValue &entry : entries)
        if (sameDecision(entry, h, digest))
            return true;
    entries.append(QJsonObject{{kHostKey, h},
                               {kDigestKey, digest},
                               {QStringLiteral("trusted"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}});
    document.insert(kCertificatesKey, entries);
    document.insert(QStringLiteral("version"), 1);
    return writeLocked(document);
}

TrustDecisions::FileState TrustDecisions::loadLocked(QJsonObject *document) const {
    QFile file(m_path);
    if (!file.exists())
        return FileState::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        Log(QStringLiteral("Could not read the trusted certificates in %1: %2").arg(m_path, file.errorString()));
        return FileState::Bad;
    }
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(file.readAll(), &error);
    if (!parsed.isObject() || !parsed.object().value(kCertificatesKey).isArray()) {
        const QString why = error.error != QJsonParseError::NoError ? error.errorString()
                                                                    : QStringLiteral("not a list of certificates");
        Log(QStringLiteral("The trusted certificates in %1 cannot be used (%2); none are trusted.").arg(m_path, why));
        return FileState::Bad;
    }
    *document = parsed.object();
    return FileState::Good;
}

// A file we could not understand may still be the user's only copy of their
// decisions; it goes beside the new one instead of under it.
bool TrustDecisions::setAsideLocked() const {
    QString aside = m_path + QStringLiteral(".bad");
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = m_path + QStringLiteral(".bad.%1").arg(n);
    if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) != 0) {
        Log(QStringLiteral("Could not move %1 aside (%2); the certificate decision is not saved.")
                .arg(m_path, Posix::errnoText(errno)));
        return false;
    }
    Log(QStringLiteral("Moved the unusable %1 to %2.").arg(m_path, aside));
    return true;
}

bool TrustDecisions::writeLocked(const QJsonObject &document) const {
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        Log(QStringLiteral("Could not create %1; the certificate decision is not saved.").arg(info.absolutePath()));
        return false;
    }
    // mkstemp makes the file 0600 from the start; rename replaces the old one
    // only once the new one is complete.
    QByteArray temp = QFile::encodeName(m_path + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0;
    if (ok) {
        ok = Posix::writeAll(fd, QJsonDocument(document).toJson()) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        ok = ok && std::rename(temp.constData(), QFile::encodeName(m_path).constData()) == 0;
    }
    if (!ok) {
        Log(QStringLiteral("Could not write %1 (%2); the certificate decision is not saved.")
                .arg(m_path, Posix::errnoText(errno)));
        if (fd >= 0)
            ::unlink(temp.constData());
    }
    return ok;
}
