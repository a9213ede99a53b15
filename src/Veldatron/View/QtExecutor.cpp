#include "QtExecutor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace veldatron {

QtExecutor::QtExecutor(QObject* context) : m_context(context) {}

QtExecutor& QtExecutor::main() {
    // The context is a child of the application: it ends with it, and tasks posted after that
    // are dropped instead of reaching a dead event loop.
    static QtExecutor* executor = [] {
        auto* context = new QObject(QCoreApplication::instance());
        context->setObjectName(QStringLiteral("veldatronMainExecutor"));
        return new QtExecutor(context);
    }();
    return *executor;
}

void QtExecutor::post(Task task) {
    QObject* context = m_context.data();
    if (context == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

TaskHandle QtExecutor::postAfter(Duration delay, Task task) {
    ScheduledTask scheduled(std::move(task), ScheduledTask::Kind::cancellable);
    TaskHandle handle = scheduled.handle();
    QObject* context = m_context.data();
    if (context == nullptr) {
        handle.cancel();
        return handle;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
    const int timeout = int(std::clamp<std::chrono::milliseconds::rep>(ms, 0, INT32_MAX));
    auto start = [context, timeout, scheduled = std::move(scheduled)]() mutable {
        QTimer::singleShot(timeout, Qt::PreciseTimer, context,
                           [scheduled = std::move(scheduled)]() mutable { scheduled.run(); });
    };
    // A timer belongs to the thread that starts it: start it on the context's thread.
    if (isCurrent()) {
        start();
    } else {
        QMetaObject::invokeMethod(context, std::move(start), Qt::QueuedConnection);
    }
    return handle;
}

bool QtExecutor::isCurrent() const {
    const QObject* context = m_context.data();
    return context != nullptr && context->thread() == QThread::currentThread();
}

} // namespace veldatron
