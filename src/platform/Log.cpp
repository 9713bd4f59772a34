#include "Log.h"

#include <QStringList>
#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace {
std::mutex logMutex;
QStringList *captured = nullptr;
int captureDepth = 0;
} // namespace

void Log(const QString &line) {
    const QByteArray utf8 = line.toUtf8();
    std::lock_guard lock(logMutex);
#ifdef TRELLAN_FUZZING
    // Fuzzers feed millions of malformed inputs, and what they report is their
    // own; only a capture sees the lines.
    if (captured)
        captured->append(line);
    return;
#endif
    std::fprintf(stderr, "Trellan: %s\n", utf8.constData());
    std::fflush(stderr);
    syslog(LOG_USER | LOG_NOTICE, "%s", utf8.constData());
    if (captured)
        captured->append(line);
}

LogCapture::LogCapture() {
    std::lock_guard lock(logMutex);
    if (captureDepth++ == 0)
        captured = new QStringList;
}

LogCapture::~LogCapture() {
    std::lock_guard lock(logMutex);
    if (--captureDepth == 0) {
        delete captured;
        captured = nullptr;
    }
}

QStringList LogCapture::lines() const {
    std::lock_guard lock(logMutex);
    return captured ? *captured : QStringList();
}

bool LogCapture::contains(const QString &fragment) const {
    for (const QString &l : lines())
        if (l.contains(fragment))
            return true;
    return false;
}
