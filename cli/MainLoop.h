// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/foundation/TaskExecutor.h"

namespace tessaril::cli {

// The tool's main thread as an executor: background work gets a thread of its own, and what it
// posts back waits until the main thread runs the loop.
class MainLoop final : public TaskExecutor {
public:
    MainLoop() = default;
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;
    // Waits for the background work to finish.
    ~MainLoop() override;

    void runInBackground(Task work) override;
    void postToMain(Task task) override;
    [[nodiscard]] ScopedConnection scheduleRepeating(std::chrono::milliseconds interval, Task tick) override;

    // Runs the posted tasks, waiting for more, until `done` holds after one of them.
    void runUntil(const std::function<bool()>& done);

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Timer {
        std::chrono::milliseconds interval;
        Task tick;
        TimePoint due;
    };
    using Timers = std::vector<std::shared_ptr<Timer>>;

    // Ticks the timers that are due; returns when the next one is.
    TimePoint tickDueTimers();

    // Only the main thread touches the timers.
    std::shared_ptr<Timers> timers_ = std::make_shared<Timers>();
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Task> tasks_;
};

}  // namespace tessaril::cli
