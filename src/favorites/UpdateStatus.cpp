#include "UpdateStatus.h"

#include "platform/NotificationCenter.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace UpdateStatus {

namespace {
QString answerText(const UserDefaults &defaults, const char *key) {
    const QVariant v = defaults.dictionaryForKey(LatestUpdateInformation).value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}
} // namespace

QString latestVersion(const UserDefaults &defaults) {
    return answerText(defaults, "latestVersion");
}

QUrl downloadURL(const UserDefaults &defaults) {
    const QString text = answerText(defaults, "downloadURL");
    return text.isEmpty() ? QUrl() : QUrl(text);
}

bool isUpdateAvailable(const UserDefaults &defaults) {
    const QString latest = latestVersion(defaults);
    return !latest.isEmpty() && compareVersionsNumerically(latest, SystemInfo::shortVersionString()) > 0;
}

QUrl productPage() {
    return QUrl(QStringLiteral("https://trellan.norvane.net/"));
}

int compareVersionsNumerically(const QString &a, const QString &b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
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

struct ZNTUpdateStatusView::Observation {
    ObserverToken token;
};

ZNTUpdateStatusView::ZNTUpdateStatusView(UserDefaults &defaults, QWidget *parent)
    : QWidget(parent), m_defaults(defaults), m_observation(std::make_unique<Observation>()) {
    buildUi();
    // Every ended check may have changed what is known.
    m_observation->token = NotificationCenter::defaultCenter().observe(
        UpdateStatus::StatusChangedNotification, nullptr, [this](const Notification &) { updateStatusChanged(); });
    updateStatusChanged();
}

ZNTUpdateStatusView::~ZNTUpdateStatusView() = default;

void ZNTUpdateStatusView::buildUi() {
    m_version = new QLabel(QStringLiteral("v%1").arg(SystemInfo::shortVersionString()), this);
    m_version->setForegroundRole(QPalette::PlaceholderText);
    m_updateInfo = new QLabel(this);
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
    // A no-break space keeps "Version" with its number.
    m_updateInfo->setText(
        QStringLiteral("Update available: Version\u00a0%1").arg(UpdateStatus::latestVersion(m_defaults)));
    m_updateInfo->setVisible(available);
    m_download->setVisible(available);
}

void ZNTUpdateStatusView::openDownloadURL() {
    const QUrl url = UpdateStatus::downloadURL(m_defaults);
    QDesktopServices::openUrl(url.isValid() ? url : UpdateStatus::productPage());
}
