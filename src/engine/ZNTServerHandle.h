#pragma once

#include "platform/ConditionLock.h"

#include <QStringList>
#include <QVariantMap>
#include <memory>

// What a connection needs of the server object that owns it (the model layer's
// server implements this).
class ZNTServerHandle {
public:
    virtual ~ZNTServerHandle() = default;
    // main thread. Hands a keyboard-interactive login request to the server's
    // authentication delegate; false when the server has none. The delegate fills
    // responses and unlocks lock with condition 1.
    virtual bool forwardKeyboardInteractiveRequest(const QVariantMap &request, std::shared_ptr<ConditionLock> lock,
                                                   std::shared_ptr<QStringList> responses) = 0;
};
