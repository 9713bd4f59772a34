#pragma once

#include <QString>
#include <functional>

// One free-form line to stderr and syslog; there are no levels.
void Log(const QString &line);

// Tests read what was logged while one of these is alive (lines still go out).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    QStringList lines() const;
    bool contains(const QString &fragment) const;
};
