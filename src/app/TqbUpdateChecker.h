#pragma once

#include "favorites/UpdateStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class UserDefaults;

inline const QString TqbUpdateStatusChangedNotification = UpdateStatus::StatusChangedNotification;
inline const QString TqbUpdateAvailableNotification = UpdateStatus::AvailableNotification;

// Asks the update server whether a newer version exists: one form POST with
// the running version, the computer model, a random per-installation key, the
// operating system and up to three preferred languages. The answer (a small JSON
// dictionary) and the date of the last good check are kept in the user
// defaults; every ended check posts TqbUpdateStatusChangedNotification (its
// failure, if any, under UpdateStatus::LastErrorMessageKey), a new answer first
// TqbUpdateAvailableNotification, both with the checker as object.
// main thread
class TqbUpdateChecker : public QObject, public std::enable_shared_from_this<TqbUpdateChecker> {
    Q_OBJECT
public:
    static inline const QString RandomUpdateKey = QStringLiteral("RandomUpdateKey");
    static inline const QString LatestUpdateInformation = UpdateStatus::LatestUpdateInformation;
    static inline const QString LatestUpdateDate = UpdateStatus::LatestUpdateDate;
    // Answers larger than this are refused.
    static constexpr qsizetype kMaxResponseSize = UpdateStatus::kMaxAnswerSize;
    // A check that has not ended by then fails.
    static constexpr std::chrono::milliseconds kTimeout = std::chrono::seconds(30);

    static std::shared_ptr<TqbUpdateChecker> sharedChecker();
    // A checker on other defaults, for tests.
    static std::shared_ptr<TqbUpdateChecker> make(UserDefaults &defaults);
    ~TqbUpdateChecker() override;

    // Starts a check, cancelling one in progress.
    void checkForUpdates();

    static QString currentVersion();
    // The machine's product name from its firmware tables; "unknown" without one.
    static QString computerModel();
    static QString operatingSystemVersionString();
    // Made once per installation and kept in the defaults.
    QString randomUpdateKey();
    // The preferred languages sent: "AppleLanguages" when the user set it, else
    // the system's.
    QStringList preferredLanguages() const;

    bool isUpdateAvailable() const;
    QString latestVersion() const;
    QUrl downloadURL() const;
    QDateTime lastUpdateDate() const;
    QString lastErrorMessage() const { return m_lastErrorMessage; }
    void setLastErrorMessage(const QString &message) { m_lastErrorMessage = message; }

    // Where checks go instead of the update server, and how long they may
    // take; for tests only.
    void setBaseURLForTesting(const QUrl &url) { m_baseURL = url; }
    void setTimeoutForTesting(std::chrono::milliseconds timeout) { m_timeout = timeout; }

private:
    explicit TqbUpdateChecker(UserDefaults &defaults);
    QByteArray formBody();
    void receive(quint64 generation);
    void finished(quint64 generation);
    void timedOut(quint64 generation);
    void takeAnswer(const QByteArray &answer);
    void fail(const QString &message);
    void postStatusChanged();
    void dropReply();

    UserDefaults &m_defaults;
    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_updateCheckConnection;
    QByteArray m_urlResponseData;
    QString m_lastErrorMessage;
    QUrl m_baseURL;
    quint64 m_generation = 0;
    std::chrono::milliseconds m_timeout = kTimeout;
};
