#include "Reaper.h"

#include "SerialQueue.h"

namespace {
SerialQueue &reaperQueue() {
    // Made on first use, so it is destroyed (and finishes its jobs) before the
    // libraries set up earlier are torn down at exit.
    static SerialQueue queue("norvane.Trellan.reaper");
    return queue;
}
} // namespace

namespace Reaper {

void dispose(std::function<void()> job) {
    reaperQueue().async(std::move(job));
}

} // namespace Reaper
