// Every test executable runs inside a QApplication on the offscreen platform, so
// that Main::post and widgets work as in the program.
#include "platform/Reaper.h"
#include "uikit/ReadableScrollBarStyle.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
// The suite's programs run side by side under one HOME: each keeps its
// settings to itself, so that a setting one of them changes never steers
// another. Child processes a test starts inherit their parent's folder. It
// goes when the program ends, with the folders above it made for it.
class OwnSettingsFolder {
public:
    OwnSettingsFolder() {
        if (qEnvironmentVariableIsSet("TRELLAN_TEST_OWN_SETTINGS"))
            return;
        QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (base.isEmpty())
            base = QDir::homePath() + QStringLiteral("/.config");
        const QString own = base + QStringLiteral("/test-%1").arg(getpid());
        for (QString folder = own; !QFileInfo::exists(folder); folder = QFileInfo(folder).path())
            m_made.append(folder);
        QDir().mkpath(own);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(own));
        qputenv("TRELLAN_TEST_OWN_SETTINGS", "1");
    }
    ~OwnSettingsFolder() {
        if (m_made.isEmpty())
            return;
        QDir(m_made.front()).removeRecursively();
        // The folders above are shared with the programs running beside this
        // one: each goes only once it is empty.
        for (qsizetype i = 1; i < m_made.size(); ++i)
            QDir().rmdir(m_made[i]);
    }

private:
    QStringList m_made; // our own folder first, then those made above it
};
} // namespace

int main(int argc, char **argv) {
    // As in the program: a closed peer socket is an error to handle, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) runs none, and needs no
    // application: without a session Qt would make a runtime folder for it.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // Static, made before the user defaults are: at exit it goes after they
    // have written their last changes into it.
    static const OwnSettingsFolder settings;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trellan");
    QApplication::setOrganizationName("Trellan");
    // What the program draws with, so that pictures of it match.
    useReadableScrollBars();
    const int status = RUN_ALL_TESTS();
    // As the program does: no connection works on while the libraries are torn down.
    Reaper::finish();
    return status;
}
