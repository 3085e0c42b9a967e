// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/TaskExecutor.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

namespace tessaril {

// An executor for tests that runs nothing until the test says so, and then on the test's thread:
// background work and main-thread tasks wait in two queues, so a test can stop between the two and
// see that no result arrived before the main thread took it. Timers fire only when the test says
// that their interval has passed.
class ManualTaskExecutor final : public TaskExecutor {
public:
    void runInBackground(Task work) override { background_.push_back(std::move(work)); }
    void postToMain(Task task) override { main_.push_back(std::move(task)); }
    [[nodiscard]] ScopedConnection scheduleRepeating(std::chrono::milliseconds interval, Task tick) override {
        auto timer = std::make_shared<Timer>(Timer{interval, std::move(tick)});
        timers_->push_back(timer);
        std::weak_ptr<std::vector<std::shared_ptr<Timer>>> weakTimers = timers_;
        return ScopedConnection([weakTimers, weakTimer = std::weak_ptr<Timer>(timer)] {
            auto timers = weakTimers.lock();
            if (auto stopped = weakTimer.lock(); timers && stopped) std::erase(*timers, stopped);
        });
    }

    // Each runs its queue, and what that queues in turn, until it is empty, and says how many ran.
    std::size_t runBackgroundWork() { return drain(background_); }
    std::size_t runMainTasks() { return drain(main_); }
    // One interval of every running timer passes: each ticks once. Says how many ticked.
    std::size_t fireTimers() {
        auto running = *timers_;  // a tick may stop or start timers
        for (const auto& timer : running)
            timer->tick();
        return running.size();
    }
    [[nodiscard]] std::size_t runningTimers() const { return timers_->size(); }
    // The interval of the running timer started first.
    [[nodiscard]] std::chrono::milliseconds firstTimerInterval() const { return timers_->front()->interval; }

private:
    struct Timer {
        std::chrono::milliseconds interval;
        Task tick;
    };

    static std::size_t drain(std::deque<Task>& queue) {
        std::size_t ran = 0;
        for (; !queue.empty(); ++ran) {
            Task task = std::move(queue.front());
            queue.pop_front();
            task();
        }
        return ran;
    }

    std::deque<Task> background_;
    std::deque<Task> main_;
    std::shared_ptr<std::vector<std::shared_ptr<Timer>>> timers_ =
        std::make_shared<std::vector<std::shared_ptr<Timer>>>();
};

}  // namespace tessaril
