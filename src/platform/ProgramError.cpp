#include "ProgramError.h"

#include "Main.h"

ProgramError::ProgramError(std::string name, const std::string &reason)
    : std::logic_error(name + ": " + reason), m_name(std::move(name)) {}

void requireMainThread(const char *where) {
    if (!Main::isMainThread())
        throw ProgramError("WrongThread", std::string(where) + " must run on the main thread");
}
