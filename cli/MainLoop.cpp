// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/MainLoop.h"

#include <algorithm>
#include <utility>

namespace tessaril::cli {

MainLoop::~MainLoop() {
    for (auto& worker : workers_)
        worker.join();
}

void MainLoop::runInBackground(Task work) {
    workers_.emplace_back(std::move(work));
}

void MainLoop::postToMain(Task task) {
    {
        const std::scoped_lock lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_one();
}

ScopedConnection MainLoop::scheduleRepeating(std::chrono::milliseconds interval, Task tick) {
    auto timer = std::make_shared<Timer>(Timer{interval, std::move(tick), std::chrono::steady_clock::now() + interval});
    timers_->push_back(timer);
    return ScopedConnection([weakTimers = std::weak_ptr<Timers>(timers_), weakTimer = std::weak_ptr<Timer>(timer)] {
        auto timers = weakTimers.lock();
        if (auto stopped = weakTimer.lock(); timers && stopped) std::erase(*timers, stopped);
    });
}

MainLoop::TimePoint MainLoop::tickDueTimers() {
    const auto now = std::chrono::steady_clock::now();
    auto next = TimePoint::max();
    auto timers = *timers_;  // a tick may stop or start timers
    for (const auto& timer : timers) {
        if (timer->due <= now) {
            // A late tick is not made up for: the next one is a whole interval away.
            timer->due = now + timer->interval;
            timer->tick();
        }
        next = std::min(next, timer->due);
    }
    return next;
}

void MainLoop::runUntil(const std::function<bool()>& done) {
    while (!done()) {
        const auto nextTimer = tickDueTimers();
        if (done()) return;
        Task task;
        {
            std::unique_lock lock(mutex_);
            const auto posted = [this] { return !tasks_.empty(); };
            // Without timers, wait without a deadline: the farthest time point overflows in conversions.
            if (nextTimer == TimePoint::max()) {
                posted_.wait(lock, posted);
            } else if (!posted_.wait_until(lock, nextTimer, posted)) {
                continue;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace tessaril::cli
