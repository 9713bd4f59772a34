#include "ZNTTerminalQuery.h"

#include "engine/ZNTQuery.h"

qsizetype ZNTTerminalQuery::resultCount() const {
    return query ? query->results().size() : 0;
}

std::shared_ptr<ZNTTerminalResult> ZNTTerminalQuery::resultAtIndex(qsizetype index) {
    const QList<std::shared_ptr<ZNTResult>> results = query ? query->results() : QList<std::shared_ptr<ZNTResult>>();
    if (index < 0 || index >= results.size())
        return nullptr;
    auto &cached = m_results[index];
    if (!cached || cached->result() != results[index])
        cached = std::make_shared<ZNTTerminalResult>(results[index]);
    return cached;
}

std::shared_ptr<ZNTTerminalResult> ZNTTerminalQuery::cachedResultAtIndex(qsizetype index) const {
    const auto it = m_results.find(index);
    return it == m_results.end() ? nullptr : it->second;
}
