#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Quitting while main windows hold unsaved changes: every such window is asked
// to save or discard (as a rule in a sheet), and the program ends only when all
// of them have agreed. One refusal cancels the quit; windows that agreed before
// it stay closed. Widget-free, main thread.
class Termination {
public:
    // One main window as quitting sees it.
    struct Window {
        std::function<bool()> hasPendingChanges;
        // Asks the window to give up its changes; it calls answer once, now or
        // later, with whether it did.
        std::function<void(std::function<void(bool)> answer)> resign;
        std::function<void()> close;
    };

    enum class Reply { TerminateNow, TerminateLater, TerminateCancel };

    // reply receives the final answer of a TerminateLater: true to end the
    // program, false to keep running.
    explicit Termination(std::function<void(bool)> reply);

    // Starts a quit request over the main windows of every server. Every window
    // with pending changes is counted before the first is asked, so an answer
    // given at once cannot end the program while others are still to be asked.
    Reply applicationShouldTerminate(const std::vector<Window> &windows);

    // Answers still awaited by the current request; 0 when none is running.
    std::uint64_t unsavedWindows() const { return m_unsavedWindows; }

private:
    void didResign(std::uint64_t request, std::size_t index, bool success);

    std::function<void(bool)> m_reply;
    std::vector<Window> m_asked;
    std::vector<bool> m_answered;
    std::uint64_t m_request = 0;
    std::uint64_t m_unsavedWindows = 0;
    bool m_asking = false;
    bool m_refused = false;
};
