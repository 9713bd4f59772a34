#include "CertificateTrustPanel.h"
#include "SheetFocus.h"

#include "engine/CertificateDetails.h"
#include "platform/ProgramError.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <optional>

namespace {

QString row(const QString &name, const QString &value) {
    return QStringLiteral("<tr><td style='padding-right:12px'><b>%1</b></td><td>%2</td></tr>")
        .arg(name.toHtmlEscaped(), value.toHtmlEscaped());
}

QString certificateTable(const QByteArray &der) {
    const std::optional<CertificateDetails> details = CertificateDetails::fromDER(der);
    if (!details)
        return QStringLiteral("<p>This certificate cannot be read.</p>");
    const QString dateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'");
    QString rows = row(QStringLiteral("Subject"), details->subject) + row(QStringLiteral("Issuer"), details->issuer) +
                   row(QStringLiteral("Valid from"), details->notBefore.toString(dateFormat)) +
                   row(QStringLiteral("Valid until"), details->notAfter.toString(dateFormat));
    if (!details->alternativeNames.isEmpty())
        rows += row(QStringLiteral("Names"), details->alternativeNames.join(QStringLiteral(", ")));
    rows += row(QStringLiteral("SHA-256"), CertificateDetails::fingerprintText(details->sha256));
    return QStringLiteral("<table>%1</table>").arg(rows);
}

} // namespace

CertificateTrustPanel::CertificateTrustPanel(const TrustPanelRequest &request, QWidget *parent) : QDialog(parent) {
    buildUi(request);
    connect(m_connect, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CertificateTrustPanel::buildUi(const TrustPanelRequest &request) {
    setWindowTitle(QStringLiteral("Server Certificate"));
    auto *icon = new QLabel;
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);
    auto *message = new QLabel(QStringLiteral("<b>%1</b>").arg(request.message.toHtmlEscaped()));
    message->setWordWrap(true);
    auto *informative = new QLabel(request.informativeText);
    informative->setTextFormat(Qt::PlainText); // names the host and what the certificate says
    informative->setWordWrap(true);
    auto *texts = new QVBoxLayout;
    texts->addWidget(message);
    texts->addWidget(informative);
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);

    m_details = new QTextBrowser;
    m_details->setHtml(chainDescription(request.chain));
    m_details->setMinimumSize(520, 200);
    m_alwaysTrust =
        new QCheckBox(QStringLiteral("Always trust this certificate when connecting to %1").arg(request.host));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_details, 1);
    layout->addWidget(m_alwaysTrust);
    layout->addLayout(buildButtons());
    // The panel opens on Cancel, the answer that keeps the user safe.
    m_cancel->setFocus();
}

QLayout *CertificateTrustPanel::buildButtons() {
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_connect = new QPushButton(QStringLiteral("Connect"));
    // No default button: buttons in a dialog would otherwise take Return.
    for (QPushButton *button : {m_cancel, m_connect}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_connect);
    return buttons;
}

TrustPanelAnswer CertificateTrustPanel::answer() const {
    const bool connect = result() == QDialog::Accepted;
    return {connect, connect && m_alwaysTrust->isChecked()};
}

QString CertificateTrustPanel::chainDescription(const QList<QByteArray> &chain) {
    QString html;
    for (qsizetype i = 0; i < chain.size(); ++i) {
        const QString title = i == 0 ? QStringLiteral("Certificate of the server")
                                     : QStringLiteral("Issuer certificate %1 sent by the server").arg(i);
        html += QStringLiteral("<h4>%1</h4>").arg(title.toHtmlEscaped()) + certificateTable(chain[i]);
    }
    return html;
}

std::function<void()> CertificateTrustPanelPrompter::beginTrustPanel(const TrustPanelRequest &request,
                                                                     std::function<void(TrustPanelAnswer)> answered) {
    requireMainThread("CertificateTrustPanelPrompter::beginTrustPanel");
    auto *panel = new CertificateTrustPanel(request, QApplication::activeWindow());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    // Exactly one answer: the user's, or a refusal when the panel goes away
    // unanswered (its window closed, the application quits).
    auto settle = [answered = std::move(answered), done = std::make_shared<bool>(false)](TrustPanelAnswer answer) {
        if (*done)
            return;
        *done = true;
        answered(answer);
    };
    QObject::connect(panel, &QDialog::finished, panel, [panel, settle] { settle(panel->answer()); });
    QObject::connect(panel, &QObject::destroyed, [settle] { settle({}); });
    uv_returnFocusAfterSheet(panel);
    panel->open();
    return [guarded = QPointer<CertificateTrustPanel>(panel)] {
        if (guarded)
            guarded->reject();
    };
}

void installCertificateTrustPanel() {
    setTrustPrompter(std::make_shared<CertificateTrustPanelPrompter>());
}
