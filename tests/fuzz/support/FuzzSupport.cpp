#include "FuzzSupport.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

void initialize() {
    static int argc = 1;
    static char name[] = "trellan-fuzz";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    new QCoreApplication(argc, argv); // lives as long as the process
}

void fail(const char *file, int line, const char *condition) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

} // namespace Fuzz
