#include "NotificationCenter.h"

#include <atomic>

struct ObserverToken::Entry {
    NotificationCenter *center = nullptr;
    QString name;
    const void *sender = nullptr;
    NotificationCenter::Callback callback;
    bool once = false;
    std::atomic<bool> active{true};
};

ObserverToken::ObserverToken(std::shared_ptr<Entry> entry) : m_entry(std::move(entry)) {}

ObserverToken::ObserverToken(ObserverToken &&other) noexcept : m_entry(std::move(other.m_entry)) {}

ObserverToken &ObserverToken::operator=(ObserverToken &&other) noexcept {
    if (this != &other) {
        stopObserving();
        m_entry = std::move(other.m_entry);
    }
    return *this;
}

ObserverToken::~ObserverToken() { stopObserving(); }

void ObserverToken::stopObserving() {
    if (!m_entry)
        return;
    auto entry = std::move(m_entry);
    if (entry->active.exchange(false))
        entry->center->remove(entry);
}

bool ObserverToken::isActive() const { return m_entry && m_entry->active; }

NotificationCenter &NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::observe(const QString &name, const void *sender, Callback callback) {
    return add(name, sender, std::move(callback), false);
}

ObserverToken NotificationCenter::observeNext(const QString &name, const void *sender, Callback callback) {
    return add(name, sender, std::move(callback), true);
}

ObserverToken NotificationCenter::add(const QString &name, const void *sender, Callback callback, bool once) {
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->center = this;
    entry->name = name;
    entry->sender = sender;
    entry->callback = std::move(callback);
    entry->once = once;
    std::lock_guard lock(m_mutex);
    m_entries.push_back(entry);
    return ObserverToken(entry);
}

void NotificationCenter::remove(const std::shared_ptr<ObserverToken::Entry> &entry) {
    std::lock_guard lock(m_mutex);
    std::erase(m_entries, entry);
}

void NotificationCenter::post(const QString &name, std::shared_ptr<void> object, UserInfo userInfo) {
    post(Notification{name, std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const Notification &notification) {
    std::vector<std::shared_ptr<ObserverToken::Entry>> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &entry : m_entries)
            if (entry->name == notification.name && (!entry->sender || entry->sender == notification.object.get()))
                matching.push_back(entry);
    }
    for (const auto &entry : matching) {
        // An observer removed by an earlier callback of this same post is not called.
        if (entry->once) {
            if (!entry->active.exchange(false))
                continue;
            remove(entry);
        } else if (!entry->active) {
            continue;
        }
        entry->callback(notification);
    }
}
