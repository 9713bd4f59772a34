#include "QueryHistoryBrowser.h"

#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTQueryHistoryElement.h"

std::shared_ptr<ZNTQueryHistoryElement> QueryHistoryBrowser::newest() const {
    return m_favorite ? m_favorite->lastQueryHistoryElement() : nullptr;
}

void QueryHistoryBrowser::browse(const std::shared_ptr<ZNTQueryHistoryElement> &element, const QString &buffer) {
    m_current = element;
    m_buffer = buffer;
}

void QueryHistoryBrowser::stopBrowsing() {
    m_current.reset();
    m_buffer = QString();
}

void QueryHistoryBrowser::textDidChange() {
    stopBrowsing();
}

bool QueryHistoryBrowser::previous(const QString &editorText, const Replace &replace) {
    QString buffer = m_buffer;
    std::shared_ptr<ZNTQueryHistoryElement> candidate;
    if (isBrowsing()) {
        candidate = m_current->previousHistoryElement();
    } else {
        buffer = editorText;
        candidate = newest();
        // Right after a run the newest entry is what the editor shows.
        if (candidate && candidate->text() == editorText)
            candidate = candidate->previousHistoryElement();
    }
    if (!candidate || !replace(candidate->text()))
        return false;
    browse(candidate, buffer);
    return true;
}

bool QueryHistoryBrowser::next(const QString &, const Replace &replace) {
    if (!isBrowsing())
        return false;
    const QString buffer = m_buffer;
    auto candidate = m_current->nextHistoryElement();
    // The newest entry holding the text from before browsing: that text is
    // what comes next, not the same text again.
    if (candidate && candidate->text() == buffer) {
        const auto last = newest();
        if (last && last->objectID() == candidate->objectID())
            candidate.reset();
    }
    if (candidate) {
        if (!replace(candidate->text()))
            return false;
        browse(candidate, buffer);
        return true;
    }
    if (!replace(buffer))
        return false;
    stopBrowsing();
    return true;
}

void QueryHistoryBrowser::select(const std::shared_ptr<ZNTQueryHistoryElement> &element, const QString &editorText,
                                 const Replace &replace) {
    if (!element)
        return;
    const QString buffer = isBrowsing() ? m_buffer : editorText;
    replace(element->text());
    // Browsing from here on even when the editor refused: the list shows it.
    browse(element, buffer);
}

QueryHistoryBrowser::Buttons QueryHistoryBrowser::buttons(const QString &editorText) const {
    Buttons buttons;
    const auto last = newest();
    buttons.list = last != nullptr;
    buttons.next = isBrowsing();
    if (isBrowsing())
        buttons.previous = m_current->previousHistoryElement() != nullptr;
    else if (last)
        buttons.previous = last->text() != editorText || last->previousHistoryElement() != nullptr;
    return buttons;
}
