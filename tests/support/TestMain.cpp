// Every test executable runs inside a QApplication on the offscreen platform, so
// that Main::post and widgets work as in the program.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trellan");
    QApplication::setOrganizationName("Trellan");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
