#pragma once

#include "model/ZNTObject.h"

#include <functional>
#include <memory>

// Settles the pending edits of a window's pages one after another before the
// window closes or the program quits: each page with edits is brought to the
// front (without touching the histories) and asked to resign; the first refusal
// ends the chain with that page shown, and after the last agreement the page
// shown at the start comes back. Asynchronous: a page may answer after a sheet.
// Widget-free; the window supplies what the chain does to it. main thread
class ZNTResignationChain : public std::enable_shared_from_this<ZNTResignationChain> {
public:
    struct Window {
        std::function<std::shared_ptr<ZNTObject>()> currentItem;
        // Ends the editing in the window; false when an editor refuses.
        std::function<bool()> endEditing;
        // Shows item without a history entry.
        std::function<void(const std::shared_ptr<ZNTObject> &)> showItem;
        // Asks the page of item to resign; it calls answer once with its answer.
        std::function<void(const std::shared_ptr<ZNTObject> &, std::function<void(bool)> answer)> askToResign;
        std::function<void()> beep;
    };

    // Runs the chain over pending (asked last first) and calls finished once
    // with whether every page resigned. An empty list finishes at once with true.
    static void run(ZNTObjectList pending, Window window, std::function<void(bool)> finished);

private:
    ZNTResignationChain(ZNTObjectList pending, Window window, std::function<void(bool)> finished);
    void step(bool ok);
    void finish(bool success);

    ZNTObjectList m_pending;
    Window m_window;
    std::function<void(bool)> m_finished;
    std::shared_ptr<ZNTObject> m_remembered;
    // The chain keeps itself alive while a page has yet to answer.
    std::shared_ptr<ZNTResignationChain> m_self;
};
