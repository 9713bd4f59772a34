#pragma once

#include <cstdint>
#include <functional>

// Finishes what must not be finished on the GUI thread: a database handle's
// goodbye over the network, a tunnel's thread join, a queue's thread join. One
// background thread runs the jobs in the order given; jobs still waiting when
// the program exits run before it ends.
//
// Work that is still going on in the background when the program ends (a
// connect, a running statement, an open handle and its tunnel) would otherwise
// go on while the libraries it uses are torn down at exit. Whoever starts such
// work registers a closer, and the program calls finish() before main returns.
namespace Reaper {
// any thread
void dispose(std::function<void()> job);

// Stops the work it was registered for and calls `closed` once, from any
// thread, when none of that work runs any more (its rest handed to dispose).
using Closer = std::function<void(std::function<void()> closed)>;

// A closer is registered while its registration lives. Move-only.
class Registration {
public:
    Registration() = default;
    explicit Registration(std::uint64_t id) : m_id(id) {}
    Registration(Registration &&other) noexcept : m_id(other.m_id) { other.m_id = 0; }
    Registration &operator=(Registration &&other) noexcept;
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;
    ~Registration();

private:
    std::uint64_t m_id = 0;
};

// any thread
[[nodiscard]] Registration closeAtExit(Closer closer);

// At the end of the program, before main returns (any thread but the reaper's):
// calls every registered closer, waits until each has closed, then until every
// job handed to dispose by then has run. The work is over when it returns.
void finish();
} // namespace Reaper
