#include "Termination.h"

#include "platform/ProgramError.h"

Termination::Termination(std::function<void(bool)> reply) : m_reply(std::move(reply)) {}

Termination::Reply Termination::applicationShouldTerminate(const std::vector<Window> &windows) {
    requireMainThread("Termination::applicationShouldTerminate");
    // A new request: answers still travelling from an earlier one carry its
    // number and are ignored when they arrive.
    const std::uint64_t request = ++m_request;
    m_asked.clear();
    for (const Window &window : windows)
        if (window.hasPendingChanges && window.hasPendingChanges())
            m_asked.push_back(window);
    m_answered.assign(m_asked.size(), false);
    m_unsavedWindows = m_asked.size();
    m_refused = false;

    m_asking = true;
    for (std::size_t i = 0; i < m_asked.size() && !m_refused; ++i)
        m_asked[i].resign([this, request, i](bool success) { didResign(request, i, success); });
    m_asking = false;

    if (m_refused)
        return Reply::TerminateCancel;
    return m_unsavedWindows == 0 ? Reply::TerminateNow : Reply::TerminateLater;
}

void Termination::didResign(std::uint64_t request, std::size_t index, bool success) {
    if (request != m_request || m_refused || index >= m_answered.size() || m_answered[index])
        return;
    m_answered[index] = true;
    if (!success) {
        m_refused = true;
        m_unsavedWindows = 0;
        if (!m_asking)
            m_reply(false);
        return;
    }
    Window window = m_asked[index];
    if (window.close)
        window.close();
    if (m_unsavedWindows > 0 && --m_unsavedWindows == 0 && !m_asking)
        m_reply(true);
}
