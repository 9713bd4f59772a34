#include "TqbUpdateChecker.h"

#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"

#include <QFile>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTimer>

namespace {

const char *const kUpdateServer = "https://updates.trellan.norvane.net";
const char *const kKeyAlphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789"; // no I, O, 0 or 1

} // namespace

TqbUpdateChecker::TqbUpdateChecker(UserDefaults &defaults)
    : m_defaults(defaults), m_network(new QNetworkAccessManager(this)), m_baseURL(QString(kUpdateServer)) {}

TqbUpdateChecker::~TqbUpdateChecker() {
    dropReply();
}

std::shared_ptr<TqbUpdateChecker> TqbUpdateChecker::sharedChecker() {
    requireMainThread("TqbUpdateChecker::sharedChecker");
    static std::shared_ptr<TqbUpdateChecker> shared = make(UserDefaults::standard());
    return shared;
}

std::shared_ptr<TqbUpdateChecker> TqbUpdateChecker::make(UserDefaults &defaults) {
    return std::shared_ptr<TqbUpdateChecker>(new TqbUpdateChecker(defaults));
}

QString TqbUpdateChecker::currentVersion() {
    return SystemInfo::shortVersionString();
}

QString TqbUpdateChecker::computerModel() {
    static const QString model = [] {
        QFile file("/sys/class/dmi/id/product_name");
        QString name;
        if (file.open(QIODevice::ReadOnly))
            name = QString::fromLatin1(file.read(256)).trimmed();
        return name.isEmpty() ? QStringLiteral("unknown") : name;
    }();
    return model;
}

QString TqbUpdateChecker::operatingSystemVersionString() {
    return QStringLiteral("%1 (%2 %3)")
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion());
}

QString TqbUpdateChecker::randomUpdateKey() {
    QString key = m_defaults.stringForKey(RandomUpdateKey);
    if (!key.isEmpty())
        return key;
    for (int n = 0; n < 2; ++n) {
        quint32 bits = QRandomGenerator::system()->generate();
        for (int c = 0; c < 6; ++c, bits >>= 5)
            key.append(QChar::fromLatin1(kKeyAlphabet[bits & 31]));
    }
    m_defaults.setObject(key, RandomUpdateKey);
    return key;
}

QStringList TqbUpdateChecker::preferredLanguages() const {
    const QVariant set = m_defaults.objectForKey("AppleLanguages");
    if (set.isValid())
        return set.toStringList();
    return QLocale::system().uiLanguages();
}

QString TqbUpdateChecker::latestVersion() const {
    return UpdateStatus::latestVersion(m_defaults);
}

QUrl TqbUpdateChecker::downloadURL() const {
    return UpdateStatus::downloadURL(m_defaults);
}

QDateTime TqbUpdateChecker::lastUpdateDate() const {
    return UpdateStatus::lastUpdateDate(m_defaults);
}

bool TqbUpdateChecker::isUpdateAvailable() const {
    return UpdateStatus::isUpdateAvailable(m_defaults);
}

QByteArray TqbUpdateChecker::formBody() {
    QList<std::pair<QString, QString>> fields{
        {"version", currentVersion()},
        {"computerModel", computerModel()},
        {"randomUpdateKey", randomUpdateKey()},
        {"operatingSystemVersionString", operatingSystemVersionString()},
    };
    const QStringList languages = preferredLanguages();
    for (int i = 0; i < 3 && i < languages.size(); ++i)
        fields.append({QStringLiteral("language[%1]").arg(i), languages[i]});
    // Every key and value fully escaped: an "&", "=" or "+" in a model name must
    // not split or change a field.
    QByteArrayList pairs;
    for (const auto &[key, value] : fields)
        pairs.append(QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value));
    return pairs.join('&');
}

void TqbUpdateChecker::dropReply() {
    if (!m_updateCheckConnection)
        return;
    QNetworkReply *reply = m_updateCheckConnection;
    m_updateCheckConnection = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void TqbUpdateChecker::checkForUpdates() {
    requireMainThread("TqbUpdateChecker::checkForUpdates");
    dropReply();
    QUrl url = m_baseURL;
    url.setPath(url.path() + "/trellan/download/latest-version.php");
    url.setQuery("v=" + QUrl::toPercentEncoding(currentVersion()));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    m_urlResponseData.clear();
    const quint64 generation = ++m_generation;
    m_updateCheckConnection = m_network->post(request, formBody());
    connect(m_updateCheckConnection, &QNetworkReply::readyRead, this, [this, generation] { receive(generation); });
    connect(m_updateCheckConnection, &QNetworkReply::finished, this, [this, generation] { finished(generation); });
    // A server that accepts and then says nothing (or drips) must not hold the check for ever.
    QTimer::singleShot(m_timeout, m_updateCheckConnection, [this, generation] { timedOut(generation); });
}

void TqbUpdateChecker::timedOut(quint64 generation) {
    if (generation != m_generation || !m_updateCheckConnection)
        return;
    m_urlResponseData.clear();
    dropReply();
    fail(QStringLiteral("Failed to check for updates. The update server did not answer in time."));
}

void TqbUpdateChecker::receive(quint64 generation) {
    if (generation != m_generation || !m_updateCheckConnection)
        return;
    m_urlResponseData.append(m_updateCheckConnection->readAll());
    if (m_urlResponseData.size() > UpdateStatus::kMaxAnswerSize) {
        m_urlResponseData.clear();
        dropReply();
        fail("Failed to check for updates because the server response was too long.");
    }
}

void TqbUpdateChecker::finished(quint64 generation) {
    if (generation != m_generation || !m_updateCheckConnection)
        return;
    QNetworkReply *reply = m_updateCheckConnection;
    receive(generation);
    if (!m_updateCheckConnection)
        return; // refused as too long
    m_updateCheckConnection = nullptr;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("Failed to check for updates. %1").arg(reply->errorString()));
        return;
    }
    takeAnswer(std::exchange(m_urlResponseData, QByteArray()));
}

void TqbUpdateChecker::takeAnswer(const QByteArray &answer) {
    QString failure;
    const std::optional<QVariantMap> information = UpdateStatus::answerFromBytes(answer, &failure);
    if (!information) {
        fail(failure);
        return;
    }
    m_lastErrorMessage.clear();
    m_defaults.setObject(QDateTime::currentDateTime(), LatestUpdateDate);
    const QVariant stored = m_defaults.objectForKey(LatestUpdateInformation);
    if (!stored.isValid() || stored.toMap() != *information) {
        m_defaults.setObject(*information, LatestUpdateInformation);
        NotificationCenter::defaultCenter().post(TqbUpdateAvailableNotification, shared_from_this());
    }
    postStatusChanged();
}

void TqbUpdateChecker::fail(const QString &message) {
    m_lastErrorMessage = message;
    postStatusChanged();
}

void TqbUpdateChecker::postStatusChanged() {
    NotificationCenter::defaultCenter().post(TqbUpdateStatusChangedNotification, shared_from_this(),
                                             {{UpdateStatus::LastErrorMessageKey, m_lastErrorMessage}});
}
