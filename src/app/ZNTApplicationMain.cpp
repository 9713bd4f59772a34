#include "ZNTApplicationDelegate.h"

#include "CommandLine.h"
#include "DefaultSettings.h"
#include "SingleInstance.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "platform/Log.h"
#include "platform/Reaper.h"
#include "platform/SystemInfo.h"
#include "uikit/ReadableScrollBarStyle.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

// Measuring start-up (bench/startup): with TRELLAN_STARTUP_PROBE set, the first
// painted favorites window prints "painted" with the milliseconds since the
// process began, and the program ends.
class StartupProbe : public QObject {
public:
    explicit StartupProbe(QWidget *window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, [] {
                std::printf("painted\n");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_done = false;
};

} // namespace

int ZNTApplicationMain(int argc, char *argv[]) {
    // A peer that closes its socket must give us an error to report, not end the
    // program: libpq and the tunnel write to sockets the far side may have closed.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Trellan"));
    QApplication::setOrganizationName(QStringLiteral("Trellan"));
    QApplication::setApplicationVersion(SystemInfo::shortVersionString());
    QGuiApplication::setDesktopFileName(QStringLiteral("trellan"));
    useReadableScrollBars();
    RegisterDefaultSettings();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A desktop client for PostgreSQL servers."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("url-or-file"),
                                 QStringLiteral("Connection URLs (postgresql://, postgresql+ssh://) to connect to and "
                                                "favorite files (.tqbfav) to import."),
                                 QStringLiteral("[url-or-file...]"));
    parser.process(app);
    const QStringList arguments = CommandLine::normalizedArguments(parser.positionalArguments(), QDir::currentPath());

    SingleInstance instance;
    switch (instance.start(arguments)) {
    case SingleInstance::Role::Forwarded:
        return 0;
    case SingleInstance::Role::Failed:
        Log(QStringLiteral("Trellan runs without taking later starts' requests: %1").arg(instance.error()));
        break;
    case SingleInstance::Role::Primary:
        break;
    }

    QApplication::setQuitOnLastWindowClosed(false);
    ZNTApplicationDelegate delegate;
    QObject::connect(&delegate, &ZNTApplicationDelegate::readyToQuit, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::argumentsReceived, &delegate, &ZNTApplicationDelegate::openArguments);
    delegate.applicationWillFinishLaunching();
    if (qEnvironmentVariableIsSet("TRELLAN_STARTUP_PROBE"))
        new StartupProbe(delegate.favoritesWindowController()->window());
    delegate.applicationDidFinishLaunching(arguments);
    const int status = app.exec();
    // A connect or a statement still under way, and the handles and tunnels still
    // open, end now: not under the libraries' own teardown at exit.
    Reaper::finish();
    return status;
}
