// The interface kit: widgets, cells and panels that every window of the program
// uses, on top of the engine.
#pragma once

#include "engine/CertificateTrust.h"

#include <QDialog>

class QCheckBox;
class QPushButton;
class QTextBrowser;

// Asks whether to connect to a server whose certificate could not be verified,
// showing the certificates it presented. "Connect" and "Cancel"; Return answers
// neither, so that connecting without trust always takes a deliberate click.
class CertificateTrustPanel : public QDialog {
    Q_OBJECT
public:
    explicit CertificateTrustPanel(const TrustPanelRequest &request, QWidget *parent = nullptr);

    // What the user chose; refusal until Connect was clicked.
    TrustPanelAnswer answer() const;

    QPushButton *connectButton() const { return m_connect; }
    QPushButton *cancelButton() const { return m_cancel; }
    QCheckBox *alwaysTrustBox() const { return m_alwaysTrust; }
    QTextBrowser *detailsView() const { return m_details; }

    // HTML listing each certificate of chain (DER, the server's own first).
    static QString chainDescription(const QList<QByteArray> &chain);

private:
    void buildUi(const TrustPanelRequest &request);
    QLayout *buildButtons();

    QPushButton *m_connect = nullptr;
    QPushButton *m_cancel = nullptr;
    QCheckBox *m_alwaysTrust = nullptr;
    QTextBrowser *m_details = nullptr;
};

// The panel as the engine asks for it: a sheet on the active window (or an
// application-modal panel when there is none), opened with open() and answered
// through its finished signal; no event loop of its own, so nothing queued for
// the main thread runs inside a half-finished handler while it is up.
class CertificateTrustPanelPrompter : public TrustPrompter {
public:
    // main thread
    std::function<void()> beginTrustPanel(const TrustPanelRequest &request,
                                          std::function<void(TrustPanelAnswer)> answered) override;
};

// At start-up: makes the engine ask through CertificateTrustPanel.
void installCertificateTrustPanel();
