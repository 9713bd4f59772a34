// Every test executable runs inside a QApplication on the offscreen platform, so
// that Main::post and widgets work as in the program.
#include <QApplication>
#include <csignal>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    // As in the program: a closed peer socket is an error to handle, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trellan");
    QApplication::setOrganizationName("Trellan");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
