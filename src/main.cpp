#include "uikit/CertificateTrustPanel.h"

#include <QApplication>
#include <csignal>

int main(int argc, char *argv[]) {
    // A peer that closes its socket must give us an error to report, not end the
    // program: libpq and the tunnel write to sockets the far side may have closed.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trellan");
    QApplication::setOrganizationName("Trellan");
    installCertificateTrustPanel();
    return 0;
}
