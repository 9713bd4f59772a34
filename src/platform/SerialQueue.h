#pragma once

#include <functional>
#include <memory>
#include <string>

// One worker thread running jobs one at a time in FIFO order. Destroying the
// queue lets the jobs already queued finish, then ends the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    const std::string &label() const;
    void async(std::function<void()> job);
    // Runs job and waits for it: inline when already on this queue. Never from the
    // main thread ("WrongThread"): it would freeze the interface behind a query.
    void sync(std::function<void()> job);
    bool isCurrent() const;
    // The queue whose job is running on this thread, or null.
    static SerialQueue *current();

private:
public:
    struct State; // shared with the worker thread

private:
    std::shared_ptr<State> m_state;
};
