#pragma once

#include <functional>

// The GUI thread, reached from anywhere. Needs a QCoreApplication.
namespace Main {
// Queued call on the GUI thread; calls from one thread run in the order posted.
void post(std::function<void()> fn);
// Runs fn on the GUI thread after ms milliseconds; the timer is armed there, not
// on the caller's thread (worker threads have no event loop).
void after(int ms, std::function<void()> fn);
// Blocking call on the GUI thread, inline when already there. The caller waits
// for whatever the GUI thread does meanwhile: panels and questions answer
// through callbacks instead, and a connection queue never waits here.
void sync(std::function<void()> fn);
bool isMainThread();
} // namespace Main
