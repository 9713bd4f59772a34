#include "SerialQueue.h"

#include "Main.h"
#include "ProgramError.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

struct SerialQueue::State {
    std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    SerialQueue *owner = nullptr;
    std::thread thread;
};

namespace {
thread_local SerialQueue *currentQueue = nullptr;

// The thread holds the state, not the queue object: a job may drop the last
// reference to its own queue, which then cannot join the thread it runs on.
void runLoop(std::shared_ptr<SerialQueue::State> state) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
            if (state->jobs.empty())
                return;
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
            currentQueue = state->owner;
        }
        job();
        job = nullptr;
        currentQueue = nullptr;
    }
}
} // namespace

SerialQueue::SerialQueue(std::string label) : m_state(std::make_shared<State>()) {
    m_state->label = std::move(label);
    m_state->owner = this;
    m_state->thread = std::thread(runLoop, m_state);
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        m_state->owner = nullptr;
    }
    m_state->wake.notify_all();
    if (std::this_thread::get_id() == m_state->thread.get_id()) {
        currentQueue = nullptr;
        m_state->thread.detach();
    } else {
        m_state->thread.join();
    }
}

const std::string &SerialQueue::label() const { return m_state->label; }

void SerialQueue::async(std::function<void()> job) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->jobs.push_back(std::move(job));
    }
    m_state->wake.notify_one();
}

void SerialQueue::sync(std::function<void()> job) {
    if (isCurrent()) {
        job();
        return;
    }
    if (Main::isMainThread())
        throw ProgramError("WrongThread", "SerialQueue::sync on the main thread (" + label() + ")");
    std::promise<void> finished;
    auto future = finished.get_future();
    async([&] {
        try {
            job();
            finished.set_value();
        } catch (...) {
            finished.set_exception(std::current_exception());
        }
    });
    future.get();
}

bool SerialQueue::isCurrent() const { return currentQueue == this; }

SerialQueue *SerialQueue::current() { return currentQueue; }
