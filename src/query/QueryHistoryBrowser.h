#pragma once

#include <QString>
#include <functional>
#include <memory>

class ZNTFavorite;
class ZNTQueryHistoryElement;

// Stepping through a favorite's query history in an editor: previous, next
// and a choice from the list each put an entry's text into the editor, and
// next past the newest entry puts back the text the user had before the first
// step. Any other change of the text ends the browsing. The editor's text is
// changed through a function that may refuse (a read-only editor): a refused
// step beeps and changes nothing of the browsing. main thread
class QueryHistoryBrowser {
public:
    // Replaces the editor's text; false when it refused.
    using Replace = std::function<bool(const QString &)>;

    void setFavorite(std::shared_ptr<ZNTFavorite> favorite) { m_favorite = std::move(favorite); }
    const std::shared_ptr<ZNTFavorite> &favorite() const { return m_favorite; }

    // Each answers false when the editor refused the text (the caller beeps).
    bool previous(const QString &editorText, const Replace &replace);
    bool next(const QString &editorText, const Replace &replace);
    // The entry chosen in the history list.
    void select(const std::shared_ptr<ZNTQueryHistoryElement> &element, const QString &editorText,
                const Replace &replace);
    // The editor's text changed (typed, loaded, or replaced by a step before
    // the step records itself).
    void textDidChange();

    bool isBrowsing() const { return m_current != nullptr; }
    const std::shared_ptr<ZNTQueryHistoryElement> &currentElement() const { return m_current; }
    // The text from before browsing; null when not browsing.
    const QString &buffer() const { return m_buffer; }

    // Which of previous, list and next can act now.
    struct Buttons {
        bool previous = false;
        bool list = false;
        bool next = false;
        bool operator==(const Buttons &) const = default;
    };
    Buttons buttons(const QString &editorText) const;

private:
    std::shared_ptr<ZNTQueryHistoryElement> newest() const;
    void browse(const std::shared_ptr<ZNTQueryHistoryElement> &element, const QString &buffer);
    void stopBrowsing();

    std::shared_ptr<ZNTFavorite> m_favorite;
    std::shared_ptr<ZNTQueryHistoryElement> m_current;
    QString m_buffer;
};
