// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/TaskExecutor.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaril {

// The application's main thread as an executor, on Qt's event loop. Made on the main thread while a
// QCoreApplication exists.
//
// Background work runs on a few threads of the executor's own, which its destructor waits for.
// Tasks posted to the main thread and not yet run when the executor goes are dropped, not run: the
// objects they reach into are usually going too. Both queues hand tasks over under mutexes of ours
// rather than only through Qt's, so that ThreadSanitizer, which cannot see inside Qt, sees them; for
// the same reason the main thread is woken by an event that no code of ours reads before taking the
// mutex, rather than by a queued functor, whose captures it would read first.
class QtTaskExecutor final : public TaskExecutor {
public:
    QtTaskExecutor() = default;
    ~QtTaskExecutor() override;
    QtTaskExecutor(const QtTaskExecutor&) = delete;
    QtTaskExecutor& operator=(const QtTaskExecutor&) = delete;

    void runInBackground(Task work) override;
    void postToMain(Task task) override;
    [[nodiscard]] ScopedConnection scheduleRepeating(std::chrono::milliseconds interval, Task tick) override;

private:
    void work();
    void runPosted();

    std::mutex backgroundMutex_;
    std::condition_variable backgroundWork_;
    std::deque<Task> background_;
    std::vector<std::thread> workers_;
    std::size_t idleWorkers_ = 0;
    bool stopping_ = false;

    // Receives the wake-ups that run the posted tasks, and nothing else.
    class Waker final : public QObject {
    public:
        explicit Waker(QtTaskExecutor& executor) : executor_(executor) {}
        bool event(QEvent* event) override;

    private:
        QtTaskExecutor& executor_;
    };

    std::mutex postedMutex_;
    std::deque<Task> posted_;
    Waker waker_{*this};
    // Lives on the main thread; timers are its children.
    QObject mainThread_;
};

}  // namespace tessaril
