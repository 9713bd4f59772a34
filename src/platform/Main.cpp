#include "Main.h"

#include "Log.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace {
QObject *mainObject() {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        Log("No application object: a call for the main thread was dropped.");
    return app;
}
} // namespace

namespace Main {

void post(std::function<void()> fn) {
    if (QObject *target = mainObject())
        QMetaObject::invokeMethod(target, std::move(fn), Qt::QueuedConnection);
}

void after(int ms, std::function<void()> fn) {
    post([ms, fn = std::move(fn)]() mutable { QTimer::singleShot(ms, QCoreApplication::instance(), std::move(fn)); });
}

void sync(std::function<void()> fn) {
    if (isMainThread()) {
        fn();
        return;
    }
    if (QObject *target = mainObject())
        QMetaObject::invokeMethod(target, std::move(fn), Qt::BlockingQueuedConnection);
}

bool isMainThread() {
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace Main
