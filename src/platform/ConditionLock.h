#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A lock with an integer condition: one thread waits until another unlocks it
// with the condition it waits for (the keyboard-interactive login waits this way
// for the main thread's answers).
class ConditionLock {
public:
    explicit ConditionLock(int condition = 0) : m_condition(condition) {}
    int condition() const {
        std::lock_guard lock(m_mutex);
        return m_condition;
    }
    void unlockWithCondition(int condition) {
        {
            std::lock_guard lock(m_mutex);
            m_condition = condition;
        }
        m_changed.notify_all();
    }
    // Waits until the condition is reached or timeout passes; true when reached.
    bool waitForCondition(int condition, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_condition == condition; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_condition;
};
