#pragma once

#include <QString>
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

using UserInfo = std::map<QString, std::any>;

struct Notification {
    QString name;
    std::shared_ptr<void> object; // the sender, kept alive while the notification is in flight
    UserInfo userInfo;

    template <class T> std::shared_ptr<T> objectAs() const { return std::static_pointer_cast<T>(object); }
    // The value under key when it holds a T, else nothing: user info is checked,
    // never trusted.
    template <class T> std::optional<T> value(const QString &key) const {
        auto it = userInfo.find(key);
        if (it == userInfo.end())
            return std::nullopt;
        if (const T *v = std::any_cast<T>(&it->second))
            return *v;
        return std::nullopt;
    }
    bool has(const QString &key) const { return userInfo.count(key) != 0; }
};

class NotificationCenter;

// Removes its registration when stopped or destroyed; stopping twice is harmless.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken &&other) noexcept;
    ObserverToken &operator=(ObserverToken &&other) noexcept;
    ObserverToken(const ObserverToken &) = delete;
    ObserverToken &operator=(const ObserverToken &) = delete;
    ~ObserverToken();
    void stopObserving();
    bool isActive() const;

private:
    friend class NotificationCenter;
    struct Entry;
    explicit ObserverToken(std::shared_ptr<Entry> entry);
    std::shared_ptr<Entry> m_entry;
};

// Name + optional sender filter + callback. post() delivers synchronously on the
// posting thread to a snapshot of the observers, so callbacks may observe, stop
// observing or post again. Work off the main thread reaches the interface by
// posting through Main::post.
class NotificationCenter {
public:
    using Callback = std::function<void(const Notification &)>;

    static NotificationCenter &defaultCenter();

    // sender null: every sender.
    [[nodiscard]] ObserverToken observe(const QString &name, const void *sender, Callback callback);
    // Fires once, then removes itself.
    [[nodiscard]] ObserverToken observeNext(const QString &name, const void *sender, Callback callback);

    void post(const Notification &notification);
    void post(const QString &name, std::shared_ptr<void> object, UserInfo userInfo = {});

private:
    friend class ObserverToken;
    ObserverToken add(const QString &name, const void *sender, Callback callback, bool once);
    void remove(const std::shared_ptr<ObserverToken::Entry> &entry);

    std::mutex m_mutex;
    std::vector<std::shared_ptr<ObserverToken::Entry>> m_entries;
};
