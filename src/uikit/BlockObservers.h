#pragma once

#include "platform/NotificationCenter.h"

#include <memory>

// Block observers on the default notification center, filtered on one sender.
//
//     m_doneToken = observeNext(query, QStringLiteral("ZNTQueryDoneNotification"),
//                               [this](const Notification &n) { ... });
//
// The block runs on the posting thread (interface code observes what is posted
// on the main thread). Keep the token while you want the notifications:
// dropping or stopping it ends the observation, and stopping twice is harmless.
// A null sender observes nothing (an empty token): it never means "any sender".

// Every notification of that name from object, until the token is stopped.
[[nodiscard]] ObserverToken observe(const void *object, const QString &name, NotificationCenter::Callback block);
// The next one only. The observer is removed before the block runs, so a block
// that posts the same notification again is not called again, and the block
// (with whatever it captured) is released as soon as it has run.
[[nodiscard]] ObserverToken observeNext(const void *object, const QString &name, NotificationCenter::Callback block);

template <class T>
[[nodiscard]] ObserverToken observe(const std::shared_ptr<T> &object, const QString &name,
                                    NotificationCenter::Callback block) {
    return observe(static_cast<const void *>(object.get()), name, std::move(block));
}

template <class T>
[[nodiscard]] ObserverToken observeNext(const std::shared_ptr<T> &object, const QString &name,
                                        NotificationCenter::Callback block) {
    return observeNext(static_cast<const void *>(object.get()), name, std::move(block));
}

inline void stopObserving(ObserverToken &token) {
    token.stopObserving();
}

// A notification object for a sender that shared_ptr does not own (a widget):
// it points at the sender and keeps nothing alive.
inline std::shared_ptr<void> unownedObject(const void *sender) {
    return std::shared_ptr<void>(std::shared_ptr<void>(), const_cast<void *>(sender));
}
