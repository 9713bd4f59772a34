#pragma once

#include <functional>

// Tests only: observer is told, on the thread that does it, whenever a database
// handle ("PQfinish") or an SSH tunnel ("SSHTunnel") is finished. Teardown does
// network I/O and joins threads, which the GUI thread must never wait for.
void setTeardownObserverForTesting(std::function<void(const char *what)> observer);
void noteTeardown(const char *what);
