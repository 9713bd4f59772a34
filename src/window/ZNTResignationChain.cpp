#include "ZNTResignationChain.h"

#include "platform/ProgramError.h"

ZNTResignationChain::ZNTResignationChain(ZNTObjectList pending, Window window, std::function<void(bool)> finished)
    : m_pending(std::move(pending)), m_window(std::move(window)), m_finished(std::move(finished)) {}

void ZNTResignationChain::run(ZNTObjectList pending, Window window, std::function<void(bool)> finished) {
    requireMainThread("ZNTResignationChain::run");
    std::shared_ptr<ZNTResignationChain> chain(
        new ZNTResignationChain(std::move(pending), std::move(window), std::move(finished)));
    chain->m_self = chain;
    chain->step(true);
}

void ZNTResignationChain::step(bool ok) {
    if (!ok)
        return finish(false);
    if (m_pending.isEmpty()) {
        if (m_remembered && m_window.endEditing())
            m_window.showItem(m_remembered);
        return finish(true);
    }
    const std::shared_ptr<ZNTObject> item = m_pending.takeLast();
    const std::shared_ptr<ZNTObject> current = m_window.currentItem();
    if (!current || !current->isEqual(*item)) {
        if (!m_remembered)
            m_remembered = current;
        if (!m_window.endEditing()) {
            m_window.beep();
            return finish(false);
        }
        // The page comes to the front before it asks the user anything.
        m_window.showItem(item);
    }
    // A page that answers twice moves the chain on once.
    std::weak_ptr<ZNTResignationChain> weak = weak_from_this();
    auto answered = std::make_shared<bool>(false);
    m_window.askToResign(item, [weak, answered](bool success) {
        if (*answered)
            return;
        *answered = true;
        if (auto self = weak.lock())
            self->step(success);
    });
}

void ZNTResignationChain::finish(bool success) {
    auto self = std::move(m_self); // released when this call ends
    auto finished = std::move(m_finished);
    if (finished)
        finished(success);
}
