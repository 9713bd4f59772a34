#include "TeardownObserver.h"

#include <mutex>

namespace {
std::mutex observerMutex;
std::function<void(const char *)> teardownObserver;
} // namespace

void setTeardownObserverForTesting(std::function<void(const char *what)> observer) {
    std::lock_guard lock(observerMutex);
    teardownObserver = std::move(observer);
}

void noteTeardown(const char *what) {
    std::function<void(const char *)> observer;
    {
        std::lock_guard lock(observerMutex);
        observer = teardownObserver;
    }
    if (observer)
        observer(what);
}
