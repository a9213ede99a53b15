#pragma once

#include "Executor.h"

#include <QPointer>

class QObject;

namespace veldatron {

/// The executor of a Qt thread: tasks run from that thread's event loop, delayed ones on precise
/// timers. The view and its process host run on `main()`, the executor of the GUI thread.
///
/// Qt timers count whole milliseconds, so a delay is rounded up to the next millisecond (the
/// 16.67 ms display delay waits 17 ms). Once the context object is gone (the application has
/// ended) nothing runs any more.
class QtExecutor final : public Executor {
public:
    /// Runs tasks on the thread of `context`, which it does not own.
    explicit QtExecutor(QObject* context);

    /// The GUI thread's executor, made on first use; needs a running QCoreApplication.
    static QtExecutor& main();

    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

private:
    QPointer<QObject> m_context;
};

} // namespace veldatron
