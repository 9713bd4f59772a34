#include "AltTyping.h"
#include "platform/ProgramError.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

namespace {
class AltTypingFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        return uv_skipAltTyping(event) || QObject::eventFilter(watched, event);
    }
};

// One filter serves every field; it lives as long as the application.
QObject *altTypingFilter() {
    static QPointer<AltTypingFilter> filter;
    if (!filter)
        filter = new AltTypingFilter(QCoreApplication::instance());
    return filter;
}
} // namespace

void uv_skipAltTypingIn(QWidget *field) {
    requireMainThread("uv_skipAltTypingIn");
    if (!field)
        return;
    QObject *filter = altTypingFilter();
    field->installEventFilter(filter);
    for (QWidget *inner : field->findChildren<QWidget *>())
        if (inner->window() == field->window())
            inner->installEventFilter(filter);
}
