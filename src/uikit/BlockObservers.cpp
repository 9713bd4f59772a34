#include "BlockObservers.h"

ObserverToken observe(const void *object, const QString &name, NotificationCenter::Callback block) {
    if (!object)
        return {};
    return NotificationCenter::defaultCenter().observe(name, object, std::move(block));
}

ObserverToken observeNext(const void *object, const QString &name, NotificationCenter::Callback block) {
    if (!object)
        return {};
    // The caller's token keeps the registration's callback until it goes; the
    // block itself must not live that long, or an object that holds its own
    // token and is captured by the block would never be freed.
    auto held = std::make_shared<NotificationCenter::Callback>(std::move(block));
    return NotificationCenter::defaultCenter().observeNext(name, object, [held](const Notification &n) {
        NotificationCenter::Callback run = std::move(*held);
        *held = nullptr;
        if (run)
            run(n);
    });
}
