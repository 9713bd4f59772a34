#pragma once

#include <functional>

// Finishes what must not be finished on the GUI thread: a database handle's
// goodbye over the network, a tunnel's thread join, a queue's thread join. One
// background thread runs the jobs in the order given; jobs still waiting when
// the program exits run before it ends.
namespace Reaper {
// any thread
void dispose(std::function<void()> job);
} // namespace Reaper
