#include "UpdateStatus.h"

#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
#include "uikit/DateFormatting.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLabel>
#include <QPushButton>
#include <mutex>

namespace UpdateStatus {

namespace {
QString answerText(const UserDefaults &defaults, const char *key) {
    const QVariant v = defaults.dictionaryForKey(LatestUpdateInformation).value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

// JSON null has no place in the user defaults; such entries are left out.
QVariant withoutNulls(const QVariant &value) {
    if (value.typeId() == QMetaType::QVariantMap) {
        QVariantMap map;
        const QVariantMap in = value.toMap();
        for (auto it = in.begin(); it != in.end(); ++it)
            if (!it.value().isNull())
                map.insert(it.key(), withoutNulls(it.value()));
        return map;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        QVariantList list;
        for (const QVariant &item : value.toList())
            if (!item.isNull())
                list.append(withoutNulls(item));
        return list;
    }
    return value;
}
} // namespace

std::optional<QVariantMap> answerFromBytes(const QByteArray &bytes, QString *failure) {
    if (bytes.size() > kMaxAnswerSize) {
        *failure = QStringLiteral("Failed to check for updates because the server response was too long.");
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *failure = QStringLiteral("Failed to check for updates because the server response could not be decoded. %1")
                       .arg(parseError.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        *failure = QStringLiteral("Failed to check for updates because the server responded with an invalid object.");
        return std::nullopt;
    }
    return withoutNulls(document.object().toVariantMap()).toMap();
}

QString latestVersion(const UserDefaults &defaults) {
    return answerText(defaults, "latestVersion");
}

QUrl downloadURL(const UserDefaults &defaults) {
    const QString text = answerText(defaults, "downloadURL");
    if (text.isEmpty())
        return {};
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty())
        return url;
    // The answer comes from the network: whatever else it names is not opened.
    static std::once_flag logged;
    std::call_once(logged, [&text] {
        Log(QStringLiteral("Ignored the update server's download address, which is not an https URL: %1")
                .arg(text.left(200)));
    });
    return {};
}

bool isUpdateAvailable(const UserDefaults &defaults) {
    const QString latest = latestVersion(defaults);
    return !latest.isEmpty() && compareVersionsNumerically(latest, SystemInfo::shortVersionString()) > 0;
}

QDateTime lastUpdateDate(const UserDefaults &defaults) {
    const QVariant v = defaults.objectForKey(LatestUpdateDate);
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : QDateTime();
}

QUrl productPage() {
    return QUrl(QStringLiteral("https://trellan.norvane.net/"));
}

namespace {
// Only ASCII digits: another script's digit compared as a number with one and
// as a character with a letter would order "a" < "߀" < "10" < "a".
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
} // namespace

int compareVersionsNumerically(const QString &a, const QString &b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            // Digit runs of any length: leading zeros off, then the longer run is
            // the larger number, then digit by digit.
            QStringView x = QStringView(a).mid(i, ei - i), y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (int c = x.compare(y))
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    const qsizetype restA = a.size() - i, restB = b.size() - j;
    return restA == restB ? 0 : restA < restB ? -1 : 1;
}

} // namespace UpdateStatus

QString lastUpdateCheckText(const QString &lastErrorMessage, const QDateTime &lastUpdateDate, const QLocale &locale) {
    if (!lastErrorMessage.isEmpty())
        return lastErrorMessage;
    if (lastUpdateDate.isValid())
        return QStringLiteral("Last Check: %1 %2")
            .arg(locale.toString(lastUpdateDate.toLocalTime().date(), mediumDateFormat(locale)),
                 locale.toString(lastUpdateDate.toLocalTime().time(), QLocale::ShortFormat));
    return QStringLiteral("Last Check: Never");
}

struct ZNTUpdateStatusView::Observation {
    ObserverToken token;
};

ZNTUpdateStatusView::ZNTUpdateStatusView(UserDefaults &defaults, QWidget *parent)
    : QWidget(parent), m_defaults(defaults), m_observation(std::make_unique<Observation>()) {
    buildUi();
    // Every ended check may have changed what is known.
    m_observation->token = NotificationCenter::defaultCenter().observe(
        UpdateStatus::StatusChangedNotification, nullptr, [this](const Notification &notification) {
            m_endedCheckError = notification.value<QString>(UpdateStatus::LastErrorMessageKey).value_or(QString());
            updateStatusChanged();
        });
    updateStatusChanged();
}

ZNTUpdateStatusView::~ZNTUpdateStatusView() = default;

void ZNTUpdateStatusView::buildUi() {
    m_version = new QLabel(QStringLiteral("v%1").arg(SystemInfo::shortVersionString()), this);
    m_version->setForegroundRole(QPalette::PlaceholderText);
    m_updateInfo = new QLabel(this);
    m_updateInfo->setTextFormat(Qt::PlainText); // the version comes from the network
    // A failure can be long: it wraps rather than widening the window.
    m_updateInfo->setWordWrap(true);
    m_updateInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_download = new QPushButton(tr("Download"), this);
    connect(m_download, &QPushButton::clicked, this, &ZNTUpdateStatusView::openDownloadURL);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_version);
    layout->addStretch();
    layout->addWidget(m_updateInfo);
    layout->addWidget(m_download);
}

void ZNTUpdateStatusView::updateStatusChanged() {
    const bool available = UpdateStatus::isUpdateAvailable(m_defaults);
    if (available)
        // A no-break space keeps "Version" with its number.
        m_updateInfo->setText(
            QStringLiteral("Update available: Version\u00a0%1").arg(UpdateStatus::latestVersion(m_defaults)));
    else if (m_endedCheckError)
        m_updateInfo->setText(lastUpdateCheckText(*m_endedCheckError, UpdateStatus::lastUpdateDate(m_defaults)));
    m_updateInfo->setToolTip(available ? QString() : m_updateInfo->text());
    m_updateInfo->setVisible(available || m_endedCheckError);
    m_download->setVisible(available);
}

void ZNTUpdateStatusView::openDownloadURL() {
    const QUrl url = UpdateStatus::downloadURL(m_defaults);
    QDesktopServices::openUrl(url.isEmpty() ? UpdateStatus::productPage() : url);
}
