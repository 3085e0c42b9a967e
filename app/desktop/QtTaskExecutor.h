// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/TaskExecutor.h"

#include <QObject>
#include <QThreadPool>

namespace tessaril {

// The application's main thread as an executor, on Qt's event loop. Made on the main thread while a
// QCoreApplication exists.
//
// Background work runs on a pool of the executor's own, which its destructor waits for. Tasks posted
// to the main thread and not yet run when the executor goes are dropped, not run: the objects they
// reach into are usually going too.
class QtTaskExecutor final : public TaskExecutor {
public:
    QtTaskExecutor();
    ~QtTaskExecutor() override;
    QtTaskExecutor(const QtTaskExecutor&) = delete;
    QtTaskExecutor& operator=(const QtTaskExecutor&) = delete;

    void runInBackground(Task work) override;
    void postToMain(Task task) override;
    [[nodiscard]] ScopedConnection scheduleRepeating(std::chrono::milliseconds interval, Task tick) override;

private:
    QThreadPool pool_;
    // Lives on the main thread: posted tasks are queued to it, and timers are its children.
    QObject mainThread_;
};

}  // namespace tessaril
