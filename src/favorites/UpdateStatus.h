#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>
#include <optional>

class QLabel;
class QPushButton;
class UserDefaults;

// What the last update check found, as kept in the user defaults by the update
// checker (which posts the notifications below), read where the program shows
// it: the favorites window's version and update line.
namespace UpdateStatus {
inline const QString StatusChangedNotification = QStringLiteral("TqbUpdateStatusChangedNotification");
inline const QString AvailableNotification = QStringLiteral("TqbUpdateAvailableNotification");
inline const QString LatestUpdateInformation = QStringLiteral("latestUpdateInformation");
inline const QString LatestUpdateDate = QStringLiteral("latestUpdateDate");
// In the user info of StatusChangedNotification: why the check that ended
// failed, the empty text when it did not.
inline const QString LastErrorMessageKey = QStringLiteral("lastErrorMessage");

// Answers larger than this are refused.
constexpr qsizetype kMaxAnswerSize = 102400;

// The update server's answer as it is kept: its JSON dictionary without nulls
// (the user defaults cannot hold them). Nothing, with *failure set to the
// message the check ends with, for an answer that is too long, is no JSON or
// is no dictionary. Any thread.
std::optional<QVariantMap> answerFromBytes(const QByteArray &bytes, QString *failure);

// "latestVersion" of the kept answer; empty when absent or not text.
QString latestVersion(const UserDefaults &defaults);
// "downloadURL" of the kept answer when it is an https address; anything else
// (file:, a connection URL this program would itself open) is ignored, and
// said so in the log once.
QUrl downloadURL(const UserDefaults &defaults);
// The kept version is above the running one.
bool isUpdateAvailable(const UserDefaults &defaults);
// When a check last succeeded; invalid when none did.
QDateTime lastUpdateDate(const UserDefaults &defaults);
// The program's web page, for a download without an address of its own.
QUrl productPage();

// Compares version strings the way people read them: runs of ASCII digits as
// numbers, so "2.10" is above "2.9"; everything else character by character.
// Negative, zero or positive; a consistent order whatever the texts hold.
int compareVersionsNumerically(const QString &a, const QString &b);
} // namespace UpdateStatus

// The line of the last update check: why it failed, else when it last
// succeeded, else that none ran.
QString lastUpdateCheckText(const QString &lastErrorMessage, const QDateTime &lastUpdateDate,
                            const QLocale &locale = QLocale());

// The favorites window's corner: "v0.1.0", and when a newer version is known
// "Update available: Version 2.0" with a download button. Refreshes itself after
// every update check; once a check has ended while the window lives and found
// nothing newer, it says so as the preferences do (why it failed, or when it
// ran), so that a check asked for here answers here. main thread
class ZNTUpdateStatusView : public QWidget {
    Q_OBJECT
public:
    explicit ZNTUpdateStatusView(UserDefaults &defaults, QWidget *parent = nullptr);
    ~ZNTUpdateStatusView() override;

    void updateStatusChanged();
    // Opens the download address, or the program's web page without one.
    void openDownloadURL();

    QLabel *versionTextField() const { return m_version; }
    QLabel *updateInfoTextField() const { return m_updateInfo; }
    QPushButton *updateDownloadButton() const { return m_download; }

private:
    void buildUi();

    UserDefaults &m_defaults;
    std::optional<QString> m_endedCheckError; // set once a check has ended: its failure, or empty
    struct Observation;
    std::unique_ptr<Observation> m_observation;
    QLabel *m_version = nullptr;
    QLabel *m_updateInfo = nullptr;
    QPushButton *m_download = nullptr;
};
