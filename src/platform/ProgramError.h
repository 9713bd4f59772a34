// The platform layer: what the rest of the program needs of the operating system
// and its desktop (queues, the GUI thread, notifications, settings, secrets,
// errors, logging), written on QtCore and the Linux libraries below it.
#pragma once

#include <stdexcept>
#include <string>

// Misuse of our own code: thrown with one of the program's exception names
// ("WrongThread", "IncorrectUsage", ...) and never caught.
class ProgramError : public std::logic_error {
public:
    ProgramError(std::string name, const std::string &reason);
    const std::string &name() const noexcept { return m_name; }

private:
    std::string m_name;
};

// Throws "WrongThread" unless called on the GUI thread.
void requireMainThread(const char *where);
