#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <mutex>

// The user's "always trust" answers from the certificate trust panel: one server
// certificate, named by the SHA-256 of its DER encoding, accepted for one host.
// They live in a JSON file of their own (mode 0600, replaced by write-new-then-
// rename). Any thread.
class TrustDecisions {
public:
    // $XDG_DATA_HOME/Trellan/TrustedCertificates.json
    static QString defaultPath();
    // The decisions the program uses; tests may put others in place.
    static std::shared_ptr<TrustDecisions> shared();
    static void setShared(std::shared_ptr<TrustDecisions> decisions);

    explicit TrustDecisions(QString path);
    const QString &path() const { return m_path; }

    // sha256 is the raw 32-byte digest of the certificate's DER.
    bool isTrusted(const QString &host, const QByteArray &sha256) const;
    // Records the decision; false (and logged) when the file could not be
    // written. A file that cannot be read or parsed is kept aside as
    // "<name>.bad" before a new one replaces it.
    bool trust(const QString &host, const QByteArray &sha256);

private:
    enum class FileState { Missing, Good, Bad };
    FileState loadLocked(QJsonObject *document) const;
    bool setAsideLocked() const;
    bool writeLocked(const QJsonObject &document) const;

    QString m_path;
    mutable std::mutex m_mutex;
};
