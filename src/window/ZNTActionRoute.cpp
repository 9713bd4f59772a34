#include "ZNTActionRoute.h"

#include "platform/ProgramError.h"
#include "uikit/ZNTControlledView.h"

#include <QWidget>

namespace {
bool offer(QObject *object, const ZNTAction &action) {
    auto *responder = dynamic_cast<ZNTResponder *>(object);
    return responder && responder->performAction(action);
}
} // namespace

bool sendAction(QWidget *from, const QString &name, std::any argument) {
    requireMainThread("sendAction");
    const ZNTAction action{name, std::move(argument)};
    for (QWidget *widget = from; widget; widget = widget->parentWidget()) {
        if (offer(widget, action))
            return true;
        if (offer(ZNTControlledView::controllerOf(widget), action))
            return true;
        if (widget->isWindow())
            break;
    }
    return false;
}
