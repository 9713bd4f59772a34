#include "Reaper.h"

#include "ProgramError.h"
#include "SerialQueue.h"

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <vector>

namespace {
SerialQueue &reaperQueue() {
    // Made on first use, so it is destroyed (and finishes its jobs) before the
    // libraries set up earlier are torn down at exit: the first connection sets
    // up OpenSSL before it registers its closer here.
    static SerialQueue queue("norvane.Trellan.reaper");
    return queue;
}

struct Closers {
    std::mutex mutex;
    std::uint64_t lastId = 0;
    std::map<std::uint64_t, Reaper::Closer> byId;
};

Closers &closers() {
    // Never destroyed: a registration may end during the exit's own teardown.
    static Closers *all = new Closers;
    return *all;
}

struct Countdown {
    std::mutex mutex;
    std::condition_variable zero;
    std::size_t left;
};
} // namespace

namespace Reaper {

void dispose(std::function<void()> job) {
    reaperQueue().async(std::move(job));
}

Registration &Registration::operator=(Registration &&other) noexcept {
    if (this != &other) {
        Registration gone(std::move(*this));
        m_id = other.m_id;
        other.m_id = 0;
    }
    return *this;
}

Registration::~Registration() {
    if (!m_id)
        return;
    Closers &all = closers();
    Closer closer;
    {
        std::lock_guard lock(all.mutex);
        auto it = all.byId.find(m_id);
        if (it == all.byId.end())
            return;
        closer = std::move(it->second);
        all.byId.erase(it);
    }
    // What the closer holds goes outside the lock.
}

Registration closeAtExit(Closer closer) {
    reaperQueue(); // made now, after what the caller has set up (see above)
    Closers &all = closers();
    std::lock_guard lock(all.mutex);
    const std::uint64_t id = ++all.lastId;
    all.byId.emplace(id, std::move(closer));
    return Registration(id);
}

void finish() {
    if (reaperQueue().isCurrent())
        throw ProgramError("WrongThread", "Reaper::finish on the reaper's own thread");
    std::vector<Closer> registered;
    {
        Closers &all = closers();
        std::lock_guard lock(all.mutex);
        for (const auto &[id, closer] : all.byId)
            registered.push_back(closer);
    }
    auto countdown = std::make_shared<Countdown>();
    countdown->left = registered.size();
    for (const Closer &closer : registered) {
        closer([countdown] {
            std::lock_guard lock(countdown->mutex);
            if (--countdown->left == 0)
                countdown->zero.notify_all();
        });
    }
    {
        std::unique_lock lock(countdown->mutex);
        countdown->zero.wait(lock, [&] { return countdown->left == 0; });
    }
    // The closers handed their rest over before they closed: it runs before this.
    std::promise<void> drained;
    reaperQueue().async([&drained] { drained.set_value(); });
    drained.get_future().wait();
}

} // namespace Reaper
