// Every test executable runs inside a QApplication on the offscreen platform, so
// that Main::post and widgets work as in the program.
#include "platform/Reaper.h"
#include "uikit/ReadableScrollBarStyle.h"

#include <QApplication>
#include <QDir>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
// The suite's programs run side by side under one HOME: each keeps its
// settings to itself, so that a setting one of them changes never steers
// another. Child processes a test starts inherit their parent's folder.
void useOwnSettingsFolder() {
    if (qEnvironmentVariableIsSet("TRELLAN_TEST_OWN_SETTINGS"))
        return;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    const QString own = base + QStringLiteral("/test-%1").arg(getpid());
    QDir().mkpath(own);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(own));
    qputenv("TRELLAN_TEST_OWN_SETTINGS", "1");
}
} // namespace

int main(int argc, char **argv) {
    // As in the program: a closed peer socket is an error to handle, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    useOwnSettingsFolder();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trellan");
    QApplication::setOrganizationName("Trellan");
    // What the program draws with, so that pictures of it match.
    useReadableScrollBars();
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // As the program does: no connection works on while the libraries are torn down.
    Reaper::finish();
    return status;
}
