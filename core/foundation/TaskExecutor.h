// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Signal.h"

#include <chrono>
#include <functional>
#include <utility>

namespace tessaril {

// Where work runs. The product's long-lived objects belong to the main thread; only slow work
// (network transfers) runs in the background, and its result is posted back to the main thread
// before any of that state changes.
class TaskExecutor {
public:
    using Task = std::function<void()>;

    virtual ~TaskExecutor() = default;

    // Runs `work` off the main thread, soon.
    virtual void runInBackground(Task work) = 0;
    // Runs `task` on the main thread after the tasks already posted. Safe from any thread.
    virtual void postToMain(Task task) = 0;
    // Runs `tick` on the main thread every `interval`, first one interval from now, until the
    // returned connection is dropped. Called on the main thread; a tick that runs late is not
    // made up for.
    [[nodiscard]] virtual ScopedConnection scheduleRepeating(std::chrono::milliseconds interval, Task tick) = 0;
};

// Runs `work` in the background, then `done` with its result on the main thread.
template <typename Work, typename Done>
void runInBackgroundThen(TaskExecutor& executor, Work work, Done done) {
    executor.runInBackground([&executor, work = std::move(work), done = std::move(done)]() mutable {
        executor.postToMain([done = std::move(done), result = work()]() mutable { done(std::move(result)); });
    });
}

}  // namespace tessaril
